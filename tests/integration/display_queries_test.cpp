// The RandR screen queries against servers whose outputs the tests set up.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/x11/x11_displays.hpp"
#include "presenter_session.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

struct Connection {
    explicit Connection(const std::string& display) : c(x11::connectToServer(display.c_str())) {}
    ~Connection()
    {
        if (c) xcb_disconnect(c);
    }
    xcb_connection_t* c;
};

TEST(DisplayQueries, XvfbHasOneScreenWithoutPhysicalSize)
{
    auto server = XServer::startXvfb({.width = 1280, .height = 1000, .depth = 30});
    Connection connection(server->display());
    ASSERT_TRUE(connection.c);
    x11::X11Displays displays(connection.c);
    const auto screens = displays.screens();
    ASSERT_EQ(screens.size(), 1u);
    const auto& s = screens[0];
    EXPECT_EQ(s.number, server->outputIds().at("screen"));
    EXPECT_EQ(s.name, "screen");
    EXPECT_EQ(s.frame, (Rect{0, 0, 1280, 1000}));
    EXPECT_EQ(s.mm, (Size{0, 0}));
    EXPECT_EQ(s.depth, 30);
    EXPECT_EQ(s.bitsPerSample, 10);
    EXPECT_EQ(displays.mainScreen()->number, s.number);
}

class DummyOutputs : public DummyXorgSuite<TWO_DUMMY_OUTPUTS> {};

TEST_F(DummyOutputs, EachOutputHasItsNumberFrameSizeAndName)
{
    Connection connection(server->display());
    x11::X11Displays displays(connection.c);
    const auto ids = server->outputIds();
    const auto screens = displays.screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].number, ids.at("DUMMY0"));
    EXPECT_EQ(screens[0].name, "DUMMY0");
    EXPECT_EQ(screens[0].frame, (Rect{0, 0, 1600, 1000}));
    EXPECT_EQ(screens[0].mm, (Size{400, 250}));
    EXPECT_EQ(screens[0].pixelsWide, 1600);
    EXPECT_EQ(screens[1].number, ids.at("DUMMY1"));
    EXPECT_EQ(screens[1].outputName, "DUMMY1");
    EXPECT_EQ(screens[1].frame, (Rect{1600, 0, 1280, 1024}));
    EXPECT_EQ(screens[1].mm, (Size{340, 270}));
    EXPECT_EQ(screens[1].pixelsHigh, 1024);
}

TEST_F(DummyOutputs, TheMainScreenIsThePrimaryOutput)
{
    Connection connection(server->display());
    x11::X11Displays displays(connection.c);
    ASSERT_EQ(server->run("xrandr --output DUMMY1 --primary"), 0);
    EXPECT_EQ(displays.mainScreen()->outputName, "DUMMY1");
    ASSERT_EQ(server->run("xrandr --output DUMMY0 --primary"), 0);
    EXPECT_EQ(displays.mainScreen()->outputName, "DUMMY0");
}

TEST_F(DummyOutputs, TheTransferTableIsTheCrtcRampSampledAndScaled)
{
    Connection connection(server->display());
    x11::X11Displays displays(connection.c);
    const auto screens = displays.screens();
    ASSERT_EQ(server->run("xrandr --output DUMMY1 --gamma 0.5:1:2"), 0);
    const auto identity = displays.transferTable(screens[0].number, 256);
    const auto curved = displays.transferTable(screens[1].number, 256);
    ASSERT_EQ(identity.red.size(), 256u);
    ASSERT_EQ(curved.blue.size(), 256u);
    EXPECT_NEAR(identity.red[128], 128 / 255.0, 0.01);
    EXPECT_NEAR(curved.green[128], 128 / 255.0, 0.01);
    // xrandr's --gamma g sets the ramp to x^(1/g).
    EXPECT_NEAR(curved.red[128], std::pow(128 / 255.0, 2.0), 0.01);
    EXPECT_NEAR(curved.blue[128], std::pow(128 / 255.0, 0.5), 0.01);
    EXPECT_FLOAT_EQ(curved.red.back(), 1.0f);
    EXPECT_EQ(displays.transferTable(999999, 256).red.size(), 0u);
    ASSERT_EQ(server->run("xrandr --output DUMMY1 --gamma 1:1:1"), 0);
}

}  // namespace
}  // namespace pp::test
