// The main thread's event loop over the X connection, and the hand-over of work from other threads.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/hand_over.hpp"
#include "platform/window_system.hpp"

namespace pp::x11 {

// What the loop hands each X event to (the window). Main thread.
class EventTarget {
public:
    virtual ~EventTarget() = default;
    virtual void handleEvent(const xcb_generic_event_t& event, EventHandler& handler) = 0;
};

// Polls the connection and an eventfd. Each turn it takes every event XCB has read or can read without
// waiting, then paints once if asked, then runs one handed-over item; it waits only when none of these
// has anything to do. X error events are dropped: every request whose failure matters is checked where
// it is made.
class X11MainLoop : public MainLoop {
public:
    // Does not take ownership of `connection`. The constructing thread is the main thread until run().
    explicit X11MainLoop(xcb_connection_t* connection);
    // Releases every caller still waiting in runOnMain.
    ~X11MainLoop() override;
    X11MainLoop(const X11MainLoop&) = delete;
    X11MainLoop& operator=(const X11MainLoop&) = delete;

    // Queues `work`, wakes the loop and blocks until the work has run; an exception it throws is
    // rethrown here. Called on the main thread it runs the work at once. Once the loop has ended (the
    // connection is gone) it returns at once without running the work, and work still queued then
    // is dropped and its callers released. True when the work ran with the connection intact: work
    // during which the connection was lost counts as not run (its frame may not be on the screen).
    bool runOnMain(std::function<void()> work) override;

    // Returns when the connection to the X server is lost, or once endWith() has been called. Main
    // thread.
    void run(EventHandler& handler) override;

    // The line endWith() gave, else the connection-lost line.
    std::string endReason() const override { return endReason_; }

    // Ends the loop with `reason` as its end line: the hand-over closes at once (the item being served,
    // if any, counts as not run, so no reply is written for it) and run() returns at its next turn.
    // Main thread.
    void endWith(std::string reason);

    // Whether endWith() has been called. Main thread.
    bool ending() const { return ending_; }

    // Moves every event XCB has already read into the loop's own queue, delivered before anything
    // newer on the loop's next turn, and returns them for inspection (oldest first, owned by the
    // loop). Lets code on the main thread look at what happened without taking events from the
    // window's handler. Main thread.
    std::vector<const xcb_generic_event_t*> holdQueuedEvents();

    // The same, after reading what the server has sent so far without waiting for more.
    std::vector<const xcb_generic_event_t*> holdSentEvents();

    // Paint before the loop next waits. Main thread.
    void requestPaint() { needsPaint_ = true; }

    // The window whose events the loop delivers; null for none. Main thread.
    void setTarget(EventTarget* target) { target_ = target; }
    EventTarget* target() const { return target_; }

    // Whether the hand-over has closed: endWith() was called or run() has ended. Any thread.
    bool ended() const { return handOver_.ended(); }
    // Whether the calling thread is the main thread (for the debug-build checks).
    bool onMainThread() const { return handOver_.onMainThread(); }

private:
    void deliver(xcb_generic_event_t* event, EventHandler& handler);
    // Moves the events `next` gives, until it gives none, into the loop's own queue.
    std::vector<const xcb_generic_event_t*> hold(xcb_generic_event_t* (*next)(xcb_connection_t*));

    struct FreeEvent {
        void operator()(xcb_generic_event_t* event) const { std::free(event); }
    };
    using EventPointer = std::unique_ptr<xcb_generic_event_t, FreeEvent>;

    xcb_connection_t* connection_;
    HandOver handOver_;
    EventTarget* target_ = nullptr;
    bool needsPaint_ = true;  // the first turn paints the freshly mapped window
    bool ending_ = false;
    std::string endReason_ = DISPLAY_CONNECTION_LOST;
    std::deque<EventPointer> held_;
};

}  // namespace pp::x11
