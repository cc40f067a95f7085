#include "platform/wayland/wayland_window.hpp"

#include <sys/timerfd.h>

#include <cerrno>

#include "platform/clocks.hpp"
#include "platform/wayland/wayland_window_parts.hpp"

namespace pp::wayland {

// The surface's place: configures, and the outputs it is shown on.
struct PlacementListeners {
    static void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial)
    {
        WaylandWindow& w = *static_cast<WaylandWindow*>(data);
        xdg_surface_ack_configure(surface, serial);
        w.configure(w.pendingWidth_, w.pendingHeight_);
    }

    static void toplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                                  wl_array* states)
    {
        WaylandWindow& w = *static_cast<WaylandWindow*>(data);
        w.pendingWidth_ = width;
        w.pendingHeight_ = height;
        w.pendingFullscreen_ = false;
        const auto* state = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof *state; ++i) {
            if (state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN) w.pendingFullscreen_ = true;
        }
    }
    // The compositor asks the window to close (the person's shortcut): the same as Esc.
    static void close(void* data, xdg_toplevel*)
    {
        static_cast<WaylandWindow*>(data)->loop_.deliver(
            [](EventHandler& handler) { handler.key(KeyEvent{"Escape", false}); });
    }
    static void bounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
    static void capabilities(void*, xdg_toplevel*, wl_array*) {}

    // The outputs the surface is shown on.
    static void enter(void* data, wl_surface*, wl_output* output)
    {
        WaylandWindow& w = *static_cast<WaylandWindow*>(data);
        w.enteredAny_ = true;
        w.enteredOutputs_.insert(output);
        w.followPlacement();
    }
    static void leave(void* data, wl_surface*, wl_output* output)
    {
        static_cast<WaylandWindow*>(data)->enteredOutputs_.erase(output);
        static_cast<WaylandWindow*>(data)->followPlacement();
    }
};

const xdg_surface_listener SURFACE_LISTENER = {PlacementListeners::surfaceConfigure};
const xdg_toplevel_listener TOPLEVEL_LISTENER = {PlacementListeners::toplevelConfigure, PlacementListeners::close,
                                                 PlacementListeners::bounds, PlacementListeners::capabilities};
const wl_surface_listener SURFACE_OUTPUTS_LISTENER = {PlacementListeners::enter, PlacementListeners::leave};

bool WaylandWindow::placed() const
{
    // Before the compositor has said where the surface is shown, the configure alone tells.
    const bool onOutput = !enteredAny_ || enteredOutputs_.count(outputProxy_) != 0;
    return fullscreen_ && coversOutput() && onOutput;
}

void WaylandWindow::followPlacement()
{
    // A compositor makes a window full-screen once it has content: the first frame's commit starts it.
    if (frameNumber_ == 0 || placementTimer_ < 0) return;
    itimerspec timer{};
    if (placed()) {
        if (misplacedSince_) {
            misplacedSince_.reset();
            timerfd_settime(placementTimer_, 0, &timer, nullptr);
        }
        return;
    }
    if (misplacedSince_) return;
    // Elsewhere: on another output, no longer full-screen, or not covering the output. The window asks
    // to be put back, and the compositor has a moment to do it.
    misplacedSince_ = monotonicSeconds();
    xdg_toplevel_set_fullscreen(toplevel_, outputProxy_);
    wl_display_flush(connection_.display());
    timer.it_value.tv_sec = time_t(PLACEMENT_LIMIT);
    timer.it_value.tv_nsec = long((PLACEMENT_LIMIT - double(time_t(PLACEMENT_LIMIT))) * 1e9);
    timerfd_settime(placementTimer_, 0, &timer, nullptr);
}

bool WaylandWindow::placementLapsed()
{
    if (!misplacedSince_ || monotonicSeconds() - *misplacedSince_ < PLACEMENT_LIMIT) return false;
    loop_.endWith(MainLoop::WINDOW_NOT_COVERING);
    return true;
}

void WaylandWindow::placementDue()
{
    std::uint64_t expirations = 0;
    if (read(placementTimer_, &expirations, sizeof expirations) < 0 && errno != EAGAIN) return;
    placementLapsed();
}

bool WaylandWindow::coversOutput() const
{
    // A size of 0 leaves the size to the window, which takes the output's.
    const bool widthCovers = configuredWidth_ == 0 || configuredWidth_ == int(screen_.frame.width);
    const bool heightCovers = configuredHeight_ == 0 || configuredHeight_ == int(screen_.frame.height);
    return widthCovers && heightCovers;
}

void WaylandWindow::configure(int width, int height)
{
    configuredWidth_ = width;
    configuredHeight_ = height;
    fullscreen_ = pendingFullscreen_;
    const bool first = !configured_;
    configured_ = true;
    reconfigured_ = true;
    if (first) return;
    followPlacement();
    // A frame being drawn or presented goes out whole after the configure; otherwise one is drawn.
    if (!framing_) loop_.requestPaint();
}

void WaylandWindow::overviewChanged()
{
    overview_->changeSeen();
    // A frame committed while the overview was open, or presented while it opened, was shown as a
    // thumbnail: present() shows it again once the overview has closed and the window has settled (a
    // window mapped while the overview was open is eased in once it has hidden).
    if (overviewOpen()) {
        hiddenByOverview_ = true;
    } else {
        settlesAt_ = std::max(settlesAt_.value_or(0), clockSeconds(connection_.presentationClock()) + SETTLE_TIME);
    }
}

}  // namespace pp::wayland
