// The presenter as a native Wayland client: the real binary on sway and weston run headless, the
// pixels read back from the compositor's own screenshots, keys typed with a virtual keyboard.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <set>
#include <sstream>
#include <thread>

#include "compositor.hpp"
#include "presenter_session.hpp"
#include "wayland_presenter_session.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

std::string firstOutput(const Compositor& compositor)
{
    return compositor.outputs().at(0).name;
}

std::string compositorName(const ::testing::TestParamInfo<TestCompositor>& info)
{
    return testCompositorName(info.param);
}

// The members of --list-displays on this compositor, as JSON.
nlohmann::json displayList(const Compositor& compositor)
{
    const RunResult run = runToEnd({"--list-displays"}, compositor.env());
    EXPECT_EQ(run.status, 0) << run.output;
    return nlohmann::json::parse(run.output);
}

// sway never reports a presentation, weston 10 and 16 do (16 with timestamps, after colour management):
// the presentation paths that real desktops take are tested with the rest.
class OnCompositor : public ::testing::TestWithParam<TestCompositor> {
protected:
    void SetUp() override
    {
        if (GetParam() == TestCompositor::colourWeston) SKIP_WITHOUT_COLOUR_WESTON();
    }
};

TEST_P(OnCompositor, GreetsWithTheOutputAndCoversItExactly)
{
    auto compositor = startTestCompositor(GetParam(), 960, 600);
    WaylandPresenterSession session(*compositor);
    ASSERT_TRUE(startsWith(session.greeting(), "ready {"));
    const auto report = session.report();
    EXPECT_EQ(report.size(), 12u);
    EXPECT_EQ(report["platform"], "linux");
    EXPECT_EQ(report["pixels"], nlohmann::json::array({960, 600}));
    EXPECT_EQ(report["gamma_table"], nlohmann::json::parse("[[],[],[]]"));
    EXPECT_EQ(report["display_id"], displayList(*compositor).at(0)["display_id"]);
    // Only the colour-managed weston describes its output (sRGB here); the others manage no colour.
    const bool managed = GetParam() == TestCompositor::colourWeston;
    EXPECT_EQ(displayList(*compositor).at(0)["colour"].is_null(), !managed);
    EXPECT_EQ(report["profile"], managed ? "srgb gamma22" : "");

    // The panel's depth is never told on Wayland.
    EXPECT_EQ(displayList(*compositor).at(0)["bits"], 8);
    ASSERT_EQ(session.ask("mode flat"), "mode flat window_bits 8 screen_bits 8 layer RGBA8Uint");
    ASSERT_EQ(session.ask("surround 20 40 60"), "surround");
    ASSERT_TRUE(painted(session.ask("rgb 200 100 50")));
    const Screenshot shot = session.screen(firstOutput(*compositor));
    ASSERT_EQ(shot.width, 960);
    ASSERT_EQ(shot.height, 600);
    // The patch's 65 mm across: half the screen's height when the output reports no physical size.
    const double mmHigh = report["size_mm"][1].get<double>();
    const double across = mmHigh > 0 ? 65 * 600 / mmHigh : 300;
    const int reach = int(across * 0.4);
    const Rgb surround{20, 40, 60}, patch{200, 100, 50};
    EXPECT_EQ(shot.at(480, 300), patch);
    EXPECT_EQ(shot.at(480 - reach, 300), patch);
    EXPECT_EQ(shot.at(480, 300 + reach), patch);
    const int box = int(across / 2) + 2;
    int strangers = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 960; ++x) {
            const bool inPatchBox = std::abs(x - 480) <= box && std::abs(y - 300) <= box;
            const bool inHint = x < 140 && y > 600 - 40;
            if (!inPatchBox && !inHint && !(shot.at(x, y) == surround)) ++strangers;
        }
    EXPECT_EQ(strangers, 0) << "pixels outside the patch and the hint that are not the surround";
    EXPECT_EQ(session.child().errorOutput(), "");
}

TEST_P(OnCompositor, DitherTileIsAnchoredAtTheBottomLeftDevicePixel)
{
    // 601 rows: not a multiple of 16, so the anchoring shows.
    auto compositor = startTestCompositor(GetParam(), 800, 601);
    WaylandPresenterSession session(*compositor);
    ASSERT_TRUE(painted(session.ask(DITHER_COMMAND)));
    for (const char* move : {"move 0.5 0.5", "move 0.4037 0.3011"}) {
        SCOPED_TRACE(move);
        ASSERT_EQ(session.ask(move), "moved");
        std::istringstream words(move + 5);
        double fx = 0, fy = 0;
        words >> fx >> fy;
        const int cx = int(800 * fx), cy = int(601 * fy);
        expectDitherTile(session.screen(firstOutput(*compositor)), cx, cy, 601);
    }
}

TEST_P(OnCompositor, EveryPaintedColourIsOnTheScreenWhenTheReplyArrives)
{
    auto compositor = startTestCompositor(GetParam(), 640, 480);
    WaylandPresenterSession session(*compositor);
    ASSERT_TRUE(startsWith(session.ask("mode flat"), "mode flat"));
    const std::string output = firstOutput(*compositor);
    for (int i = 0; i < 10; ++i) {
        // An idle desktop: nothing else asks the compositor for a frame between the commands.
        std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 0 : 1000));
        const int r = 25 * i + 3, g = 250 - 20 * i, b = 7 * i;
        const double sent = wallClock();
        const std::string reply = session.ask(rgbCommand({r, g, b}));
        const double arrived = wallClock();
        ASSERT_TRUE(painted(reply));
        const Screenshot shot = session.screen(output);
        EXPECT_EQ(shot.at(320, 240), (Rgb{r, g, b})) << "command " << i;
        const double painted = paintedTime(reply);
        EXPECT_GE(painted, sent) << "command " << i;
        EXPECT_LE(painted, arrived) << "command " << i;
    }
}

TEST_P(OnCompositor, ACompositorThatDiesEndsTheRunWithTheErrorLine)
{
    auto compositor = startTestCompositor(GetParam(), 640, 480);
    WaylandPresenterSession session(*compositor);
    ASSERT_TRUE(painted(session.ask("rgb 1 2 3")));
    compositor->kill();
    std::string last;
    while (auto line = session.child().readLine(5s)) last = *line;
    EXPECT_EQ(last, "error display connection lost");
    EXPECT_EQ(session.child().wait(), 1);
}

INSTANTIATE_TEST_SUITE_P(Headless, OnCompositor,
                         ::testing::Values(TestCompositor::sway, TestCompositor::weston, TestCompositor::colourWeston),
                         compositorName);

TEST(WaylandScale, AtScaleTwoTheTileStaysOneDevicePixelAndThePatchKeepsItsMillimetres)
{
    auto sway = startTestCompositor(TestCompositor::sway, 1280, 720, 2);
    WaylandPresenterSession session(*sway);
    const auto report = session.report();
    ASSERT_EQ(report["pixels"], nlohmann::json::array({1280, 720}));
    // 0 x 0 mm: the patch is half the height in points across: 180 of the 360 points, 360 device
    // pixels; its 65 mm are 360 device pixels at 360 / 65 device pixels per mm.
    ASSERT_TRUE(startsWith(session.ask("mode flat"), "mode flat"));
    ASSERT_TRUE(painted(session.ask("rgb 250 250 250")));
    Screenshot shot = session.screen(firstOutput(*sway));
    int first = -1, last = -1;
    for (int x = 0; x < 1280; ++x)
        if (shot.at(x, 360).r > 0) {  // any coverage: the antialiased edge pixels count
            if (first < 0) first = x;
            last = x;
        }
    EXPECT_NEAR(last - first + 1, 360, 2);
    EXPECT_NEAR((first + last) / 2.0, 639.5, 1);

    ASSERT_TRUE(startsWith(session.ask("mode dither"), "mode dither"));
    ASSERT_TRUE(painted(session.ask(DITHER_COMMAND)));
    expectDitherTile(session.screen(firstOutput(*sway)), 640, 360, 720);
}

TEST(WaylandOutputs, TheChosenOutputIsCoveredAndTheOtherUntouched)
{
    auto sway = startSwayWithTwoOutputs();
    const auto list = displayList(*sway);
    ASSERT_EQ(list.size(), 2u);
    const auto outputs = sway->outputs();
    // The second screen in the list, by its connector name.
    const std::string secondName = list.at(1)["output"];
    const std::string firstName = list.at(0)["output"];
    WaylandPresenterSession session(*sway, {"--display", std::to_string(list.at(1)["display_id"].get<long>())});
    EXPECT_EQ(session.report()["display_id"], list.at(1)["display_id"]);
    ASSERT_TRUE(startsWith(session.ask("mode flat"), "mode flat"));
    ASSERT_EQ(session.ask("surround 90 80 70"), "surround");
    EXPECT_TRUE(session.screen(secondName).uniform(0, 0, 640, 100, Rgb{90, 80, 70}));
    EXPECT_TRUE(session.screen(firstName).uniform(0, 0, 640, 480, Rgb{32, 48, 64}));
}

TEST(WaylandKeys, TypedKeysMoveTheMarkedPatchAndEndTheRun)
{
    auto sway = startTestCompositor(TestCompositor::sway, 1000, 650);
    WaylandPresenterSession session(*sway);
    ChildProcess& child = session.child();

    // With the mark off the arrows do nothing.
    ASSERT_EQ(sway->type({"-k", "Left"}), 0);
    ASSERT_EQ(session.ask("mark on"), "mark on");  // the first line after the keys: none of them wrote

    // 0 x 0 mm: 325 points is 65 mm, 5 points per mm.
    ASSERT_EQ(sway->type({"-k", "Right"}), 0);
    const auto right = positionFractions(session.nextLine(3s));
    EXPECT_NEAR(right.first, 0.5 + 25.0 / 1000, 1e-5);
    ASSERT_EQ(sway->type({"-M", "shift", "-k", "Up", "-m", "shift"}), 0);
    const auto up = positionFractions(session.nextLine(3s));
    EXPECT_NEAR(up.second, 0.5 - 5.0 / 650, 1e-5);
    EXPECT_NEAR(up.first, right.first, 1e-5);

    for (const char* key : {"Return", "space", "KP_Enter"}) {
        ASSERT_EQ(sway->type({"-k", key}), 0);
        EXPECT_EQ(session.nextLine(3s), "key space") << key;
    }
    ASSERT_EQ(sway->type({"-k", "Escape"}), 0);
    EXPECT_EQ(session.nextLine(3s), "closed");
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(child.errorOutput(), "");
}

TEST(WaylandIdle, TheCompositorSeesTheWindowInhibitingIdle)
{
    auto sway = startTestCompositor(TestCompositor::sway, 640, 480);
    EXPECT_FALSE(sway->idleInhibited());
    WaylandPresenterSession session(*sway);
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    EXPECT_TRUE(sway->idleInhibited());
}

TEST(PlatformChoice, WaylandWinsWhenBothAreThereAndTheOptionForcesX11)
{
    auto sway = startTestCompositor(TestCompositor::sway, 640, 480);
    auto xvfb = XServer::startXvfb({.width = 1024, .height = 700});
    {
        WaylandPresenterSession session(*sway, {}, {{"DISPLAY", xvfb->display()}});
        EXPECT_EQ(session.report()["pixels"], nlohmann::json::array({640, 480}));
    }
    {
        WaylandPresenterSession session(*sway, {"--platform", "x11"}, {{"DISPLAY", xvfb->display()}});
        EXPECT_EQ(session.report()["pixels"], nlohmann::json::array({1024, 700}));
        EXPECT_EQ(session.report()["name"], "screen");
    }
    {
        // A forced platform that cannot be reached: no falling back to the other.
        const RunResult run = runToEnd({"--platform", "wayland"}, {{"DISPLAY", xvfb->display()}});
        EXPECT_EQ(run.output, "error no screen main\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errors, "");
    }
}

}  // namespace
}  // namespace pp::test
