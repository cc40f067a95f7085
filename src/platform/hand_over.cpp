#include "platform/hand_over.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>

namespace pp {

namespace {

struct Item {
    std::function<void()> work;
    std::exception_ptr error;
    bool started = false;   // taken from the queue by the main thread
    bool finished = false;  // the work has returned
    bool ran = false;       // the work ran to its end while the loop lived
};

}  // namespace

struct HandOver::State {
    State() : wakeup(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~State()
    {
        if (wakeup >= 0) close(wakeup);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    void wake() const
    {
        const std::uint64_t one = 1;
        // The counter only grows; a full counter still leaves the descriptor readable.
        [[maybe_unused]] const ssize_t written = write(wakeup, &one, sizeof one);
    }

    int wakeup;
    std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
    mutable std::mutex mutex;
    std::condition_variable finished;
    std::deque<std::shared_ptr<Item>> queue;
    bool ended = false;
};

HandOver::HandOver() : state_(std::make_shared<State>()) {}

int HandOver::wakeupFd() const
{
    return state_->wakeup;
}

void HandOver::drainWakeup() const
{
    std::uint64_t count;
    [[maybe_unused]] const ssize_t drained = read(state_->wakeup, &count, sizeof count);
}

void HandOver::setMainThread() const
{
    state_->mainThread = std::this_thread::get_id();
}

bool HandOver::onMainThread() const
{
    return std::this_thread::get_id() == state_->mainThread.load();
}

bool HandOver::ended() const
{
    std::lock_guard lock(state_->mutex);
    return state_->ended;
}

bool HandOver::runOnMain(std::function<void()> work) const
{
    State& s = *state_;
    if (std::this_thread::get_id() == s.mainThread.load()) {
        if (ended()) return false;
        work();
        return !ended();
    }
    const std::shared_ptr<State> keep = state_;
    auto item = std::make_shared<Item>();
    item->work = std::move(work);
    std::unique_lock lock(s.mutex);
    if (s.ended) return false;
    s.queue.push_back(item);
    s.wake();
    // An item the main thread has begun is always waited for: its work refers to the caller's values.
    s.finished.wait(lock, [&] { return item->finished || (s.ended && !item->started); });
    if (item->error) std::rethrow_exception(item->error);
    return item->ran;
}

bool HandOver::runOne() const
{
    State& s = *state_;
    std::shared_ptr<Item> item;
    {
        std::lock_guard lock(s.mutex);
        if (s.queue.empty() || s.ended) return false;
        item = std::move(s.queue.front());
        s.queue.pop_front();
        item->started = true;
    }
    std::exception_ptr error;
    try {
        item->work();
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard lock(s.mutex);
        item->error = error;
        item->ran = !s.ended && !error;
        item->finished = true;
    }
    s.finished.notify_all();
    return true;
}

void HandOver::end() const
{
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        s.ended = true;
        s.queue.clear();
    }
    s.wake();
    s.finished.notify_all();
}

}  // namespace pp
