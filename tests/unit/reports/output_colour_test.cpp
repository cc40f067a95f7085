// What the reports say of a colour-managed output: the profile's name, its calibration curve, the
// display list's "colour" member; and the null that only the list may hold.
#include "reports/output_colour.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "colour_test_profiles.hpp"
#include "platform/headless/headless_displays.hpp"
#include "reports/display_list.hpp"
#include "reports/profile_name.hpp"
#include "reports/status_report.hpp"

namespace pp {
namespace {

using test::ownProfileBytes;

OutputColour parametric(std::string primaries, std::vector<double> values, std::string transfer,
                        std::vector<double> luminance = {})
{
    OutputColour c;
    c.primaries = std::move(primaries);
    c.primaryValues = std::move(values);
    c.transfer = std::move(transfer);
    c.luminance = std::move(luminance);
    return c;
}

const std::vector<double> BT2020_VALUES = {0.708, 0.292, 0.17, 0.797, 0.131, 0.046, 0.3127, 0.329};

struct NameCase {
    const char* what;
    OutputColour colour;
    std::string profile;   // colourProfileName
    std::string listed;    // the display list's member, as JSON text
};

class DescribedOutput : public ::testing::TestWithParam<NameCase> {};

TEST_P(DescribedOutput, IsNamedAndListedByWhatTheCompositorSaid)
{
    const NameCase& c = GetParam();
    EXPECT_EQ(colourProfileName(c.colour), c.profile);
    Screen screen;
    screen.colour = std::make_shared<const OutputColour>(c.colour);
    EXPECT_EQ(jsonText(colourMember(screen)), c.listed);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, DescribedOutput,
    ::testing::Values(
        NameCase{"hdr10", parametric("bt2020", BT2020_VALUES, "st2084_pq", {0.005, 10000, 203}), "bt2020 st2084_pq",
                 R"({"primaries":"bt2020","tf":"st2084_pq","luminance":[0.005,10000,203]})"},
        NameCase{"numbers", parametric("", BT2020_VALUES, "power 2.4"),
                 "0.708,0.292,0.17,0.797,0.131,0.046,0.3127,0.329 power 2.4",
                 R"({"primaries":[0.708,0.292,0.17,0.797,0.131,0.046,0.3127,0.329],"tf":"power 2.4"})"},
        NameCase{"no transfer", parametric("srgb", {}, ""), "srgb", R"({"primaries":"srgb"})"},
        NameCase{"nothing said", parametric("", {}, ""), "", "{}"},
        NameCase{"profile", OutputColour{ownProfileBytes("Panel profile", 0), "srgb", {}, "gamma22", {}}, "Panel profile",
                 R"({"icc":"Panel profile"})"},
        NameCase{"unreadable profile", OutputColour{{1, 2, 3}, "", {}, "", {}}, "", R"({"icc":""})"}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(CalibrationCurve, IsTheProfilesVcgtSampledEvenly)
{
    OutputColour calibrated;
    calibrated.icc = ownProfileBytes("Calibrated", 1.25);
    const TransferTable table = calibrationCurve(calibrated, 256);
    for (const auto* channel : {&table.red, &table.green, &table.blue}) {
        ASSERT_EQ(channel->size(), 256u);
        for (int i = 0; i < 256; i += 15) EXPECT_NEAR((*channel)[i], std::pow(i / 255.0, 1.25), 1e-3) << i;
        EXPECT_FLOAT_EQ(channel->back(), 1.0f);
    }
    EXPECT_EQ(calibrationCurve(calibrated, 3).red.size(), 3u);

    // No curve: a profile without the tag, a parametric output, bytes that are no profile.
    OutputColour plain;
    plain.icc = ownProfileBytes("Plain", 0);
    for (const OutputColour& none : {plain, parametric("bt2020", {}, "st2084_pq"), OutputColour{{1, 2}, "", {}, "", {}}}) {
        const TransferTable empty = calibrationCurve(none, 256);
        EXPECT_TRUE(empty.red.empty() && empty.green.empty() && empty.blue.empty());
    }
}

// On a colour-managed output the report names the compositor's description and gives its curve,
// whatever the window system advertises otherwise; elsewhere nothing changes.
TEST(ColourManagedReport, NamesTheDescriptionAndGivesItsCurve)
{
    Screen screen = headless::headlessScreen(5, {0, 0, 800, 600}, {0, 0});
    headless::HeadlessDisplays displays;
    displays.screenList = {screen};
    displays.ramps[5] = {{0, 1}, {0, 1}, {0, 1}};
    const Geometry geometry = patchGeometry({}, screen);
    const PatchView view(1);
    auto report = [&] {
        const DisplayReading reading = displays.displayReading(5, GAMMA_TABLE_CAPACITY);
        return nlohmann::json::parse(
            info(screen, geometry, view, reading, profileName(reading.advertisedProfile, nullptr, *reading.screen)));
    };
    EXPECT_EQ(report()["gamma_table"], nlohmann::json::parse("[[0,1],[0,1],[0,1]]"));
    EXPECT_EQ(report()["profile"], "");

    OutputColour described;
    described.icc = ownProfileBytes("Calibrated", 2);
    displays.screenList[0].colour = std::make_shared<const OutputColour>(described);
    const auto managed = report();
    EXPECT_EQ(managed["profile"], "Calibrated");
    ASSERT_EQ(managed["gamma_table"][2].size(), 256u);
    EXPECT_NEAR(managed["gamma_table"][2][128].get<double>(), std::pow(128 / 255.0, 2), 1e-3);

    displays.screenList[0].colour = std::make_shared<const OutputColour>(parametric("bt2020", {}, "st2084_pq"));
    EXPECT_EQ(report()["profile"], "bt2020 st2084_pq");
    EXPECT_EQ(report()["gamma_table"], nlohmann::json::parse("[[],[],[]]"));
}

TEST(DisplayListColour, IsNullWithoutColourManagementAndOnlyTheListWritesNull)
{
    headless::HeadlessDisplays displays;
    displays.screenList = {headless::headlessScreen(1, {0, 0, 800, 600}, {0, 0})};
    const RoadOutcome listed = listDisplaysRoad(displays);
    EXPECT_NE(listed.line.find(R"("colour":null})"), std::string::npos) << listed.line;
    EXPECT_EQ(jsonText(JsonObject{{"a", nullptr}}), "");
    EXPECT_EQ(jsonText(JsonObject{{"a", nullptr}}, JsonNull::written), R"({"a":null})");
}

}  // namespace
}  // namespace pp
