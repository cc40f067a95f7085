#include "platform/x11/x11_main_loop.hpp"

#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace pp::x11 {

X11MainLoop::X11MainLoop(xcb_connection_t* connection) : connection_(connection) {}

bool X11MainLoop::runOnMain(std::function<void()> work)
{
    return MainLoopTurns::runOnMain([this, &work] {
        work();
        // Work that lost the connection on the way (a present whose wait ended with the server gone)
        // has not done what it was asked for: the loop ends, and its caller is released as one whose
        // work never ran.
        if (xcb_connection_has_error(connection_)) endWith(DISPLAY_CONNECTION_LOST);
    });
}

std::vector<const xcb_generic_event_t*> X11MainLoop::holdQueuedEvents()
{
    return hold(xcb_poll_for_queued_event);
}

std::vector<const xcb_generic_event_t*> X11MainLoop::holdSentEvents()
{
    return hold(xcb_poll_for_event);
}

std::vector<const xcb_generic_event_t*> X11MainLoop::hold(xcb_generic_event_t* (*next)(xcb_connection_t*))
{
    PP_MAIN_THREAD_ONLY(*this);
    std::vector<const xcb_generic_event_t*> taken;
    while (xcb_generic_event_t* event = next(connection_)) {
        held_.emplace_back(event);
        taken.push_back(event);
    }
    return taken;
}

void X11MainLoop::deliver(xcb_generic_event_t* event, EventHandler& handler)
{
    if ((event->response_type & 0x7F) != 0 && target_) target_->handleEvent(*event, handler);
}

MainLoopTurns::Events X11MainLoop::deliverEvents(EventHandler& handler)
{
    // Events held back while main-thread work looked at them come first: they are the oldest.
    if (!held_.empty()) {
        EventPointer event = std::move(held_.front());
        held_.pop_front();
        deliver(event.get(), handler);
        return Events::delivered;
    }
    // Everything XCB holds, including events queued while a present waited; the socket is read only
    // once the last wait has found it readable, so that a turn with nothing sent costs no system call.
    xcb_generic_event_t* event =
        socketReadable_ ? xcb_poll_for_event(connection_) : xcb_poll_for_queued_event(connection_);
    if (event) {
        deliver(event, handler);
        std::free(event);
        return Events::delivered;
    }
    socketReadable_ = false;
    return xcb_connection_has_error(connection_) ? Events::lost : Events::none;
}

bool X11MainLoop::wait(EventHandler& handler)
{
    if (xcb_flush(connection_) <= 0) return false;
    // A paint or an item may have let XCB read events into its queue.
    if (!held_.empty()) return true;
    if (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
        deliver(event, handler);
        std::free(event);
        return true;
    }
    pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {handOver().wakeupFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[0].revents != 0) socketReadable_ = true;
    if (fds[1].revents & POLLIN) handOver().drainWakeup();
    return true;
}

}  // namespace pp::x11
