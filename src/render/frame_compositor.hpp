// Composes a frame from the surround and coverage layers and writes it in the screen's format.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "core/values.hpp"
#include "render/coverage_mask.hpp"
#include "render/dither_tile.hpp"
#include "render/sample_levels.hpp"

namespace pp {

// One shape of the picture: its coverage and what fills it.
struct CoverageLayer {
    const CoverageMask* mask = nullptr;
    Rgb16 colour;                      // the fill when there is no tile
    const DitherTile* tile = nullptr;  // a tiled fill, one tile pixel per frame pixel, the tiling grid
                                       // anchored at the frame's bottom-left corner
};

// Main thread only. Keeps its fills and their lines between frames.
class FrameCompositor {
public:
    // Fills `target` with `surround` and lays `layers` over it in order: where a mask covers a pixel fully
    // the pixel takes the layer's fill, where partly the fill is blended in by the coverage. Composition
    // runs at 16 bits per sample; each pixel is written as `screenPixel` for `surfaceBits` and the
    // target's format. Each row is written span by span (see CoverageMask::spans): where no mask reaches
    // the surround, where the topmost mask covers fully its fill, and only the partly covered spans are
    // blended pixel by pixel.
    void compose(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                 int surfaceBits);

    // The same, within `areas` alone (rectangles inside the frame that do not overlap): every pixel
    // there becomes what compose() makes of it, and no pixel outside is touched.
    void compose(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                 int surfaceBits, std::span<const PixelRect> areas);

private:
    static constexpr std::size_t TILE_PIXELS = TILE_SIDE * TILE_SIDE;

    // A layer's fill as composed (16-bit samples) and as written (screen pixels): the tile, top row
    // first, or one value in the first place.
    struct Fill {
        bool tiled = false;
        std::array<Rgb16, TILE_PIXELS> samples;
        std::array<std::uint32_t, TILE_PIXELS> pixels;
        std::vector<std::uint32_t> lines;  // the screen pixels of each tile row (or the one flat fill) by
                                           // frame column, for copying
        // What the lines were made of: the pixels, the rows, the frame's width and the columns made.
        std::array<std::uint32_t, TILE_PIXELS> linePixels;
        int linesRows = 0, linesWidth = 0, linesFrom = 0, linesTo = 0;
        // The fill blended over the surround alone, made on its first use in a frame: for each channel
        // level of the fill, that channel's bits of the screen pixel by coverage; and for each tile pixel
        // (or the one value), the tables of its red, green and blue levels.
        bool blendsMade = false;
        std::vector<std::array<std::uint32_t, 256>> channelBlends;
        std::vector<std::uint32_t> channelLevels;  // what each table is for: its channel above its level
        std::vector<std::array<std::uint16_t, 3>> blendTables;
    };
    // A layer that reaches the row being composed, and where its spans stand.
    struct Cursor {
        std::span<const CoverageSpan> spans;
        std::size_t next = 0;                    // the first span that does not end before the column
        bool here = false;                       // that span reaches the column
        const CoverageMask* mask = nullptr;
        const std::uint8_t* coverage = nullptr;  // in a blend, the partly covered span's coverage by frame
                                                 // column; null where the span covers fully
        const Rgb16* samples = nullptr;          // the fill on this row, by column modulo the tile side
        int column = 0;                          // ANDed with a column to index `samples`: 0 for a flat fill
        Fill* fill = nullptr;
    };

    void composeArea(const FrameBuffer& target, std::span<const CoverageLayer> layers, int surfaceBits,
                     const PixelRect& area);
    void makeLines(const FrameBuffer& target, std::span<const PixelRect> areas);
    void startRow(const FrameBuffer& target, std::span<const CoverageLayer> layers, int y, int left, int right);
    void blendStretch(const FrameBuffer& target, int surfaceBits, int from, int to, std::uint32_t* out);
    void makeBlends(Fill& fill, PixelFormat format, int surfaceBits);

    std::vector<Fill> fills_;      // one for each layer, and the surround's last
    std::vector<Cursor> cursors_;  // the layers that reach the row, in order
};

}  // namespace pp
