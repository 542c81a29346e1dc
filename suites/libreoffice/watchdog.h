#pragma once

// The session's watchdog: a thread that ends a hung office when a member
// call takes longer than its time limit, and on which the office is started
// (the office is ended by the kernel when this thread ends).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace libreoffice {

class Watchdog {
public:
    using Clock = std::chrono::steady_clock;

    // `onExpiry` runs on the watchdog thread when an armed deadline passes.
    explicit Watchdog(std::function<void()> onExpiry);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Runs `task` on the watchdog thread (started on first use) and waits for it.
    void run(const std::function<void()>& task);
    void arm(Clock::time_point deadline);
    void disarm();

    // Member calls nest; the outermost one arms the watchdog for `timeout`
    // and disarms it when it ends.
    void enterCall(std::chrono::milliseconds timeout);
    void leaveCall();
    bool inCall() const { return callDepth_ > 0; }

private:
    void loop();

    std::function<void()> onExpiry_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    bool stopping_ = false;
    bool armed_ = false;
    Clock::time_point deadline_;
    std::function<void()> task_;
    bool taskDone_ = false;
    int callDepth_ = 0;
};

} // namespace libreoffice
