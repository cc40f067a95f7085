#include "render/frame_compositor.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace pp {
namespace {

std::uint16_t blend(std::uint32_t under, std::uint32_t over, std::uint32_t coverage)
{
    return static_cast<std::uint16_t>((over * coverage + under * (255 - coverage) + 127) / 255);
}

// The row of the tile that frame row `y` shows: the tile's bottom row lies on the frame's bottom row,
// and its top row is stored first.
int tileRow(int y, int frameHeight)
{
    return ((y - frameHeight) % TILE_SIDE + TILE_SIDE) % TILE_SIDE;
}

// Whether `layer` is composed on frame row `y`: its mask reaches the row and lies within the frame.
bool reaches(const CoverageLayer& layer, int y, int frameWidth)
{
    const CoverageMask* m = layer.mask;
    return m && !m->empty() && y >= m->y && y < m->y + m->height && m->x >= 0 && m->x + m->width <= frameWidth;
}

}  // namespace

void FrameCompositor::compose(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                              int surfaceBits)
{
    const PixelRect whole = wholeFrame(target);
    compose(target, surround, layers, surfaceBits, std::span(&whole, 1));
}

void FrameCompositor::compose(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                              int surfaceBits, std::span<const PixelRect> areas)
{
    if (!target.pixels || target.width <= 0 || target.height <= 0 || target.stride < target.width) return;
    fills_.resize(layers.size() + 1);
    for (std::size_t i = 0; i <= layers.size(); ++i) {
        Fill& fill = fills_[i];
        fill.tiled = i < layers.size() && layers[i].tile != nullptr;
        for (std::size_t p = 0; p < (fill.tiled ? TILE_PIXELS : 1); ++p) {
            auto sample = [&](int channel) {
                return static_cast<std::uint16_t>((*layers[i].tile)[p * 4 + static_cast<std::size_t>(channel)] * 257);
            };
            fill.samples[p] = fill.tiled ? Rgb16{sample(0), sample(1), sample(2)}
                                         : i < layers.size() ? layers[i].colour : surround;
            fill.pixels[p] = screenPixel(fill.samples[p], surfaceBits, target.format) | target.padding;
        }
    }
    makeLines(target, areas);
    for (const PixelRect& area : areas) {
        const int x0 = std::max(area.x, 0), y0 = std::max(area.y, 0);
        const int x1 = std::min(area.x + area.width, target.width), y1 = std::min(area.y + area.height, target.height);
        if (x0 < x1 && y0 < y1) composeArea(target, layers, surfaceBits, {x0, y0, x1 - x0, y1 - y0});
    }
}

// Row by row, the stretches where no layer's span begins or ends: in each, every layer covers fully,
// partly, or not at all, so the topmost layer there decides whether it is one fill or a blend.
void FrameCompositor::composeArea(const FrameBuffer& target, std::span<const CoverageLayer> layers, int surfaceBits,
                                  const PixelRect& area)
{
    const int left = area.x, right = area.x + area.width;
    const Fill& background = fills_.back();
    for (int y = area.y; y < area.y + area.height; ++y) {
        std::uint32_t* out = target.pixels + static_cast<std::ptrdiff_t>(y) * target.stride;
        startRow(target, layers, y, left, right);
        const std::size_t lineStart = static_cast<std::size_t>(tileRow(y, target.height)) * target.width;
        // A fill is copied from its line: the C library copies with wider stores than a loop compiles to.
        auto copy = [&](const Fill& fill, int from, int to) {
            std::memcpy(out + from, fill.lines.data() + (fill.tiled ? lineStart : 0) + from,
                        static_cast<std::size_t>(to - from) * sizeof(std::uint32_t));
        };
        for (int from = left, to = right; from < right; from = to) {
            to = right;
            const Cursor* top = nullptr;
            for (Cursor& c : cursors_) {
                while (c.next < c.spans.size() && c.spans[c.next].to <= from) ++c.next;
                c.here = false;
                if (c.next == c.spans.size()) continue;
                const CoverageSpan& span = c.spans[c.next];
                c.here = span.from <= from;
                to = std::min(to, c.here ? span.to : span.from);
                if (c.here) top = &c;
            }
            if (top && !top->spans[top->next].full) {
                blendStretch(target, surfaceBits, from, to, out);
            } else {
                copy(top ? *top->fill : background, from, to);
            }
        }
    }
}

// Makes each fill's lines over the columns that `areas` reach: one for a flat fill, one for each tile
// row of a tiled one, indexed by frame column.
void FrameCompositor::makeLines(const FrameBuffer& target, std::span<const PixelRect> areas)
{
    int lo = target.width, hi = 0;
    for (const PixelRect& area : areas) {
        lo = std::min(lo, std::max(area.x, 0));
        hi = std::max(hi, std::min(area.x + area.width, target.width));
    }
    for (Fill& fill : fills_) {
        const int rows = fill.tiled ? TILE_SIDE : 1;
        fill.lines.resize(static_cast<std::size_t>(rows) * target.width);
        for (int row = 0; row < rows; ++row) {
            std::uint32_t* line = fill.lines.data() + static_cast<std::size_t>(row) * target.width;
            for (int x = lo; x < hi; ++x) line[x] = fill.pixels[fill.tiled ? row * TILE_SIDE + x % TILE_SIDE : 0];
        }
    }
}

// Sets cursors_ to the layers whose spans reach row `y` within columns [left, right).
void FrameCompositor::startRow(const FrameBuffer& target, std::span<const CoverageLayer> layers, int y, int left,
                               int right)
{
    cursors_.clear();
    const int tileStart = tileRow(y, target.height) * TILE_SIDE;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const CoverageMask* mask = layers[i].mask;
        if (!reaches(layers[i], y, target.width) || mask->x >= right || mask->x + mask->width <= left) continue;
        const std::span<const CoverageSpan> spans = mask->spans(y);
        if (spans.empty()) continue;
        const Fill& fill = fills_[i];
        cursors_.push_back({spans, 0, false, mask->row(y) - mask->x,
                            fill.samples.data() + (fill.tiled ? tileStart : 0), fill.tiled ? TILE_SIDE - 1 : 0, &fill});
    }
}

// Composes columns [from, to) of the row pixel by pixel: the surround, then every layer that reaches
// them blended in by its coverage, in order.
void FrameCompositor::blendStretch(const FrameBuffer& target, int surfaceBits, int from, int to, std::uint32_t* out)
{
    const Rgb16 surround = fills_.back().samples[0];
    // The loop is made once for each surface and format, so that screenPixel's choices fold away.
    auto blendAll = [&](auto bits, auto format) {
        for (int x = from; x < to; ++x) {
            Rgb16 p = surround;
            for (const Cursor& c : cursors_) {
                const std::uint32_t m = c.here ? c.coverage[x] : 0;
                if (m == 0) continue;
                const Rgb16 fill = c.samples[x & c.column];
                p = m == 255 ? fill : Rgb16{blend(p.r, fill.r, m), blend(p.g, fill.g, m), blend(p.b, fill.b, m)};
            }
            out[x] = screenPixel(p, bits, format) | target.padding;
        }
    };
    using Ten = std::integral_constant<PixelFormat, PixelFormat::xrgb2101010>;
    using Eight = std::integral_constant<PixelFormat, PixelFormat::xrgb8888>;
    using Deep = std::integral_constant<int, 16>;
    using Flat = std::integral_constant<int, 8>;
    const bool ten = target.format == PixelFormat::xrgb2101010;
    if (surfaceBits == 16) {
        ten ? blendAll(Deep{}, Ten{}) : blendAll(Deep{}, Eight{});
    } else {
        ten ? blendAll(Flat{}, Ten{}) : blendAll(Flat{}, Eight{});
    }
}

}  // namespace pp
