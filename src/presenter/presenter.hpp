// The presenter's main-thread side: the view, its drawing, the pointer, and the person's controls.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/geometry.hpp"
#include "core/patch_view.hpp"
#include "core/picture.hpp"
#include "core/thread_rules.hpp"
#include "input/input_outcome.hpp"
#include "input/pointer_visibility.hpp"
#include "platform/window_system.hpp"
#include "presenter/process_hooks.hpp"
#include "render/frame_renderer.hpp"

namespace pp {

// Gives the name of the display's colour profile for each status report, from the reading of the
// display made for the report (the encoding a colour-managed window system describes, the profile it
// advertises) or else from colour management; "" for none.
using ProfileName = std::function<std::string(const DisplayReading& reading)>;

// Main thread only: every member is called by the event loop or by work handed over to it. Owns the
// view (its patch starts at the geometry's start-up rectangle) and the renderer; `window` and
// `displays` must outlive it. The window is expected with its pointer hidden, as created.
class Presenter : public EventHandler {
public:
    Presenter(Window& window, Displays& displays, Screen screen, Geometry geometry, ProcessHooks hooks = {},
              ProfileName profileName = {});

    // EventHandler: the person's controls. They change the view and mark it for repaint; they never
    // draw. Key Escape writes "closed" and ends the process.
    void pointer(const PointerEvent& event) override;
    void key(const KeyEvent& event) override;
    // Draws the whole view into the window and presents it (redraw without a reply).
    void paint() override;

    // The commands' work. Each that changes the picture ends with redraw(), so the frame is on the
    // screen when it returns.
    void setRgb(const std::array<double, 3>& rgb);
    void setSurround(const std::array<double, 3>& surround);
    // Centres the patch at fractions fx (from the left) and fy (from the top), each clamped to 0..1;
    // a NaN fraction puts the centre in the middle of that axis.
    void moveTo(double fx, double fy);
    void setMark(bool on);
    void setCaption(std::string caption);
    // Sets the mode and the drawing surface, redraws, and gives the mode description: "<mode> window_bits <b> screen_bits <b> layer <RGBA8Uint|RGBA16Uint>".
    std::string setMode(Mode mode);
    // Shows `picture` with one redraw: the patch becomes the picture's rectangle (drawn as a rectangle
    // from now on), and the mode the one that shows its colours most exactly on this screen: "deep" on a
    // screen of 10 bits per sample or more, else "dither".
    void showPicture(const Picture& picture);
    // The status report text, from one reading of the display.
    std::string report();
    // When the window system reported the last frame shown (seconds since 1970), if it tells.
    std::optional<double> presentedAt() const { return window_.presentedAt(); }

    // Renders the view into the window's frame and presents it, now.
    void redraw();

    // The greeting has been written: event lines held back until now are written, in order, and
    // later ones at once. The greeting is the first line of the run, whatever the person does meanwhile.
    void openEventLines();

    const PatchView& view() const { return view_; }
    bool cursorHidden() const { return pointer_.cursorHidden(); }

private:
    void carryOut(const InputOutcome& outcome);
    // The view's mode and the surface it is drawn on (16 bits for "deep", else 8), in the renderer and
    // the window alike.
    void useMode(Mode mode);

    Window& window_;
    Displays& displays_;
    const Screen screen_;
    const Geometry geometry_;
    const ProcessHooks hooks_;
    const ProfileName profileName_;
    PatchView view_;
    FrameRenderer renderer_;
    PointerVisibility pointer_;
    bool eventLinesOpen_ = false;
    OwnThread thread_;  // the main thread, checked in debug builds
    std::vector<std::string> heldLines_;
};

// The patch rectangle centred at fractions (fx, fy) of the screen, y from the top, with the start-up
// patch size: each fraction clamped to 0..1, NaN taken as 0.5.
Rect movedPatch(double fx, double fy, const Geometry& geometry);

}  // namespace pp
