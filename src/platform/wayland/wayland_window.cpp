#include "platform/wayland/wayland_window.hpp"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wayland-cursor.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <latch>
#include <limits>
#include <thread>
#include <utility>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "presentation-time-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-shell-client-protocol.h"
#ifdef PP_COLOUR_MANAGEMENT
#include "color-management-v1-client-protocol.h"
#endif

#include "platform/update_area.hpp"

namespace pp::wayland {

namespace {

constexpr const char* WINDOW_NAME = "patch-presenter";
// A frame the compositor keeps discarding is committed again this often before the run gives up.
constexpr int MOST_DISCARDS = 100;
// How long one wait for the compositor may block before the wait is looked at again.
constexpr int WAIT_SLICE_MS = 1000;
constexpr int CURSOR_SIZE = 24;
// How long after the frame callback a presentation report is awaited at least, in seconds.
constexpr double MIN_PRESENTATION_GRACE = 0.05;
// Reports awaited at once; the oldest is given up when a commit would make one more.
constexpr std::size_t MOST_PENDING_REPORTS = 16;
// A frame neither presented nor composed within this many seconds of its commit is not being shown
// (a hidden workspace, a window covered, a compositor stalled): the run ends.
constexpr double SHOW_LIMIT = 5;
// How long the compositor has to put the window back, full-screen on its output, once it is elsewhere.
constexpr double PLACEMENT_LIMIT = 1;
constexpr const char* NO_FRAME_MEMORY = "error no memory for the window's frames";

double seconds(const timespec& t)
{
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double monotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return seconds(now);
}

int milliseconds(double seconds)
{
    return std::max(1, int(std::ceil(seconds * 1000)));
}

PixelFormat pixelFormat(std::uint32_t shmFormat)
{
    return shmFormat == WL_SHM_FORMAT_XRGB2101010 ? PixelFormat::xrgb2101010 : PixelFormat::xrgb8888;
}

}  // namespace

// Two buffers of one format in one shared-memory file.
struct WaylandWindow::Pool {
    std::uint32_t format = WL_SHM_FORMAT_XRGB8888;
    int fd = -1;
    void* data = MAP_FAILED;
    std::size_t size = 0;
    wl_shm_pool* proxy = nullptr;
    Buffer buffers[2];
    // The buffers as the ages see them: their pixels, and whether the compositor has released them.
    std::array<BufferAges::Buffer, 2> agesView() const
    {
        return {{{buffers[0].pixels, !buffers[0].busy}, {buffers[1].pixels, !buffers[1].busy}}};
    }
    // Make the memory present, each its half of each buffer, the first buffer first.
    std::thread populating[2];

    std::unique_ptr<std::latch> firstPresent;  // counted down as each has done its half of the first buffer
    std::unique_ptr<std::latch> firstShown;    // counted down once the first frame is shown
    bool drawnInto = false;  // a frame has been drawn in it

    // Lets the threads go on to the second buffer. Main thread.
    void firstFrameShown()
    {
        if (firstShown && !firstShown->try_wait()) firstShown->count_down();
    }
    void joinPopulating()
    {
        firstFrameShown();
        for (std::thread& t : populating) {
            if (t.joinable()) t.join();
        }
    }

    ~Pool()
    {
        joinPopulating();
        for (Buffer& b : buffers) {
            if (b.proxy) wl_buffer_destroy(b.proxy);
        }
        if (proxy) wl_shm_pool_destroy(proxy);
        if (data != MAP_FAILED) munmap(data, size);
        if (fd >= 0) close(fd);
    }
};

// One commit's presentation feedback and the frame it belongs to, so that a report that comes late
// still counts for its own frame.
struct WaylandWindow::FrameReport {
    WaylandWindow* window = nullptr;
    std::uint64_t frame = 0;
    struct wp_presentation_feedback* proxy = nullptr;
    std::optional<double> composedAt;  // monotonic seconds of the frame's frame callback
    bool overdue = false;              // no report within the grace after it: the compositor gave none

    ~FrameReport()
    {
        if (proxy) wp_presentation_feedback_destroy(proxy);
    }
};

struct WindowListeners {
    static WaylandWindow& of(void* data) { return *static_cast<WaylandWindow*>(data); }

    static void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial)
    {
        WaylandWindow& w = of(data);
        xdg_surface_ack_configure(surface, serial);
        w.configure(w.pendingWidth_, w.pendingHeight_);
    }
    static constexpr xdg_surface_listener SURFACE = {surfaceConfigure};

    static void toplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                                  wl_array* states)
    {
        WaylandWindow& w = of(data);
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
        of(data).loop_.deliver([](EventHandler& handler) { handler.key(KeyEvent{"Escape", false}); });
    }
    static void bounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
    static void capabilities(void*, xdg_toplevel*, wl_array*) {}
    static constexpr xdg_toplevel_listener TOPLEVEL = {toplevelConfigure, close, bounds, capabilities};

    static void release(void* data, wl_buffer*) { static_cast<WaylandWindow::Buffer*>(data)->busy = false; }
    static constexpr wl_buffer_listener BUFFER = {release};

    // The outputs the surface is shown on.
    static void enter(void* data, wl_surface*, wl_output* output)
    {
        WaylandWindow& w = of(data);
        w.enteredAny_ = true;
        w.enteredOutputs_.insert(output);
        w.followPlacement();
    }
    static void leave(void* data, wl_surface*, wl_output* output)
    {
        of(data).enteredOutputs_.erase(output);
        of(data).followPlacement();
    }
    static constexpr wl_surface_listener SURFACE_OUTPUTS = {enter, leave};

    static void syncOutput(void*, struct wp_presentation_feedback*, wl_output*) {}
    static void presented(void* data, struct wp_presentation_feedback*, std::uint32_t secondsHigh,
                          std::uint32_t secondsLow, std::uint32_t nanoseconds, std::uint32_t, std::uint32_t,
                          std::uint32_t, std::uint32_t)
    {
        auto* report = static_cast<WaylandWindow::FrameReport*>(data);
        // The compositor's clock, carried over to the wall clock at this moment.
        timespec clockNow{}, wallNow{};
        clock_gettime(report->window->connection_.presentationClock(), &clockNow);
        clock_gettime(CLOCK_REALTIME, &wallNow);
        const double shown = double((std::uint64_t(secondsHigh) << 32) | secondsLow) + nanoseconds / 1e9;
        report->window->reportCame(report, seconds(wallNow) - (seconds(clockNow) - shown));
    }
    static void discarded(void* data, struct wp_presentation_feedback*)
    {
        auto* report = static_cast<WaylandWindow::FrameReport*>(data);
        report->window->reportCame(report, std::nullopt);
    }
    static constexpr wp_presentation_feedback_listener FEEDBACK = {syncOutput, presented, discarded};

    // The frame callback: the compositor has composed the frame and wants the next one.
    static void frameDone(void* data, wl_callback* callback, std::uint32_t)
    {
        WaylandWindow& w = of(data);
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        w.frameDoneAt_ = seconds(now);
        if (!w.reports_.empty() && w.reports_.back()->frame == w.frameNumber_) {
            w.reports_.back()->composedAt = w.frameDoneAt_;
        }
        clock_gettime(CLOCK_REALTIME, &now);
        w.frameDoneWall_ = seconds(now);
        wl_callback_destroy(callback);
        w.frameCallback_ = nullptr;
    }
    static constexpr wl_callback_listener FRAME = {frameDone};

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
    wl_surface_add_listener(w->surface_, &WindowListeners::SURFACE_OUTPUTS, w.get());
    w->xdgSurface_ = xdg_wm_base_get_xdg_surface(connection.wmBase(), w->surface_);
    xdg_surface_add_listener(w->xdgSurface_, &WindowListeners::SURFACE, w.get());
    w->toplevel_ = xdg_surface_get_toplevel(w->xdgSurface_);
    xdg_toplevel_add_listener(w->toplevel_, &WindowListeners::TOPLEVEL, w.get());
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
    misplacedSince_ = monotonicNow();
    xdg_toplevel_set_fullscreen(toplevel_, outputProxy_);
    wl_display_flush(connection_.display());
    timer.it_value.tv_sec = time_t(PLACEMENT_LIMIT);
    timer.it_value.tv_nsec = long((PLACEMENT_LIMIT - double(time_t(PLACEMENT_LIMIT))) * 1e9);
    timerfd_settime(placementTimer_, 0, &timer, nullptr);
}

bool WaylandWindow::placementLapsed()
{
    if (!misplacedSince_ || monotonicNow() - *misplacedSince_ < PLACEMENT_LIMIT) return false;
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
    // Requests the socket could not take yet go out as soon as it can take them.
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    if (wl_display_flush(display) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display);
            loop_.endWith(MainLoop::DISPLAY_CONNECTION_LOST);
            return false;
        }
        fd.events |= POLLOUT;
    }
    const int ready = poll(&fd, 1, waitMs);
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

WaylandWindow::Pool* WaylandWindow::pool(std::uint32_t format)
{
    for (auto& p : pools_) {
        if (p->format == format) return p.get();
    }
    if (failedFormats_.count(format)) return nullptr;
    failedFormats_.insert(format);
    auto p = std::make_unique<Pool>();
    p->format = format;
    // The protocol gives a pool's size and a buffer's offset and stride in 32 bits.
    const std::size_t frameBytes = std::size_t(width_) * std::size_t(height_) * 4;
    if (frameBytes == 0 || frameBytes > std::size_t(std::numeric_limits<std::int32_t>::max()) / 2) return nullptr;
    p->size = frameBytes * 2;
    p->fd = memfd_create(WINDOW_NAME, MFD_CLOEXEC);
    if (p->fd < 0 || ftruncate(p->fd, off_t(p->size)) != 0) return nullptr;
    p->data = mmap(nullptr, p->size, PROT_READ | PROT_WRITE, MAP_SHARED, p->fd, 0);
    if (p->data == MAP_FAILED) return nullptr;
    failedFormats_.erase(format);
    // Fresh memory costs a fault per page where it is first written, far more than drawing the page.
    // Two threads make it present: each its half of the first buffer, which the first frame waits for
    // and is then drawn at memory speed, then, once that frame is shown, its half of the second. A
    // kernel without the call leaves the faults to the drawing.
    p->firstPresent = std::make_unique<std::latch>(2);
    p->firstShown = std::make_unique<std::latch>(1);
    const std::size_t half = frameBytes / 2;
    for (int i = 0; i < 2; ++i) {
        const std::size_t from = i == 0 ? 0 : half;
        const std::size_t bytes = i == 0 ? half : frameBytes - half;
        char* data = static_cast<char*>(p->data);
        p->populating[i] = std::thread([data, from, bytes, frameBytes, done = p->firstPresent.get(),
                                        shown = p->firstShown.get()] {
            madvise(data + from, bytes, MADV_POPULATE_WRITE);
            done->count_down();
            shown->wait();
            madvise(data + frameBytes + from, bytes, MADV_POPULATE_WRITE);
        });
    }
    p->proxy = wl_shm_create_pool(connection_.shm(), p->fd, std::int32_t(p->size));
    for (int i = 0; i < 2; ++i) {
        Buffer& b = p->buffers[i];
        b.proxy = wl_shm_pool_create_buffer(p->proxy, std::int32_t(frameBytes * std::size_t(i)), width_, height_,
                                            width_ * 4, format);
        b.pixels = reinterpret_cast<std::uint32_t*>(static_cast<char*>(p->data) + frameBytes * std::size_t(i));
        wl_buffer_add_listener(b.proxy, &WindowListeners::BUFFER, &b);
    }
    pools_.push_back(std::move(p));
    return pools_.back().get();
}

FrameBuffer WaylandWindow::frame()
{
    PP_MAIN_THREAD_ONLY(loop_);
    framing_ = true;
    drawing_ = nullptr;
    Pool* p = pool(format_);
    if (!p && format_ != WL_SHM_FORMAT_XRGB8888) p = pool(WL_SHM_FORMAT_XRGB8888);
    if (!p) loop_.endWith(NO_FRAME_MEMORY);
    // A compositor that keeps both buffers is not showing the frames: it is waited for as a frame is.
    const double until = monotonicNow() + SHOW_LIMIT;
    while (p && !drawing_ && !loop_.ended()) {
        if (const int b = ages_.drawInto(p->agesView()); b >= 0) {
            drawing_ = &p->buffers[b];
            break;
        }
        const double left = until - monotonicNow();
        if (left <= 0) {
            loop_.endWith(MainLoop::WINDOW_NOT_SHOWN);
            break;
        }
        if (!dispatchOnce(std::min(WAIT_SLICE_MS, milliseconds(left)))) break;
    }
    if (!drawing_) {
        // Nothing will be shown: the frame is drawn where it harms nothing.
        scratch_.resize(std::size_t(width_) * std::size_t(height_));
        return {scratch_.data(), width_, height_, width_, PixelFormat::xrgb8888, scale_};
    }
    // The unused bits are set: some compositors read an x channel as alpha.
    const std::uint32_t padding = p->format == WL_SHM_FORMAT_XRGB2101010 ? 0xC0000000u : 0xFF000000u;
    // The first frame waits for the first buffer's memory only; by the second, all of it is present (the
    // threads end there, and so no way out of the process leaves them behind).
    if (p->drawnInto) {
        p->joinPopulating();
    } else {
        p->firstPresent->wait();
    }
    p->drawnInto = true;
    FrameBuffer frame{drawing_->pixels, width_, height_, width_, pixelFormat(p->format), scale_, padding};
    frame.age = ages_.age(drawing_->pixels);
    if (const int shown = ages_.shownBeside(p->agesView(), int(drawing_ - p->buffers)); shown >= 0) {
        frame.shown = p->buffers[shown].pixels;
    }
    return frame;
}

void WaylandWindow::commitFrame(Buffer& buffer, std::span<const PixelRect> area)
{
    if (frameCallback_) wl_callback_destroy(std::exchange(frameCallback_, nullptr));
    wl_surface_attach(surface_, buffer.proxy, 0, 0);
    if (area.empty()) wl_surface_damage_buffer(surface_, 0, 0, width_, height_);
    for (const PixelRect& r : area) wl_surface_damage_buffer(surface_, r.x, r.y, r.width, r.height);
    buffer.busy = true;
    feedback_ = Feedback::waiting;
    reconfigured_ = false;
    frameDoneAt_.reset();
    frameCallback_ = wl_surface_frame(surface_);
    wl_callback_add_listener(frameCallback_, &WindowListeners::FRAME, this);
    ++frameNumber_;
    if (connection_.presentation()) {
        if (reports_.size() == MOST_PENDING_REPORTS) reports_.pop_front();
        auto report = std::make_unique<FrameReport>();
        report->window = this;
        report->frame = frameNumber_;
        report->proxy = wp_presentation_feedback(connection_.presentation(), surface_);
        wp_presentation_feedback_add_listener(report->proxy, &WindowListeners::FEEDBACK, report.get());
        reports_.push_back(std::move(report));
    }
    wl_surface_commit(surface_);
}

void WaylandWindow::reportCame(FrameReport* report, std::optional<double> shownAt)
{
    // Any report, late or not, shows that the compositor reports presentations.
    silent_ = false;
    if (report->frame == frameNumber_) {
        feedback_ = shownAt ? Feedback::presented : Feedback::discarded;
        if (shownAt) presentedAt_ = *shownAt;
    }
    for (auto it = reports_.begin(); it != reports_.end(); ++it) {
        if (it->get() == report) {
            reports_.erase(it);
            break;
        }
    }
}

WaylandWindow::Buffer& WaylandWindow::freshCopy(Buffer& shown)
{
    for (auto& p : pools_) {
        Buffer* other = &shown == &p->buffers[0] ? &p->buffers[1] : &shown == &p->buffers[1] ? &p->buffers[0] : nullptr;
        if (!other || other->busy) continue;
        // The other buffer's memory is made present by both threads first, faster than the copy's faults.
        p->joinPopulating();
        std::memcpy(other->pixels, shown.pixels, std::size_t(width_) * std::size_t(height_) * 4);
        ages_.copiedNewest(other->pixels);
        return *other;
    }
    return shown;
}

void WaylandWindow::present(std::span<const PixelRect> changed)
{
    PP_MAIN_THREAD_ONLY(loop_);
    presentFrame(changed);
    // Once the first frame is shown the threads go on to the second buffer: before, they would take the
    // processor from the frame's drawing and from the compositor.
    for (auto& p : pools_) {
        if (p->drawnInto) p->firstFrameShown();
    }
    // A configure the frame did not answer (it came once the frame was shown) is answered by the next.
    framing_ = false;
    if (reconfigured_) loop_.requestPaint();
}

void WaylandWindow::presentFrame(std::span<const PixelRect> changed)
{
    Buffer* buffer = std::exchange(drawing_, nullptr);
    if (!buffer || loop_.ended()) return;
    ages_.presented(buffer->pixels);
    // The first frame after a configure is content the compositor waits for, and goes out whole.
    commitFrame(*buffer, updateArea(changed, reconfigured_));
    // The frame counts as shown once presented (or taken as shown, below); the return waits besides
    // for the window to be where it belongs.
    bool shown = false;
    const double until = monotonicNow() + SHOW_LIMIT;
    for (int discards = 0;;) {
        if (placementLapsed()) return;
        if (!shown && (feedback_ == Feedback::discarded || reconfigured_)) {
            // A discarded frame is committed again. After a new configure the compositor shows the window
            // only once new content follows it, so the frame goes out again, whole, from the other buffer.
            if (feedback_ == Feedback::discarded && ++discards == MOST_DISCARDS) {
                loop_.endWith(MainLoop::WINDOW_NOT_SHOWN);
                return;
            }
            buffer = &freshCopy(*buffer);
            commitFrame(*buffer, {});
            continue;
        }
        const double now = monotonicNow();
        int waitMs = WAIT_SLICE_MS;
        if (feedback_ == Feedback::presented) {
            shown = true;
        } else if (!shown && frameDoneAt_) {
            // Composed. Without presentation-time that is all the compositor tells; with it, each
            // frame's report is due within a few refreshes of its frame callback, and a compositor that
            // lets one go overdue (a headless output) gives none: its composed frames are taken as shown,
            // until a report comes again.
            const double due = connection_.presentation() ? nextReportDue(now) : now;
            if (!connection_.presentation() || silent_) {
                presentedAt_ = frameDoneWall_;
                shown = true;
            } else {
                waitMs = std::isfinite(due) ? milliseconds(due - now) : WAIT_SLICE_MS;
            }
        }
        if (shown) {
            // A frame shown while the window is elsewhere is not on the display: the window waits to be
            // put back (its frame then goes out again) or for the run to end.
            followPlacement();
            if (!misplacedSince_) return;
            if (reconfigured_) {
                shown = false;
                feedback_ = Feedback::waiting;
                continue;
            }
            waitMs = milliseconds(*misplacedSince_ + PLACEMENT_LIMIT - now);
        } else if (now >= until) {
            loop_.endWith(MainLoop::WINDOW_NOT_SHOWN);
            return;
        } else {
            waitMs = std::min(waitMs, milliseconds(until - now));
        }
        if (!dispatchOnce(waitMs)) return;
    }
}

double WaylandWindow::nextReportDue(double now)
{
    const double grace = presentationGrace();
    double next = std::numeric_limits<double>::infinity();
    for (const auto& report : reports_) {
        if (!report->composedAt || report->overdue) continue;
        const double due = *report->composedAt + grace;
        if (due <= now) {
            report->overdue = true;
            silent_ = true;
        } else {
            next = std::min(next, due);
        }
    }
    return next;
}

double WaylandWindow::presentationGrace() const
{
    const Output* output = connection_.output(screen_.number);
    const int millihertz = output ? output->state.refreshMillihertz : 0;
    const double refresh = millihertz > 0 ? 1000.0 / millihertz : 1.0 / 60;
    return std::max(MIN_PRESENTATION_GRACE, 3 * refresh);
}

void WaylandWindow::setNeedsDisplay()
{
    loop_.requestPaint();
}

void WaylandWindow::setSurfaceBits(int bits)
{
    // 10-bit frames only where they are known to reach the output as they are.
    const bool deep = bits == 16 && screen_.bitsPerSample >= 10;
    format_ = deep ? WL_SHM_FORMAT_XRGB2101010 : WL_SHM_FORMAT_XRGB8888;
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
