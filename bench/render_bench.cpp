// Frame render time for each mode, screen size and screen format, beside a bare fill of the same frame;
// and the time of the frames that follow a colour change or a move, drawn over the one before.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "render/frame_renderer.hpp"

namespace {

struct Size {
    int width;
    int height;
};

constexpr Size SIZES[] = {{1920, 1080}, {3840, 2160}};
constexpr const char* MODES[] = {"flat", "dither", "deep"};

const char* formatName(pp::PixelFormat f)
{
    return f == pp::PixelFormat::xrgb8888 ? "xrgb8888" : "xrgb2101010";
}

// A 65 mm patch in the middle of a screen about 336 mm high, with a fractional colour.
pp::PatchView benchView(Size s, const std::string& mode, bool overlays)
{
    pp::PatchView view(s.height / 336.0);
    const double side = 65 * view.ppmm;
    view.patch = {s.width / 2.0 - side / 2, s.height / 2.0 - side / 2, side, side};
    view.rgb = {127.25, 64.5, 10.75};
    view.surround = {20, 20, 20};
    view.mode = *pp::modeWord(mode);
    if (overlays) {
        view.mark = true;
        view.caption = "patch 17 of 250";
    }
    return view;
}

void renderFrame(benchmark::State& state, Size s, std::string mode, pp::PixelFormat format, bool overlays)
{
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(s.width) * s.height);
    const pp::FrameBuffer target{pixels.data(), s.width, s.height, s.width, format};
    pp::FrameRenderer renderer;
    renderer.setSurfaceBits(mode == "deep" ? 16 : 8);
    pp::PatchView view = benchView(s, mode, overlays);
    int frame = 0;
    for (auto _ : state) {
        view.rgb[0] = 127.25 + (++frame % 2);  // a new colour every frame, as "rgb" commands bring
        renderer.render(view, target);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
}

// A frame drawn over the one before it, as the window's buffer holds it: a new colour where the patch
// is ("rgb"), or the patch moved to and fro ("move"). The patch is half the screen's height, the size
// on a screen that reports no physical size.
void renderChange(benchmark::State& state, Size s, std::string mode, bool move)
{
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(s.width) * s.height);
    pp::FrameBuffer target{pixels.data(), s.width, s.height, s.width, pp::PixelFormat::xrgb8888};
    pp::FrameRenderer renderer;
    renderer.setSurfaceBits(mode == "deep" ? 16 : 8);
    pp::PatchView view = benchView(s, mode, false);
    const double side = s.height / 2.0;
    view.patch = {s.width / 2.0 - side / 2, s.height / 2.0 - side / 2, side, side};
    renderer.render(view, target);
    target.age = 1;
    int frame = 0;
    for (auto _ : state) {
        if (move) {
            view.patch.x = s.width / 2.0 - side / 2 + (++frame % 2 ? 300 : -300);
        } else {
            view.rgb[0] = 127.25 + (++frame % 2);
        }
        benchmark::DoNotOptimize(renderer.render(view, target).data());
        benchmark::ClobberMemory();
    }
}

// A bare loop writing every pixel of the frame once, for scale.
void fillFrame(benchmark::State& state, Size s)
{
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(s.width) * s.height);
    std::uint32_t value = 0;
    for (auto _ : state) {
        std::fill(pixels.begin(), pixels.end(), ++value);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
}

int registerAll()
{
    for (Size s : SIZES) {
        const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
        benchmark::RegisterBenchmark(("fill_loop/" + size).c_str(), fillFrame, s)->Unit(benchmark::kMillisecond);
        for (const char* mode : MODES) {
            for (bool move : {false, true}) {
                const std::string name = std::string(move ? "move/" : "rgb/") + mode + "/" + size;
                benchmark::RegisterBenchmark(name.c_str(), renderChange, s, std::string(mode), move)
                    ->Unit(benchmark::kMillisecond);
            }
            for (auto format : {pp::PixelFormat::xrgb8888, pp::PixelFormat::xrgb2101010}) {
                for (bool overlays : {false, true}) {
                    const std::string name = std::string("frame/") + mode + "/" + formatName(format) + "/" + size
                                             + (overlays ? "/mark_caption" : "");
                    benchmark::RegisterBenchmark(name.c_str(), renderFrame, s, std::string(mode), format, overlays)
                        ->Unit(benchmark::kMillisecond);
                }
            }
        }
    }
    return 0;
}

const int registered = registerAll();

}  // namespace

BENCHMARK_MAIN();
