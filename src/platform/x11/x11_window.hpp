// The one borderless window covering a screen: its X window, pointer, keyboard input and frames.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <vector>

#include "platform/window_system.hpp"
#include "platform/x11/x11_compositing.hpp"
#include "platform/x11/x11_keyboard.hpp"
#include "platform/x11/x11_main_loop.hpp"
#include "platform/x11/x11_presentation.hpp"

namespace pp::x11 {

// An override-redirect window on the root visual over a CRTC's rectangle: raised above every other
// window and raised again whenever something covers it, holding the keyboard focus, the pointer hidden
// over it from the start. The same path with and without a window manager. What another client does
// to it (unmapping, moving, resizing, restacking, reparenting) is undone before the next frame is
// presented (looked at with a round trip only when an event says something may have changed, or when
// a compositing manager runs); when it is destroyed, or RandR changes or removes its output, the loop ends with the
// matching error line and no frame is answered for after the change. The screen saver and DPMS are
// suspended while it lives. Main thread only; lives shorter than the connection and the loop it was
// made with.
class X11Window : public Window, public EventTarget {
public:
    // Makes, maps and focuses the window over the screen's frame (root pixels) and registers it with
    // `loop`; none when the server refuses it or the root visual is not a 24-bit or 30-bit TrueColor
    // layout.
    static std::unique_ptr<X11Window> create(xcb_connection_t* connection, X11MainLoop& loop, const Screen& screen,
                                             PresentationPath preferred);
    ~X11Window() override;
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    FrameBuffer frame() override;
    void present(std::span<const PixelRect> changed) override;
    void setNeedsDisplay() override;
    void setPointerVisible(bool visible) override;

    void handleEvent(const xcb_generic_event_t& event, EventHandler& handler) override;

    xcb_window_t id() const { return window_; }
    PresentationPath presentationPath() const { return presentation_->path(); }
    bool keyboardUsesXkb() const { return keyboard_.usesXkb(); }

private:
    X11Window(xcb_connection_t* connection, X11MainLoop& loop, xcb_window_t window, const Screen& screen);
    bool keepInPlace();
    // Notes an event that may mean the window is no longer where keepInPlace() left it.
    void notePlacement(const xcb_generic_event_t& event);
    bool outputUnchanged();
    bool outputUnchangedAfter(const std::vector<const xcb_generic_event_t*>& events);
    bool isRandrChange(const xcb_generic_event_t& event) const;
    void raiseAndFocus();
    void hidePointer();
    void showPointer();

    xcb_connection_t* connection_;
    X11MainLoop& loop_;
    xcb_window_t window_;
    xcb_window_t root_;
    Screen screen_;  // the output as it was when the window was made
    int width_;
    int height_;
    std::uint8_t randrEvents_ = 0;  // RandR's first event code; 0 without RandR
    X11Keyboard keyboard_;
    CompositorWatch compositor_;
    std::unique_ptr<X11Presentation> presentation_;
    bool xfixes_ = false;                     // XFixes 4 hides the pointer beside the blank cursor
    xcb_cursor_t blankCursor_ = XCB_NONE;
    int hidden_ = 0;                          // hides not yet undone, undone at destruction
    bool wholeWindow_ = true;                 // the window lost its contents: the next frame goes whole
    bool placeKnown_ = false;                 // nothing since keepInPlace() looked says the window moved,
                                              // was covered, unmapped or reparented
    bool blankFrame_ = false;                 // frame() gave a blank buffer
    xcb_gcontext_t clearGc_ = XCB_NONE;       // fills with pixel 0
};

}  // namespace pp::x11
