// A Wayland compositor of the tests' own, on libwayland-server, running on a thread of the test
// process. It draws nothing: it serves one client's window the way a desktop would, keeps a copy of
// what each commit damaged, and lets the test decide when (and whether) frame callbacks and
// presentation reports are sent, send configures and move the window between outputs. What it saw the
// client commit can be read back at any time.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pp::test {

struct ScriptedOutput {
    std::string name = "SCRIPTED-1";    // wl_output v4 name and xdg_output name
    int x = 0, y = 0;                   // logical position
    int width = 640, height = 480;      // mode, device pixels (scale 1)
    int refreshMillihertz = 60000;
    int mmWidth = 0, mmHeight = 0;      // physical size; 0: that of 96 pixels per inch
};

struct ScriptedOptions {
    std::vector<ScriptedOutput> outputs = {ScriptedOutput{}};
    bool presentation = true;           // offer wp_presentation (clock CLOCK_MONOTONIC)
    bool deepFormat = false;            // wl_shm also offers XRGB2101010
    bool neverReports = false;          // presentation feedback withheld from the start, as by a headless sway
};

// What a commit's presentation feedback gets.
enum class FeedbackRule { present, withhold, discard };

struct ScriptedCommit {
    int number = 0;                      // 1, 2, ... in commit order (commits with a buffer attached or not)
    int bufferWidth = 0, bufferHeight = 0;   // the buffer in effect after the commit; 0 without one
    std::uint32_t format = 0;            // its wl_shm format
    std::vector<std::array<int, 4>> damage;  // buffer damage of this commit (x, y, w, h), as sent
    bool wholeDamage = false;            // the damage covers the whole buffer (surface damage counts as whole)
    bool newBuffer = false;              // a buffer was attached in this commit
    bool frameCallback = false;          // the commit asked for a frame callback
    bool feedback = false;               // the commit asked for presentation feedback
    bool afterConfigure = false;         // the first commit after an ack_configure
};

// How the commit's presentation feedback was answered, in the order the answers were sent.
struct ScriptedReport {
    int commit = 0;         // the commit's number
    bool presented = false; // presented, else discarded
    double stated = 0;      // the moment it states, CLOCK_MONOTONIC seconds (presented only)
};

class ScriptedCompositor {
public:
    explicit ScriptedCompositor(ScriptedOptions options = {});  // listening and serving when it returns
    ~ScriptedCompositor();                                       // stops the thread, removes the folder
    ScriptedCompositor(const ScriptedCompositor&) = delete;
    ScriptedCompositor& operator=(const ScriptedCompositor&) = delete;

    // WAYLAND_DISPLAY and XDG_RUNTIME_DIR of this compositor, with DISPLAY, WAYLAND_SOCKET and SWAYSOCK
    // removed, as Compositor::env() gives them (ready for ChildProcess / ControllerSession).
    std::map<std::string, std::string> env() const;

    // Behaviour, from the next commit on (thread-safe, callable while serving; each has taken effect on
    // the compositor's thread when it returns):
    void setFeedback(FeedbackRule rule, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // The rule for the next `commits` commits with feedback only; after them the rule set before
    // applies again.
    void setFeedbackFor(int commits, FeedbackRule rule, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // Frame callbacks are sent `delay` after a commit (the commit is "composed"); while withheld they are
    // kept and all sent once released again (a hidden window that is shown again).
    void setFrameCallbacks(bool send, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // Presented reports state a moment this far after the moment they are sent (a compositor that
    // reports just ahead of the presentation).
    void setPresentedAhead(std::chrono::milliseconds ahead);
    // Presented feedback is sent after the commit's frame callback (if it is withheld, so is the report);
    // a commit's feedback that is superseded by a later commit's before it is sent gets "discarded", as
    // the protocol says; a withheld report is never sent while the rule is withhold (the feedback object
    // stays pending; when the rule changes it is answered by the new rule).

    // Acts on the client's one toplevel (the first one; fine for our tests):
    // a new configure with this size (points) and states (fullscreen or not), then the xdg_surface configure.
    void configure(int width, int height, bool fullscreen);
    // Whether a set_fullscreen on a window already shown is answered with a full-screen configure for the
    // output it names (the default), or ignored, as by a desktop that will not put the window back.
    void setFullscreenAnswered(bool answer);
    void enterOutput(std::size_t index);   // wl_surface.enter for that output
    void leaveOutput(std::size_t index);   // wl_surface.leave for that output

    // Observations (thread-safe copies):
    std::vector<ScriptedCommit> commits() const;
    // Waits until `predicate(commits())` holds or the timeout passes; whether it held.
    bool waitFor(const std::function<bool(const std::vector<ScriptedCommit>&)>& predicate,
                 std::chrono::milliseconds timeout) const;
    // The presentation reports sent so far, in order.
    std::vector<ScriptedReport> reports() const;
    // Each xdg_toplevel.set_fullscreen received: the index of the output it named (-1 for none), in order.
    std::vector<int> fullscreenRequests() const;
    // The 8-bit RGB of the surface's current content at buffer pixel (x, y) (XRGB2101010 reduced to 8 bits).
    // Throws when there is no content or the pixel is outside it.
    std::array<int, 3> pixel(int x, int y) const;
    bool clientConnected() const;

    const std::string& runtimeDir() const;
    const std::string& socketName() const;

    struct Server;  // the compositor's own state, on its thread

private:
    std::unique_ptr<Server> server_;
};

}  // namespace pp::test
