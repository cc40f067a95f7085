#include "core/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/headless/headless_displays.hpp"

namespace pp {
namespace {

// The worked example: 1600 x 1000 points reporting 400 x 250 mm.
Screen exampleScreen(Size mm = {400, 250})
{
    return headless::headlessScreen(1, {0, 0, 1600, 1000}, mm);
}

struct GeometryCase {
    const char* what;
    Words words;
    Rect expected;
};

class PatchGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(PatchGeometry, PlacesThePatchOnTheExampleScreen)
{
    const auto& c = GetParam();
    const Geometry g = patchGeometry(c.words, exampleScreen());
    EXPECT_DOUBLE_EQ(g.ppmm, 4.0);
    EXPECT_DOUBLE_EQ(g.patchRect.x, c.expected.x) << c.what;
    EXPECT_DOUBLE_EQ(g.patchRect.y, c.expected.y) << c.what;
    EXPECT_DOUBLE_EQ(g.patchRect.width, c.expected.width) << c.what;
    EXPECT_DOUBLE_EQ(g.patchRect.height, c.expected.height) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Example, PatchGeometry,
    ::testing::Values(GeometryCase{"centred", {}, {670, 370, 260, 260}},
                      GeometryCase{"shifted", {"--shift", "10", "5"}, {710, 350, 260, 260}},
                      GeometryCase{"placed", {"--pos", "0.25", "0.25"}, {270, 620, 260, 260}},
                      GeometryCase{"placed and shifted", {"--pos", "0.25", "0.25", "--shift", "10", "5"},
                                   {270, 620, 260, 260}},
                      GeometryCase{"x clamped, y centred", {"--pos", "2", "-1"}, {1470, 370, 260, 260}},
                      GeometryCase{"axes independent", {"--pos", "-1", "0.25", "--shift", "10", "5"},
                                   {710, 620, 260, 260}},
                      GeometryCase{"nan centres", {"--pos", "nan", "0.5", "--shift", "10", "0"},
                                   {710, 370, 260, 260}},
                      GeometryCase{"sized", {"--mm", "100", "50"}, {600, 400, 400, 200}},
                      GeometryCase{"infinite shift unusable", {"--shift", "inf", "5"}, {670, 370, 260, 260}},
                      GeometryCase{"nan size unusable", {"--mm", "nan", "50"}, {670, 370, 260, 260}},
                      GeometryCase{"zero size unusable", {"--mm", "0", "0"}, {670, 370, 260, 260}},
                      GeometryCase{"negative size unusable", {"--mm", "-65", "-65"}, {670, 370, 260, 260}},
                      GeometryCase{"one zero side unusable", {"--mm", "100", "0"}, {670, 370, 260, 260}},
                      GeometryCase{"one negative side unusable", {"--mm", "-1", "50"}, {670, 370, 260, 260}},
                      GeometryCase{"negative zero unusable", {"--mm", "-0", "50"}, {670, 370, 260, 260}},
                      GeometryCase{"tiny positive size kept", {"--mm", "0.25", "0.5"}, {799.5, 499, 1, 2}}));

TEST(PatchGeometryFallback, MakesThePatchHalfTheScreenHeightWithoutAPhysicalSize)
{
    for (Size mm : {Size{0, 0}, Size{400, -3}, Size{400, NAN}}) {
        const Geometry g = patchGeometry({}, exampleScreen(mm));
        EXPECT_DOUBLE_EQ(g.ppmm, 500.0 / 65);
        EXPECT_DOUBLE_EQ(g.ph, 500);
        EXPECT_DOUBLE_EQ(g.pw, 500);
    }
    const Geometry tiny = patchGeometry({"--mm", "0.5", "0.25"}, exampleScreen({0, 0}));
    EXPECT_DOUBLE_EQ(tiny.ppmm, 500);
    EXPECT_DOUBLE_EQ(tiny.pw, 250);
}

TEST(PatchGeometryScale, UsesOnlyThePhysicalHeight)
{
    const Geometry g = patchGeometry({}, exampleScreen({9999, 250}));
    EXPECT_DOUBLE_EQ(g.ppmm, 4.0);
}

struct PositionCase {
    Rect rect;
    const char* text;
};

class Position : public ::testing::TestWithParam<PositionCase> {};

TEST_P(Position, GivesTheCentreAsFractionsFromTheTopLeft)
{
    EXPECT_EQ(position(GetParam().rect, 1600, 1000), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rects, Position,
    ::testing::Values(PositionCase{{670, 370, 260, 260}, "0.50000 0.50000"},
                      PositionCase{{270, 620, 260, 260}, "0.25000 0.25000"},
                      PositionCase{{-130, 870, 260, 260}, "0.00000 0.00000"},
                      PositionCase{{1470, -130, 260, 260}, "1.00000 1.00000"},
                      PositionCase{{-330, 370, 260, 260}, "-0.12500 0.50000"},
                      PositionCase{{403.333333, 370, 260, 260}, "0.33333 0.50000"}));

TEST(Position, IgnoresADecimalCommaLocale)
{
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not generated on this machine";
    EXPECT_EQ(position({670, 370, 260, 260}, 1600, 1000), "0.50000 0.50000");
    std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace pp
