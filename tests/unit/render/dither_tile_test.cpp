#include "render/dither_tile.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace pp {
namespace {

using Matrix = std::vector<std::vector<int>>;

// The Bayer matrix built by its recursion, to check the table against.
Matrix bayerByRecursion(int side)
{
    if (side == 2) return {{0, 2}, {3, 1}};
    const Matrix half = bayerByRecursion(side / 2);
    const int n = side / 2;
    Matrix m(side, std::vector<int>(side));
    const int offsets[2][2] = {{0, 2}, {3, 1}};
    for (int qy = 0; qy < 2; ++qy)
        for (int qx = 0; qx < 2; ++qx)
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x) m[qy * n + y][qx * n + x] = 4 * half[y][x] + offsets[qy][qx];
    return m;
}

int byteAt(const DitherTile& tile, int row, int column, int channel)
{
    return tile[row * 64 + column * 4 + channel];
}

TEST(Bayer, IsTheRecursiveIndexMatrixInRowFirstOrder)
{
    const Matrix expected = bayerByRecursion(8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(BAYER[y][x], expected[y][x]) << "row " << y << " column " << x;
}

struct TileCase {
    const char* what;
    std::array<double, 3> rgb;
    std::array<int, 3> lower;        // the lower level of each channel
    std::array<int, 3> upperCells;   // matrix cells (of 64) showing lower + 1
};

class TileLevels : public ::testing::TestWithParam<TileCase> {};

TEST_P(TileLevels, MixTheTwoNearestLevelsInTheStatedCounts)
{
    const TileCase& c = GetParam();
    const DitherTile tile = ditherTile(c.rgb);
    for (int channel = 0; channel < 3; ++channel) {
        int upper = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const int v = byteAt(tile, y, x, channel);
                ASSERT_TRUE(v == c.lower[channel] || v == c.lower[channel] + 1)
                    << "channel " << channel << " pixel " << x << "," << y << " is " << v;
                upper += v == c.lower[channel] + 1;
            }
        }
        EXPECT_EQ(upper, 4 * c.upperCells[channel]) << "channel " << channel;
    }
    for (int i = 3; i < TILE_BYTES; i += 4) ASSERT_EQ(tile[i], 255) << "filler byte " << i;
}

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Colours, TileLevels,
    ::testing::Values(TileCase{"black", {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
                      TileCase{"half a level", {127.5, 0, 255}, {127, 0, 255}, {32, 0, 0}},
                      TileCase{"mixed fractions", {127.3, 10.99, 254.5}, {127, 10, 254}, {19, 63, 32}},
                      TileCase{"out of range", {300, -4, 200}, {255, 0, 200}, {0, 0, 0}},
                      TileCase{"whole numbers", {1, 128, 254}, {1, 128, 254}, {0, 0, 0}},
                      TileCase{"just below the top", {254.99, 0.01, 0.5 / 64}, {254, 0, 0}, {63, 1, 0}},
                      TileCase{"not a number", {NaN, 12.25, NaN}, {0, 12, 0}, {0, 16, 0}},
                      TileCase{"infinities", {INF, -INF, 255.5}, {255, 0, 255}, {0, 0, 0}}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& ch : name) if (ch == ' ') ch = '_';
        return name;
    });

TEST(DitherTile, FirstAndLastMatrixCellsSwitchStrictlyAboveTheirThresholds)
{
    // Row 0, column 0 uses entry 0 (threshold 0.5/64); row 14, column 0 uses entry 63 (63.5/64).
    EXPECT_EQ(byteAt(ditherTile({10 + 0.5 / 64, 0, 0}), 0, 0, 0), 10);
    EXPECT_EQ(byteAt(ditherTile({10 + 0.6 / 64, 0, 0}), 0, 0, 0), 11);
    EXPECT_EQ(byteAt(ditherTile({10 + 63.5 / 64, 0, 0}), 14, 0, 0), 10);
    EXPECT_EQ(byteAt(ditherTile({10 + 63.6 / 64, 0, 0}), 14, 0, 0), 11);
    EXPECT_EQ(byteAt(ditherTile({10 + 63.6 / 64, 0, 0}), 15, 1, 0), 11);
}

TEST(DitherTile, TwoByTwoBlocksAreEqual)
{
    for (double f : {0.1, 0.37, 0.5, 0.81, 0.999}) {
        const DitherTile tile = ditherTile({100 + f, 50 + f / 2, f});
        for (int y = 0; y < 16; y += 2)
            for (int x = 0; x < 16; x += 2)
                for (int ch = 0; ch < 3; ++ch) {
                    const int v = byteAt(tile, y, x, ch);
                    ASSERT_EQ(byteAt(tile, y, x + 1, ch), v);
                    ASSERT_EQ(byteAt(tile, y + 1, x, ch), v);
                    ASSERT_EQ(byteAt(tile, y + 1, x + 1, ch), v);
                }
    }
}

TEST(DitherTile, PatternOfALargerFractionContainsThatOfEverySmallerOne)
{
    DitherTile previous = ditherTile({40, 0, 0});
    for (int step = 1; step <= 256; ++step) {
        const DitherTile tile = ditherTile({40 + step / 256.0, 0, 0});
        for (int i = 0; i < TILE_BYTES; i += 4) {
            ASSERT_GE(tile[i], previous[i]) << "fraction " << step << "/256, byte " << i;
        }
        previous = tile;
    }
}

TEST(DitherTile, MeanIsWithinAHalfStepOfTheColour)
{
    for (int k = 0; k < 2550; ++k) {
        const double c = k / 10.0 + 0.013;
        const DitherTile tile = ditherTile({c, 0, 0});
        double sum = 0;
        for (int i = 0; i < TILE_BYTES; i += 4) sum += tile[i];
        ASSERT_NEAR(sum / 256, c, 1.0 / 128) << c;
    }
}

}  // namespace
}  // namespace pp
