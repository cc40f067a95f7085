#include "platform/wayland/wayland_screens.hpp"

#include <gtest/gtest.h>

namespace pp::wayland {
namespace {

OutputState headless()
{
    OutputState o;
    o.registryName = 41;
    o.make = "headless";
    o.model = "headless";
    o.modeWidth = 1280;
    o.modeHeight = 720;
    o.name = "HEADLESS-1";
    o.done = true;
    return o;
}

struct NameCase {
    const char* what;
    std::string description, xdgDescription, make, model, name, xdgName;
    std::string wantName, wantOutput;
};

class ScreenName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ScreenName, DescriptionElseMakeAndModelElseConnector)
{
    const NameCase& c = GetParam();
    OutputState o = headless();
    o.description = c.description;
    o.xdgDescription = c.xdgDescription;
    o.make = c.make;
    o.model = c.model;
    o.name = c.name;
    o.xdgName = c.xdgName;
    const Screen s = screenOf(o);
    EXPECT_EQ(s.name, c.wantName);
    EXPECT_EQ(s.outputName, c.wantOutput);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ScreenName,
    ::testing::Values(NameCase{"output description", "Office panel", "xdg text", "Acme", "X1", "DP-1", "DP-9",
                               "Office panel", "DP-1"},
                      NameCase{"xdg description", "", "Lab panel", "Acme", "X1", "", "DP-2", "Lab panel", "DP-2"},
                      NameCase{"make and model", "", "", "Acme", "X1", "DP-3", "", "Acme X1", "DP-3"},
                      NameCase{"make only", "", "", "Acme", "unknown", "DP-3", "", "Acme", "DP-3"},
                      NameCase{"connector", "", "", "", "Unknown", "HDMI-A-1", "", "HDMI-A-1", "HDMI-A-1"},
                      NameCase{"blank description", " ", " ", "", "", "Virtual-1", "", "Virtual-1", "Virtual-1"},
                      NameCase{"blanks around", " WL-0 ", "", "", "", "Virtual-1", "", "WL-0", "Virtual-1"},
                      NameCase{"nothing at all", "", "", "", "", "", "", "", ""}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (ch == ' ') ch = '_';
        return n;
    });

struct GeometryCase {
    int modeW, modeH, scale, transform;
    bool logical;
    int lx, ly, lw, lh;
    Rect wantFrame;
    double wantScale;
};

class ScreenGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(ScreenGeometry, FrameInPointsAndDevicePixelsPerPoint)
{
    const GeometryCase& c = GetParam();
    OutputState o = headless();
    o.modeWidth = c.modeW;
    o.modeHeight = c.modeH;
    o.scale = c.scale;
    o.transform = c.transform;
    o.x = 7;
    o.y = 9;
    o.haveLogical = c.logical;
    o.logicalX = c.lx;
    o.logicalY = c.ly;
    o.logicalWidth = c.lw;
    o.logicalHeight = c.lh;
    const Screen s = screenOf(o);
    EXPECT_EQ(s.frame, c.wantFrame);
    EXPECT_DOUBLE_EQ(s.scale, c.wantScale);
    EXPECT_EQ(s.pixelsWide, c.modeW);
    EXPECT_EQ(s.pixelsHigh, c.modeH);
    EXPECT_EQ(s.number, 41u);
    EXPECT_EQ(s.bitsPerSample, 8);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ScreenGeometry,
    ::testing::Values(
        // Logical rectangles from xdg-output win; the scale follows from the mode.
        GeometryCase{1280, 720, 1, 0, true, 1280, 0, 1280, 720, {1280, 0, 1280, 720}, 1},
        GeometryCase{2560, 1440, 2, 0, true, 0, 0, 1280, 720, {0, 0, 1280, 720}, 2},
        GeometryCase{3840, 2160, 2, 0, true, 0, 0, 2560, 1440, {0, 0, 2560, 1440}, 1.5},
        // A turned output measures its scale across its mode's height.
        GeometryCase{2560, 1440, 2, 1, true, 0, 0, 720, 1280, {0, 0, 720, 1280}, 2},
        // Without xdg-output: the position and the mode over the integer scale.
        GeometryCase{2560, 1440, 2, 0, false, 0, 0, 0, 0, {7, 9, 1280, 720}, 2},
        GeometryCase{1920, 1080, 0, 0, false, 0, 0, 0, 0, {7, 9, 1920, 1080}, 1}));

TEST(ScreenOf, PhysicalSizeNeverNegative)
{
    OutputState o = headless();
    o.mmWidth = -1;
    o.mmHeight = 300;
    EXPECT_EQ(screenOf(o).mm, (Size{0, 300}));
}

// The colour-management protocol's values by its own names; values it did not name say what they are.
TEST(ColourNames, AreTheProtocolsOwn)
{
    const std::vector<std::pair<std::string, std::string>> names = {
        {primariesName(1), "srgb"},           {primariesName(6), "bt2020"},        {primariesName(10), "adobe_rgb"},
        {primariesName(0), "primaries 0"},    {primariesName(11), "primaries 11"}, {transferName(2), "gamma22"},
        {transferName(11), "st2084_pq"},      {transferName(13), "hlg"},           {transferName(14), "compound_power_2_4"},
        {transferName(15), "tf 15"},          {powerTransferName(24000), "power 2.4"},
        {powerTransferName(22000), "power 2.2"}, {powerTransferName(10000), "power 1"},
        {powerTransferName(24505), "power 2.4505"}, {powerTransferName(20050), "power 2.005"}};
    for (const auto& [got, want] : names) EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace pp::wayland
