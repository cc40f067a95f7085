#include "render/frame_renderer.hpp"

#include <algorithm>
#include <cmath>

namespace pp {

// Placeholder drawing until the full picture lands: the surround alone.
struct FrameRenderer::Surfaces {
    int width;
    int height;
    int bits = 8;
};

FrameRenderer::FrameRenderer(int width, int height) : surfaces_(new Surfaces{width, height}) {}
FrameRenderer::~FrameRenderer() = default;

void FrameRenderer::setSurfaceBits(int bits)
{
    surfaces_->bits = bits == 16 ? 16 : 8;
}

int FrameRenderer::surfaceBits() const
{
    return surfaces_->bits;
}

void FrameRenderer::render(const PatchView& view, const FrameBuffer& target)
{
    auto level = [](double c) {
        if (!(c > 0)) return 0u;
        return static_cast<unsigned>(std::floor(std::min(255.0, c)));
    };
    const unsigned r = level(view.surround[0]), g = level(view.surround[1]), b = level(view.surround[2]);
    std::uint32_t pixel = (r << 16) | (g << 8) | b;
    if (target.format == PixelFormat::xrgb2101010) {
        auto ten = [](unsigned v) { return (v << 2) | (v >> 6); };
        pixel = (ten(r) << 20) | (ten(g) << 10) | ten(b);
    }
    for (int y = 0; y < target.height; ++y) {
        std::fill_n(target.pixels + static_cast<std::ptrdiff_t>(y) * target.stride, target.width, pixel);
    }
}

}  // namespace pp
