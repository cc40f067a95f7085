// The window system as the program sees it: the displays, the one window and the main loop. The
// implementations are platform/x11 (the X server named by DISPLAY), platform/wayland (the compositor
// named by WAYLAND_DISPLAY), platform/kms (a display driven through the kernel's mode setting, with no
// desktop) and platform/headless (in memory: tests, and a run with no display at all);
// platform_factory.hpp chooses among them. Nothing above this floor reaches for a global connection:
// it receives these objects.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/screen.hpp"
#include "core/values.hpp"

namespace pp {

// Screen and display queries. Every call reads the window system afresh.
// Thread: any one thread at a time (start-up calls them on the main thread before other threads exist;
// later only main-thread work calls them). Never blocks for long.
class Displays {
public:
    virtual ~Displays() = default;

    // The attached screens in the window system's order; empty when there is no window system.
    virtual std::vector<Screen> screens() = 0;

    // The main screen (the primary output, else the first screen), or none.
    virtual std::optional<Screen> mainScreen() = 0;

    // The display's transfer table sampled to at most `capacity` entries per channel (all of them when it
    // has fewer); three empty channels when none can be read.
    virtual TransferTable transferTable(std::uint32_t number, std::size_t capacity) = 0;

    // The bytes of the ICC profile the window system advertises for the display, or empty.
    virtual std::vector<std::uint8_t> advertisedProfile(std::uint32_t number) = 0;

    // The display `number` as screens() lists it, its transfer table sampled to `capacity` and its
    // advertised profile: what those three calls give, read afresh together, so that a window system
    // can gather them in fewer exchanges with its server than the three calls one after another.
    virtual DisplayReading displayReading(std::uint32_t number, std::size_t capacity)
    {
        DisplayReading reading;
        for (auto& screen : screens()) {
            if (screen.number == number) {
                reading.screen = std::move(screen);
                break;
            }
        }
        reading.transfer = transferTable(number, capacity);
        reading.advertisedProfile = advertisedProfile(number);
        return reading;
    }
};

// What the event loop calls on the main thread. Handlers only change state and mark the view for
// repaint with Window::setNeedsDisplay; the loop paints between events. On every window system input is
// delivered only as the loop turns: never from inside paint() or handed-over work, so input that arrives
// while a frame waits to be shown is held until the loop turns again.
class EventHandler {
public:
    virtual ~EventHandler() = default;
    virtual void pointer(const PointerEvent& event) = 0;
    virtual void key(const KeyEvent& event) = 0;
    // Paint the whole view into the window (Window::frame, then Window::present).
    virtual void paint() = 0;
};

// The one borderless window that covers a screen (on KMS: the whole picture of the display).
// Thread: main thread only, except where a call says otherwise.
class Window {
public:
    virtual ~Window() = default;

    // The buffer to draw the next frame into, the window's size, in the screen's format.
    virtual FrameBuffer frame() = 0;

    // Puts the frame drawn into frame() on the screen and returns once it is there (presentation
    // complete, or the server has taken the image and answered a round trip). `changed` is where the
    // frame differs from the one presented before it (device pixels, within the frame): the window
    // updates at least that area, and the whole window when the window system lost its contents.
    // Nothing changed still presents, so the return keeps its meaning.
    virtual void present(std::span<const PixelRect> changed) = 0;

    // Asks the event loop to call EventHandler::paint before it next waits.
    virtual void setNeedsDisplay() = 0;

    // Shows or hides the pointer over the window. Unbalanced calls are the caller's to avoid.
    virtual void setPointerVisible(bool visible) = 0;

    // The drawing surface's bits per sample (8, or 16 for "deep"): a window may choose the format of
    // the buffers frame() gives from it.
    virtual void setSurfaceBits(int bits) { (void)bits; }

    // When the window system reported the last presented frame shown, as seconds since 1970; none
    // where it reports no time.
    virtual std::optional<double> presentedAt() const { return std::nullopt; }
};

// The main thread's event loop and the hand-over of work from other threads to it.
class MainLoop {
public:
    virtual ~MainLoop() = default;

    // Runs `work` on the main thread between events and blocks the caller until it has finished.
    // Items run one at a time, in the order they were handed over. Any thread but the main one.
    // Once the loop has ended (the window system is gone) it returns at once without running `work`.
    // True when `work` ran; false when it was dropped because the loop had ended or ended meanwhile.
    virtual bool runOnMain(std::function<void()> work) = 0;

    // Runs the loop on the main thread for good: delivers events to `handler`, paints when asked and
    // serves handed-over work. Returns only when the window system is gone or the window can no longer
    // be what the status report says (the caller then writes endReason() and ends the process).
    virtual void run(EventHandler& handler) = 0;

    // The error line that says why run() returned: DISPLAY_CONNECTION_LOST unless the loop knows
    // better (one of the lines below, or noScreenLine). Main thread, after run() has returned.
    virtual std::string endReason() const { return DISPLAY_CONNECTION_LOST; }

    // The lines a run ends with when the window system goes away or the window can no longer be what
    // the report says.
    static constexpr const char* DISPLAY_CONNECTION_LOST = "error display connection lost";
    static constexpr const char* DISPLAY_CHANGED = "error display changed";
    static constexpr const char* WINDOW_DESTROYED = "error window destroyed";
    static constexpr const char* WINDOW_NOT_COVERING = "error window does not cover the display";
    static constexpr const char* WINDOW_NOT_SHOWN = "error display does not show the window";
    // How long a frame may go without being shown (a hidden workspace, a covered window, a stalled
    // compositor or flip) before the run ends with WINDOW_NOT_SHOWN, in seconds.
    static constexpr double SHOW_LIMIT = 5;
};

// The line for a display that is not there (at start, or gone during the run).
inline std::string noScreenLine(std::uint32_t number)
{
    return "error no screen " + std::to_string(number);
}

// The line for a window system without a main screen (no screen at all).
inline constexpr const char* NO_MAIN_SCREEN_LINE = "error no screen main";

// The window system: its screens, the window and the main loop.
class WindowSystem : public virtual Displays {
public:
    // Creates the window covering `screen` exactly, above all others, with the keyboard focus and the
    // pointer hidden. None when it cannot be made. Main thread.
    virtual std::unique_ptr<Window> createWindow(const Screen& screen) = 0;

    // The loop that serves the window made by createWindow.
    virtual MainLoop& mainLoop() = 0;

    // Why createWindow made none, where it is more than that it could not ("error no mode ..."): the
    // line to end on; else empty.
    virtual std::string windowRefusal() const { return {}; }
};

// The window systems the program can run on.
enum class PlatformKind { wayland, x11, kms };

}  // namespace pp
