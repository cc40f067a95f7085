// On Wayland too the output after every change is byte for byte the frame a full redraw gives, although
// only the changed area is drawn and damaged: the presenter's work driven in random order in this
// process on sway and weston run headless, each frame read back with the compositor's own screenshot
// and compared with a whole frame rendered afresh.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "compositor.hpp"
#include "core/geometry.hpp"
#include "platform/wayland/wayland_window_system.hpp"
#include "presenter/presenter.hpp"
#include "random_changes.hpp"
#include "render/frame_renderer.hpp"

namespace pp::test {
namespace {

class WaylandDamage : public ::testing::TestWithParam<TestCompositor> {};

TEST_P(WaylandDamage, EveryAnsweredFrameIsTheFullRedraw)
{
    if (GetParam() == TestCompositor::colourWeston) SKIP_WITHOUT_COLOUR_WESTON();
    constexpr int W = 480, H = 320;
    std::unique_ptr<Compositor> compositor = startTestCompositor(GetParam(), W, H);
    // An empty value stands for a variable removed.
    for (const auto& [name, value] : compositor->env()) {
        if (value.empty()) {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    auto system = wayland::connectWindowSystem();
    ASSERT_TRUE(system);
    const auto screen = system->mainScreen();
    ASSERT_TRUE(screen);
    auto window = system->createWindow(*screen);
    ASSERT_TRUE(window);
    Presenter presenter(*window, *system, *screen, patchGeometry({}, *screen));
    const std::string output = compositor->outputs().at(0).name;

    std::mt19937 random(7);
    int compared = 0;
    std::thread driver([&] {
        auto& loop = system->mainLoop();
        for (int step = 0; step < 40; ++step) {
            PatchView view(1);
            loop.runOnMain([&] {
                // 8-bit buffers only: a screenshot holds 8 bits per sample.
                static const Mode MODES[] = {Mode::flat, Mode::dither};
                randomChange(presenter, random, step, MODES);
                view = presenter.view();
            });
            const Screenshot shot = compositor->screenshot(output);
            FrameRenderer fresh;
            std::vector<std::uint32_t> whole(std::size_t(W) * H);
            fresh.render(view, {whole.data(), W, H, W, PixelFormat::xrgb8888});
            int wrong = shot.width == W && shot.height == H ? 0 : W * H;
            for (int y = 0; y < H && !wrong; ++y) {
                for (int x = 0; x < W; ++x) {
                    const std::uint32_t p = whole[std::size_t(y) * W + x];
                    wrong += !(shot.at(x, y) == Rgb{int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)});
                }
            }
            EXPECT_EQ(wrong, 0) << "step " << step;
            if (wrong) break;
            ++compared;
        }
        compositor->kill();  // the loop ends with the connection
    });
    system->mainLoop().run(presenter);
    driver.join();
    EXPECT_EQ(compared, 40);
    window.reset();
}

INSTANTIATE_TEST_SUITE_P(Headless, WaylandDamage,
                         ::testing::Values(TestCompositor::sway, TestCompositor::weston, TestCompositor::colourWeston),
                         [](const auto& info) { return std::string(testCompositorName(info.param)); });

}  // namespace
}  // namespace pp::test
