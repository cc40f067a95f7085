#include "platform/x11/x11_window_system.hpp"

namespace pp::x11 {

X11WindowSystem::X11WindowSystem(xcb_connection_t* connection) : X11Displays(connection), loop_(connection) {}

X11WindowSystem::~X11WindowSystem()
{
    xcb_disconnect(connection_);
}

std::unique_ptr<Window> X11WindowSystem::createWindow(const Screen& screen)
{
    return createX11Window(screen, PresentationPath::presentPixmap);
}

std::unique_ptr<X11Window> X11WindowSystem::createX11Window(const Screen& screen, PresentationPath preferred)
{
    if (loop_.target() != nullptr || xcb_connection_has_error(connection_)) return nullptr;
    return X11Window::create(connection_, loop_, screen, preferred);
}

std::unique_ptr<X11WindowSystem> connectWindowSystem(const char* display)
{
    xcb_connection_t* connection = connectToServer(display);
    if (!connection) return nullptr;
    return std::make_unique<X11WindowSystem>(connection);
}

}  // namespace pp::x11
