// A time limit for a group of D-Bus calls: a cancellable that a watchdog thread cancels when the
// limit passes, so that a service which does not answer never hangs the caller.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace pp::colord {

class CallDeadline {
public:
    // Starts the clock. Every call given cancellable() is cancelled once `limit` has passed.
    explicit CallDeadline(std::chrono::milliseconds limit);
    // Stops the watchdog (at once when the limit has not passed yet).
    ~CallDeadline();
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;

    // Owned by the deadline; valid until it is destroyed.
    GCancellable* cancellable() const { return cancellable_; }

    // Whether the limit has passed (the calls were cancelled).
    bool passed() const { return g_cancellable_is_cancelled(cancellable_) != FALSE; }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool finished_ = false;
    std::thread watchdog_;
};

}  // namespace pp::colord
