#include "platform/wayland/wayland_main_loop.hpp"

#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <utility>

namespace pp::wayland {

WaylandMainLoop::WaylandMainLoop(wl_display* display) : display_(display) {}

void WaylandMainLoop::deliver(std::function<void(EventHandler&)> event)
{
    PP_MAIN_THREAD_ONLY(*this);
    heldInput_.push_back(std::move(event));
}

void WaylandMainLoop::deliverHeldInput(EventHandler& handler)
{
    while (!heldInput_.empty() && !ended()) {
        auto event = std::move(heldInput_.front());
        heldInput_.pop_front();
        event(handler);
    }
}

void WaylandMainLoop::addSource(int fd, std::function<void()> ready)
{
    PP_MAIN_THREAD_ONLY(*this);
    if (fd >= 0) sources_.push_back({fd, std::move(ready)});
}

MainLoopTurns::Events WaylandMainLoop::deliverEvents(EventHandler& handler)
{
    if (wl_display_dispatch_pending(display_) < 0) return Events::lost;
    deliverHeldInput(handler);
    return Events::none;
}

bool WaylandMainLoop::wait(EventHandler&)
{
    for (auto& work : std::exchange(idleWork_, {})) work();
    // Wait for the compositor, a hand-over or a source; events read meanwhile are dispatched at the
    // next turn. Requests the socket could not take yet are sent as soon as it can.
    if (wl_display_prepare_read(display_) != 0) return true;
    short displayEvents = POLLIN;
    if (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display_);
            return false;
        }
        displayEvents |= POLLOUT;
    }
    fds_.assign({{wl_display_get_fd(display_), displayEvents, 0}, {handOver().wakeupFd(), POLLIN, 0}});
    for (const Source& source : sources_) fds_.push_back({source.fd, POLLIN, 0});
    if (poll(fds_.data(), fds_.size(), -1) < 0 && errno != EINTR) {
        wl_display_cancel_read(display_);
        return false;
    }
    if (fds_[0].revents & (POLLIN | POLLERR | POLLHUP)) {
        if (wl_display_read_events(display_) < 0) return false;
    } else {
        wl_display_cancel_read(display_);
    }
    if (fds_[1].revents & POLLIN) handOver().drainWakeup();
    for (std::size_t i = 2; i < fds_.size(); ++i) {
        if (fds_[i].revents & POLLIN) sources_[i - 2].ready();
    }
    return true;
}

}  // namespace pp::wayland
