#include "suites/libreoffice/watchdog.h"

namespace libreoffice {

Watchdog::Watchdog(std::function<void()> onExpiry) : onExpiry_(std::move(onExpiry)) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Watchdog::loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (task_) {
            auto task = std::move(task_);
            task_ = nullptr;
            lock.unlock();
            task();
            lock.lock();
            taskDone_ = true;
            changed_.notify_all();
            continue;
        }
        if (armed_) {
            if (Clock::now() >= deadline_) {
                armed_ = false;
                lock.unlock();
                onExpiry_();
                lock.lock();
                continue;
            }
            changed_.wait_until(lock, deadline_);
        } else {
            changed_.wait(lock);
        }
    }
}

void Watchdog::run(const std::function<void()>& task) {
    if (!thread_.joinable())
        thread_ = std::thread([this] { loop(); });
    std::unique_lock lock(mutex_);
    task_ = task;
    taskDone_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return taskDone_; });
}

void Watchdog::arm(Clock::time_point deadline) {
    {
        std::lock_guard lock(mutex_);
        armed_ = true;
        deadline_ = deadline;
    }
    changed_.notify_all();
}

void Watchdog::disarm() {
    {
        std::lock_guard lock(mutex_);
        armed_ = false;
    }
    changed_.notify_all();
}

void Watchdog::enterCall(std::chrono::milliseconds timeout) {
    if (callDepth_++ == 0)
        arm(Clock::now() + timeout);
}

void Watchdog::leaveCall() {
    if (--callDepth_ == 0)
        disarm();
}

} // namespace libreoffice
