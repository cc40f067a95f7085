// The screen after every change is byte for byte the frame a full redraw gives, although only what
// changed is drawn and presented: the presenter's work driven in random order on a real X server, each
// frame read back from the server by a second client and compared with a whole frame rendered afresh.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/geometry.hpp"
#include "presenter/presenter.hpp"
#include "random_changes.hpp"
#include "render/frame_renderer.hpp"
#include "x11_window_harness.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

class DamageIdentityTest : public ::testing::TestWithParam<int> {};

TEST_P(DamageIdentityTest, EveryAnsweredFrameIsTheFullRedraw)
{
    const int depth = GetParam();
    constexpr int W = 640, H = 400;
    auto server = XServer::startXvfb({.width = W, .height = H, .depth = depth});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    const PixelFormat format = depth == 30 ? PixelFormat::xrgb2101010 : PixelFormat::xrgb8888;
    Presenter presenter(*w.window, *w.system, w.screen, patchGeometry({}, w.screen));

    std::mt19937 random(depth);
    int compared = 0;
    runWhile(server->display(), w, presenter, [&] {
        auto& loop = w.system->mainLoop();
        for (int step = 0; step < 150; ++step) {
            PatchView view(1);
            int bits = 8;
            loop.runOnMain([&] {
                static const Mode MODES[] = {Mode::flat, Mode::dither, Mode::deep};
                randomChange(presenter, random, step, MODES);
                view = presenter.view();
                bits = view.mode == Mode::deep ? 16 : 8;
            });
            const RootImage shown = readRoot(server->display(), 0, 0, W, H);
            FrameRenderer fresh;
            fresh.setSurfaceBits(bits);
            std::vector<std::uint32_t> whole(std::size_t(W) * H);
            fresh.render(view, {whole.data(), W, H, W, format});
            const std::uint32_t mask = depth == 30 ? 0x3FFFFFFFu : 0x00FFFFFFu;
            int wrong = 0;
            for (std::size_t i = 0; i < whole.size(); ++i) wrong += (shown.pixels[i] & mask) != (whole[i] & mask);
            EXPECT_EQ(wrong, 0) << "step " << step;
            if (wrong) break;
            ++compared;
        }
    });
    EXPECT_EQ(compared, 150);
}

INSTANTIATE_TEST_SUITE_P(Depths, DamageIdentityTest, ::testing::Values(24, 30));

}  // namespace
}  // namespace pp::test
