// A shape's coverage of the frame's pixels, and its rows as spans: where the shape covers fully, where
// partly, and (between them) not at all, so that a frame is composed as fills and blends only its edges.
#pragma once

#include <cassert>
#include <cstdint>
#include <span>
#include <vector>

namespace pp {

// Columns [from, to) of one frame row: every pixel covered fully (`full`), or some partly or not at all.
struct CoverageSpan {
    int from = 0;
    int to = 0;
    bool full = false;
    std::uint32_t partial = 0;  // a partly covered span: where its coverage begins in CoverageMask::partial
};

// Coverage of one shape over a rectangle of the frame (pixels, origin top-left, y down), already clipped
// to the frame. Empty when the shape lies wholly outside. Whoever writes `alpha` calls findSpans()
// afterwards.
struct CoverageMask {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int stride = 0;                   // bytes per row
    std::vector<std::uint8_t> alpha;  // 0 (untouched) to 255 (covered), `height` rows of `stride` bytes

    bool empty() const { return width <= 0 || height <= 0; }
    // The coverage row at frame row `frameY` (which must lie within the mask).
    const std::uint8_t* row(int frameY) const { return alpha.data() + static_cast<std::size_t>(frameY - y) * stride; }

    // The spans of frame row `frameY` (within the mask), left to right, in frame columns; no pixel outside
    // them is covered at all.
    std::span<const CoverageSpan> spans(int frameY) const
    {
        assert(rowStarts.size() == static_cast<std::size_t>(height) + 1);  // findSpans() ran after drawing
        const auto i = static_cast<std::size_t>(frameY - y);
        return std::span(spanList).subspan(rowStarts[i], rowStarts[i + 1] - rowStarts[i]);
    }

    // Finds the spans of every row from `alpha`: once, when the mask is drawn, not in every frame.
    void findSpans();

    // The coverage of a partly covered `span`, indexed by frame column within it.
    const std::uint8_t* coverage(const CoverageSpan& span) const { return partial.data() + span.partial - span.from; }

    std::vector<CoverageSpan> spanList;    // every row's spans, row after row
    std::vector<std::uint32_t> rowStarts;  // where each row's spans begin in spanList, and one past the last
    // The coverage of every partly covered span, one after another: blending a shape's edges reads a
    // few lines of memory, not one of every row of the mask.
    std::vector<std::uint8_t> partial;
};

}  // namespace pp
