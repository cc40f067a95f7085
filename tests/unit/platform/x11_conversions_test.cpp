#include <gtest/gtest.h>

#include "platform/x11/x11_conversions.hpp"

namespace pp::x11 {
namespace {

TEST(ViewPoint, FlipsYAgainstTheWindowHeight)
{
    struct Case {
        int x, y, height;
        Point expected;
    };
    const Case cases[] = {
        {0, 0, 1080, {0, 1080}},       // top-left pixel
        {0, 1080, 1080, {0, 0}},       // just below the last row: the view's origin
        {1919, 1079, 1080, {1919, 1}}, // bottom-right pixel
        {100, 50, 1000, {100, 950}},
        {-5, 1010, 1000, {-5, -10}},   // outside the window while a drag continues
    };
    for (const auto& c : cases) EXPECT_EQ(viewPoint(c.x, c.y, c.height), c.expected) << c.x << "," << c.y;
}

TEST(PixelFormatFor, KnowsOnlyTheStandardTrueColorLayouts)
{
    EXPECT_EQ(pixelFormatFor(24, 0xFF0000, 0x00FF00, 0x0000FF), PixelFormat::xrgb8888);
    EXPECT_EQ(pixelFormatFor(30, 0x3FF00000, 0x000FFC00, 0x000003FF), PixelFormat::xrgb2101010);
    EXPECT_EQ(pixelFormatFor(24, 0x0000FF, 0x00FF00, 0xFF0000), std::nullopt);       // BGR order
    EXPECT_EQ(pixelFormatFor(30, 0x000003FF, 0x000FFC00, 0x3FF00000), std::nullopt);
    EXPECT_EQ(pixelFormatFor(30, 0xFF0000, 0x00FF00, 0x0000FF), std::nullopt);       // masks of another depth
    EXPECT_EQ(pixelFormatFor(16, 0xF800, 0x07E0, 0x001F), std::nullopt);
}

TEST(StripRows, FillsEachRequestWithoutPassingItsLimit)
{
    // Without BIG-REQUESTS a request holds 262140 bytes: 24 of header, then 64 rows of 1024 pixels.
    EXPECT_EQ(stripRows(262140, 1024, 768), 63);
    EXPECT_EQ(stripRows(24 + 4096 * 64, 1024, 768), 64);
    EXPECT_EQ(stripRows(24 + 4096 * 64 - 1, 1024, 768), 63);
    EXPECT_EQ(stripRows(std::uint64_t(4194303) * 4, 3840, 2160), 1092);  // the usual BIG-REQUESTS limit
    EXPECT_EQ(stripRows(std::uint64_t(1) << 40, 1920, 1080), 1080);  // never more than the image
    EXPECT_EQ(stripRows(100, 1920, 1080), 1);                          // at least one row
}

TEST(CoreKeysym, ShiftTakesTheSecondColumnWhenThereIsOne)
{
    const std::uint32_t letter[] = {'a', 'A', 'a', 'A'};
    const std::uint32_t arrow[] = {0xFF51, 0, 0xFF51, 0};  // Left has one level
    EXPECT_EQ(coreKeysym(letter, 4, false), std::uint32_t('a'));
    EXPECT_EQ(coreKeysym(letter, 4, true), std::uint32_t('A'));
    EXPECT_EQ(coreKeysym(arrow, 4, true), 0xFF51u);
    EXPECT_EQ(coreKeysym(arrow, 1, true), 0xFF51u);
    EXPECT_EQ(coreKeysym(arrow, 0, false), 0u);
}

}  // namespace
}  // namespace pp::x11
