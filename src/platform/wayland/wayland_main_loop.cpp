#include "platform/wayland/wayland_main_loop.hpp"

#include <poll.h>
#include <wayland-client.h>

#include <cerrno>

namespace pp::wayland {

WaylandMainLoop::WaylandMainLoop(wl_display* display) : display_(display)
{
    handOver_.setMainThread();
}

WaylandMainLoop::~WaylandMainLoop()
{
    handOver_.end();
}

bool WaylandMainLoop::runOnMain(std::function<void()> work)
{
    return handOver_.runOnMain(std::move(work));
}

void WaylandMainLoop::deliver(std::function<void(EventHandler&)> event)
{
    PP_MAIN_THREAD_ONLY(handOver_);
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
    PP_MAIN_THREAD_ONLY(handOver_);
    if (fd >= 0) sources_.push_back({fd, std::move(ready)});
}

void WaylandMainLoop::endWith(std::string reason)
{
    PP_MAIN_THREAD_ONLY(handOver_);
    if (handOver_.ended()) return;
    endReason_ = std::move(reason);
    handOver_.end();
}

void WaylandMainLoop::run(EventHandler& handler)
{
    handOver_.setMainThread();
    std::vector<pollfd> fds;
    while (!ended()) {
        if (wl_display_dispatch_pending(display_) < 0) break;
        deliverHeldInput(handler);
        if (ended()) break;
        if (needsPaint_) {
            needsPaint_ = false;
            handler.paint();
            continue;
        }
        if (handOver_.runOne()) continue;

        // Wait for the compositor, a hand-over or a source; events read meanwhile are dispatched above.
        // Requests the socket could not take yet are sent as soon as it can.
        if (wl_display_prepare_read(display_) != 0) continue;
        short displayEvents = POLLIN;
        if (wl_display_flush(display_) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(display_);
                break;
            }
            displayEvents |= POLLOUT;
        }
        fds.assign({{wl_display_get_fd(display_), displayEvents, 0}, {handOver_.wakeupFd(), POLLIN, 0}});
        for (const Source& source : sources_) fds.push_back({source.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            wl_display_cancel_read(display_);
            break;
        }
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (wl_display_read_events(display_) < 0) break;
        } else {
            wl_display_cancel_read(display_);
        }
        if (fds[1].revents & POLLIN) handOver_.drainWakeup();
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents & POLLIN) sources_[i - 2].ready();
        }
    }
    handOver_.end();
}

}  // namespace pp::wayland
