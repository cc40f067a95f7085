// The presenter end to end: the real binary under Xvfb and a dummy-driver Xorg, pixels read back from
// the server right after each reply, input injected with xdotool.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>

#include "presenter_session.hpp"

namespace pp::test {
namespace {

const std::set<std::string> REPORT_KEYS = {"platform", "display_id", "name",     "pixels",   "size_mm",
                                           "patch_mm", "position",   "shift_mm", "profile",  "surround",
                                           "paint",    "gamma_table"};

std::set<std::string> keysOf(const nlohmann::json& object)
{
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.insert(key);
    return keys;
}

struct Depth : ::testing::TestWithParam<int> {};

TEST_P(Depth, GreetsWithTheReportAndShowsExactFlatColours)
{
    auto server = XServer::startXvfb({.width = 1024, .height = 700, .depth = GetParam()});
    PresenterSession session(*server);
    ASSERT_TRUE(startsWith(session.greeting(), "ready {"));
    const auto report = session.report();
    EXPECT_EQ(keysOf(report), REPORT_KEYS);
    EXPECT_EQ(report["pixels"], nlohmann::json::array({1024, 700}));
    EXPECT_EQ(report["paint"], "dither");

    // Right after the greeting the start-up picture is up: a black surround.
    EXPECT_EQ(session.pixel(1000, 5), (Rgb{0, 0, 0}));
    ASSERT_TRUE(startsWith(session.ask("mode flat"), "mode flat window_bits 8 screen_bits "));
    const int top = GetParam() == 30 ? 1023 : 255;
    const auto level = [&](int c) { return GetParam() == 30 ? (c << 2) | (c >> 6) : c; };
    for (auto [r, g, b] : {std::tuple{200, 100, 50}, std::tuple{1, 254, 128}, std::tuple{300, -5, 20}}) {
        ASSERT_TRUE(painted(session.ask(rgbCommand({r, g, b}))));
        const auto clamp = [&](int c) { return c < 0 ? 0 : c > 255 ? top : level(c); };
        EXPECT_EQ(session.pixel(512, 350), (Rgb{clamp(r), clamp(g), clamp(b)}));
    }
    ASSERT_EQ(session.ask("surround 20 40 60"), "surround");
    EXPECT_EQ(session.pixel(1000, 5), (Rgb{level(20), level(40), level(60)}));
    EXPECT_EQ(session.child().errorOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Xvfb, Depth, ::testing::Values(24, 30));

TEST(DeepMode, OnATenBitScreenShowsRoundedTenBitValuesAndFlatShowsReplicatedLevels)
{
    auto server = XServer::startXvfb({.width = 640, .height = 480, .depth = 30});
    PresenterSession session(*server);
    ASSERT_EQ(session.ask("mode deep"), "mode deep window_bits 16 screen_bits 10 layer RGBA16Uint");
    for (int c : {0, 1, 2, 3, 64, 100, 127, 128, 200, 254, 255}) {
        const std::string value = std::to_string(c);
        session.ask("rgb " + value + " " + value + " " + value);
        const int ten = static_cast<int>(std::lround(c / 255.0 * 1023));
        EXPECT_EQ(session.pixel(320, 240), (Rgb{ten, ten, ten})) << c;
    }
    ASSERT_EQ(session.ask("mode flat"), "mode flat window_bits 8 screen_bits 10 layer RGBA8Uint");
    for (int c : {1, 2, 100, 254}) {
        const std::string value = std::to_string(c);
        session.ask("rgb " + value + " " + value + " " + value);
        const int replicated = (c << 2) | (c >> 6);
        EXPECT_EQ(session.pixel(320, 240), (Rgb{replicated, replicated, replicated})) << c;
    }
}

TEST(DitherMode, ThePatternIsAnchoredAtTheBottomLeftCornerBeforeAndAfterAMove)
{
    // 1000 rows: not a multiple of 16, so the anchoring shows.
    auto server = XServer::startXvfb({.width = 1200, .height = 1000});
    PresenterSession session(*server);
    ASSERT_TRUE(painted(session.ask(DITHER_COMMAND)));
    expectDitherTile(session.area(592, 492, 16, 16), 600, 500, 1000);
    ASSERT_EQ(session.ask("move 0.4037 0.3011"), "moved");
    const int cx = static_cast<int>(1200 * 0.4037), cy = static_cast<int>(1000 * 0.3011);
    expectDitherTile(session.area(cx - 8, cy - 8, 16, 16), cx, cy, 1000);
}

TEST(Move, APatchAtACornerShowsTheQuarterThatIsOnTheScreen)
{
    auto server = XServer::startXvfb({.width = 800, .height = 600});
    PresenterSession session(*server);
    session.ask("mode flat");
    session.ask("rgb 250 200 150");
    ASSERT_EQ(session.ask("move 0 0"), "moved");
    EXPECT_EQ(session.pixel(0, 0), (Rgb{250, 200, 150}));
    EXPECT_EQ(session.pixel(100, 100), (Rgb{250, 200, 150}));
    EXPECT_EQ(session.pixel(400, 300), (Rgb{0, 0, 0}));
    ASSERT_EQ(session.ask("move 2 -3"), "moved");  // clamped: the centre on the top-right corner
    EXPECT_EQ(session.pixel(799, 0), (Rgb{250, 200, 150}));
    EXPECT_EQ(session.pixel(0, 0), (Rgb{0, 0, 0}));
    const auto report = session.info();
    EXPECT_EQ(report["position"], nlohmann::json::array({1, 0}));
}

TEST(Burst, TwoCommandsInOneWriteAreAnsweredInOrderEachAfterItsPicture)
{
    auto server = XServer::startXvfb({.width = 800, .height = 600});
    PresenterSession session(*server);
    session.ask("mode flat");
    for (int round = 0; round < 5; ++round) {
        const int s = 10 + round, p = 100 + round;
        session.child().write("surround " + std::to_string(s) + " 0 0\nrgb " + std::to_string(p) + " 0 0\n");
        ASSERT_EQ(session.nextLine(), "surround");
        EXPECT_EQ(session.pixel(790, 5).r, s);
        ASSERT_TRUE(painted(session.nextLine()));
        EXPECT_EQ(session.pixel(400, 300).r, p);
    }
}

TEST(Window, CoversExactlyTheChosenOutputOfTwo)
{
    SKIP_WITHOUT_PROGRAM("Xorg");
    auto server = XServer::startXorgDummy(CHOSEN_SECOND_OUTPUT);
    // DUMMY1 stands right of DUMMY0: (1280, 0, 1600, 1000). Ask for it by its output id.
    const std::uint32_t number = server->outputIds().at("DUMMY1");
    PresenterSession session(*server, {"--display", std::to_string(number)});
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    const auto report = session.report();
    EXPECT_EQ(keysOf(report), REPORT_KEYS);
    EXPECT_EQ(report["display_id"], number);
    EXPECT_EQ(report["size_mm"], nlohmann::json::array({400, 250}));
    EXPECT_EQ(report["pixels"], nlohmann::json::array({1600, 1000}));
    EXPECT_EQ(report["gamma_table"][0].size(), 256u);

    ASSERT_EQ(session.ask("surround 30 60 90"), "surround");
    const Rgb surround{30, 60, 90};
    // Inside each edge the window; left of it DUMMY0.
    EXPECT_EQ(session.pixel(1280, 10), surround);
    EXPECT_NE(session.pixel(1279, 10), surround);
    EXPECT_EQ(session.pixel(2879, 10), surround);
    EXPECT_EQ(session.pixel(2879, 999), surround);
    EXPECT_NE(session.pixel(640, 900), surround);  // below DUMMY0, on no output
    EXPECT_EQ(session.pixel(1280, 0), surround);
    // 4 pixels per millimetre: the 65 mm patch is 260 pixels wide, centred at (2080, 500).
    session.ask("mode flat");
    session.ask("rgb 255 255 255");
    EXPECT_EQ(session.pixel(2080, 500), (Rgb{255, 255, 255}));
    EXPECT_EQ(session.pixel(2080 - 127, 500), (Rgb{255, 255, 255}));
    EXPECT_EQ(session.pixel(2080 - 135, 500), surround);
}

class Input : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_PROGRAM("xdotool");
        server = XServer::startXvfb({.width = 1000, .height = 800});
        session = std::make_unique<PresenterSession>(*server);
        ASSERT_TRUE(startsWith(session->greeting(), "ready "));
    }
    void xdotool(const std::string& args) { ASSERT_EQ(server->run("xdotool " + args), 0) << args; }
    // Whether no event line came: the reply to "info" is the very next line.
    void expectNoEventLine()
    {
        std::this_thread::sleep_for(200ms);
        EXPECT_TRUE(startsWith(session->ask("info"), "info "));
    }
    std::unique_ptr<XServer> server;
    std::unique_ptr<PresenterSession> session;
    // Without a physical size the patch is half the screen height: ppmm = 400 / 65.
    const double ppmm = 400.0 / 65;
};

TEST_F(Input, ArrowsNudgeFiveMillimetresAndOneWithShiftOnlyWithTheMarkOn)
{
    xdotool("key Right");
    expectNoEventLine();
    ASSERT_EQ(session->ask("mark on"), "mark on");
    xdotool("key Right");
    const auto right = positionFractions(session->nextLine(5s));
    EXPECT_NEAR(right.first, 0.5 + 5 * ppmm / 1000, 1e-5);
    EXPECT_NEAR(right.second, 0.5, 1e-5);
    xdotool("key shift+Up");
    const auto up = positionFractions(session->nextLine(5s));
    EXPECT_NEAR(up.first, right.first, 1e-5);
    EXPECT_NEAR(up.second, 0.5 - ppmm / 800, 1e-5);
    xdotool("key Left Down");
    const auto left = positionFractions(session->nextLine(5s));
    const auto down = positionFractions(session->nextLine(5s));
    EXPECT_NEAR(left.first, 0.5, 1e-5);
    EXPECT_NEAR(down.second, up.second + 5 * ppmm / 800, 1e-5);
    ASSERT_EQ(session->ask("mark off"), "mark off");
    xdotool("key Left");
    expectNoEventLine();
}

TEST_F(Input, ADragWritesOnePositionLineAndAClickWritesKeySpace)
{
    ASSERT_EQ(session->ask("mark on"), "mark on");
    xdotool("mousemove 500 400 mousedown 1 mousemove 550 400 mousemove 600 400 mouseup 1");
    const std::string line = session->nextLine(5s);
    ASSERT_TRUE(startsWith(line, "position "));
    EXPECT_NEAR(positionFractions(line).first, 0.6, 1e-5);
    EXPECT_NEAR(positionFractions(line).second, 0.5, 1e-5);
    expectNoEventLine();
    xdotool("mousemove 600 400 click 1");
    EXPECT_EQ(session->nextLine(5s), "key space");
    const auto report = session->info();
    EXPECT_NEAR(double(report["position"][0]), 0.6, 1e-5);
}

TEST_F(Input, ReturnSpaceAndKeypadEnterSignalAndEscapeCloses)
{
    for (const char* key : {"Return", "space", "KP_Enter"}) {
        xdotool(std::string("key ") + key);
        EXPECT_EQ(session->nextLine(5s), "key space") << key;
    }
    xdotool("key a Tab F1");
    expectNoEventLine();
    xdotool("key Escape");
    EXPECT_EQ(session->nextLine(5s), "closed");
    EXPECT_EQ(session->child().wait(), 0);
    EXPECT_EQ(session->child().errorOutput(), "");
}

TEST(Ending, EndOfInputAndQuitExitWithStatusZeroAndNothingMore)
{
    auto server = XServer::startXvfb({.width = 640, .height = 480});
    {
        PresenterSession session(*server);
        session.ask("rgb 1 2 3");
        session.child().closeInput();
        EXPECT_EQ(session.child().readRest(), "");
        EXPECT_EQ(session.child().wait(), 0);
    }
    {
        PresenterSession session(*server);
        session.child().write("quit now\nrgb 1 2 3\n");
        EXPECT_EQ(session.child().readRest(), "");
        EXPECT_EQ(session.child().wait(), 0);
        EXPECT_EQ(session.child().errorOutput(), "");
    }
    {
        // A last line without a line feed is still answered.
        PresenterSession session(*server);
        session.child().write("surround 1 1 1");
        session.child().closeInput();
        EXPECT_EQ(session.child().readRest(), "surround\n");
        EXPECT_EQ(session.child().wait(), 0);
    }
}

// Its first reply cannot be written: the run ends there, with status 1.
TEST(Ending, AControllerThatStopsReadingEndsTheRunWithStatusOneNeitherCrashingNorHanging)
{
    auto server = XServer::startXvfb({.width = 640, .height = 480});
    PresenterSession session(*server);
    session.child().closeOutput();
    for (int i = 0; i < 50; ++i) session.child().write("rgb " + std::to_string(i) + " 0 0\ninfo\n");
    session.child().write("quit\n");
    EXPECT_EQ(session.child().wait(20s), 1);
    EXPECT_EQ(session.child().errorOutput(), "");
}

TEST(Ending, ALostDisplayEndsWithStatusOne)
{
    auto server = XServer::startXvfb({.width = 640, .height = 480});
    PresenterSession session(*server);
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    kill(server->pid(), SIGKILL);
    EXPECT_EQ(session.nextLine(), "error display connection lost");
    EXPECT_EQ(session.child().wait(), 1);
}

}  // namespace
}  // namespace pp::test
