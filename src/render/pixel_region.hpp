// An area of a frame as a short list of rectangles that neither overlap nor touch.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/values.hpp"

namespace pp {

class PixelRegion {
public:
    // Adds `rect` clipped to the `frameWidth` x `frameHeight` frame. Rectangles that would overlap or
    // touch are joined into their bounding box (which may take in a little more than was added), and
    // past MAX_RECTS everything is joined into one: the region only ever grows.
    void add(const PixelRect& rect, int frameWidth, int frameHeight);
    void add(std::span<const PixelRect> rects, int frameWidth, int frameHeight);

    std::span<const PixelRect> rects() const { return rects_; }
    bool empty() const { return rects_.empty(); }
    void clear() { rects_.clear(); }
    // Pixels in the region.
    std::int64_t area() const;

    static constexpr std::size_t MAX_RECTS = 8;

private:
    std::vector<PixelRect> rects_;
};

}  // namespace pp
