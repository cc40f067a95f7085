// While the presenter runs the display neither blanks nor powers down; afterwards the server's own
// settings are as they were and the saver works again.
#include <gtest/gtest.h>

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#include "presenter_session.hpp"

namespace pp::test {
namespace {

// The screen saver's state seen from a second client: XCB_SCREENSAVER_STATE_ON while it blanks.
int saverState(const std::string& display)
{
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    std::free(xcb_screensaver_query_version_reply(c, xcb_screensaver_query_version(c, 1, 1), nullptr));
    auto* info = xcb_screensaver_query_info_reply(c, xcb_screensaver_query_info(c, root), nullptr);
    const int state = info ? info->state : -1;
    std::free(info);
    xcb_disconnect(c);
    return state;
}

// `xset q` without the lines that report the present state rather than a setting.
std::string settings(const XServer& server)
{
    std::istringstream all(server.output("xset q"));
    std::string kept;
    for (std::string line; std::getline(all, line);) {
        if (line.find("Monitor is") == std::string::npos) kept += line + "\n";
    }
    return kept;
}

// DPMS is set and checked too where the server offers it (neither Xvfb nor the dummy-driver Xorg
// do on Debian 12; both have the screen saver).
struct BlankingCase {
    const char* name;
    bool xorg;
};

class Blanking : public ::testing::TestWithParam<BlankingCase> {};

TEST_P(Blanking, NeitherSaverNorPowerSavingStartsWhileRunningAndSettingsStayTheServers)
{
    std::unique_ptr<XServer> server;
    if (GetParam().xorg) {
        SKIP_WITHOUT_PROGRAM("Xorg");
        server = XServer::startXorgDummy({{1024, 768}});
    } else {
        server = XServer::startXvfb({.width = 640, .height = 480});
    }
    ASSERT_EQ(server->run("xset s 2 2"), 0);
    const bool dpms = server->output("xset q").find("DPMS is") != std::string::npos;
    if (dpms) {
        ASSERT_EQ(server->run("xset dpms 2 2 2"), 0);
    }
    const std::string before = settings(*server);
    ASSERT_NE(before.find("timeout:  2"), std::string::npos) << before;

    {
        PresenterSession session(*server);
        ASSERT_TRUE(startsWith(session.greeting(), "ready "));
        std::this_thread::sleep_for(6s);
        EXPECT_EQ(saverState(server->display()), XCB_SCREENSAVER_STATE_OFF);
        if (dpms) {
            EXPECT_NE(server->output("xset q").find("Monitor is On"), std::string::npos);
        }
        ASSERT_TRUE(painted(session.ask("rgb 1 2 3")));
        session.child().write("quit\n");
        EXPECT_EQ(session.child().wait(), 0);
    }
    EXPECT_EQ(settings(*server), before);
    // With the presenter gone the server blanks again after its timeout.
    std::this_thread::sleep_for(4s);
    EXPECT_EQ(saverState(server->display()), XCB_SCREENSAVER_STATE_ON);
}

INSTANTIATE_TEST_SUITE_P(Servers, Blanking,
                         ::testing::Values(BlankingCase{"Xvfb", false}, BlankingCase{"XorgDummy", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Where a desktop session runs, its screen saver is asked to stay off too (on the session bus).
TEST(SessionScreenSaver, IsAskedToStayOffWhileThePresenterRuns)
{
    SKIP_WITHOUT_PROGRAM("dbus-daemon");
    SKIP_WITHOUT_PROGRAM("dbus-monitor");
    auto server = XServer::startXvfb({.width = 640, .height = 480});
    ChildProcess bus({"/bin/sh", "-c", "exec dbus-daemon --session --nofork --nopidfile --print-address=1"});
    const std::string address = bus.readLine(10s).value_or("");
    ASSERT_FALSE(address.empty()) << bus.errorOutput();
    ChildProcess monitor({"/bin/sh", "-c", "exec dbus-monitor --session \"interface='org.freedesktop.ScreenSaver'\""},
                         {{"DBUS_SESSION_BUS_ADDRESS", address}});
    ASSERT_TRUE(monitor.readLine(10s)) << "the monitor is listening";

    PresenterSession session(*server, {}, {{"DBUS_SESSION_BUS_ADDRESS", address}});
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    bool inhibitAsked = false;
    bool named = false;
    for (auto line = monitor.readLine(5s); line; line = monitor.readLine(5s)) {
        if (line->find("member=Inhibit") != std::string::npos) inhibitAsked = true;
        if (inhibitAsked && line->find("string \"patch-presenter\"") != std::string::npos) {
            named = true;
            break;
        }
    }
    EXPECT_TRUE(inhibitAsked);
    EXPECT_TRUE(named);
    ASSERT_TRUE(painted(session.ask("rgb 1 2 3")));
    EXPECT_EQ(session.child().errorOutput(), "");
}

}  // namespace
}  // namespace pp::test
