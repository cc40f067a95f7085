// The part of a main loop that every window system's loop shares: the turn, the request to paint, the
// hand-over of work from other threads and the line the run ends with.
#pragma once

#include <functional>
#include <string>

#include "platform/hand_over.hpp"
#include "platform/window_system.hpp"

namespace pp {

// A main loop that turns until the window system is gone or endWith() is called. Each turn delivers
// the events that have arrived, then paints once if asked, then runs one handed-over item; it waits
// only when none of these has anything to do. What the events are and how the loop waits is the window
// system's part. The constructing thread is the main thread until run().
class MainLoopTurns : public MainLoop {
public:
    // Releases every caller still waiting in runOnMain.
    ~MainLoopTurns() override;
    MainLoopTurns(const MainLoopTurns&) = delete;
    MainLoopTurns& operator=(const MainLoopTurns&) = delete;

    // Queues `work`, wakes the loop and blocks until the work has run; an exception it throws is
    // rethrown here. Called on the main thread it runs the work at once. Once the loop has ended it
    // returns at once without running the work, and work still queued then is dropped and its callers
    // released. True when the work ran to its end while the loop lived.
    bool runOnMain(std::function<void()> work) override;

    // Returns when the window system is gone, or at the turn after endWith(). The calling thread
    // becomes the main thread.
    void run(EventHandler& handler) final;

    // The line endWith() gave, else the connection-lost line.
    std::string endReason() const final { return endReason_; }

    // Ends the run with `reason` as the line the process ends with: the hand-over closes at once (the
    // item being served, if any, counts as not run, so no reply is written for it) and run() returns at
    // its next turn. Once the loop has ended, for this or any reason, the line no longer changes. Main
    // thread, also from inside an event's handling or an item.
    void endWith(std::string reason);

    // Whether the hand-over has closed: endWith() was called or run() has ended. Any thread.
    bool ended() const { return handOver_.ended(); }
    // Whether the calling thread is the main thread (for the debug-build checks).
    bool onMainThread() const { return handOver_.onMainThread(); }

    // Paint before the loop next waits. Main thread.
    void requestPaint() { needsPaint_ = true; }

protected:
    MainLoopTurns() = default;

    // What a turn found when it delivered the window system's events.
    enum class Events {
        delivered,  // it delivered some, and may deliver more at once: the turn begins again
        none,       // nothing more has arrived: the turn goes on to paint, an item or a wait
        lost,       // the window system is gone: the run ends
    };
    // Delivers to `handler` what the window system has sent (all of it, or one event at a time).
    virtual Events deliverEvents(EventHandler& handler) = 0;

    // Sends what is waiting to go out, then waits for the window system, the hand-over (its wakeup is
    // drained) or any other source. An event the turn's work let arrive meanwhile may be delivered
    // instead of waiting. False when the window system is gone.
    virtual bool wait(EventHandler& handler) = 0;

    const HandOver& handOver() const { return handOver_; }

private:
    HandOver handOver_;
    bool needsPaint_ = true;  // the first turn paints the freshly made window
    std::string endReason_ = DISPLAY_CONNECTION_LOST;
};

}  // namespace pp
