// Screen and display queries on an X server through RandR.
#pragma once

#include <xcb/xcb.h>

#include <optional>

#include "core/thread_rules.hpp"
#include "platform/window_system.hpp"

namespace pp::x11 {

// Opens the connection to the X server named by DISPLAY (or `name`); none when there is no server.
// The caller owns the connection.
xcb_connection_t* connectToServer(const char* name = nullptr);

// The monitor name from an EDID block (descriptor tag 0xFC), or "".
std::string edidMonitorName(const std::vector<std::uint8_t>& edid);

// Evenly spaced samples of a ramp: all entries when it has no more than `capacity`.
std::vector<float> sampledRamp(const std::uint16_t* ramp, std::size_t size, std::size_t capacity);

// Screens are the connected RandR outputs driven by a CRTC, in the order of the screen resources.
// A query sends all its requests of one stage together and collects their replies after, so it costs
// a few round trips to the server however many outputs there are.
class X11Displays : public virtual Displays {
public:
    // Does not take ownership of `connection`.
    explicit X11Displays(xcb_connection_t* connection);

    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    TransferTable transferTable(std::uint32_t number, std::size_t capacity) override;
    std::vector<std::uint8_t> advertisedProfile(std::uint32_t number) override;
    DisplayReading displayReading(std::uint32_t number, std::size_t capacity) override;

protected:
    xcb_connection_t* connection_;
    xcb_screen_t* root_;

private:
    // What one pass over the server reads: the screens and the primary output and, for one asked
    // output, its transfer table and the profiles advertised on it and on the root window.
    struct Pass {
        std::vector<Screen> screens;
        std::uint32_t primary = XCB_NONE;  // the primary output, or none
        TransferTable transfer;
        std::vector<std::uint8_t> outputProfile;
        std::vector<std::uint8_t> rootProfile;
    };
    // Reads the screens in three stages (resources; output infos; CRTCs and EDIDs), each one batch of
    // requests; with `asked`, the asked output's CRTC gamma (when `capacity` is not 0) and profiles too.
    Pass readPass(std::optional<std::uint32_t> asked, std::size_t capacity);
    // The main screen of a pass: the primary output's screen, else the first one.
    static std::optional<Screen> mainOf(const Pass& pass);
    // The profile advertised for `number`: its output's, else the root window's for the main screen.
    static std::vector<std::uint8_t> advertisedOf(const Pass& pass, std::uint32_t number);

    // Interns the atoms the queries name and asks whether the server is XWayland, once per
    // connection: neither changes while the server runs.
    void learnServer();
    // Whether the server is XWayland, an X server inside a Wayland compositor.
    bool isXWayland();

    bool learned_ = false;
    bool xwayland_ = false;
    xcb_atom_t edidAtom_ = XCB_ATOM_NONE;
    xcb_atom_t iccAtom_ = XCB_ATOM_NONE;
    OneAtATime oneAtATime_;  // the queries' thread rule, checked in debug builds
};

}  // namespace pp::x11
