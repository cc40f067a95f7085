// Composes a frame from the surround and coverage layers and writes it in the screen's format.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "core/values.hpp"
#include "render/coverage_painter.hpp"
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

// Main thread only. Keeps its row buffers between frames.
class FrameCompositor {
public:
    // Fills `target` with `surround` and lays `layers` over it in order: where a mask covers a pixel fully
    // the pixel takes the layer's fill, where partly the fill is blended in by the coverage. Composition
    // runs at 16 bits per sample, and only on the rows and runs that some mask touches; each pixel is
    // written as `screenPixel` for `surfaceBits` and the target's format.
    void compose(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                 int surfaceBits);

    // The same, within `areas` alone (rectangles inside the frame that do not overlap): every pixel
    // there becomes what compose() makes of it, and no pixel outside is touched.
    void compose(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                 int surfaceBits, std::span<const PixelRect> areas);

private:
    void composeArea(const FrameBuffer& target, Rgb16 surround, std::span<const CoverageLayer> layers,
                     int surfaceBits, const PixelRect& area);

    std::vector<Rgb16> row_;
    std::vector<std::uint32_t> background_;
    std::vector<std::pair<int, int>> runs_;
};

}  // namespace pp
