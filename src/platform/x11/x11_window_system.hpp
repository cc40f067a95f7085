// The X11 window system: the connection to the server, its screens, the window and the main loop.
#pragma once

#include <xcb/xcb.h>

#include <memory>

#include "platform/window_system.hpp"
#include "platform/x11/x11_displays.hpp"
#include "platform/x11/x11_main_loop.hpp"
#include "platform/x11/x11_presentation.hpp"
#include "platform/x11/x11_window.hpp"

namespace pp::x11 {

// Owns the connection. Windows it made must be destroyed before it. Main thread, except
// mainLoop().runOnMain.
class X11WindowSystem : public WindowSystem, public X11Displays {
public:
    // Takes ownership of `connection`.
    explicit X11WindowSystem(xcb_connection_t* connection);
    ~X11WindowSystem() override;
    X11WindowSystem(const X11WindowSystem&) = delete;
    X11WindowSystem& operator=(const X11WindowSystem&) = delete;

    // The window over `screen`, presenting through Present and MIT-SHM when the server allows.
    std::unique_ptr<Window> createWindow(const Screen& screen) override;
    // The same, with the presentation path forced to PutImage when `preferred` says so; none while
    // another window of this system exists.
    std::unique_ptr<X11Window> createX11Window(const Screen& screen, PresentationPath preferred);

    MainLoop& mainLoop() override { return loop_; }

private:
    X11MainLoop loop_;
};

// The window system of the X server named by DISPLAY (or `display`); none when there is no server.
std::unique_ptr<X11WindowSystem> connectWindowSystem(const char* display = nullptr);

}  // namespace pp::x11
