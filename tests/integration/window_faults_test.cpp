// The window stays what the report says while other clients and RandR change things under it.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "other_client.hpp"
#include "presenter_session.hpp"

namespace pp::test {
namespace {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 600;

// How many pixels of two reads of the same area differ.
int differences(const RootImage& a, const RootImage& b)
{
    int count = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            if (!(a.at(a.x + x, a.y + y) == b.at(b.x + x, b.y + y))) ++count;
        }
    }
    return count;
}

struct Interference {
    const char* name;
    std::function<void(OtherClient&, xcb_window_t)> act;
};

class AnotherClient : public ::testing::TestWithParam<Interference> {};

// The frame read back after the next reply is the whole frame, where it was before the interference.
TEST_P(AnotherClient, TheNextReplysFrameIsWholeAndInPlace)
{
    auto server = XServer::startXvfb({.width = WIDTH, .height = HEIGHT});
    PresenterSession session(*server);
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    ASSERT_TRUE(startsWith(session.ask("mode flat"), "mode flat"));
    ASSERT_EQ(session.ask("surround 30 60 90"), "surround");
    ASSERT_TRUE(painted(session.ask("rgb 200 100 50")));
    const RootImage before = session.area(0, 0, WIDTH, HEIGHT);
    ASSERT_EQ(before.at(WIDTH / 2, HEIGHT / 2), (Rgb{200, 100, 50}));
    ASSERT_EQ(before.at(2, 2), (Rgb{30, 60, 90}));

    OtherClient other(server->display());
    const xcb_window_t window = other.presenterWindow();
    ASSERT_NE(window, xcb_window_t(XCB_NONE));
    GetParam().act(other, window);

    // A frame of another colour, then the first one again: each reply's frame is read back whole.
    ASSERT_TRUE(painted(session.ask("rgb 10 220 30")));
    const RootImage other1 = session.area(0, 0, WIDTH, HEIGHT);
    EXPECT_EQ(other1.at(WIDTH / 2, HEIGHT / 2), (Rgb{10, 220, 30}));
    EXPECT_EQ(other1.at(2, 2), (Rgb{30, 60, 90}));
    EXPECT_EQ(other1.at(WIDTH - 1, HEIGHT - 1), (Rgb{30, 60, 90}));
    ASSERT_TRUE(painted(session.ask("rgb 200 100 50")));
    EXPECT_EQ(differences(before, session.area(0, 0, WIDTH, HEIGHT)), 0);
    EXPECT_EQ(other.presenterWindow(), window) << "the window is a child of the root again";
    EXPECT_EQ(session.child().errorOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Interferences, AnotherClient,
    ::testing::Values(Interference{"Unmaps", [](OtherClient& o, xcb_window_t w) { o.unmap(w); }},
                      Interference{"Moves", [](OtherClient& o, xcb_window_t w) { o.moveTo(w, 100, 100); }},
                      Interference{"Resizes", [](OtherClient& o, xcb_window_t w) { o.resize(w, 500, 300); }},
                      Interference{"Reparents",
                                   [](OtherClient& o, xcb_window_t w) { o.reparentIntoNew(w, 150, 120, 400, 300); }},
                      Interference{"Covers",
                                   [](OtherClient& o, xcb_window_t) { o.cover(0, 0, WIDTH, HEIGHT, 0xFFFFFF); }},
                      Interference{"MovesAndUnmaps",
                                   [](OtherClient& o, xcb_window_t w) {
                                       o.moveTo(w, -50, 40);
                                       o.unmap(w);
                                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DestroyedWindow, EndsWithItsErrorLineAndStatusOneWithNoReplyAfterIt)
{
    auto server = XServer::startXvfb({.width = WIDTH, .height = HEIGHT});
    PresenterSession session(*server);
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    ASSERT_TRUE(painted(session.ask("rgb 1 2 3")));
    OtherClient other(server->display());
    other.destroy(other.presenterWindow());
    session.child().write("rgb 4 5 6\ninfo\n");
    EXPECT_EQ(session.child().readRest(), "error window destroyed\n");
    EXPECT_EQ(session.child().wait(), 1);
    EXPECT_EQ(session.child().errorOutput(), "");
}

// The presenter covers DUMMY1 (1600 x 1000, right of DUMMY0); RandR then changes that output.
struct OutputChange {
    const char* name;
    const char* xrandr;
    bool outputGone;
};

class ChosenOutput : public ::testing::TestWithParam<OutputChange> {};

TEST_P(ChosenOutput, ChangedByRandrEndsTheRunWithOneErrorLineAndNoLaterPainted)
{
    SKIP_WITHOUT_PROGRAM("Xorg");
    auto server = XServer::startXorgDummy(CHOSEN_SECOND_OUTPUT);
    const std::uint32_t number = server->outputIds().at("DUMMY1");
    PresenterSession session(*server, {"--display", std::to_string(number)});
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    ASSERT_TRUE(painted(session.ask("rgb 9 9 9")));

    ASSERT_EQ(server->run(GetParam().xrandr), 0) << GetParam().xrandr;
    session.child().write("rgb 200 0 0\nrgb 0 200 0\ninfo\n");
    const std::string expected =
        GetParam().outputGone ? "error no screen " + std::to_string(number) : "error display changed";
    EXPECT_EQ(session.child().readRest(), expected + "\n");
    EXPECT_EQ(session.child().wait(), 1);
    EXPECT_EQ(session.child().errorOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(
    RandrChanges, ChosenOutput,
    ::testing::Values(OutputChange{"MovedLeftOfTheOther", "xrandr --output DUMMY1 --left-of DUMMY0", false},
                      OutputChange{"SwitchedToAnotherMode",
                                   "xrandr --addmode DUMMY1 1280x800_pp && xrandr --output DUMMY1 --mode 1280x800_pp",
                                   false},
                      OutputChange{"SwitchedOff", "xrandr --output DUMMY1 --off", true}),
    [](const auto& info) { return std::string(info.param.name); });

// A change to another output leaves the chosen one as it is: the run goes on.
TEST(OtherOutput, ChangedByRandrLeavesTheRunGoing)
{
    SKIP_WITHOUT_PROGRAM("Xorg");
    auto server = XServer::startXorgDummy(CHOSEN_SECOND_OUTPUT);
    PresenterSession session(*server);  // the primary, DUMMY0 at (0, 0)
    ASSERT_TRUE(startsWith(session.greeting(), "ready "));
    ASSERT_EQ(server->run("xrandr --output DUMMY1 --pos 1280x200"), 0);
    ASSERT_TRUE(startsWith(session.ask("mode flat"), "mode flat"));
    ASSERT_TRUE(painted(session.ask("rgb 250 10 10")));
    EXPECT_EQ(session.pixel(640, 400), (Rgb{250, 10, 10}));
}

}  // namespace
}  // namespace pp::test
