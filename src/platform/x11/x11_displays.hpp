// Screen and display queries on an X server through RandR.
#pragma once

#include <xcb/xcb.h>

#include "platform/platform.hpp"

namespace pp::x11 {

// Opens the connection to the X server named by DISPLAY (or `name`); none when there is no server.
// The caller owns the connection.
xcb_connection_t* connectToServer(const char* name = nullptr);

// The monitor name from an EDID block (descriptor tag 0xFC), or "".
std::string edidMonitorName(const std::vector<std::uint8_t>& edid);

// Evenly spaced samples of a ramp: all entries when it has no more than `capacity`.
std::vector<float> sampledRamp(const std::uint16_t* ramp, std::size_t size, std::size_t capacity);

// Screens are the connected RandR outputs driven by a CRTC, in the order of the screen resources.
class X11Displays : public virtual Displays {
public:
    // Does not take ownership of `connection`.
    explicit X11Displays(xcb_connection_t* connection);

    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    TransferTable transferTable(std::uint32_t number, std::size_t capacity) override;
    std::vector<std::uint8_t> advertisedProfile(std::uint32_t number) override;

protected:
    xcb_connection_t* connection_;
    xcb_screen_t* root_;

private:
    // Whether the server is XWayland, an X server inside a Wayland compositor.
    bool isXWayland();
    std::vector<std::uint8_t> property(std::uint32_t window, bool output, const char* name);
    std::uint32_t crtcOf(std::uint32_t output);
};

}  // namespace pp::x11
