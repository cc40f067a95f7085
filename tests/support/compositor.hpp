// Test Wayland compositors run headless: a sway (as the unprivileged user nobody, with the pixman
// renderer and headless outputs HEADLESS-1, HEADLESS-2, ...) or a weston (headless backend, pixman, one
// output named "headless"), each with a runtime folder of its own, ready when its outputs are announced,
// and stopped by process id with everything it started whatever the test's outcome.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "screenshot.hpp"
#include "wayland_outputs.hpp"

namespace pp::test {

using namespace std::chrono_literals;

struct SwayOptions {
    int outputs = 1;
    int width = 1280;     // each output's mode, in device pixels
    int height = 720;
    int scale = 1;        // every output's scale
    std::string background;  // "#rrggbb": a solid background drawn by swaybg; empty: none (sway clears to 63 63 63)
    // Appended to the generated configuration as they are. They may change an output's mode or scale
    // (readiness then waits only for the outputs they do not name) but not the number of outputs.
    std::vector<std::string> configLines;
};

struct WestonOptions {
    int width = 1280;   // the one output's mode in device pixels; a multiple of the scale
    int height = 720;
    int scale = 1;
    std::string background = "#102030";  // the desktop shell's solid background; no panel, no wallpaper
    // The colour-managed weston (colourManagedWeston()) instead of Debian's: GL renderer on Mesa's
    // software rasteriser, the same desktop shell, wp_color_manager_v1 offered, presentation reported
    // with timestamps. `outputLines` go to the output's section of weston.ini as they are:
    // none for an sRGB output, "icc_profile=PATH" for an output described by a profile, or
    // "eotf-mode=st2084", "colorimetry-mode=bt2020rgb", "color-profile=auto:" for an HDR10 output.
    bool colourManaged = false;
    bool manageColour = true;  // with colourManaged: colour management on (off: weston offers no protocol)
    std::vector<std::string> outputLines;
};

// The folder holding a colour-managed weston (15 or later) and its weston-screenshooter: the test
// compositor built into /opt/pp-weston, else the system's weston when it is new enough. None, with
// `why` saying what is missing, when there is neither.
std::optional<std::string> colourManagedWeston(std::string* why = nullptr);

// Skips the test (or fails it, where PP_REQUIRE_COLOUR_WESTON is set, as CI sets it) when there is no
// colour-managed weston. Use as `SKIP_WITHOUT_COLOUR_WESTON();` at the top of a test body.
#define SKIP_WITHOUT_COLOUR_WESTON()                                                       \
    do {                                                                                   \
        std::string why_;                                                                  \
        if (!::pp::test::colourManagedWeston(&why_)) {                                     \
            if (std::getenv("PP_REQUIRE_COLOUR_WESTON")) FAIL() << why_;                   \
            GTEST_SKIP() << why_;                                                          \
        }                                                                                  \
    } while (false)

class Compositor;

// The headless compositors the Wayland tests run on: sway 1.7 (never reports a presentation), Debian's
// weston 10 (pixman) and the colour-managed weston with colour management on and an sRGB output (reports
// presentations with timestamps, as real desktops do).
enum class TestCompositor { sway, weston, colourWeston };

// Starts one of them with one output of that mode and scale.
std::unique_ptr<Compositor> startTestCompositor(TestCompositor which, int width, int height, int scale = 1);
// "sway", "weston", "colourWeston": for test names.
const char* testCompositorName(TestCompositor which);

class Compositor {
public:
    enum class Kind { sway, weston };

    // Starts the compositor and waits (at most 10 s) until its socket answers and every output is
    // announced with the requested mode and scale. Throws with the compositor's log when it does not.
    static std::unique_ptr<Compositor> startSway(const SwayOptions& options = {});
    static std::unique_ptr<Compositor> startWeston(const WestonOptions& options = {});

    ~Compositor();  // stops the compositor and all it started, removes the folder
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    Kind kind() const { return kind_; }
    pid_t pid() const { return pid_; }
    // The runtime folder holding the Wayland socket.
    const std::string& runtimeDir() const { return runtimeDir_; }
    // The socket's name inside the runtime folder.
    const std::string& socketName() const { return socket_; }

    // What a client needs to reach this compositor (WAYLAND_DISPLAY, XDG_RUNTIME_DIR) with DISPLAY,
    // WAYLAND_SOCKET and SWAYSOCK removed, ready for ChildProcess; add DISPLAY afterwards to offer X11.
    std::map<std::string, std::string> env() const;

    // The outputs in the compositor's order (sway: its IPC's order; weston: the registry's).
    std::vector<CompositorOutput> outputs() const;

    // The output's device pixels, exact 8-bit values (grim on sway at the output's own scale;
    // weston-screenshooter on weston). Throws when the output is unknown or the capture fails.
    Screenshot screenshot(const std::string& outputName) const;

    // Sway only. Types with wtype: `wtypeArgs` as wtype takes them ({"-k", "Left"}, {"-M", "shift",
    // "-k", "Left", "-m", "shift"}); wtype's exit status. sway has no keyboard until wtype adds its
    // virtual one, and the focused client binds it only after the seat announces it (20 to 60 ms), so
    // keys sent at once are lost: wtype first waits `settle` with its keyboard in place. The keys have
    // been sent when this returns; the client reads them a moment later.
    int type(const std::vector<std::string>& wtypeArgs, std::chrono::milliseconds settle = 300ms) const;

    // Sway only. Adds a headless output; its name.
    std::string createOutput() const;
    // Sway only. Runs one sway command (as swaymsg does); swaymsg's standard output.
    std::string swaymsg(const std::string& command) const;
    // Sway only. Whether a view in sway's tree has its idle inhibited.
    bool idleInhibited() const;

    // Kills the compositor at once (SIGKILL), as a crash would; the socket stays behind, unanswered.
    void kill();
    bool running() const;

    // The compositor's log so far (its standard output and error).
    std::string log() const;

private:
    Compositor(Kind kind, std::string folder);
    void launch(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env);
    void waitUntilReady(const std::vector<CompositorOutput>& expected);
    std::string swaySocket() const;
    // The path of one of the compositor's own programs ("weston-screenshooter").
    std::string tool(const std::string& name) const;
    std::string runTool(const std::vector<std::string>& argv, int* status = nullptr, const std::string& cwd = "") const;
    void stopAll();

    Kind kind_;
    std::string folder_;
    std::string runtimeDir_;
    std::string socket_ = "wayland-1";
    std::string tools_;  // the folder of the compositor's own tools; empty: found on PATH
    pid_t pid_ = 0;
    bool reaped_ = false;
};

// sway (with `outputs` side by side) or Debian's weston (one output), each output of that mode and scale,
// on the solid background 16 32 48.
std::unique_ptr<Compositor> startOnBackground(Compositor::Kind kind, int width, int height, int scale = 1,
                                              int outputs = 1);

}  // namespace pp::test
