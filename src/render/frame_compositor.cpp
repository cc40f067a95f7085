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
        fill.blendsMade = false;
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
        const std::size_t values = fill.tiled ? TILE_PIXELS : 1;
        // Lines made for the same pixels, frame width and columns stay as they are: from one colour to
        // the next, only the patch's change.
        const bool kept = fill.linesRows == rows && fill.linesWidth == target.width && fill.linesFrom <= lo &&
                          fill.linesTo >= hi &&
                          std::memcmp(fill.linePixels.data(), fill.pixels.data(), values * sizeof(std::uint32_t)) == 0;
        if (kept) continue;
        fill.lines.resize(static_cast<std::size_t>(rows) * target.width);
        for (int row = 0; row < rows; ++row) {
            std::uint32_t* line = fill.lines.data() + static_cast<std::size_t>(row) * target.width;
            const std::uint32_t* tileRow = fill.pixels.data() + (fill.tiled ? row * TILE_SIDE : 0);
            const int column = fill.tiled ? TILE_SIDE - 1 : 0;
            for (int x = lo; x < hi; ++x) line[x] = tileRow[x & column];
        }
        std::copy_n(fill.pixels.begin(), values, fill.linePixels.begin());
        fill.linesRows = rows;
        fill.linesWidth = target.width;
        fill.linesFrom = lo;
        fill.linesTo = hi;
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
        Fill& fill = fills_[i];
        cursors_.push_back({spans, 0, false, mask, nullptr, fill.samples.data() + (fill.tiled ? tileStart : 0),
                            fill.tiled ? TILE_SIDE - 1 : 0, &fill});
    }
}

// Composes columns [from, to) of the row pixel by pixel: the surround, then every layer that reaches
// them blended in by its coverage, in order.
void FrameCompositor::blendStretch(const FrameBuffer& target, int surfaceBits, int from, int to, std::uint32_t* out)
{
    // Each layer's coverage here: none where its span does not reach, all of it in a full span.
    Cursor* alone = nullptr;
    int reaching = 0;
    for (Cursor& c : cursors_) {
        c.coverage = nullptr;
        if (!c.here) continue;
        const CoverageSpan& span = c.spans[c.next];
        if (!span.full) c.coverage = c.mask->coverage(span);
        if (++reaching == 1) alone = &c;
    }
    // Where one layer alone reaches the stretch, as along most of the patch's edge, a pixel is three
    // table entries: the blend of each channel is a function of its coverage alone. That layer's span
    // is the partly covered one that made this stretch a blend.
    if (reaching == 1) {
        Fill& fill = *alone->fill;
        if (!fill.blendsMade) makeBlends(fill, target.format, surfaceBits);
        const auto* tables = fill.blendTables.data() + (alone->samples - fill.samples.data());
        const auto& blends = fill.channelBlends;
        for (int x = from; x < to; ++x) {
            const std::uint8_t m = alone->coverage[x];
            const auto& t = tables[x & alone->column];
            out[x] = blends[t[0]][m] | blends[t[1]][m] | blends[t[2]][m] | target.padding;
        }
        return;
    }
    const Rgb16 surround = fills_.back().samples[0];
    // The loop is made once for each surface and format, so that screenPixel's choices fold away.
    auto blendAll = [&](auto bits, auto format) {
        for (int x = from; x < to; ++x) {
            Rgb16 p = surround;
            for (const Cursor& c : cursors_) {
                const std::uint32_t m = !c.here ? 0 : c.coverage ? c.coverage[x] : 255;
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

// Makes `fill`'s blend tables over the surround: one for each channel level the fill holds. Blending a
// channel and writing it do not depend on the other channels, so a pixel's value is its channels' parts
// ORed together, each part the screen pixel of that channel alone.
void FrameCompositor::makeBlends(Fill& fill, PixelFormat format, int surfaceBits)
{
    const Rgb16 surround = fills_.back().samples[0];
    fill.channelBlends.clear();
    fill.channelLevels.clear();
    fill.blendTables.resize(fill.tiled ? TILE_PIXELS : 1);
    auto channelOf = [](const Rgb16& p, int channel) { return channel == 0 ? p.r : channel == 1 ? p.g : p.b; };
    // A table's key: its channel above its level.
    auto table = [&](int channel, std::uint16_t level) {
        const std::uint32_t key = static_cast<std::uint32_t>(channel) << 16 | level;
        const auto found = std::find(fill.channelLevels.begin(), fill.channelLevels.end(), key);
        if (found != fill.channelLevels.end()) return static_cast<std::uint16_t>(found - fill.channelLevels.begin());
        std::array<std::uint32_t, 256>& bits = fill.channelBlends.emplace_back();
        const std::uint16_t under = channelOf(surround, channel);
        for (std::uint32_t m = 0; m < 256; ++m) {
            std::array<std::uint16_t, 3> alone{};
            alone[static_cast<std::size_t>(channel)] = blend(under, level, m);
            bits[m] = screenPixel({alone[0], alone[1], alone[2]}, surfaceBits, format);
        }
        fill.channelLevels.push_back(key);
        return static_cast<std::uint16_t>(fill.channelLevels.size() - 1);
    };
    for (std::size_t p = 0; p < fill.blendTables.size(); ++p) {
        for (int channel = 0; channel < 3; ++channel) {
            fill.blendTables[p][static_cast<std::size_t>(channel)] = table(channel, channelOf(fill.samples[p], channel));
        }
    }
    fill.blendsMade = true;
}

}  // namespace pp
