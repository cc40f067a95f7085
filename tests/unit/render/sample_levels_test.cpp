#include "render/sample_levels.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pp {
namespace {

TEST(SampleLevels, ComponentBecomesItsRounded16BitSampleWithinTheScale)
{
    for (int c = 0; c <= 255; ++c) ASSERT_EQ(level16(c), c * 257) << c;
    EXPECT_EQ(level16(127.25), 32703);  // 32703.25
    EXPECT_EQ(level16(127.5), 32768);   // 32767.5, half up
    EXPECT_EQ(level16(-3), 0);
    EXPECT_EQ(level16(256), 65535);
    EXPECT_EQ(level16(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(unitLevel16(0.35), 22937);
}

TEST(SampleLevels, ConversionsToTheScreenRoundOrReplicate)
{
    for (std::uint32_t v = 0; v <= 65535; ++v) {
        ASSERT_EQ(eightFromSixteen(v), static_cast<std::uint32_t>(std::lround(v / 65535.0 * 255))) << v;
        ASSERT_EQ(tenFromSixteen(v), static_cast<std::uint32_t>(std::lround(v / 65535.0 * 1023))) << v;
    }
    for (std::uint32_t c = 0; c <= 255; ++c) {
        ASSERT_EQ(tenFromSixteen(level16(c)), static_cast<std::uint32_t>(std::lround(c / 255.0 * 1023))) << c;
        ASSERT_EQ(tenFromEight(c), c * 4 + c / 64) << c;
    }
    const Rgb16 p{level16(255), level16(128), level16(1)};
    EXPECT_EQ(screenPixel(p, 8, PixelFormat::xrgb8888), 0x00FF8001u);
    EXPECT_EQ(screenPixel(p, 16, PixelFormat::xrgb8888), 0x00FF8001u);
    EXPECT_EQ(screenPixel(p, 8, PixelFormat::xrgb2101010), (1023u << 20) | (514u << 10) | 4u);
    EXPECT_EQ(screenPixel(p, 16, PixelFormat::xrgb2101010), (1023u << 20) | (514u << 10) | 4u);
}

}  // namespace
}  // namespace pp
