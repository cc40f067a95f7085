#include "render/dither_tile.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace pp {
namespace {

int byteAt(const DitherTile& tile, int row, int column, int channel)
{
    return tile[row * 64 + column * 4 + channel];
}

TEST(Bayer, IsTheRecursiveIndexMatrix)
{
    std::vector<std::vector<int>> m{{0, 2}, {3, 1}};
    for (int n = 2; n < 8; n *= 2) {
        std::vector<std::vector<int>> next(2 * n, std::vector<int>(2 * n));
        const int add[2][2] = {{0, 2}, {3, 1}};
        for (int y = 0; y < 2 * n; ++y)
            for (int x = 0; x < 2 * n; ++x) next[y][x] = 4 * m[y % n][x % n] + add[y / n][x / n];
        m = next;
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(BAYER[y][x], m[y][x]) << y << "," << x;
}

struct TileCase {
    std::array<double, 3> rgb;
    std::array<int, 3> lower;       // each channel's lower level
    std::array<int, 3> upperCells;  // matrix cells (of 64) at lower + 1
};

class TileLevels : public ::testing::TestWithParam<TileCase> {};

TEST_P(TileLevels, MixTheTwoNearestLevelsInTheStatedCounts)
{
    const TileCase& c = GetParam();
    const DitherTile tile = ditherTile(c.rgb);
    for (int ch = 0; ch < 3; ++ch) {
        int upper = 0;
        for (int i = ch; i < TILE_BYTES; i += 4) {
            ASSERT_TRUE(tile[i] == c.lower[ch] || tile[i] == c.lower[ch] + 1) << "channel " << ch << " byte " << i;
            upper += tile[i] == c.lower[ch] + 1;
        }
        EXPECT_EQ(upper, 4 * c.upperCells[ch]) << "channel " << ch;
    }
    for (int i = 3; i < TILE_BYTES; i += 4) ASSERT_EQ(tile[i], 255) << "filler byte " << i;
}

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Colours, TileLevels,
                         ::testing::Values(TileCase{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
                                           TileCase{{127.5, 0, 255}, {127, 0, 255}, {32, 0, 0}},
                                           TileCase{{127.3, 10.99, 254.5}, {127, 10, 254}, {19, 63, 32}},
                                           TileCase{{300, -4, 200}, {255, 0, 200}, {0, 0, 0}},
                                           TileCase{{254.99, 0.01, 0.5 / 64}, {254, 0, 0}, {63, 1, 0}},
                                           TileCase{{NaN, 12.25, INF}, {0, 12, 255}, {0, 16, 0}}));

TEST(DitherTile, CellsSwitchStrictlyAboveTheirThresholds)
{
    // Row 0, column 0 uses entry 0 (threshold 0.5/64); row 14, column 0 uses entry 63 (63.5/64).
    EXPECT_EQ(byteAt(ditherTile({10 + 0.5 / 64, 0, 0}), 0, 0, 0), 10);
    EXPECT_EQ(byteAt(ditherTile({10 + 0.6 / 64, 0, 0}), 0, 0, 0), 11);
    EXPECT_EQ(byteAt(ditherTile({10 + 63.5 / 64, 0, 0}), 14, 0, 0), 10);
    EXPECT_EQ(byteAt(ditherTile({10 + 63.6 / 64, 0, 0}), 14, 0, 0), 11);
}

TEST(DitherTile, BlocksOfTwoByTwoAreEqualAndLargerFractionsContainSmallerPatterns)
{
    DitherTile previous = ditherTile({40, 0, 0});
    for (int step = 1; step <= 256; ++step) {
        const DitherTile tile = ditherTile({40 + step / 256.0, 0, 0});
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                ASSERT_EQ(byteAt(tile, y, x, 0), byteAt(tile, y & ~1, x & ~1, 0)) << step << ": " << x << "," << y;
                ASSERT_GE(byteAt(tile, y, x, 0), byteAt(previous, y, x, 0)) << step << ": " << x << "," << y;
            }
        previous = tile;
    }
}

}  // namespace
}  // namespace pp
