#include "platform/colord/call_deadline.hpp"

namespace pp::colord {

CallDeadline::CallDeadline(std::chrono::milliseconds limit) : cancellable_(g_cancellable_new())
{
    // Cancelling is thread-safe in GIO: the calls waiting on this thread see it through their own
    // main context.
    watchdog_ = std::thread([this, limit] {
        std::unique_lock lock(mutex_);
        if (!wake_.wait_for(lock, limit, [this] { return finished_; })) g_cancellable_cancel(cancellable_);
    });
}

CallDeadline::~CallDeadline()
{
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    wake_.notify_one();
    watchdog_.join();
    g_object_unref(cancellable_);
}

}  // namespace pp::colord
