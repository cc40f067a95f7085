// Test Wayland compositors run headless: a sway (as the unprivileged user nobody, with the pixman
// renderer and headless outputs HEADLESS-1, HEADLESS-2, ...) or a weston (headless backend, pixman, one
// output named "headless"), each with a runtime folder of its own, ready when its outputs are announced,
// and stopped by process id with everything it started whatever the test's outcome.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "screenshot.hpp"

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
};

// One output as the compositor announces it.
struct CompositorOutput {
    std::string name;       // the connector name (wl_output.name, xdg_output.name)
    int x = 0;              // logical position and size, in points
    int y = 0;
    int logicalWidth = 0;
    int logicalHeight = 0;
    int pixelWidth = 0;     // current mode, in device pixels
    int pixelHeight = 0;
    double scale = 1;
    std::string make;
    std::string model;
    std::string serial;     // empty where the compositor reports none
};

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
    std::string runTool(const std::vector<std::string>& argv, int* status = nullptr, const std::string& cwd = "") const;
    void stopAll();

    Kind kind_;
    std::string folder_;
    std::string runtimeDir_;
    std::string socket_ = "wayland-1";
    pid_t pid_ = 0;
    bool reaped_ = false;
};

}  // namespace pp::test
