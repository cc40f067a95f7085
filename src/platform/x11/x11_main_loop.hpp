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
#include "platform/main_loop_turns.hpp"
#include "platform/window_system.hpp"

namespace pp::x11 {

// What the loop hands each X event to (the window). Main thread.
class EventTarget {
public:
    virtual ~EventTarget() = default;
    virtual void handleEvent(const xcb_generic_event_t& event, EventHandler& handler) = 0;
};

// Polls the connection and an eventfd. A turn takes every event XCB has read, and what it can read
// without waiting once the socket has been found readable, before it paints or runs an item. X error
// events are dropped: every request whose failure matters is checked where it is made.
class X11MainLoop : public MainLoopTurns {
public:
    // Does not take ownership of `connection`.
    explicit X11MainLoop(xcb_connection_t* connection);

    // As MainLoopTurns::runOnMain; besides, work during which the connection was lost counts as not
    // run (its frame may not be on the screen), and the loop ends.
    bool runOnMain(std::function<void()> work) override;

    // Moves every event XCB has already read into the loop's own queue, delivered before anything
    // newer on the loop's next turn, and returns them for inspection (oldest first, owned by the
    // loop). Lets code on the main thread look at what happened without taking events from the
    // window's handler. Main thread.
    std::vector<const xcb_generic_event_t*> holdQueuedEvents();

    // The same, after reading what the server has sent so far without waiting for more.
    std::vector<const xcb_generic_event_t*> holdSentEvents();

    // The window whose events the loop delivers; null for none. Main thread.
    void setTarget(EventTarget* target) { target_ = target; }
    EventTarget* target() const { return target_; }

private:
    Events deliverEvents(EventHandler& handler) override;
    bool wait(EventHandler& handler) override;
    void deliver(xcb_generic_event_t* event, EventHandler& handler);
    // Moves the events `next` gives, until it gives none, into the loop's own queue.
    std::vector<const xcb_generic_event_t*> hold(xcb_generic_event_t* (*next)(xcb_connection_t*));

    struct FreeEvent {
        void operator()(xcb_generic_event_t* event) const { std::free(event); }
    };
    using EventPointer = std::unique_ptr<xcb_generic_event_t, FreeEvent>;

    xcb_connection_t* connection_;
    EventTarget* target_ = nullptr;
    std::deque<EventPointer> held_;
    bool socketReadable_ = true;  // the server may have sent what XCB has not read
};

}  // namespace pp::x11
