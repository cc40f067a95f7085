// The one borderless window covering a screen: its X window, pointer, keyboard input and frames.
#pragma once

#include <xcb/xcb.h>

#include <memory>

#include "platform/platform.hpp"
#include "platform/x11/x11_keyboard.hpp"
#include "platform/x11/x11_main_loop.hpp"
#include "platform/x11/x11_presentation.hpp"

namespace pp::x11 {

// An override-redirect window on the root visual over a CRTC's rectangle: raised above every other
// window and raised again whenever something covers it, holding the keyboard focus, the pointer hidden
// over it from the start. The same path with and without a window manager. Main thread only; lives
// shorter than the connection and the loop it was made with.
class X11Window : public Window, public EventTarget {
public:
    // Makes, maps and focuses the window over `frame` (root pixels) and registers it with `loop`; none
    // when the server refuses it or the root visual is not a 24-bit or 30-bit TrueColor layout.
    static std::unique_ptr<X11Window> create(xcb_connection_t* connection, X11MainLoop& loop, const Rect& frame,
                                             PresentationPath preferred);
    ~X11Window() override;
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    FrameBuffer frame() override;
    void present() override;
    void setNeedsDisplay() override;
    void setPointerVisible(bool visible) override;

    void handleEvent(const xcb_generic_event_t& event, EventHandler& handler) override;

    xcb_window_t id() const { return window_; }
    PresentationPath presentationPath() const { return presentation_->path(); }
    bool keyboardUsesXkb() const { return keyboard_.usesXkb(); }

private:
    X11Window(xcb_connection_t* connection, X11MainLoop& loop, xcb_window_t window, int width, int height);
    void raiseAndFocus();
    void hidePointer();
    void showPointer();

    xcb_connection_t* connection_;
    X11MainLoop& loop_;
    xcb_window_t window_;
    int width_;
    int height_;
    X11Keyboard keyboard_;
    std::unique_ptr<X11Presentation> presentation_;
    bool xfixes_ = false;                     // XFixes 4 hides the pointer, else a blank cursor does
    xcb_cursor_t blankCursor_ = XCB_NONE;
    int hidden_ = 0;                          // hides not yet undone, undone at destruction
};

}  // namespace pp::x11
