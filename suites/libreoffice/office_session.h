#pragma once

// One private headless office process and the connection to it: started on
// demand in its own process group with a fixed private profile, watched so
// that a hung or crashed office becomes an automation error, and ended on
// request. Documents are loaded and saved through it.

#include "suites/libreoffice/document_files.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "suites/libreoffice/uno_support.h"

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <thread>

namespace libreoffice {

// Error numbers the server raises besides the standard ones.
namespace server_errors {
// The automation server went away (crashed, hung and ended, or quit).
inline constexpr long ServerUnavailable = 462;
// Word: a document cannot be opened, read or saved.
inline constexpr long WordFile = 5174;
// Word: a command that needs an open document.
inline constexpr long WordNoDocument = 4248;
// Word: the requested member of a collection does not exist.
inline constexpr long WordNoSuchMember = 5941;
// Word: a value out of its range.
inline constexpr long WordValueOutOfRange = 4608;
// Excel: the application-defined or object-defined error.
inline constexpr long ExcelFailure = 1004;
// Excel: an index outside the collection.
inline constexpr long SubscriptOutOfRange = 9;
} // namespace server_errors

// A document as the office loaded it.
struct LoadedDocument {
    uno::Reference<uno::css::lang::XComponent> component;
    // Why the document cannot be saved over its file; empty when it can.
    std::string readOnlyReason;
};

class Session {
public:
    Session(ServerOptions options, Installation installation);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const ServerOptions& options() const { return options_; }
    const Installation& installation() const { return installation_; }

    // Starts the office when it does not run. A start that failed once is not
    // tried again by the same session; it raises the same error at once.
    void ensureRunning();
    bool isRunning() const { return child_ > 0; }
    // Counts the offices started; a document belongs to one of them.
    std::uint64_t generation() const { return generation_; }
    uno::Reference<uno::css::frame::XDesktop2> desktop() const { return desktop_; }
    uno::Reference<uno::css::uno::XComponentContext> context() const { return context_; }
    // The office's process group, or 0.
    pid_t processGroup() const { return child_; }

    // Ends the office (politely, then by force). Safe to call at any time.
    void stop() noexcept;

    // Marks one member call; the outermost one arms the watchdog, which ends
    // the office when the call takes longer than the call time-out.
    class Call {
    public:
        explicit Call(Session& session);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        Session& session_;
    };

    // Inside a catch block: raises the exception being handled as an
    // automation::Error. `subject` names the file being worked on (may be
    // empty). A lost office becomes error 462 and is cleaned up, so the next
    // open starts a new one.
    [[noreturn]] void rethrowAsError(long errorNumber, const std::string& subject);

    // Loads a document with the given format's filter, hidden, without
    // macros, link updates or dialogs.
    LoadedDocument load(const files::OpenCheck& check, files::Format format, long errorNumber);
    // Saves a document over its file through a temporary file.
    void save(const uno::Reference<uno::css::lang::XComponent>& document,
              const std::filesystem::path& path, files::Format format,
              const std::string& readOnlyReason, long errorNumber);
    // Closes a document without saving; never raises.
    static void close(const uno::Reference<uno::css::lang::XComponent>& document) noexcept;
    // Notes that a loaded document was closed.
    void closed(const std::filesystem::path& document) noexcept;

private:
    struct Slot {
        int lockFd = -1;
        int index = -1;
        std::filesystem::path folder;
        std::string profileUrl;
    };

    void start();
    void acquireSlot();
    void releaseSlot() noexcept;
    void endOrphans() const;
    void removeStaleLock(const std::filesystem::path& document) const;
    void spawnOffice(const std::string& pipeName);
    void applySettings();
    bool childExited(int* status = nullptr);
    void forgetOffice() noexcept;
    std::string lostOfficeText(const std::string& subject) const;
    [[noreturn]] void officeFailure(long errorNumber, const std::string& subject,
                                    const std::string& message, bool disposed);

    void watchdogLoop();
    void runOnWatchdog(const std::function<void()>& task);
    void setDeadline(std::chrono::steady_clock::time_point deadline);
    void clearDeadline();

    ServerOptions options_;
    Installation installation_;
    Slot slot_;
    // Read by the watchdog thread as well.
    std::atomic<pid_t> child_{0};
    std::uint64_t generation_ = 0;
    std::string startFailure_;
    // The documents loaded in the running office and not yet closed.
    std::set<std::filesystem::path> openDocuments_;
    uno::Reference<uno::css::uno::XComponentContext> context_;
    uno::Reference<uno::css::frame::XDesktop2> desktop_;

    // Watchdog state, guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread watchdog_;
    bool stopping_ = false;
    bool armed_ = false;
    std::atomic<bool> timedOut_{false};
    std::chrono::steady_clock::time_point deadline_;
    std::function<void()> task_;
    bool taskDone_ = false;
    int callDepth_ = 0;
};

} // namespace libreoffice
