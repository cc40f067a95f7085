// The ordered-dither tile: a fractional colour as a 16 x 16 mix of the two nearest 8-bit levels.
#pragma once

#include <array>
#include <cstdint>

namespace pp {

// The 8 x 8 Bayer index matrix (row first), built from [[0, 2], [3, 1]] by
// M(2n) = [[4M, 4M + 2], [4M + 3, 4M + 1]]; each entry 0 to 63 appears once.
inline constexpr std::array<std::array<int, 8>, 8> BAYER{{
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
}};

inline constexpr int TILE_SIDE = 16;
inline constexpr int TILE_BYTES = TILE_SIDE * TILE_SIDE * 4;

// 16 rows of 16 pixels, top row first, 4 bytes per pixel: red, green, blue, filler (always 255).
using DitherTile = std::array<std::uint8_t, TILE_BYTES>;

// The tile for `rgb` on the 0 to 255 scale: per channel, a pixel takes the upper of the two nearest whole
// levels where the pixel's threshold (BAYER[y / 2][x / 2] + 0.5) / 64 is below the channel's fraction,
// else the lower. Components are clamped to 0 to 255; a NaN component counts as 0.
DitherTile ditherTile(const std::array<double, 3>& rgb);

}  // namespace pp
