#include "platform/hand_over.hpp"

#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>

namespace pp {

namespace {

struct Item {
    std::function<void()> work;
    std::exception_ptr error;
    bool ran = false;  // the work ran to its end while the loop lived
    // 1 once run, or dropped unrun because the hand-over ended first; the values above are written
    // before it is set. The caller sleeps on it as a futex: one system call on each side, where a
    // condition variable's mutex or the library's spinning wait would cost more.
    std::atomic<std::uint32_t> done{0};

    void finish()
    {
        done.store(1, std::memory_order_release);
        syscall(SYS_futex, &done, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
    }

    void waitUntilDone()
    {
        while (done.load(std::memory_order_acquire) == 0) {
            syscall(SYS_futex, &done, FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
        }
    }
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
    {
        std::lock_guard lock(s.mutex);
        if (s.ended) return false;
        s.queue.push_back(item);
    }
    s.wake();
    // An item the main thread has begun is always waited for: its work refers to the caller's values.
    item->waitUntilDone();
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
    }
    std::exception_ptr error;
    try {
        item->work();
    } catch (...) {
        error = std::current_exception();
    }
    item->error = error;
    {
        std::lock_guard lock(s.mutex);
        item->ran = !s.ended && !error;
    }
    item->finish();
    return true;
}

void HandOver::end() const
{
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        s.ended = true;
        for (const auto& item : s.queue) item->finish();
        s.queue.clear();
    }
    s.wake();
}

}  // namespace pp
