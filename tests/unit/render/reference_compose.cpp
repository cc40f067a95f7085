// The frame compositor's algorithm before spans, unchanged but for the class's name (see
// reference_compose.hpp).
#include "reference_compose.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace pp {
namespace {

// Runs closer than this are composed as one: a few surround pixels cost less than another run.
constexpr int MERGE_GAP = 8;

std::uint64_t eightBytes(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Whether any of the eight bytes of `v` is zero.
constexpr bool hasZeroByte(std::uint64_t v)
{
    constexpr std::uint64_t ONES = 0x0101010101010101u, HIGHS = 0x8080808080808080u;
    return ((v - ONES) & ~v & HIGHS) != 0;
}

// Appends the runs of nonzero coverage in `cov` (of `width` bytes, starting at frame column `x0`).
void appendRuns(const std::uint8_t* cov, int width, int x0, std::vector<std::pair<int, int>>& runs)
{
    int x = 0;
    while (x < width) {
        while (x + 8 <= width && eightBytes(cov + x) == 0) x += 8;
        while (x < width && cov[x] == 0) ++x;
        if (x >= width) break;
        const int start = x;
        while (x + 8 <= width && !hasZeroByte(eightBytes(cov + x))) x += 8;
        while (x < width && cov[x] != 0) ++x;
        runs.emplace_back(x0 + start, x0 + x);
    }
}

std::uint16_t blend(std::uint32_t under, std::uint32_t over, std::uint32_t coverage)
{
    return static_cast<std::uint16_t>((over * coverage + under * (255 - coverage) + 127) / 255);
}

// Lays `layer` over `row` (indexed by frame column) on columns [lo, hi) of frame row `y`.
void applyLayer(const CoverageLayer& layer, int y, int frameHeight, int lo, int hi, Rgb16* row)
{
    const CoverageMask& mask = *layer.mask;
    const std::uint8_t* cov = mask.row(y) - mask.x;
    Rgb16 fills[TILE_SIDE];
    if (layer.tile) {
        // The tile's bottom row lies on the frame's bottom row; its top row is stored first.
        const int tileRow = ((y - frameHeight) % TILE_SIDE + TILE_SIDE) % TILE_SIDE;
        const std::uint8_t* bytes = layer.tile->data() + tileRow * TILE_SIDE * 4;
        for (int i = 0; i < TILE_SIDE; ++i) {
            auto sample = [&](int channel) { return static_cast<std::uint16_t>(bytes[i * 4 + channel] * 257); };
            fills[i] = {sample(0), sample(1), sample(2)};
        }
    } else {
        std::fill(std::begin(fills), std::end(fills), layer.colour);
    }
    for (int x = lo; x < hi; ++x) {
        const std::uint32_t m = cov[x];
        if (m == 0) continue;
        const Rgb16 fill = fills[x % TILE_SIDE];
        if (m == 255) {
            row[x] = fill;
        } else {
            row[x] = {blend(row[x].r, fill.r, m), blend(row[x].g, fill.g, m), blend(row[x].b, fill.b, m)};
        }
    }
}

template <int BITS, PixelFormat FORMAT>
void writeRun(const Rgb16* row, int lo, int hi, std::uint32_t* out, std::uint32_t padding)
{
    for (int x = lo; x < hi; ++x) out[x] = screenPixel(row[x], BITS, FORMAT) | padding;
}

void writeRun(const Rgb16* row, int lo, int hi, std::uint32_t* out, int bits, PixelFormat format,
              std::uint32_t padding)
{
    constexpr auto ten = PixelFormat::xrgb2101010, eight = PixelFormat::xrgb8888;
    if (bits == 16) {
        format == ten ? writeRun<16, ten>(row, lo, hi, out, padding) : writeRun<16, eight>(row, lo, hi, out, padding);
    } else {
        format == ten ? writeRun<8, ten>(row, lo, hi, out, padding) : writeRun<8, eight>(row, lo, hi, out, padding);
    }
}

// Blocks of this many pixels are tested for a single fully covering layer before composing pixel by pixel.
constexpr int BLOCK = 8;
constexpr std::size_t MAX_LAYERS = 8;
constexpr int NO_LAYER = -1;
constexpr int MIXED = -2;

// The fill of `layer` on frame row `y`, by column modulo the tile side, as screen pixels.
void solidFills(const CoverageLayer& layer, int y, int frameHeight, int bits, PixelFormat format,
                std::uint32_t padding, std::array<std::uint32_t, TILE_SIDE>& out)
{
    if (!layer.tile) {
        out.fill(screenPixel(layer.colour, bits, format) | padding);
        return;
    }
    const int tileRow = ((y - frameHeight) % TILE_SIDE + TILE_SIDE) % TILE_SIDE;
    const std::uint8_t* bytes = layer.tile->data() + tileRow * TILE_SIDE * 4;
    for (int i = 0; i < TILE_SIDE; ++i) {
        auto sample = [&](int channel) { return static_cast<std::uint16_t>(bytes[i * 4 + channel] * 257); };
        out[static_cast<std::size_t>(i)] = screenPixel({sample(0), sample(1), sample(2)}, bits, format) | padding;
    }
}

// Writes a layer's fill (`fills`, by column modulo the tile side; all alike when not `tiled`) on
// columns [lo, hi) of `out`.
void writeFill(const std::array<std::uint32_t, TILE_SIDE>& fills, bool tiled, int lo, int hi, std::uint32_t* out)
{
    if (!tiled) {
        std::fill(out + lo, out + hi, fills[0]);
        return;
    }
    int x = lo;
    for (; x < hi && x % TILE_SIDE != 0; ++x) out[x] = fills[static_cast<std::size_t>(x % TILE_SIDE)];
    for (; x + TILE_SIDE <= hi; x += TILE_SIDE) std::memcpy(out + x, fills.data(), sizeof fills);
    for (; x < hi; ++x) out[x] = fills[static_cast<std::size_t>(x % TILE_SIDE)];
}

// For the block of BLOCK pixels at column x of row y: the index of the topmost layer that touches it
// when that layer covers every pixel of it fully (what lies below is hidden), NO_LAYER when no layer
// touches it, MIXED when it needs composing pixel by pixel.
template <typename Covers>
int topLayer(std::span<const CoverageLayer> layers, int x, int y, const Covers& covers)
{
    for (int i = static_cast<int>(layers.size()) - 1; i >= 0; --i) {
        const CoverageLayer& layer = layers[static_cast<std::size_t>(i)];
        if (!covers(layer)) continue;
        const CoverageMask& mask = *layer.mask;
        if (x + BLOCK <= mask.x || x >= mask.x + mask.width) continue;
        if (x < mask.x || x + BLOCK > mask.x + mask.width) return MIXED;
        const std::uint64_t bytes = eightBytes(mask.row(y) + (x - mask.x));
        if (bytes == 0) continue;
        return bytes == ~std::uint64_t{0} ? i : MIXED;
    }
    return NO_LAYER;
}

}  // namespace

void ReferenceCompositor::compose(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                              int surfaceBits, std::span<const PixelRect> areas)
{
    if (!target.pixels || target.width <= 0 || target.height <= 0 || target.stride < target.width) return;
    for (const PixelRect& area : areas) {
        const int x0 = std::max(area.x, 0), y0 = std::max(area.y, 0);
        const int x1 = std::min(area.x + area.width, target.width), y1 = std::min(area.y + area.height, target.height);
        if (x0 < x1 && y0 < y1) composeArea(target, surround, layers, surfaceBits, {x0, y0, x1 - x0, y1 - y0});
    }
}

void ReferenceCompositor::composeArea(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                                  int surfaceBits, const PixelRect& area)
{
    const int left = area.x, right = area.x + area.width;
    // Each pixel is written once: the surround where no layer reaches, copied from one row of it (the
    // copy runs at about twice the speed of a loop), the composed layers elsewhere.
    background_.assign(static_cast<std::size_t>(area.width),
                       screenPixel(surround, surfaceBits, target.format) | target.padding);
    auto surroundOn = [&](std::uint32_t* out, int from, int to) {
        if (from < to) {
            std::memcpy(out + from, background_.data() + (from - left), std::size_t(to - from) * sizeof(std::uint32_t));
        }
    };

    int top = area.y + area.height, bottom = area.y;
    for (const auto& layer : layers) {
        if (!layer.mask || layer.mask->empty()) continue;
        top = std::min(top, layer.mask->y);
        bottom = std::max(bottom, layer.mask->y + layer.mask->height);
    }
    row_.resize(target.width);
    for (int y = area.y; y < area.y + area.height; ++y) {
        std::uint32_t* out = target.pixels + static_cast<std::ptrdiff_t>(y) * target.stride;
        if (y < top || y >= bottom) {
            surroundOn(out, left, right);
            continue;
        }
        auto covers = [y, &target](const CoverageLayer& layer) {
            const CoverageMask* m = layer.mask;
            return m && !m->empty() && y >= m->y && y < m->y + m->height && m->x >= 0
                   && m->x + m->width <= target.width;
        };
        runs_.clear();
        for (const auto& layer : layers) {
            if (covers(layer)) appendRuns(layer.mask->row(y), layer.mask->width, layer.mask->x, runs_);
        }
        if (runs_.empty()) {
            surroundOn(out, left, right);
            continue;
        }
        std::sort(runs_.begin(), runs_.end());
        std::size_t merged = 0;
        for (std::size_t i = 1; i < runs_.size(); ++i) {
            if (runs_[i].first <= runs_[merged].second + MERGE_GAP) {
                runs_[merged].second = std::max(runs_[merged].second, runs_[i].second);
            } else {
                runs_[++merged] = runs_[i];
            }
        }
        runs_.resize(merged + 1);
        // Only the columns of the area.
        std::size_t kept = 0;
        for (const auto& [a, b] : runs_) {
            const int lo = std::max(a, left), hi = std::min(b, right);
            if (lo < hi) runs_[kept++] = {lo, hi};
        }
        runs_.resize(kept);

        // Each layer's fill as the screen takes it, for the blocks a single layer covers fully.
        std::array<std::array<std::uint32_t, TILE_SIDE>, MAX_LAYERS> solid{};
        const std::size_t count = std::min(layers.size(), MAX_LAYERS);
        for (std::size_t i = 0; i < count; ++i) {
            if (covers(layers[i])) solidFills(layers[i], y, target.height, surfaceBits, target.format, target.padding, solid[i]);
        }
        int done = left;
        for (const auto& [lo, hi] : runs_) {
            surroundOn(out, done, lo);
            done = hi;
            for (int x = lo; x < hi;) {
                const int end = std::min(x + BLOCK, hi);
                if (end - x == BLOCK && layers.size() <= MAX_LAYERS) {
                    // The topmost layer that touches the block decides it when it covers it fully.
                    const int top = topLayer(layers, x, y, covers);
                    if (top == NO_LAYER) {
                        surroundOn(out, x, end);
                        x = end;
                        continue;
                    }
                    if (top >= 0) {
                        // The layer keeps the blocks after this one while it covers them fully and no
                        // layer above it reaches them: one long write instead of a test per block.
                        const auto& layer = layers[static_cast<std::size_t>(top)];
                        int reach = std::min(hi, layer.mask->x + layer.mask->width);
                        for (std::size_t above = std::size_t(top) + 1; above < layers.size(); ++above) {
                            if (!covers(layers[above])) continue;
                            const CoverageMask& m = *layers[above].mask;
                            if (m.x + m.width > x) reach = std::min(reach, std::max(m.x, end));
                        }
                        const std::uint8_t* cov = layer.mask->row(y) - layer.mask->x;
                        int stop = end;
                        while (stop + BLOCK <= reach && eightBytes(cov + stop) == ~std::uint64_t{0}) stop += BLOCK;
                        writeFill(solid[static_cast<std::size_t>(top)], layer.tile != nullptr, x, stop, out);
                        x = stop;
                        continue;
                    }
                }
                std::fill(row_.begin() + x, row_.begin() + end, surround);
                for (const auto& layer : layers) {
                    if (!covers(layer)) continue;
                    const int from = std::max(x, layer.mask->x), to = std::min(end, layer.mask->x + layer.mask->width);
                    if (from < to) applyLayer(layer, y, target.height, from, to, row_.data());
                }
                writeRun(row_.data(), x, end, out, surfaceBits, target.format, target.padding);
                x = end;
            }
        }
        surroundOn(out, done, right);
    }
}

}  // namespace pp
