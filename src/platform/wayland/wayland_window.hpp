// The one full-screen window on an output: its surface, buffers, presentation, pointer and keyboard.
#pragma once

#include <cstdint>
#include <memory>
#include <deque>
#include <optional>
#include <set>
#include <vector>

#include "platform/buffer_ages.hpp"
#include "platform/session/shell_overview.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_keyboard.hpp"
#include "platform/wayland/wayland_main_loop.hpp"
#include "platform/window_system.hpp"

struct wl_surface;
struct wl_buffer;
struct wl_callback;
struct wl_pointer;
struct wl_output;
struct wl_cursor_theme;
struct wl_cursor_image;
struct xdg_surface;
struct xdg_toplevel;
struct wp_viewport;
struct wp_presentation_feedback;
struct zwp_idle_inhibitor_v1;
struct wp_color_management_surface_v1;

namespace pp::wayland {

// An xdg_toplevel made full-screen on one output, titled and app-id'd "patch-presenter". Its buffers
// have the output's pixel size and are shown one buffer pixel per device pixel (buffer scale, or a
// viewport for a fractional scale), so nothing is resampled. Frames are wl_shm buffers (two per format,
// each reused only after the compositor released it): XRGB8888, and XRGB2101010 for a 16-bit drawing
// surface where such frames reach the output as they are. present() commits with a presentation feedback
// of its own and returns once the compositor says the frame was presented, and not before the moment it
// states (a compositor may report a presentation just ahead of it). Once the compositor has reported a
// presentation for the surface it is believed: a discarded frame, or one whose report does not come, is
// committed again. Only a compositor that never reports (or offers no presentation-time) has its frame
// callback taken as "shown". A frame not shown within 5 s ends the run with "error display does not
// show the window". Only the changed area is damaged. An idle inhibitor keeps the output from blanking.
// The window follows where the compositor shows it (the outputs its surface enters, the toplevel's
// full-screen state and size): once it is elsewhere it asks again to be full-screen on its output, and
// when it is not back within 1 s the run ends with "error window does not cover the display". On
// gnome-shell the overview (every window a thumbnail) is closed at start; while it is open a frame is
// not shown as drawn, so present() waits for it to close (within the 5 s) and then shows the frame again;
// so too while gnome-shell may still be easing the window in, after its map or the overview's closing.
// present() does not return while the window is elsewhere.
// Where the compositor manages colour, the surface carries the output's own image description from its
// first frame on, so the compositor passes the pixels through to the output unchanged.
// The pointer is hidden over the window from the start. Main thread only; lives shorter than the
// connection and the loop it was made with.
class WaylandWindow : public Window {
public:
    // Makes the window on `screen`'s output and waits for the compositor's first configure; none when
    // the compositor lacks what the window needs or does not make it cover the whole output.
    static std::unique_ptr<WaylandWindow> create(WaylandConnection& connection, WaylandMainLoop& loop,
                                                 const Screen& screen);
    ~WaylandWindow() override;
    WaylandWindow(const WaylandWindow&) = delete;
    WaylandWindow& operator=(const WaylandWindow&) = delete;

    FrameBuffer frame() override;
    void present(std::span<const PixelRect> changed) override;
    void setNeedsDisplay() override;
    void setPointerVisible(bool visible) override;
    void setSurfaceBits(int bits) override;
    std::optional<double> presentedAt() const override { return presentedAt_; }

private:
    friend struct WindowListeners;
    friend struct PresentationListeners;
    friend struct PlacementListeners;
    struct Buffer {
        wl_buffer* proxy = nullptr;
        std::uint32_t* pixels = nullptr;
        bool busy = false;
    };
    struct Pool;

    WaylandWindow(WaylandConnection& connection, WaylandMainLoop& loop, const Screen& screen);
    bool waitForConfigure();
    bool coversOutput() const;
    // Full-screen, covering the output, and on it (as far as the compositor has said).
    bool placed() const;
    // The overview is open: the window is shown, but as a thumbnail.
    bool overviewOpen() const { return overview_ && overview_->open(); }
    // The overview opened or closed.
    void overviewChanged();
    // Looks at the placement after the compositor said something of it: asks to be put back and starts
    // the clock when the window has gone elsewhere, stops it when the window is back.
    void followPlacement();
    // Ends the run when the window has been elsewhere too long; whether it did.
    bool placementLapsed();
    void placementDue();
    struct FrameReport;
    // A presentation report for `report`'s frame: presented at `statedAt` (presentation clock seconds)
    // with the output refreshing every `refresh` seconds (0: not told), or discarded.
    void reportCame(FrameReport* report, std::optional<double> statedAt, double refresh);
    Pool* pool(std::uint32_t format);
    bool dispatchOnce(int waitMs = 1000);
    // Attaches the buffer, damages `area` of it (all of it when empty) and commits it with a frame
    // callback and a presentation feedback, dropping those of an earlier commit.
    void commitFrame(Buffer& buffer, std::span<const PixelRect> area);
    // present() but for the end: commits the frame and waits until it is shown or the run ends.
    void presentFrame(std::span<const PixelRect> changed);
    // The pool's other buffer holding a copy of `shown`'s pixels when it is free; else `shown`.
    Buffer& freshCopy(Buffer& shown);
    // How long a presentation report is awaited after the frame callback.
    double presentationGrace() const;
    // Marks the awaited reports whose grace has run out; when the next one runs out, in monotonic seconds
    // (infinity: none is running).
    double nextReportDue(double now);
    // Whether the last commit's report is overdue.
    bool lastReportOverdue() const;
    // The output's refresh period in seconds (a 60 Hz one where it is not told).
    double refreshPeriod() const;
    void followSeat();
    void applyCursor();
    void configure(int width, int height);
    void pointerMoved(double x, double y);
    void button(bool pressed);

    WaylandConnection& connection_;
    WaylandMainLoop& loop_;
    const Screen screen_;
    wl_surface* surface_ = nullptr;
    xdg_surface* xdgSurface_ = nullptr;
    xdg_toplevel* toplevel_ = nullptr;
    wp_viewport* viewport_ = nullptr;
    zwp_idle_inhibitor_v1* inhibitor_ = nullptr;
    wp_color_management_surface_v1* colourSurface_ = nullptr;  // the surface's tag, where colour is managed
    int width_ = 0;           // buffer size, device pixels
    int height_ = 0;
    double scale_ = 1;        // device pixels per point
    int configuredWidth_ = 0; // the compositor's last size for the window, points
    int configuredHeight_ = 0;
    bool configured_ = false;
    bool reconfigured_ = false;  // a configure was acknowledged since the last commit
    bool framing_ = false;       // between frame() and the end of present()
    int pendingWidth_ = 0;    // the size of the configure being received
    int pendingHeight_ = 0;
    bool pendingFullscreen_ = false;
    bool fullscreen_ = false;  // the last configure had the full-screen state
    wl_output* outputProxy_ = nullptr;        // the output the window belongs on
    std::set<wl_output*> enteredOutputs_;     // the outputs the surface is shown on now
    bool enteredAny_ = false;                 // the compositor has said where the surface is shown
    std::optional<double> misplacedSince_;    // monotonic seconds since the window is elsewhere
    bool hiddenByOverview_ = false;           // the frame went out, or was shown, while the overview was open
    std::optional<double> settlesAt_;         // gnome-shell: presentation-clock moment the window has been eased in by
    int placementTimer_ = -1;                 // timerfd: fires when the window has been elsewhere too long

    std::vector<std::unique_ptr<Pool>> pools_;
    std::set<std::uint32_t> failedFormats_;  // formats whose pool could not be made: not tried again
    std::uint32_t format_;    // the wl_shm format frames are drawn in now
    Buffer* drawing_ = nullptr;
    BufferAges ages_;
    std::vector<std::uint32_t> scratch_;  // drawn into when the compositor is gone
    std::optional<double> presentedAt_;

    // The outcome of the frame being presented.
    enum class Feedback { waiting, presented, discarded };
    Feedback feedback_ = Feedback::waiting;
    std::deque<std::unique_ptr<FrameReport>> reports_;  // reports awaited, oldest first
    std::uint64_t frameNumber_ = 0;                     // the last commit's frame
    wl_callback* frameCallback_ = nullptr;
    std::optional<double> frameDoneAt_;  // monotonic seconds of the frame callback of the last commit
    double frameDoneWall_ = 0;           // the same moment on the wall clock
    bool reporting_ = false;             // the compositor has reported a presentation for the surface
    bool silent_ = false;                // before any report, a frame's report did not come: none will
    bool secondBuffersDue_ = false;      // the pools' second buffers are to be made ready once the loop idles
    double statedAt_ = 0;                // the last presented frame's moment on the presentation clock
    double statedRefresh_ = 0;           // its refresh period as the report gave it, seconds (0: not told)
    std::unique_ptr<session::ShellOverview> overview_;  // gnome-shell's overview, where there is one

    WaylandKeyboard keyboard_;
    wl_pointer* pointer_ = nullptr;
    std::uint32_t enterSerial_ = 0;
    bool pointerInside_ = false;
    bool buttonDown_ = false;
    Point pointerAt_;         // view points
    int hidden_ = 0;          // hides not yet undone
    wl_cursor_theme* cursorTheme_ = nullptr;
    wl_surface* cursorSurface_ = nullptr;
    wl_cursor_image* cursorImage_ = nullptr;
    int cursorScale_ = 1;
};

}  // namespace pp::wayland
