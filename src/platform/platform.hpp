// The interfaces through which the portable core reaches the window system, the screens and colour
// management. The core receives these objects; nothing in it reaches for a global connection.
// Implementations: platform/x11 (the X server named by DISPLAY), platform/colord (colord on the system
// bus) and platform/headless (in-memory, for tests).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace pp {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

// A rectangle: origin (x, y) and size. In view coordinates the origin is the lower-left corner (y up);
// a screen frame is in root-window pixels with the origin at its upper-left corner (y down).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
};

// How a colour-managed window system says an output expects its pixels to be encoded: by an ICC
// profile, or parametrically by primaries, a transfer function and luminances. The compositor passes a
// surface tagged with this description through to the output unchanged, and then applies only the
// output's own calibration (an ICC profile's vcgt, a gamma table).
struct OutputColour {
    std::vector<std::uint8_t> icc;   // the output's ICC profile; empty when it is described parametrically
    std::string primaries;           // the primaries' name in the protocol ("bt2020", "srgb"); empty when
                                     // they are given only as numbers, or not at all
    std::vector<double> primaryValues;  // CIE 1931 x, y of red, green, blue and white (8 numbers), or empty
    std::string transfer;            // the transfer function's name ("st2084_pq", "gamma22"), or a power
                                     // curve as "power 2.4"; empty when none was given
    std::vector<double> luminance;   // minimum, maximum and reference white in cd/m², or empty
};

// One attached display, as the window system describes it at the moment of the query.
struct Screen {
    std::uint32_t number = 0;      // display number: the RandR output's XID on X11
    std::string outputName;        // the window system's name of the output ("DP-1", "screen")
    std::string name;              // human name: the EDID monitor name, else the output name
    Rect frame;                    // desktop rectangle in points (root-window pixels on X11)
    Size mm;                       // physical size in millimetres; 0 x 0 when the display reports none
    int pixelsWide = 0;            // the current mode's size in pixels
    int pixelsHigh = 0;
    int depth = 24;                // screen depth (24 or 30)
    int bitsPerSample = 8;         // bits per colour sample of the screen (8 or 10)
    double scale = 1;              // backing scale factor: device pixels per point
    // The output's encoding where the window system manages colour and describes it; none where it does
    // no colour management (X11, a compositor without the colour-management protocol) or could not say.
    std::shared_ptr<const OutputColour> colour;
};

// The display's transfer (gamma) table: three channels of equal length, values 0 to 1.
struct TransferTable {
    std::vector<float> red;
    std::vector<float> green;
    std::vector<float> blue;
};

// One display as the status report reads it, every value from the same reading of the window system.
struct DisplayReading {
    std::optional<Screen> screen;                 // the display as screens() lists it; none when not listed
    TransferTable transfer;                       // as transferTable() gives it
    std::vector<std::uint8_t> advertisedProfile;  // as advertisedProfile() gives it
};

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

// Where a frame is drawn: a buffer of 32-bit pixels in the screen's format, top row first.
enum class PixelFormat {
    xrgb8888,     // 0x00RRGGBB, 8 bits per sample (depth 24)
    xrgb2101010,  // 0bxxRRRRRRRRRRGGGGGGGGGGBBBBBBBBBB, 10 bits per sample (depth 30)
};

// A rectangle of device pixels in a frame: origin at its upper-left corner, y down.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

struct FrameBuffer {
    std::uint32_t* pixels = nullptr;  // owned by the window; valid until the next present()
    int width = 0;                    // device pixels
    int height = 0;
    int stride = 0;                   // pixels per row
    PixelFormat format = PixelFormat::xrgb8888;
    double scale = 1;                 // device pixels per view point
    std::uint32_t padding = 0;        // set in every pixel: the unused (x) bits, for a window system
                                      // that reads them as opacity
    int age = 0;                      // what `pixels` hold: 1 the frame last presented, 2 the one
                                      // presented before it, and so on; 0 nothing known (drawn whole)
    const std::uint32_t* shown = nullptr;  // the frame last presented, in another buffer of the same
                                           // size, stride and format, for copying from; or none
    bool blank = false;               // every pixel holds 0, and the window shows 0 wherever the frame
                                      // presented from this buffer leaves it unchanged (a window's first
                                      // frame, in fresh memory)
};

// The whole of `frame` as one rectangle.
inline PixelRect wholeFrame(const FrameBuffer& frame)
{
    return {0, 0, frame.width, frame.height};
}

// Input from the person at the display, already in view coordinates (points, origin bottom-left, y up).
struct PointerEvent {
    enum class Kind { press, drag, release };
    Kind kind = Kind::press;
    Point location;
};

struct KeyEvent {
    std::string keysym;  // the key symbol's name: "Left", "Return", "space", "KP_Enter", "Escape", ...
    bool shift = false;  // Shift held
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

// The one borderless window that covers a screen.
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
};

// The line for a display that is not there (at start, or gone during the run).
inline std::string noScreenLine(std::uint32_t number)
{
    return "error no screen " + std::to_string(number);
}

// The window system: its screens, the window and the main loop.
class WindowSystem : public virtual Displays {
public:
    // Creates the window covering `screen` exactly, above all others, with the keyboard focus and the
    // pointer hidden. None when it cannot be made. Main thread.
    virtual std::unique_ptr<Window> createWindow(const Screen& screen) = 0;

    // The loop that serves the window made by createWindow.
    virtual MainLoop& mainLoop() = 0;
};

// The window systems the program can run on.
enum class PlatformKind { wayland, x11 };

// A value in a colour-management device record, in the shapes the profile-state rules read.
struct RecordValue;
using RecordKey = std::variant<std::string, double>;  // a key may be a text or, in a foreign record, not
struct NullMarker {
    bool operator==(const NullMarker&) const = default;
};
struct FileUrl {
    std::string path;
    bool operator==(const FileUrl&) const = default;
};
using RecordMap = std::vector<std::pair<RecordKey, RecordValue>>;

struct RecordValue {
    std::variant<NullMarker, std::string, double, FileUrl, RecordMap> value;
};

// Record keys of the profile maps.
inline constexpr const char* CUSTOM_PROFILES_KEY = "CustomProfiles";
inline constexpr const char* FACTORY_PROFILES_KEY = "FactoryProfiles";
inline constexpr const char* DEVICE_PROFILE_URL_KEY = "DeviceProfileURL";

// The display's colour-management device, its profiles, and assignment.
// Thread: any one thread at a time. Every call is bounded by a short timeout: a service that does not
// answer reads as "no device" (or a refusal), it never hangs the caller.
class ColourManagement {
public:
    virtual ~ColourManagement() = default;

    // The id of the device that stands for `screen`, or none.
    virtual std::optional<std::string> displayUUID(const Screen& screen) = 0;

    // The device's record: a map with CUSTOM_PROFILES_KEY (profile id to FileUrl) and
    // FACTORY_PROFILES_KEY (profile id to a map holding DEVICE_PROFILE_URL_KEY), or none.
    virtual std::optional<RecordValue> deviceRecord(const std::string& deviceId) = 0;

    // Makes the profile file at `path` the device's custom and default profile, or with none clears
    // the custom profiles. True when accepted.
    virtual bool setCustomProfile(const std::string& deviceId, const std::optional<std::string>& path) = 0;

    // The title of the device's default profile, or "".
    virtual std::string defaultProfileTitle(const std::string& deviceId) = 0;
};

}  // namespace pp
