// The status report's "profile" text on a real X server and a private colord.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "child_process.hpp"
#include "colour_test_profiles.hpp"
#include "platform/colord/colord_colour_management.hpp"
#include "platform/x11/x11_displays.hpp"
#include "private_colord.hpp"
#include "reports/profile_name.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

const char* ADOBE_NAME = "Compatible with Adobe RGB (1998)";

// One X server, one colord and one client of each for the whole suite: the process keeps its
// first connection to the system bus.
class ProfileNameOnX : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = XServer::startXvfb({.width = 640, .height = 480}).release();
        colord = PrivateColord::start().release();
        colord->createDisplayDevice("screen");
        for (const auto& [name, value] : colord->environment()) setenv(name.c_str(), value.c_str(), 1);
        connection = x11::connectToServer(server->display().c_str());
        displays = new x11::X11Displays(connection);
        colour = colord::connectColourManagement().release();
    }
    static void TearDownTestSuite()
    {
        delete colour;
        delete displays;
        xcb_disconnect(connection);
        delete colord;
        delete server;
    }

    void SetUp() override
    {
        ASSERT_TRUE(connection);
        const auto screens = displays->screens();
        ASSERT_EQ(screens.size(), 1u);
        screen = screens[0];
        advertiseOnOutput({});
        advertiseOnRoot({});
        assignWithBinary("none");
    }

    // The output's _ICC_PROFILE property, as a colour daemon sets it (none with no bytes).
    void advertiseOnOutput(const std::vector<std::uint8_t>& bytes) { advertiseIccProfile(connection, screen.number, bytes); }
    // The root window's _ICC_PROFILE, the older place for the main screen's profile.
    void advertiseOnRoot(const std::vector<std::uint8_t>& bytes) { advertiseIccProfile(connection, 0, bytes); }

    void assignWithBinary(const std::string& value)
    {
        auto env = colord->environment();
        env["DISPLAY"] = server->display();
        const auto result = runToEnd({"--assign", value}, env, std::chrono::seconds(60));
        ASSERT_EQ(result.output, "assigned\n") << value;
    }

    std::string name() { return profileName(*displays, colour, screen); }

    static XServer* server;
    static PrivateColord* colord;
    static xcb_connection_t* connection;
    static x11::X11Displays* displays;
    static ColourManagement* colour;
    Screen screen;
};

XServer* ProfileNameOnX::server = nullptr;
PrivateColord* ProfileNameOnX::colord = nullptr;
xcb_connection_t* ProfileNameOnX::connection = nullptr;
x11::X11Displays* ProfileNameOnX::displays = nullptr;
ColourManagement* ProfileNameOnX::colour = nullptr;

TEST_F(ProfileNameOnX, FollowsTheProfileAdvertisedOnTheOutput)
{
    advertiseOnOutput(fileBytes(ADOBE_SAMPLE));
    EXPECT_EQ(name(), ADOBE_NAME);
    advertiseOnOutput(fileBytes(SRGB_SAMPLE));
    EXPECT_EQ(name(), "sRGB");
}

TEST_F(ProfileNameOnX, TheRootsProfileNamesTheMainScreenUnlessTheOutputHasOne)
{
    advertiseOnRoot(fileBytes(BLUISH_SAMPLE));
    EXPECT_EQ(name(), "Blue");
    advertiseOnOutput(fileBytes(SRGB_SAMPLE));
    EXPECT_EQ(name(), "sRGB");
}

TEST_F(ProfileNameOnX, WithoutAnAdvertisedProfileColordsDefaultNamesTheScreen)
{
    EXPECT_EQ(name(), "");  // the device has no profile yet
    assignWithBinary(ADOBE_SAMPLE);
    EXPECT_EQ(name(), ADOBE_NAME);
    advertiseOnOutput(fileBytes(SRGB_SAMPLE));
    EXPECT_EQ(name(), "sRGB");
    advertiseOnOutput(std::vector<std::uint8_t>(3000, 'x'));  // no profile: as if none were advertised
    EXPECT_EQ(name(), ADOBE_NAME);
    EXPECT_EQ(profileName(*displays, nullptr, screen), "");
    assignWithBinary("none");
    advertiseOnOutput({});
    EXPECT_EQ(name(), "");
}

}  // namespace
}  // namespace pp::test
