#include "render/pixel_region.hpp"

#include <algorithm>

namespace pp {
namespace {

// Whether a and b overlap or share an edge.
bool meet(const PixelRect& a, const PixelRect& b)
{
    return a.x <= b.x + b.width && b.x <= a.x + a.width && a.y <= b.y + b.height && b.y <= a.y + a.height;
}

PixelRect bounds(const PixelRect& a, const PixelRect& b)
{
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

void PixelRegion::add(const PixelRect& rect, int frameWidth, int frameHeight)
{
    // Clipped in 64 bits: a rectangle may come from far outside the frame.
    const std::int64_t x0 = std::max<std::int64_t>(rect.x, 0), y0 = std::max<std::int64_t>(rect.y, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t(rect.x) + rect.width, frameWidth);
    const std::int64_t y1 = std::min<std::int64_t>(std::int64_t(rect.y) + rect.height, frameHeight);
    if (rect.width <= 0 || rect.height <= 0 || x1 <= x0 || y1 <= y0) return;
    PixelRect joined{int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
    // Joining may make the box meet others it did not meet before: repeat until it meets none.
    for (bool grew = true; grew;) {
        grew = false;
        for (auto it = rects_.begin(); it != rects_.end(); ++it) {
            if (meet(*it, joined)) {
                joined = bounds(*it, joined);
                rects_.erase(it);
                grew = true;
                break;
            }
        }
    }
    rects_.push_back(joined);
    if (rects_.size() > MAX_RECTS) {
        PixelRect all = rects_.front();
        for (const auto& r : rects_) all = bounds(all, r);
        rects_.assign(1, all);
    }
}

void PixelRegion::add(std::span<const PixelRect> rects, int frameWidth, int frameHeight)
{
    for (const auto& r : rects) add(r, frameWidth, frameHeight);
}

std::int64_t PixelRegion::area() const
{
    std::int64_t sum = 0;
    for (const auto& r : rects_) sum += std::int64_t(r.width) * r.height;
    return sum;
}

}  // namespace pp
