// The frame compositor against the pixel-by-pixel reference: random frames, shapes, layers and update
// areas, every format and surface, must come out bit for bit the same, and nothing outside the areas
// may change.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <random>
#include <vector>

#include "reference_compose.hpp"
#include "render/coverage_painter.hpp"
#include "render/dither_tile.hpp"
#include "render/frame_compositor.hpp"

namespace pp {
namespace {

constexpr std::uint32_t UNTOUCHED = 0xDEADBEEF;
constexpr int CASES = 400;

int uniform(std::mt19937& random, int lo, int hi)  // lo to hi, both included
{
    return std::uniform_int_distribution<int>(lo, hi)(random);
}

Rgb16 anyColour(std::mt19937& random)
{
    auto sample = [&] { return static_cast<std::uint16_t>(uniform(random, 0, 65535)); };
    return {sample(), sample(), sample()};
}

// A mask somewhere inside the frame whose rows are runs of no, full and partial coverage, some long,
// some a pixel wide; the bytes past each row's width are garbage.
CoverageMask randomMask(std::mt19937& random, int frameWidth, int frameHeight)
{
    CoverageMask m;
    m.x = uniform(random, 0, frameWidth - 1);
    m.y = uniform(random, 0, frameHeight - 1);
    m.width = uniform(random, 1, frameWidth - m.x);
    m.height = uniform(random, 1, frameHeight - m.y);
    m.stride = m.width + uniform(random, 0, 7);
    m.alpha.assign(std::size_t(m.stride) * m.height, 0x5A);
    for (int row = 0; row < m.height; ++row) {
        std::uint8_t* bytes = m.alpha.data() + std::size_t(row) * m.stride;
        for (int x = 0; x < m.width;) {
            const int end = std::min(m.width, x + uniform(random, 1, random() % 4 ? 12 : 80));
            const int kind = uniform(random, 0, 2);
            for (; x < end; ++x) bytes[x] = kind == 0 ? 0 : kind == 1 ? 255 : std::uint8_t(uniform(random, 0, 255));
        }
    }
    m.findSpans();
    return m;
}

// Up to four rectangles, one in each quarter that a random cross cuts the frame into; or the whole.
std::vector<PixelRect> randomAreas(std::mt19937& random, int width, int height)
{
    if (random() % 5 == 0) return {{0, 0, width, height}};
    const int cx = uniform(random, 0, width), cy = uniform(random, 0, height);
    std::vector<PixelRect> areas;
    for (const PixelRect quarter : {PixelRect{0, 0, cx, cy}, PixelRect{cx, 0, width - cx, cy},
                                    PixelRect{0, cy, cx, height - cy}, PixelRect{cx, cy, width - cx, height - cy}}) {
        if (quarter.width == 0 || quarter.height == 0 || random() % 4 == 0) continue;
        const int x = quarter.x + uniform(random, 0, quarter.width - 1);
        const int y = quarter.y + uniform(random, 0, quarter.height - 1);
        areas.push_back({x, y, uniform(random, 1, quarter.x + quarter.width - x),
                         uniform(random, 1, quarter.y + quarter.height - y)});
    }
    return areas;
}

// One random picture: the frame's form, the shapes as the renderer draws them (at scale 1, 1.5 or 2,
// partly off the frame at times) and random masks, each layer there or not, tiled or not.
struct Picture {
    int width = 0, height = 0, bits = 8;
    FrameBuffer target;
    Rgb16 surround;
    std::vector<CoverageLayer> layers;
    std::vector<PixelRect> areas;
    std::array<CoverageMask, 6> masks;
    std::array<DitherTile, 2> tiles{};

    Picture(std::mt19937& random, CoveragePainter& painter)
    {
        width = uniform(random, 17, 330);
        height = uniform(random, 9, 260);
        const PixelFormat format = random() % 2 ? PixelFormat::xrgb8888 : PixelFormat::xrgb2101010;
        const std::uint32_t padding = random() % 2 ? 0 : format == PixelFormat::xrgb8888 ? 0xFF000000 : 0xC0000000;
        target = {nullptr, width, height, width + uniform(random, 0, 5), format, 1, padding};
        const double k = std::array{1.0, 1.5, 2.0}[random() % 3];
        const int mode = uniform(random, 0, 2);  // flat, dither, deep
        bits = mode == 2 ? 16 : 8;
        surround = anyColour(random);
        auto somewhere = [&](double extent) { return std::uniform_real_distribution<double>(-extent / 2, extent)(random); };
        auto anyTile = [&](std::size_t i) {
            tiles[i] = ditherTile({somewhere(255), somewhere(255), somewhere(255)});
            return &tiles[i];
        };

        painter.text(masks[0], "Esc - stop", 13 * k, 24 * k, height - 18 * k, width, height);
        painter.text(masks[1], "patch 17 of 250", 18 * k, somewhere(width), somewhere(height), width, height);
        const double side = uniform(random, 1, 2 * std::max(width, height)) * k / 2;
        const double left = somewhere(width), top = somewhere(height);
        if (random() % 4 == 0) {
            painter.rectangle(masks[2], left, top, left + side, top + side * 0.7, width, height);
        } else {
            painter.ellipse(masks[2], left, top, side, side * std::uniform_real_distribution<double>(0.3, 1.5)(random),
                            width, height);
        }
        painter.mark(masks[3], left + side / 2, top + side / 2, 20 * k, 2 * k, 10 * k, 2 * k, width, height);
        masks[4] = randomMask(random, width, height);
        masks[5] = randomMask(random, width, height);

        const std::array<const DitherTile*, 6> fills{nullptr, nullptr, mode == 1 ? anyTile(0) : nullptr, nullptr,
                                                     random() % 2 ? anyTile(1) : nullptr, nullptr};
        for (std::size_t i = 0; i < masks.size(); ++i) {
            if (random() % 4 != 0) layers.push_back({&masks[i], anyColour(random), fills[i]});
        }
        areas = randomAreas(random, width, height);
    }
};

TEST(FrameCompositor, WritesWhatComposingPixelByPixelWritesAndNothingOutsideTheAreas)
{
    std::mt19937 random(20240611);
    CoveragePainter painter;
    FrameCompositor compositor;
    ReferenceCompositor reference;
    for (int n = 0; n < CASES; ++n) {
        Picture p(random, painter);
        std::vector<std::uint32_t> expected(std::size_t(p.target.stride) * p.height, UNTOUCHED);
        std::vector<std::uint32_t> got = expected;
        FrameBuffer target = p.target;
        target.pixels = expected.data();
        reference.compose(target, p.surround, p.layers, p.bits, p.areas);
        target.pixels = got.data();
        compositor.compose(target, p.surround, p.layers, p.bits, p.areas);

        std::vector<bool> inside(expected.size(), false);
        for (const PixelRect& r : p.areas) {
            for (int y = r.y; y < r.y + r.height; ++y) {
                for (int x = r.x; x < r.x + r.width; ++x) inside[std::size_t(y) * p.target.stride + x] = true;
            }
        }
        for (std::size_t i = 0; i < got.size(); ++i) {
            const int x = int(i % p.target.stride), y = int(i / p.target.stride);
            ASSERT_EQ(got[i], expected[i]) << "case " << n << " at " << x << "," << y;
            if (!inside[i]) {
                ASSERT_EQ(got[i], UNTOUCHED) << "case " << n << " outside the areas at " << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace pp
