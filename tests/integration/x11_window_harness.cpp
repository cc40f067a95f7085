#include "x11_window_harness.hpp"

#include <array>
#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <thread>

namespace pp::test {

TestWindow openWindow(const std::string& display, std::size_t screenIndex, x11::PresentationPath path)
{
    TestWindow w;
    w.system = x11::connectWindowSystem(display.c_str());
    if (!w.system) return w;
    const auto screens = w.system->screens();
    if (screenIndex >= screens.size()) return w;
    w.screen = screens[screenIndex];
    w.window = w.system->createX11Window(w.screen, path);
    return w;
}

std::uint32_t packed(PixelFormat format, Rgb c)
{
    if (format == PixelFormat::xrgb2101010) return std::uint32_t(c.r) << 20 | std::uint32_t(c.g) << 10 | std::uint32_t(c.b);
    return std::uint32_t(c.r) << 16 | std::uint32_t(c.g) << 8 | std::uint32_t(c.b);
}

void fill(const FrameBuffer& frame, std::uint32_t pixel)
{
    for (int y = 0; y < frame.height; ++y) {
        std::uint32_t* row = frame.pixels + std::size_t(y) * std::size_t(frame.stride);
        std::fill(row, row + frame.width, pixel);
    }
}

RecordingHandler::RecordingHandler(Window& w, Rgb colour, PixelFormat f) : window(w), paintColour(colour), format(f) {}

void RecordingHandler::paint()
{
    ++paints;
    fill(window.frame(), packed(format, paintColour));
    window.present(std::array{pp::wholeFrame(window.frame())});
}

void runWhile(const std::string& display, TestWindow& w, EventHandler& handler, const std::function<void()>& driver)
{
    const xcb_window_t id = w.window->id();
    std::thread driving([&] {
        try {
            driver();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "driver failed: " << e.what();
        }
        xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
        xcb_kill_client(c, id);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_disconnect(c);
    });
    w.system->mainLoop().run(handler);
    driving.join();
}

}  // namespace pp::test
