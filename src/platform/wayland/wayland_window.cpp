#include "platform/wayland/wayland_window.hpp"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <wayland-cursor.h>

#include <cerrno>
#include <cmath>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "viewporter-client-protocol.h"
#ifdef PP_COLOUR_MANAGEMENT
#include "color-management-v1-client-protocol.h"
#endif

#include "platform/wayland/wayland_window_parts.hpp"

namespace pp::wayland {

namespace {

constexpr int CURSOR_SIZE = 24;

}  // namespace

// The pointer over the window.
struct WindowListeners {
    static WaylandWindow& of(void* data) { return *static_cast<WaylandWindow*>(data); }

    static void pointerEnter(void* data, wl_pointer*, std::uint32_t serial, wl_surface*, wl_fixed_t x, wl_fixed_t y)
    {
        WaylandWindow& w = of(data);
        w.enterSerial_ = serial;
        w.pointerInside_ = true;
        w.pointerMoved(wl_fixed_to_double(x), wl_fixed_to_double(y));
        w.applyCursor();
    }
    static void pointerLeave(void* data, wl_pointer*, std::uint32_t, wl_surface*) { of(data).pointerInside_ = false; }
    static void motion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y)
    {
        WaylandWindow& w = of(data);
        w.pointerMoved(wl_fixed_to_double(x), wl_fixed_to_double(y));
        if (w.buttonDown_) {
            const Point at = w.pointerAt_;
            w.loop_.deliver([at](EventHandler& h) { h.pointer({PointerEvent::Kind::drag, at}); });
        }
    }
    static void button(void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
                       std::uint32_t state)
    {
        if (button == BTN_LEFT) of(data).button(state == WL_POINTER_BUTTON_STATE_PRESSED);
    }
    static void axis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
    static void frame(void*, wl_pointer*) {}
    static void axisSource(void*, wl_pointer*, std::uint32_t) {}
    static void axisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
    static void axisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
    static void axisValue120(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
    static constexpr wl_pointer_listener POINTER = {pointerEnter, pointerLeave, motion,       button,
                                                    axis,         frame,        axisSource,   axisStop,
                                                    axisDiscrete, axisValue120};
};

WaylandWindow::WaylandWindow(WaylandConnection& connection, WaylandMainLoop& loop, const Screen& screen)
    : connection_(connection),
      loop_(loop),
      screen_(screen),
      format_(WL_SHM_FORMAT_XRGB8888),
      keyboard_([&loop](const KeyEvent& key) { loop.deliver([key](EventHandler& h) { h.key(key); }); })
{
}

std::unique_ptr<WaylandWindow> WaylandWindow::create(WaylandConnection& connection, WaylandMainLoop& loop,
                                                     const Screen& screen)
{
    const Output* output = connection.output(screen.number);
    if (!connection.compositor() || !connection.shm() || !connection.wmBase() || !output) return nullptr;
    if (screen.pixelsWide <= 0 || screen.pixelsHigh <= 0 || screen.frame.width <= 0 || screen.frame.height <= 0) {
        return nullptr;
    }

    std::unique_ptr<WaylandWindow> w(new WaylandWindow(connection, loop, screen));
    w->width_ = screen.pixelsWide;
    w->height_ = screen.pixelsHigh;
    w->scale_ = screen.scale;
    w->outputProxy_ = output->proxy;
    w->surface_ = wl_compositor_create_surface(connection.compositor());
    wl_surface_add_listener(w->surface_, &SURFACE_OUTPUTS_LISTENER, w.get());
    w->xdgSurface_ = xdg_wm_base_get_xdg_surface(connection.wmBase(), w->surface_);
    xdg_surface_add_listener(w->xdgSurface_, &SURFACE_LISTENER, w.get());
    w->toplevel_ = xdg_surface_get_toplevel(w->xdgSurface_);
    xdg_toplevel_add_listener(w->toplevel_, &TOPLEVEL_LISTENER, w.get());
    xdg_toplevel_set_title(w->toplevel_, WINDOW_NAME);
    xdg_toplevel_set_app_id(w->toplevel_, WINDOW_NAME);
    xdg_toplevel_set_fullscreen(w->toplevel_, output->proxy);
    if (connection.idleInhibitManager()) {
        w->inhibitor_ = zwp_idle_inhibit_manager_v1_create_inhibitor(connection.idleInhibitManager(), w->surface_);
    }

#ifdef PP_COLOUR_MANAGEMENT
    // The pixels are in the output's own encoding: tagged so, the compositor converts nothing.
    if (wp_image_description_v1* description = connection.taggingDescription(screen.number)) {
        w->colourSurface_ = wp_color_manager_v1_get_surface(connection.colourManager(), w->surface_);
        wp_color_management_surface_v1_set_image_description(w->colourSurface_, description,
                                                              WP_COLOR_MANAGER_V1_RENDER_INTENT_PERCEPTUAL);
    }
#endif

    // One buffer pixel per device pixel: an integer scale is the buffer scale, any other a viewport.
    const double integer = std::round(screen.scale);
    const bool wholeScale = integer >= 1 && std::abs(screen.scale - integer) < 1e-9 &&
                            screen.frame.width * integer == screen.pixelsWide &&
                            screen.frame.height * integer == screen.pixelsHigh;
    if (wholeScale && (integer == 1 || wl_surface_get_version(w->surface_) >= 3)) {
        if (integer > 1) wl_surface_set_buffer_scale(w->surface_, int(integer));
    } else if (connection.viewporter()) {
        w->viewport_ = wp_viewporter_get_viewport(connection.viewporter(), w->surface_);
        wp_viewport_set_destination(w->viewport_, int(screen.frame.width), int(screen.frame.height));
    } else {
        return nullptr;
    }
    // The frames' memory is made ready while the compositor answers.
    if (!w->pool(w->format_)) return nullptr;
    wl_surface_commit(w->surface_);
    // gnome-shell's overview, open at its start, would show the window as a thumbnail: it closes while the
    // compositor answers.
    w->overview_ = session::ShellOverview::follow();
    if (!w->waitForConfigure() || !w->coversOutput()) return nullptr;
    w->placementTimer_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (w->placementTimer_ < 0) return nullptr;

    WaylandWindow* window = w.get();
    connection.onSeatChanged = [window] { window->followSeat(); };
    const std::uint32_t number = screen.number;
    connection.onOutputChanged = [&connection, &loop, number](std::uint32_t name) {
        if (name != number) return;
        loop.endWith(connection.output(number) ? MainLoop::DISPLAY_CHANGED : noScreenLine(number));
    };
    loop.addSource(w->keyboard_.repeatFd(), [window] { window->keyboard_.repeatDue(); });
    loop.addSource(w->placementTimer_, [window] { window->placementDue(); });
    if (w->overview_) loop.addSource(w->overview_->changedFd(), [window] { window->overviewChanged(); });
    w->hidden_ = 1;
    w->followSeat();
    loop.requestPaint();
    return w;
}

WaylandWindow::~WaylandWindow()
{
    connection_.onSeatChanged = nullptr;
    connection_.onOutputChanged = nullptr;
    keyboard_.follow(nullptr);
    if (pointer_) wl_pointer_destroy(pointer_);
    if (cursorSurface_) wl_surface_destroy(cursorSurface_);
    if (cursorTheme_) wl_cursor_theme_destroy(cursorTheme_);
    reports_.clear();
    if (frameCallback_) wl_callback_destroy(frameCallback_);
    if (placementTimer_ >= 0) close(placementTimer_);
    if (inhibitor_) zwp_idle_inhibitor_v1_destroy(inhibitor_);
#ifdef PP_COLOUR_MANAGEMENT
    if (colourSurface_) wp_color_management_surface_v1_destroy(colourSurface_);
#endif
    if (viewport_) wp_viewport_destroy(viewport_);
    if (toplevel_) xdg_toplevel_destroy(toplevel_);
    if (xdgSurface_) xdg_surface_destroy(xdgSurface_);
    pools_.clear();
    ages_.forget();
    if (surface_) wl_surface_destroy(surface_);
    wl_display_flush(connection_.display());
}

bool WaylandWindow::waitForConfigure()
{
    while (!configured_) {
        if (!dispatchOnce()) return false;
    }
    return true;
}

// Reads and dispatches what the compositor sends, waiting for it a while; false once the compositor
// is gone or the run has ended.
bool WaylandWindow::dispatchOnce(int waitMs)
{
    wl_display* display = connection_.display();
    if (loop_.ended()) return false;
    if (wl_display_dispatch_pending(display) < 0) {
        loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
        return false;
    }
    if (wl_display_prepare_read(display) != 0) return !loop_.ended();
    // Requests the socket could not take yet go out as soon as it can take them. A change of the
    // overview ends the wait too.
    pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {overview_ ? overview_->changedFd() : -1, POLLIN, 0}};
    pollfd& fd = fds[0];
    if (wl_display_flush(display) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display);
            loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
            return false;
        }
        fd.events |= POLLOUT;
    }
    const int ready = poll(fds, overview_ ? 2 : 1, waitMs);
    if (overview_ && ready > 0 && (fds[1].revents & POLLIN)) overviewChanged();
    if (ready > 0 && (fd.revents & (POLLIN | POLLERR | POLLHUP))) {
        if (wl_display_read_events(display) < 0) {
            loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
            return false;
        }
    } else {
        wl_display_cancel_read(display);
        if (ready < 0 && errno != EINTR) {
            loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
            return false;
        }
    }
    if (wl_display_dispatch_pending(display) < 0) {
        loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
        return false;
    }
    return !loop_.ended();
}

void WaylandWindow::setNeedsDisplay()
{
    loop_.requestPaint();
}

void WaylandWindow::setPointerVisible(bool visible)
{
    if (visible) {
        if (hidden_ > 0) --hidden_;
    } else {
        ++hidden_;
    }
    applyCursor();
    wl_display_flush(connection_.display());
}

void WaylandWindow::followSeat()
{
    wl_seat* seat = connection_.seat();
    const std::uint32_t caps = seat ? connection_.seatCapabilities() : 0;
    const bool keyboard = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (keyboard && !keyboard_.following()) {
        keyboard_.follow(wl_seat_get_keyboard(seat));
    } else if (!keyboard && keyboard_.following()) {
        keyboard_.follow(nullptr);
    }
    const bool pointer = (caps & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (pointer && !pointer_) {
        pointer_ = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(pointer_, &WindowListeners::POINTER, this);
    } else if (!pointer && pointer_) {
        wl_pointer_destroy(pointer_);
        pointer_ = nullptr;
        pointerInside_ = false;
        buttonDown_ = false;
    }
}

void WaylandWindow::applyCursor()
{
    if (!pointer_ || !pointerInside_) return;
    if (hidden_ > 0) {
        wl_pointer_set_cursor(pointer_, enterSerial_, nullptr, 0, 0);
        return;
    }
    if (!cursorSurface_) {
        cursorScale_ = std::max(1, int(std::ceil(scale_)));
        cursorTheme_ = wl_cursor_theme_load(nullptr, CURSOR_SIZE * cursorScale_, connection_.shm());
        wl_cursor* arrow = nullptr;
        if (cursorTheme_) {
            arrow = wl_cursor_theme_get_cursor(cursorTheme_, "left_ptr");
            if (!arrow) arrow = wl_cursor_theme_get_cursor(cursorTheme_, "default");
        }
        if (!arrow || arrow->image_count == 0) return;
        cursorImage_ = arrow->images[0];
        cursorSurface_ = wl_compositor_create_surface(connection_.compositor());
        if (cursorScale_ > 1 && wl_surface_get_version(cursorSurface_) >= 3) {
            wl_surface_set_buffer_scale(cursorSurface_, cursorScale_);
        } else {
            cursorScale_ = 1;
        }
        wl_surface_attach(cursorSurface_, wl_cursor_image_get_buffer(cursorImage_), 0, 0);
        wl_surface_damage_buffer(cursorSurface_, 0, 0, std::int32_t(cursorImage_->width),
                                 std::int32_t(cursorImage_->height));
        wl_surface_commit(cursorSurface_);
    }
    wl_pointer_set_cursor(pointer_, enterSerial_, cursorSurface_, std::int32_t(cursorImage_->hotspot_x) / cursorScale_,
                          std::int32_t(cursorImage_->hotspot_y) / cursorScale_);
}

void WaylandWindow::pointerMoved(double x, double y)
{
    const double height = configuredHeight_ > 0 ? configuredHeight_ : screen_.frame.height;
    pointerAt_ = {x, height - y};
}

void WaylandWindow::button(bool pressed)
{
    buttonDown_ = pressed;
    const PointerEvent event{pressed ? PointerEvent::Kind::press : PointerEvent::Kind::release, pointerAt_};
    loop_.deliver([event](EventHandler& h) { h.pointer(event); });
}

}  // namespace pp::wayland
