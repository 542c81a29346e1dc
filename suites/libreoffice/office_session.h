#pragma once

// What one application object drives: a private headless office process
// (`OfficeProcess`), the watchdog that ends it when a call hangs
// (`Watchdog`), the loading and saving of documents in it
// (`DocumentStore`), and the turn of office failures into automation errors
// (`OfficeErrors`). The session owns the four and is what the servers use.

#include "suites/libreoffice/document_store.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "suites/libreoffice/office_errors.h"
#include "suites/libreoffice/office_process.h"
#include "suites/libreoffice/watchdog.h"

namespace libreoffice {

class Session {
public:
    Session(ServerOptions options, Installation installation);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const ServerOptions& options() const { return options_; }
    const Installation& installation() const { return installation_; }

    OfficeProcess& process() { return process_; }
    void ensureRunning() { process_.ensureRunning(); }
    bool isRunning() const { return process_.isRunning(); }
    std::uint64_t generation() const { return process_.generation(); }
    pid_t processGroup() const { return process_.processGroup(); }
    void stop() noexcept { process_.stop(); }

    // Marks one member call; the outermost one arms the watchdog, which ends
    // the office when the call takes longer than the call time-out.
    class Call {
    public:
        explicit Call(Session& session) : session_(session) {
            session_.watchdog_.enterCall(session_.options_.callTimeout);
        }
        ~Call() { session_.watchdog_.leaveCall(); }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        Session& session_;
    };

    // Inside a catch block: raises the exception being handled as an
    // automation::Error (see OfficeErrors).
    [[noreturn]] void rethrowAsError(long errorNumber, const std::string& subject) {
        errors_.rethrow(errorNumber, subject);
    }

    LoadedDocument load(const files::OpenCheck& check, files::Kind kind, long errorNumber) {
        return store_.load(check, kind, errorNumber);
    }
    void save(const uno::Reference<uno::css::lang::XComponent>& document,
              const std::filesystem::path& path, files::Format format,
              const std::string& readOnlyReason, long errorNumber) {
        store_.save(document, path, format, readOnlyReason, errorNumber);
    }
    static void close(const uno::Reference<uno::css::lang::XComponent>& document) noexcept {
        DocumentStore::close(document);
    }
    // Notes that a loaded document was closed.
    void closed(const std::filesystem::path& document) noexcept { process_.closed(document); }

private:
    ServerOptions options_;
    Installation installation_;
    // Declared before the watchdog, whose thread ends first.
    OfficeProcess process_;
    Watchdog watchdog_;
    DocumentStore store_;
    OfficeErrors errors_;
};

} // namespace libreoffice
