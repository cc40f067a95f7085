#include "render/dither_tile.hpp"

#include <algorithm>
#include <cmath>

namespace pp {

DitherTile ditherTile(const std::array<double, 3>& rgb)
{
    DitherTile tile;
    tile.fill(255);
    for (int i = 0; i < 3; ++i) {
        const double c = rgb[i] > 0 ? std::min(255.0, rgb[i]) : 0.0;  // NaN fails the test: 0
        const double l = std::floor(c);
        const double f = c - l;
        const auto lo = static_cast<std::uint8_t>(std::min(l, 255.0));
        const auto hi = static_cast<std::uint8_t>(std::min(l + 1, 255.0));
        for (int y = 0; y < TILE_SIDE; ++y) {
            for (int x = 0; x < TILE_SIDE; ++x) {
                const double t = (BAYER[y / 2][x / 2] + 0.5) * 0.015625;
                tile[y * 64 + x * 4 + i] = t < f ? hi : lo;
            }
        }
    }
    return tile;
}

}  // namespace pp
