// The hand-over of work from other threads to the main thread, as a main loop serves it.
#pragma once

#include <cassert>

#include <functional>
#include <memory>
#include <thread>

namespace pp {

// A queue of work items that the main loop runs one at a time, in the order they were handed over,
// between its events. The loop polls wakeupFd(). Copies of a HandOver share one queue; the queue lives
// as long as any copy, so a caller released by end() never touches freed memory.
class HandOver {
public:
    HandOver();

    // Readable while items may be waiting (and after end()). Main thread: poll it, then drainWakeup().
    int wakeupFd() const;
    void drainWakeup() const;

    // Marks the calling thread as the main thread.
    void setMainThread() const;
    // Whether the calling thread is the main thread: what "main thread only" checks in debug builds
    // (PP_MAIN_THREAD_ONLY below).
    bool onMainThread() const;

    // Queues `work`, wakes the loop and blocks until it has run; an exception it throws is rethrown
    // here. On the main thread the work runs at once. True when the work ran to its end while the loop
    // lived; false when the loop had ended, ended before the work's turn, or ended while it ran (the
    // window system went away under it, so what it did cannot be trusted). Any thread.
    bool runOnMain(std::function<void()> work) const;

    // Runs the oldest item, if any; true when one ran. Main thread.
    bool runOne() const;

    // Ends the hand-over: queued items are dropped and their callers released with false, and later
    // calls of runOnMain return false at once. Any thread, also from inside an item.
    void end() const;
    bool ended() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace pp

// A debug build checks that the calling thread is the main thread of `owner` (a HandOver, or a main
// loop that has one).
#define PP_MAIN_THREAD_ONLY(owner) assert((owner).onMainThread())
