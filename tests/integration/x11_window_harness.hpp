// The test process as the X client: a window made through the X11 window system on a test server,
// frames filled with known pixels, and the main loop run while another thread drives the test.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pixels.hpp"
#include "platform/x11/x11_window_system.hpp"

namespace pp::test {

// The window system connected to `display` and a window over one of its screens.
struct TestWindow {
    std::unique_ptr<x11::X11WindowSystem> system;
    Screen screen;
    std::unique_ptr<x11::X11Window> window;  // null when it could not be made; destroyed first
};
TestWindow openWindow(const std::string& display, std::size_t screenIndex = 0,
                      x11::PresentationPath path = x11::PresentationPath::presentPixmap);

// The server value of a colour in the frame's format (samples at 8 or 10 bits).
std::uint32_t packed(PixelFormat format, Rgb colour);

// Fills the whole frame with one pixel value.
void fill(const FrameBuffer& frame, std::uint32_t pixel);

// Records what the loop delivers; paint() fills the window with `paintColour` and presents it.
class RecordingHandler : public EventHandler {
public:
    explicit RecordingHandler(Window& window, Rgb paintColour = {0, 0, 0}, PixelFormat format = PixelFormat::xrgb8888);
    void pointer(const PointerEvent& event) override { pointers.push_back(event); }
    void key(const KeyEvent& event) override { keys.push_back(event); }
    void paint() override;

    Window& window;
    Rgb paintColour;
    PixelFormat format;
    std::vector<PointerEvent> pointers;
    std::vector<KeyEvent> keys;
    int paints = 0;
};

// Runs the loop of `w` on this thread while `driver` runs on another; when the driver is done the test
// client is cut off (KillClient from a second connection), which makes run() return.
void runWhile(const std::string& display, TestWindow& w, EventHandler& handler, const std::function<void()>& driver);

}  // namespace pp::test
