// The compositor fixtures themselves, proven with a small native client that is not the presenter:
// outputs as configured, screenshots in device pixels with exact colours, keys reaching the focused
// client, the idle inhibitor seen, outputs added, a compositor killed, everything stopped afterwards.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "child_process.hpp"
#include "compositor.hpp"
#include "wayland_presenter_session.hpp"
#include "x_server.hpp"

#ifndef PP_WAYLAND_TEST_CLIENT
#define PP_WAYLAND_TEST_CLIENT "pp-wayland-test-client"
#endif

namespace pp::test {

void PrintTo(Compositor::Kind kind, std::ostream* out)
{
    *out << (kind == Compositor::Kind::sway ? "sway" : "weston");
}

namespace {

const Rgb BACKGROUND{0x10, 0x20, 0x30};
const Rgb CLIENT_COLOUR{0x01, 0xFE, 0x80};

// The test client on the compositor, fullscreen on `output` (the first when empty).
std::unique_ptr<ChildProcess> startClient(const Compositor& compositor, const std::string& output = "",
                                          const std::vector<std::string>& extra = {})
{
    std::vector<std::string> argv = {PP_WAYLAND_TEST_CLIENT, "--colour", "01FE80"};
    if (!output.empty()) {
        argv.push_back("--output");
        argv.push_back(output);
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(argv, compositor.env());
}

// Reads the client's lines until one starts with `prefix`; that line, or "" when none came in time.
std::string awaitLine(ChildProcess& client, const std::string& prefix, std::chrono::milliseconds timeout = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const auto line = client.readLine(left);
        if (!line) return "";
        if (line->rfind(prefix, 0) == 0) return *line;
    }
    return "";
}

// Takes screenshots of the output until the whole of it shows `colour` (at most five seconds); the last.
Screenshot awaitColour(const Compositor& compositor, const std::string& output, const Rgb& colour)
{
    Screenshot shot;
    for (int i = 0; i < 100; ++i) {
        shot = compositor.screenshot(output);
        if (shot.uniform(0, 0, shot.width, shot.height, colour)) break;
        std::this_thread::sleep_for(50ms);
    }
    return shot;
}

// Whether any process still runs with `runtimeDir` as its XDG_RUNTIME_DIR.
bool anyProcessUses(const std::string& runtimeDir)
{
    const std::string entry = "XDG_RUNTIME_DIR=" + runtimeDir + std::string(1, '\0');
    for (const auto& dir : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(dir.path() / "environ", std::ios::binary);
        const std::string environ((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (environ.find(entry) != std::string::npos) return true;
    }
    return false;
}

struct ShotCase {
    Compositor::Kind kind;
    int scale;
    const char* name;
};

void PrintTo(const ShotCase& c, std::ostream* out)
{
    *out << c.name;
}

class CompositorScreenshot : public ::testing::TestWithParam<ShotCase> {};

TEST_P(CompositorScreenshot, HoldsTheOutputsDevicePixelsWithExactColours)
{
    const auto& p = GetParam();
    auto compositor = startOnBackground(p.kind, 640, 480, p.scale);
    const auto outputs = compositor->outputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].pixelWidth, 640);
    EXPECT_EQ(outputs[0].pixelHeight, 480);
    EXPECT_EQ(outputs[0].scale, p.scale);
    EXPECT_EQ(outputs[0].logicalWidth, 640 / p.scale);

    // The background is drawn by a helper a moment after the outputs appear.
    const Screenshot background = awaitColour(*compositor, outputs[0].name, BACKGROUND);
    EXPECT_EQ(background.width, 640);
    EXPECT_EQ(background.height, 480);
    EXPECT_TRUE(background.uniform(0, 0, 640, 480, BACKGROUND));

    // The client's buffer has the output's pixel size at the output's scale: nothing is resampled.
    auto client = startClient(*compositor);
    EXPECT_EQ(awaitLine(*client, "configured " + std::to_string(640 / p.scale)),
              "configured " + std::to_string(640 / p.scale) + " " + std::to_string(480 / p.scale));
    const Screenshot shot = awaitColour(*compositor, outputs[0].name, CLIENT_COLOUR);
    ASSERT_EQ(shot.width, 640);
    ASSERT_EQ(shot.height, 480);
    EXPECT_TRUE(shot.uniform(0, 0, 640, 480, CLIENT_COLOUR))
        << "at 0,0: " << shot.at(0, 0).r << " " << shot.at(0, 0).g << " " << shot.at(0, 0).b;
}

INSTANTIATE_TEST_SUITE_P(Compositors, CompositorScreenshot,
                         ::testing::Values(ShotCase{Compositor::Kind::sway, 1, "sway"},
                                           ShotCase{Compositor::Kind::sway, 2, "swayScale2"},
                                           ShotCase{Compositor::Kind::weston, 1, "weston"},
                                           ShotCase{Compositor::Kind::weston, 2, "westonScale2"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SwayFixture, AnnouncesHeadlessOutputsSideBySideAndAddsMore)
{
    SwayOptions o;
    o.outputs = 2;
    o.width = 800;
    o.height = 600;
    auto sway = Compositor::startSway(o);
    auto outputs = sway->outputs();
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].name, "HEADLESS-1");
    EXPECT_EQ(outputs[1].name, "HEADLESS-2");
    EXPECT_EQ(outputs[0].x, 0);
    EXPECT_EQ(outputs[1].x, 800);
    EXPECT_EQ(outputs[1].pixelWidth, 800);
    EXPECT_EQ(outputs[1].pixelHeight, 600);
    EXPECT_EQ(outputs[0].make, "headless");
    EXPECT_EQ(outputs[0].model, "headless");

    const std::string added = sway->createOutput();
    EXPECT_EQ(added, "HEADLESS-3");
    outputs = sway->outputs();
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[2].name, "HEADLESS-3");

    // Output commands pass through, and the screenshot follows the new mode.
    sway->swaymsg("output HEADLESS-2 mode 1024x768");
    EXPECT_EQ(sway->screenshot("HEADLESS-2").width, 1024);
    EXPECT_THROW(sway->screenshot("HEADLESS-9"), std::runtime_error);
}

TEST(SwayFixture, ExtraConfigurationLinesChangeAnOutput)
{
    SwayOptions o;
    o.outputs = 2;
    o.width = 800;
    o.height = 600;
    o.configLines = {"output HEADLESS-2 scale 2"};
    auto sway = Compositor::startSway(o);
    const auto outputs = sway->outputs();
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].scale, 1);
    EXPECT_EQ(outputs[1].scale, 2);
    EXPECT_EQ(outputs[1].logicalWidth, 400);
    EXPECT_EQ(outputs[1].pixelWidth, 800);
    const Screenshot shot = sway->screenshot("HEADLESS-2");
    EXPECT_EQ(shot.width, 800);
    EXPECT_EQ(shot.height, 600);
}

TEST(SwayFixture, ScreenshotOfOneOutputShowsOnlyTheClientFullscreenOnIt)
{
    auto sway = startOnBackground(Compositor::Kind::sway, 320, 200, 1, 2);
    auto client = startClient(*sway, "HEADLESS-2");
    EXPECT_TRUE(awaitColour(*sway, "HEADLESS-2", CLIENT_COLOUR).uniform(0, 0, 320, 200, CLIENT_COLOUR));
    EXPECT_TRUE(awaitColour(*sway, "HEADLESS-1", BACKGROUND).uniform(0, 0, 320, 200, BACKGROUND));
}

TEST(SwayFixture, ShowsTenBitBuffersTruncatedToEightBits)
{
    auto sway = Compositor::startSway({});
    struct Case {
        int r, g, b;
        Rgb shown;
    };
    // The headless output holds 8 bits per sample: the two low bits of each level are dropped.
    const std::vector<Case> cases = {{3, 514, 1023, {0, 128, 255}}, {1021, 6, 510, {255, 1, 127}}};
    for (const auto& c : cases) {
        ChildProcess client({PP_WAYLAND_TEST_CLIENT, "--ten-bit", std::to_string(c.r), std::to_string(c.g),
                             std::to_string(c.b)},
                            sway->env());
        const Screenshot shot = awaitColour(*sway, "HEADLESS-1", c.shown);
        EXPECT_TRUE(shot.uniform(0, 0, shot.width, shot.height, c.shown))
            << c.r << " " << c.g << " " << c.b << " shows as " << shot.at(0, 0).r << " " << shot.at(0, 0).g << " "
            << shot.at(0, 0).b;
    }
}

struct KeyCase {
    std::vector<std::string> wtypeArgs;
    const char* line;
};

TEST(SwayFixture, TypedKeysReachTheFocusedClient)
{
    auto sway = Compositor::startSway({});
    auto client = startClient(*sway);
    ASSERT_TRUE(awaitColour(*sway, "HEADLESS-1", CLIENT_COLOUR).uniform(0, 0, 1, 1, CLIENT_COLOUR));
    const std::vector<KeyCase> cases = {
        {{"-k", "Left"}, "key Left"},
        {{"-M", "shift", "-k", "Left", "-m", "shift"}, "key Left shift"},
        {{"-k", "Return"}, "key Return"},
        {{"-k", "KP_Enter"}, "key KP_Enter"},
        {{"-k", "space"}, "key space"},
        {{"-k", "Escape"}, "key Escape"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sway->type(c.wtypeArgs), 0);
        EXPECT_EQ(awaitLine(*client, "key ", 3s), c.line);
    }
}

TEST(SwayFixture, SeesAClientsIdleInhibitor)
{
    auto sway = Compositor::startSway({});
    EXPECT_FALSE(sway->idleInhibited());
    {
        auto plain = startClient(*sway);
        ASSERT_TRUE(awaitColour(*sway, "HEADLESS-1", CLIENT_COLOUR).uniform(0, 0, 1, 1, CLIENT_COLOUR));
        EXPECT_FALSE(sway->idleInhibited());
    }
    auto inhibiting = startClient(*sway, "", {"--inhibit-idle"});
    ASSERT_TRUE(awaitColour(*sway, "HEADLESS-1", CLIENT_COLOUR).uniform(0, 0, 1, 1, CLIENT_COLOUR));
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = sway->idleInhibited();
        if (!seen) std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(seen);
}

class CompositorLifetime : public ::testing::TestWithParam<Compositor::Kind> {};

TEST_P(CompositorLifetime, ClientEnvironmentReachesItAndNoDisplayLeaks)
{
    auto compositor = startOnBackground(GetParam(), 320, 200, 1);
    const auto env = compositor->env();
    EXPECT_EQ(env.at("DISPLAY"), "");  // removed from the client's environment
    EXPECT_EQ(env.at("XDG_RUNTIME_DIR"), compositor->runtimeDir());
    EXPECT_TRUE(std::filesystem::exists(compositor->runtimeDir() + "/" + env.at("WAYLAND_DISPLAY")));
    auto client = startClient(*compositor);
    EXPECT_FALSE(awaitLine(*client, "frame").empty());
}

TEST_P(CompositorLifetime, KilledCompositorLeavesItsClientsWithoutConnection)
{
    auto compositor = startOnBackground(GetParam(), 320, 200, 1);
    auto client = startClient(*compositor);
    ASSERT_FALSE(awaitLine(*client, "frame").empty());
    compositor->kill();
    EXPECT_FALSE(compositor->running());
    EXPECT_EQ(awaitLine(*client, "lost"), "lost");
    EXPECT_EQ(client->wait(), 1);
}

TEST_P(CompositorLifetime, StopsEverythingItStartedAndRemovesItsFolder)
{
    auto compositor = startOnBackground(GetParam(), 320, 200, 1);
    const pid_t pid = compositor->pid();
    const std::string runtimeDir = compositor->runtimeDir();
    // Give the background helper time to start, so that it is there to be stopped.
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(anyProcessUses(runtimeDir));
    compositor.reset();
    EXPECT_NE(kill(pid, 0), 0);
    EXPECT_FALSE(anyProcessUses(runtimeDir));
    EXPECT_FALSE(std::filesystem::exists(runtimeDir));
}

INSTANTIATE_TEST_SUITE_P(Compositors, CompositorLifetime,
                         ::testing::Values(Compositor::Kind::sway, Compositor::Kind::weston),
                         [](const auto& info) { return info.param == Compositor::Kind::sway ? "sway" : "weston"; });

TEST(WaylandPresenterSession, OffersTheCompositorAndAnXServerGivenWithIt)
{
    auto sway = Compositor::startSway({});
    auto xvfb = XServer::startXvfb({});
    WaylandPresenterSession session(*sway, {"--platform", "x11"}, {{"DISPLAY", xvfb->display()}});
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    EXPECT_EQ(session.report()["pixels"], nlohmann::json::parse("[1920,1080]"));
    EXPECT_TRUE(startsWith(session.ask("info"), "info "));
    EXPECT_EQ(session.screen("HEADLESS-1").width, 1280);
    session.child().write("quit\n");
    EXPECT_EQ(session.child().wait(), 0);
}

TEST(WestonFixture, NamesItsOneOutputHeadless)
{
    auto weston = startOnBackground(Compositor::Kind::weston, 800, 600, 1);
    const auto outputs = weston->outputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].name, "headless");
    EXPECT_EQ(outputs[0].make, "weston");
    EXPECT_EQ(outputs[0].model, "headless");
    EXPECT_THROW(weston->screenshot("HEADLESS-1"), std::runtime_error);
    // weston answers a frame's presentation feedback with "presented".
    auto client = startClient(*weston);
    EXPECT_EQ(awaitLine(*client, "presented"), "presented 800 600");
    EXPECT_THROW(weston->type({"-k", "Left"}), std::logic_error);
}

}  // namespace
}  // namespace pp::test
