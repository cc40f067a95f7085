#include "reports/status_report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/headless/headless_displays.hpp"

namespace pp {
namespace {

using Json = nlohmann::ordered_json;

// Answers with a full table whatever the capacity, as a platform that ignores it would.
class UncutDisplays : public headless::HeadlessDisplays {
public:
    TransferTable table;
    TransferTable transferTable(std::uint32_t, std::size_t) override { return table; }
};

struct ReportFixture : ::testing::Test {
    Screen screen = headless::headlessScreen(1, {0, 0, 2560, 1440}, {597, 336});
    headless::HeadlessDisplays displays;
    Geometry geometry;
    PatchView view{0};

    void SetUp() override
    {
        screen.name = "Panel A";
        displays.screenList = {screen};
        displays.ramps[1] = {{0, 0.5f, 1}, {0, 0.5f, 1}, {0, 0.5f, 1}};
        geometry = patchGeometry({}, screen);
        view = PatchView(geometry.ppmm);
        view.patch = geometry.patchRect;
    }
    Json report(std::string_view profile = "") { return Json::parse(info(screen, geometry, view, displays, profile)); }
};

bool holdsNull(const Json& value)
{
    if (value.is_null()) return true;
    if (!value.is_structured()) return false;
    for (const auto& element : value) {
        if (holdsNull(element)) return true;
    }
    return false;
}

TEST_F(ReportFixture, WritesTheTwelveMembersInOrderOnOneLine)
{
    EXPECT_EQ(info(screen, geometry, view, displays, "Measured panel"),
              R"({"platform":"linux","display_id":1,"name":"Panel A","pixels":[2560,1440],"size_mm":[597,336],)"
              R"("patch_mm":[65,65],"position":[0.5,0.5],"shift_mm":[0,0],"profile":"Measured panel",)"
              R"("surround":"black, the whole screen","paint":"dither","gamma_table":[[0,0.5,1],[0,0.5,1],[0,0.5,1]]})");
}

TEST_F(ReportFixture, WritesTheDisplayNumberAsAnUnsignedInteger)
{
    screen.number = 4294967295u;
    const Json r = report();
    EXPECT_TRUE(r["display_id"].is_number_unsigned());
    EXPECT_EQ(r["display_id"].get<std::uint64_t>(), 4294967295u);
    EXPECT_EQ(r["name"], "Panel A");  // no longer listed: the chosen screen's values stand
    EXPECT_EQ(r["profile"], "");
}

TEST_F(ReportFixture, RoundsThePositionToFiveDecimalsMeasuredFromTheTop)
{
    view.patch = {2560.0 / 3 - 10, 1440 - 10, 20, 20};  // centre at a third of the width, on the top edge
    EXPECT_EQ(report()["position"], Json::array({0.33333, 0}));
    view.patch.y = -10;  // bottom edge
    EXPECT_EQ(report()["position"][1], 1);
}

TEST_F(ReportFixture, FollowsTheViewButKeepsTheStartUpShiftAndSize)
{
    geometry = patchGeometry({"--shift", "10", "-5.5"}, screen);
    view.mode = Mode::flat;
    view.surround = {20, 20, 20};
    view.patch.x += 256;
    const Json r = report();
    EXPECT_EQ(r["paint"], "flat");
    EXPECT_EQ(r["surround"], "black, the whole screen");
    EXPECT_EQ(r["position"][0], 0.6);
    EXPECT_EQ(r["shift_mm"], Json::array({10, -5.5}));
}

TEST_F(ReportFixture, ReadsPixelsAndNameAfreshAndSizeFromStartUp)
{
    screen.mm = {0, 0};
    geometry = patchGeometry({}, screen);
    displays.screenList[0].pixelsWide = 1280;
    displays.screenList[0].name = "renamed";
    const Json r = report();
    EXPECT_EQ(r["pixels"], Json::array({1280, 1440}));
    EXPECT_EQ(r["name"], "renamed");
    EXPECT_EQ(r["size_mm"], Json::array({0, 0}));
    EXPECT_NEAR(r["patch_mm"][0].get<double>(), 65, 1e-12);
    EXPECT_NEAR(r["patch_mm"][1].get<double>(), 65, 1e-12);
}

TEST_F(ReportFixture, CutsTheGammaTableTo256EntriesWidenedExactly)
{
    UncutDisplays uncut;
    uncut.screenList = {screen};
    for (int i = 0; i < 1024; ++i) {
        const float v = static_cast<float>(i) / 1023.0f;
        uncut.table.red.push_back(v);
        uncut.table.green.push_back(v / 2);
        uncut.table.blue.push_back(1 - v);
    }
    const Json gamma = Json::parse(info(screen, geometry, view, uncut))["gamma_table"];
    for (const auto& channel : gamma) ASSERT_EQ(channel.size(), 256u);
    EXPECT_EQ(gamma[0][255].get<double>(), static_cast<double>(uncut.table.red[255]));
    EXPECT_EQ(gamma[1][3].get<double>(), static_cast<double>(uncut.table.green[3]));
    EXPECT_EQ(gamma[2][0].get<double>(), 1.0);

    displays.ramps.clear();
    EXPECT_EQ(report()["gamma_table"], Json::parse("[[],[],[]]"));
}

TEST_F(ReportFixture, NeverWritesNullOrANonFiniteNumber)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    displays.ramps[1] = {{std::numeric_limits<float>::quiet_NaN(), 0.5f}, {std::numeric_limits<float>::infinity(), 1}, {0, 1}};
    geometry.sw = 0;  // a degenerate screen: the x fraction is not a number
    geometry.mm = {nan, 3};
    const std::string text = info(screen, geometry, view, displays, "a/b");
    ASSERT_TRUE(Json::accept(text)) << text;
    const Json r = Json::parse(text);
    EXPECT_FALSE(holdsNull(r));
    EXPECT_EQ(r["gamma_table"][0][0], 0);
    EXPECT_EQ(r["gamma_table"][1][0], 0);
    EXPECT_EQ(r["position"][0], 0);
    EXPECT_EQ(r["size_mm"][0], 0);
    EXPECT_EQ(r["profile"], "a/b");
    EXPECT_NE(text.find(R"("a\/b")"), std::string::npos);
}

TEST(DisplayReading, GivesTheListedScreenItsSampledTableAndProfileAndNoScreenWhenUnlisted)
{
    headless::HeadlessDisplays displays;
    Screen one = headless::headlessScreen(1, {0, 0, 800, 600});
    one.name = "Panel A";
    Screen two = headless::headlessScreen(2, {800, 0, 1024, 768});
    two.name = "Panel B";
    displays.screenList = {one, two};
    displays.ramps[1] = {std::vector<float>(300, 0.25f), std::vector<float>(300, 0.5f), std::vector<float>(300, 1)};
    displays.profiles[2] = {'i', 'c', 'c'};
    struct Case {
        std::uint32_t number;
        const char* name;  // nullptr: not listed
        std::size_t entries;
        std::vector<std::uint8_t> profile;
    };
    for (const Case& c : std::vector<Case>{{1, "Panel A", 256, {}}, {2, "Panel B", 0, {'i', 'c', 'c'}}, {7, nullptr, 0, {}}}) {
        SCOPED_TRACE(c.number);
        const DisplayReading reading = displays.displayReading(c.number, 256);
        ASSERT_EQ(reading.screen.has_value(), c.name != nullptr);
        if (c.name) {
            EXPECT_EQ(reading.screen->number, c.number);
            EXPECT_EQ(reading.screen->name, c.name);
        }
        EXPECT_EQ(reading.transfer.red.size(), c.entries);
        EXPECT_EQ(reading.transfer.blue.size(), c.entries);
        EXPECT_EQ(reading.advertisedProfile, c.profile);
    }
    EXPECT_EQ(displays.displayReading(1, 256).transfer.green.at(255), 0.5f);
}

TEST_F(ReportFixture, AReadingMadeBeforehandGivesTheSameReportAndItsOwnValues)
{
    EXPECT_EQ(info(screen, geometry, view, displays.displayReading(1, GAMMA_TABLE_CAPACITY), "p"),
              info(screen, geometry, view, displays, "p"));

    DisplayReading reading;
    reading.screen = screen;
    reading.screen->name = "read now";
    reading.screen->pixelsWide = 1280;
    reading.transfer = {{0.25f}, {0.5f}, {0.75f}};
    Json r = Json::parse(info(screen, geometry, view, reading));
    EXPECT_EQ(r["name"], "read now");
    EXPECT_EQ(r["pixels"], Json::array({1280, 1440}));
    EXPECT_EQ(r["gamma_table"], Json::parse("[[0.25],[0.5],[0.75]]"));

    reading.screen.reset();  // no longer listed: the chosen screen's values stand
    r = Json::parse(info(screen, geometry, view, reading));
    EXPECT_EQ(r["name"], "Panel A");
    EXPECT_EQ(r["pixels"], Json::array({2560, 1440}));
}

}  // namespace
}  // namespace pp
