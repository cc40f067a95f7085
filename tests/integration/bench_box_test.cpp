// The benchmark's box yardstick: the box it takes is the presenter's start-up patch, and the bare X client
// writes and presents that box alone, batch by batch.
#include <gtest/gtest.h>


#include "bare_box_batch.hpp"
#include "box_rounds.hpp"
#include "child_process.hpp"
#include "pixels.hpp"
#include "x_server.hpp"

#ifndef PP_REFERENCE
#define PP_REFERENCE "present-reference"
#endif

namespace pp::test {
namespace {

TEST(BenchBox, IsTheStartUpPatchOfAScreenWithoutPhysicalSize)
{
    struct Case {
        int width, height;
        PixelRect box;
    };
    for (const Case& c : {Case{1920, 1080, {690, 270, 540, 540}}, Case{3840, 2160, {1380, 540, 1080, 1080}},
                          Case{1280, 1024, {384, 256, 512, 512}}, Case{1366, 767, {491, 191, 384, 385}}}) {
        const PixelRect box = bench::defaultPatchBox(c.width, c.height);
        EXPECT_EQ(box, c.box) << c.width << "x" << c.height << ": " << box.x << "," << box.y << " " << box.width
                              << "x" << box.height;
    }
}

TEST(BenchBox, BareClientServesBatchesAndWritesOnlyTheBox)
{
    auto server = XServer::startXvfb({.width = 320, .height = 240});
    constexpr int X = 30, Y = 50, W = 60, H = 40;
    ChildProcess reference({PP_REFERENCE, "box", "0", std::to_string(W), std::to_string(H), std::to_string(X),
                            std::to_string(Y), "--serve"},
                           {{"DISPLAY", server->display()}});
    ASSERT_EQ(reference.readLine(20s), "ready");
    for (int frames : {2, 3}) {
        expectBatchTimes(reference, frames);
    }
    // Frames 0 to 4: the last is level 0x40 + 4 in red; one pixel beyond each edge is the surround.
    const RootImage image = readRoot(server->display(), 0, 0, 320, 240);
    const Rgb last{0x44, 0x40, 0x0A}, surround{0x20, 0x20, 0x20};
    for (auto [x, y] : {std::pair{X, Y}, std::pair{X + W - 1, Y + H - 1}}) EXPECT_EQ(image.at(x, y), last);
    for (auto [x, y] : {std::pair{X - 1, Y}, std::pair{X + W, Y}, std::pair{X, Y - 1}, std::pair{X, Y + H},
                        std::pair{0, 0}, std::pair{319, 239}}) {
        EXPECT_EQ(image.at(x, y), surround) << x << "," << y;
    }
    reference.closeInput();
    EXPECT_EQ(reference.wait(), 0);
}

}  // namespace
}  // namespace pp::test
