#pragma once

// The office process of one session and the connection to it: started on
// demand in its own process group with a fixed private profile (one of the
// user's profile slots), ended on request or when the watchdog finds it
// hung, and cleaned up after when it ends on its own.

#include "suites/libreoffice/libreoffice_server.h"
#include "suites/libreoffice/uno_support.h"

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <sys/types.h>

namespace libreoffice {

class Watchdog;

class OfficeProcess {
public:
    OfficeProcess(const ServerOptions& options, const Installation& installation,
                  Watchdog& watchdog);
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    // Starts the office when it does not run. A start that failed once is not
    // tried again; it raises the same error at once.
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
    // Ends what is left of the office and drops every reference into it.
    void forget() noexcept;
    // Whether the office has ended (and is reaped); `status` gets its status.
    bool exited(int* status = nullptr);
    // Whether the watchdog ended the office since it was started.
    bool timedOut() const { return timedOut_; }
    // Called by the watchdog when a call took too long: ends the office.
    void expire() noexcept;

    // The documents loaded in the running office and not yet closed: an
    // office that ends leaves their lock files, which are then removed.
    void opened(const std::filesystem::path& document) { openDocuments_.insert(document); }
    void closed(const std::filesystem::path& document) noexcept { openDocuments_.erase(document); }
    // Removes a lock file of the document left by one of this user's other
    // profiles whose office no longer runs.
    void removeStaleLock(const std::filesystem::path& document) const;

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
    void spawn(const std::string& pipeName);
    void applySettings();
    std::filesystem::path logPath() const;

    const ServerOptions& options_;
    const Installation& installation_;
    Watchdog& watchdog_;
    Slot slot_;
    // Read by the watchdog thread as well.
    std::atomic<pid_t> child_{0};
    std::atomic<bool> timedOut_{false};
    std::uint64_t generation_ = 0;
    std::string startFailure_;
    std::set<std::filesystem::path> openDocuments_;
    uno::Reference<uno::css::uno::XComponentContext> context_;
    uno::Reference<uno::css::frame::XDesktop2> desktop_;
};

// Whole seconds of a duration, rounded up, for messages.
long secondsOf(std::chrono::milliseconds duration);

} // namespace libreoffice
