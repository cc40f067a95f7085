// The compositor as it composed pixel by pixel before it learned spans, kept for tests alone: the frame
// compositor must write exactly what this writes.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "render/frame_compositor.hpp"

namespace pp {

class ReferenceCompositor {
public:
    // As FrameCompositor::compose, within `areas`.
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
