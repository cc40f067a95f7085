// The one full-screen window on an output: its surface, buffers, presentation, pointer and keyboard.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/buffer_ages.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_keyboard.hpp"
#include "platform/wayland/wayland_main_loop.hpp"

struct wl_surface;
struct wl_buffer;
struct wl_callback;
struct wl_pointer;
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
// surface when the compositor offers it. present() commits with a presentation feedback and returns
// once the compositor says the frame was presented (a discarded frame is committed again); without
// presentation-time, or from a compositor that has left several frames in a row unreported, it waits
// for the frame callback. Only the changed area is damaged. An idle inhibitor keeps the output from blanking.
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
    struct Buffer {
        wl_buffer* proxy = nullptr;
        std::uint32_t* pixels = nullptr;
        bool busy = false;
    };
    struct Pool;

    WaylandWindow(WaylandConnection& connection, WaylandMainLoop& loop, const Screen& screen);
    bool waitForConfigure();
    bool coversOutput() const;
    Pool* pool(std::uint32_t format);
    bool dispatchOnce(int waitMs = 1000);
    // Attaches the buffer, damages `area` of it (all of it when empty) and commits it with a frame
    // callback and a presentation feedback, dropping those of an earlier commit.
    void commitFrame(Buffer& buffer, std::span<const PixelRect> area);
    // The pool's other buffer holding a copy of `shown`'s pixels when it is free; else `shown`.
    Buffer& freshCopy(Buffer& shown);
    // How long a presentation report is awaited after the frame callback.
    double presentationGrace() const;
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
    int pendingWidth_ = 0;    // the size of the configure being received
    int pendingHeight_ = 0;

    std::vector<std::unique_ptr<Pool>> pools_;
    std::uint32_t format_;    // the wl_shm format frames are drawn in now
    Buffer* drawing_ = nullptr;
    BufferAges ages_;
    std::vector<std::uint32_t> scratch_;  // drawn into when the compositor is gone
    std::optional<double> presentedAt_;

    // The outcome of the frame being presented.
    enum class Feedback { waiting, presented, discarded };
    Feedback feedback_ = Feedback::waiting;
    wp_presentation_feedback* feedbackProxy_ = nullptr;
    wl_callback* frameCallback_ = nullptr;
    std::optional<double> frameDoneAt_;  // monotonic seconds of the frame callback of the last commit
    int silentFrames_ = 0;               // frames in a row whose presentation report never came
    double frameDoneWall_ = 0;           // the same moment on the wall clock

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
