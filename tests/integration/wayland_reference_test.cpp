// The benchmark's bare Wayland client really shows what it times: after its frames the output holds
// the last frame's colour, over the whole output or as the patch inside the surround, and it reports one
// time and one feedback per frame. In "box" mode, batch by batch, only the box takes the frames' colours. (Both compositors repaint an output whole for a screenshot, so a
// wrong damage rectangle would not show here.)
#include <gtest/gtest.h>

#include <sstream>

#include "bare_box_batch.hpp"
#include "child_process.hpp"
#include "compositor.hpp"

#ifndef PP_WAYLAND_REFERENCE
#define PP_WAYLAND_REFERENCE "wayland-reference"
#endif

namespace pp::test {
namespace {

constexpr int WIDTH = 640;
constexpr int HEIGHT = 480;
constexpr int PATCH_WIDTH = 200;
constexpr int PATCH_HEIGHT = 100;
const Rgb SURROUND{0x20, 0x20, 0x20};
// The frames alternate between these two, the first frame taking the first.
const Rgb FRAME_COLOURS[2] = {{0x40, 0x40, 0x40}, {0x80, 0x80, 0x80}};

struct ReferenceCase {
    const char* name;
    Compositor::Kind kind;
    bool patch;
    int frames;
    std::vector<std::string> flags;
};

void PrintTo(const ReferenceCase& c, std::ostream* out)
{
    *out << c.name;
}

class WaylandReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(WaylandReference, ShowsItsLastFrameAndReportsEveryFrame)
{
    const auto& p = GetParam();
    auto compositor = startOnBackground(p.kind, WIDTH, HEIGHT);
    std::vector<std::string> argv = {PP_WAYLAND_REFERENCE, p.patch ? "patch" : "full", std::to_string(p.frames)};
    if (p.patch) {
        argv.push_back(std::to_string(PATCH_WIDTH));
        argv.push_back(std::to_string(PATCH_HEIGHT));
    }
    argv.insert(argv.end(), p.flags.begin(), p.flags.end());
    argv.push_back("--hold");
    ChildProcess reference(argv, compositor->env());

    const std::string times = reference.readLine(20s).value_or("<none>");
    const std::string feedback = reference.readLine().value_or("<none>");
    std::istringstream words(times);
    int count = 0;
    for (long t; words >> t; ++count) EXPECT_GT(t, 0) << times;
    EXPECT_TRUE(words.eof()) << times;
    EXPECT_EQ(count, p.frames) << times;
    EXPECT_EQ(feedback, "feedback presented " + std::to_string(p.frames) + " discarded 0 refresh_mhz 60000");

    // Every frame waited for its presentation (or its composition), so the last one is there now.
    const Screenshot shot = compositor->screenshot(compositor->outputs().at(0).name);
    ASSERT_EQ(shot.width, WIDTH);
    ASSERT_EQ(shot.height, HEIGHT);
    const Rgb last = FRAME_COLOURS[(p.frames - 1) % 2];
    if (!p.patch) {
        EXPECT_TRUE(shot.uniform(0, 0, WIDTH, HEIGHT, last))
            << "at 0,0: " << shot.at(0, 0).r << " " << shot.at(0, 0).g << " " << shot.at(0, 0).b;
        return;
    }
    const int x0 = (WIDTH - PATCH_WIDTH) / 2;
    const int y0 = (HEIGHT - PATCH_HEIGHT) / 2;
    EXPECT_TRUE(shot.uniform(x0, y0, PATCH_WIDTH, PATCH_HEIGHT, last))
        << "patch at its corner: " << shot.at(x0, y0).r << " " << shot.at(x0, y0).g << " " << shot.at(x0, y0).b;
    // The surround all round the patch: the bands above and below it, and left and right of it.
    EXPECT_TRUE(shot.uniform(0, 0, WIDTH, y0, SURROUND));
    EXPECT_TRUE(shot.uniform(0, y0 + PATCH_HEIGHT, WIDTH, HEIGHT - y0 - PATCH_HEIGHT, SURROUND));
    EXPECT_TRUE(shot.uniform(0, y0, x0, PATCH_HEIGHT, SURROUND));
    EXPECT_TRUE(shot.uniform(x0 + PATCH_WIDTH, y0, WIDTH - x0 - PATCH_WIDTH, PATCH_HEIGHT, SURROUND))
        << "right of the patch: " << shot.at(x0 + PATCH_WIDTH, y0).r;
}

// weston presents; sway's headless output never reports a presentation, so there the client waits for
// the frame callback. weston's pixman renderer shows 10-bit buffers black: those run on sway only.
INSTANTIATE_TEST_SUITE_P(
    Compositors, WaylandReference,
    ::testing::Values(ReferenceCase{"westonFullOdd", Compositor::Kind::weston, false, 3, {}},
                      ReferenceCase{"westonFullEven", Compositor::Kind::weston, false, 4, {}},
                      ReferenceCase{"westonPatch", Compositor::Kind::weston, true, 3, {}},
                      ReferenceCase{"swayFull", Compositor::Kind::sway, false, 4, {"--until-frame"}},
                      ReferenceCase{"swayPatch", Compositor::Kind::sway, true, 3, {"--until-frame"}},
                      ReferenceCase{"swayTenBitFull", Compositor::Kind::sway, false, 3, {"--until-frame", "--ten-bit"}},
                      ReferenceCase{"swayTenBitPatch", Compositor::Kind::sway, true, 4, {"--until-frame", "--ten-bit"}}),
    [](const auto& info) { return std::string(info.param.name); });

// "box" serving two batches: each answered with its own count of times and feedback, and the box (placed
// off centre) shows the last frame's colour inside the untouched surround.
class WaylandReferenceBox : public ::testing::TestWithParam<Compositor::Kind> {};

TEST_P(WaylandReferenceBox, ServesBatchesAndWritesOnlyTheBox)
{
    const bool sway = GetParam() == Compositor::Kind::sway;
    auto compositor = startOnBackground(GetParam(), WIDTH, HEIGHT);
    constexpr int X = 40, Y = 300, W = 120, H = 60;
    std::vector<std::string> argv = {PP_WAYLAND_REFERENCE, "box", "0", std::to_string(W), std::to_string(H),
                                     std::to_string(X), std::to_string(Y), "--serve"};
    if (sway) argv.insert(argv.end() - 1, "--until-frame");
    ChildProcess reference(argv, compositor->env());
    ASSERT_EQ(reference.readLine(20s), "ready");
    for (int frames : {2, 3}) {
        expectBatchTimes(reference, frames);
        EXPECT_EQ(reference.readLine(), "feedback presented " + std::to_string(frames) + " discarded 0 refresh_mhz 60000");
    }

    // Frames 0 to 4: the last is level 0x40 + 4 in red.
    const Screenshot shot = compositor->screenshot(compositor->outputs().at(0).name);
    ASSERT_EQ(shot.width, WIDTH);
    EXPECT_TRUE(shot.uniform(X, Y, W, H, Rgb{0x44, 0x40, 0x0A})) << "box corner: " << shot.at(X, Y).r;
    EXPECT_TRUE(shot.uniform(0, 0, WIDTH, Y, SURROUND));
    EXPECT_TRUE(shot.uniform(0, Y + H, WIDTH, HEIGHT - Y - H, SURROUND));
    EXPECT_TRUE(shot.uniform(0, Y, X, H, SURROUND));
    EXPECT_TRUE(shot.uniform(X + W, Y, WIDTH - X - W, H, SURROUND)) << "right of the box: " << shot.at(X + W, Y).r;
    reference.closeInput();
    EXPECT_EQ(reference.wait(), 0) << reference.errorOutput();
}

INSTANTIATE_TEST_SUITE_P(Compositors, WaylandReferenceBox,
                         ::testing::Values(Compositor::Kind::weston, Compositor::Kind::sway),
                         [](const auto& info) { return info.param == Compositor::Kind::sway ? "sway" : "weston"; });

}  // namespace
}  // namespace pp::test
