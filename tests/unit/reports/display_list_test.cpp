#include "reports/display_list.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "platform/headless/headless_displays.hpp"

namespace pp {
namespace {

// A screen with every member the list shows set to its own value.
Screen screen(std::uint32_t number, const char* output, const char* name, Rect frame, Size mm, int pixelsWide,
              int pixelsHigh, double scale, int bits)
{
    Screen s = headless::headlessScreen(number, frame, mm);
    s.outputName = output;
    s.name = name;
    s.pixelsWide = pixelsWide;
    s.pixelsHigh = pixelsHigh;
    s.scale = scale;
    s.bitsPerSample = bits;
    return s;
}

struct ListCase {
    const char* what;
    std::vector<Screen> screens;
    std::optional<std::uint32_t> primary;
    const char* text;
};

void PrintTo(const ListCase& c, std::ostream* out)
{
    *out << c.what;
}

class DisplayListCase : public ::testing::TestWithParam<ListCase> {};

TEST_P(DisplayListCase, ListsEveryScreenInOrderWithTheMainOneMarked)
{
    headless::HeadlessDisplays displays;
    displays.screenList = GetParam().screens;
    displays.primary = GetParam().primary;
    const RoadOutcome outcome = listDisplaysRoad(displays);
    EXPECT_EQ(outcome.line, GetParam().text) << GetParam().what;
    EXPECT_EQ(outcome.status, 0) << GetParam().what;
}

const double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
const double INF_VALUE = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Screens, DisplayListCase,
    ::testing::Values(
        ListCase{"one screen without physical size",
                 {screen(66, "screen", "screen", {0, 0, 1920, 1080}, {0, 0}, 1920, 1080, 1, 8)},
                 std::nullopt,
                 R"([{"display_id":66,"name":"screen","output":"screen","main":true,"frame":[0,0,1920,1080],)"
                 R"("pixels":[1920,1080],"size_mm":[0,0],"scale":1,"bits":8,"colour":null}])"},
        ListCase{"the primary is main, not the first; order kept",
                 {screen(7, "DP-1", "Wide/One", {0, 0, 1600, 1000}, {400, 250}, 1600, 1000, 1, 10),
                  screen(4294967295u, "HDMI-2", "Écran \"B\"", {1600, -200, 1280, 1024}, {340.5, 270}, 1280,
                         1024, 1, 8)},
                 4294967295u,
                 R"([{"display_id":7,"name":"Wide\/One","output":"DP-1","main":false,"frame":[0,0,1600,1000],)"
                 R"("pixels":[1600,1000],"size_mm":[400,250],"scale":1,"bits":10,"colour":null},)"
                 R"({"display_id":4294967295,"name":"Écran \"B\"","output":"HDMI-2","main":true,)"
                 R"("frame":[1600,-200,1280,1024],"pixels":[1280,1024],"size_mm":[340.5,270],"scale":1,"bits":8,"colour":null}])"},
        ListCase{"a scaled screen: frame in points, pixels in device pixels",
                 {screen(3, "eDP-1", "Panel", {0, 0, 1536, 864}, {344, 194}, 3840, 2160, 2.5, 8),
                  screen(9, "DP-2", "DP-2", {1536, 0, 960, 540.5}, {0, 0}, 1920, 1081, 2, 8)},
                 std::nullopt,
                 R"([{"display_id":3,"name":"Panel","output":"eDP-1","main":true,"frame":[0,0,1536,864],)"
                 R"("pixels":[3840,2160],"size_mm":[344,194],"scale":2.5,"bits":8,"colour":null},)"
                 R"({"display_id":9,"name":"DP-2","output":"DP-2","main":false,"frame":[1536,0,960,540.5],)"
                 R"("pixels":[1920,1081],"size_mm":[0,0],"scale":2,"bits":8,"colour":null}])"},
        ListCase{"a primary that is not attached: the first is main",
                 {screen(1, "A", "A", {0, 0, 10, 10}, {}, 10, 10, 1, 8),
                  screen(2, "B", "B", {10, 0, 10, 10}, {}, 10, 10, 1, 8)},
                 5u,
                 R"([{"display_id":1,"name":"A","output":"A","main":true,"frame":[0,0,10,10],"pixels":[10,10],)"
                 R"("size_mm":[0,0],"scale":1,"bits":8,"colour":null},{"display_id":2,"name":"B","output":"B","main":false,)"
                 R"("frame":[10,0,10,10],"pixels":[10,10],"size_mm":[0,0],"scale":1,"bits":8,"colour":null}])"},
        ListCase{"non-finite numbers are written as 0",
                 {screen(5, "X", "X", {NAN_VALUE, 0, INF_VALUE, 10}, {NAN_VALUE, -INF_VALUE}, 10, 10, NAN_VALUE,
                         8)},
                 std::nullopt,
                 R"([{"display_id":5,"name":"X","output":"X","main":true,"frame":[0,0,0,10],"pixels":[10,10],)"
                 R"("size_mm":[0,0],"scale":0,"bits":8,"colour":null}])"}));

TEST(DisplayList, WithoutScreensThereIsNoMainScreen)
{
    headless::HeadlessDisplays none;
    EXPECT_EQ(listDisplaysRoad(none), (RoadOutcome{"error no screen main", 1}));
}

TEST(DisplayList, MarksExactlyOneScreenMainWhateverTheOrder)
{
    headless::HeadlessDisplays displays;
    for (std::uint32_t n = 1; n <= 16; ++n) displays.screenList.push_back(headless::headlessScreen(n, {}));
    for (std::uint32_t primary = 1; primary <= 16; ++primary) {
        displays.primary = primary;
        const JsonObject list = displayList(displays);
        ASSERT_EQ(list.size(), 16u);
        int mains = 0;
        for (const auto& entry : list) {
            if (entry["main"].get<bool>()) {
                ++mains;
                EXPECT_EQ(entry["display_id"].get<std::uint32_t>(), primary);
            }
        }
        EXPECT_EQ(mains, 1) << primary;
    }
}

}  // namespace
}  // namespace pp
