#include "app/startup.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include "platform/headless/headless_displays.hpp"

namespace pp {
namespace {

headless::HeadlessDisplays twoScreens()
{
    headless::HeadlessDisplays displays;
    displays.screenList = {headless::headlessScreen(1, {0, 0, 1600, 1000}),
                           headless::headlessScreen(2, {1600, 0, 1280, 1024})};
    displays.primary = 2;
    return displays;
}

TEST(ChooseScreen, TakesTheMainScreenWithoutANumber)
{
    auto displays = twoScreens();
    EXPECT_EQ(chooseScreen(displays, std::nullopt).screen->number, 2u);
    displays.primary.reset();
    EXPECT_EQ(chooseScreen(displays, std::nullopt).screen->number, 1u);
}

TEST(ChooseScreen, TakesTheAskedNumberAndNeverFallsBack)
{
    auto displays = twoScreens();
    EXPECT_EQ(chooseScreen(displays, 1u).screen->number, 1u);
    const auto missing = chooseScreen(displays, 7u);
    EXPECT_FALSE(missing.screen);
    EXPECT_EQ(missing.error, "error no screen 7");
    EXPECT_EQ(chooseScreen(displays, 0u).error, "error no screen 0");
}

TEST(ChooseScreen, ReportsNoMainScreenWithoutScreens)
{
    headless::HeadlessDisplays none;
    EXPECT_EQ(chooseScreen(none, std::nullopt).error, "error no screen main");
    EXPECT_EQ(chooseScreen(none, 4294967295u).error, "error no screen 4294967295");
}

TEST(ChooseRoad, ProfileStateWinsOverAssignAnywhere)
{
    EXPECT_EQ(chooseRoad({"prog", "--assign", "x.icc", "--profile-state"}).road, Road::profileState);
    EXPECT_EQ(chooseRoad({"--profile-state"}).road, Road::profileState);  // the program name counts too
    const auto assign = chooseRoad({"prog", "--assign", "none"});
    EXPECT_EQ(assign.road, Road::assign);
    EXPECT_EQ(assign.assignValue, "none");
    EXPECT_EQ(chooseRoad({"prog", "--mm", "1", "2", "--assign"}).road, Road::presenter);
    EXPECT_EQ(chooseRoad({"--assign", "x"}).road, Road::presenter);  // the program name is no option
}

TEST(ChooseRoad, ConnectWithAWordIsTheNetworkRoadAfterAssign)
{
    const auto network = chooseRoad({"prog", "--display", "3", "--connect", "127.0.0.1:5000"});
    EXPECT_EQ(network.road, Road::connect);
    EXPECT_EQ(network.connectValue, "127.0.0.1:5000");
    EXPECT_EQ(chooseRoad({"prog", "--connect", "h", "--assign", "none"}).road, Road::assign);
    EXPECT_EQ(chooseRoad({"prog", "--connect", "h", "--list-displays"}).road, Road::listDisplays);
    EXPECT_EQ(chooseRoad({"prog", "--connect"}).road, Road::presenter);  // no word: no road of its own
}

struct RoadCase {
    Words words;  // the whole command line, program name first
    Road road;
};

void PrintTo(const RoadCase& c, std::ostream* out)
{
    for (const auto& word : c.words) *out << word << ' ';
}

class ChooseRoadCase : public ::testing::TestWithParam<RoadCase> {};

TEST_P(ChooseRoadCase, TakesTheRoadOfHighestPrecedenceFoundAnywhere)
{
    const auto& words = GetParam().words;
    std::string line;
    for (const auto& word : words) line += word + " ";
    EXPECT_EQ(chooseRoad(words).road, GetParam().road) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, ChooseRoadCase,
    ::testing::Values(
        RoadCase{{"prog", "--help"}, Road::help},
        RoadCase{{"prog", "--mm", "10", "10", "--help", "--display", "3"}, Road::help},
        RoadCase{{"prog", "--version", "--list-displays", "--profile-state", "--assign", "x", "--help"}, Road::help},
        RoadCase{{"prog", "--assign", "--help"}, Road::help},  // an option's word is a word like any other
        RoadCase{{"prog", "--profile-state", "--list-displays", "--version"}, Road::version},
        RoadCase{{"prog", "--display", "2", "--version"}, Road::version},
        RoadCase{{"prog", "--assign", "x.icc", "--profile-state", "--list-displays"}, Road::listDisplays},
        RoadCase{{"prog", "--list-displays", "--display", "99"}, Road::listDisplays},
        RoadCase{{"prog", "--assign", "x.icc", "--profile-state"}, Road::profileState},
        RoadCase{{"prog", "--assign", "x.icc"}, Road::assign},
        RoadCase{{"prog", "-help", "--HELP", "help", "--version=1", "--list-display", "-V"}, Road::presenter},
        RoadCase{{"prog"}, Road::presenter},
        RoadCase{{}, Road::presenter}));

}  // namespace
}  // namespace pp
