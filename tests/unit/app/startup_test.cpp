#include "app/startup.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include "platform/headless/headless_displays.hpp"

namespace pp {
namespace {

TEST(ChooseScreen, TakesTheAskedNumberElseTheMainScreenAndNeverFallsBack)
{
    headless::HeadlessDisplays withMain, withoutMain, none;
    withMain.screenList = {headless::headlessScreen(1, {0, 0, 1600, 1000}), headless::headlessScreen(2, {1600, 0, 1280, 1024})};
    withMain.primary = 2;
    withoutMain.screenList = withMain.screenList;
    struct Case {
        headless::HeadlessDisplays* displays;
        std::optional<std::uint32_t> wanted, chosen;
        std::string error;
    };
    const Case cases[] = {
        {&withMain, std::nullopt, 2u, ""},
        {&withoutMain, std::nullopt, 1u, ""},
        {&withMain, 1u, 1u, ""},
        {&withMain, 7u, std::nullopt, "error no screen 7"},
        {&withMain, 0u, std::nullopt, "error no screen 0"},
        {&none, std::nullopt, std::nullopt, "error no screen main"},
        {&none, 4294967295u, std::nullopt, "error no screen 4294967295"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted ? std::to_string(*c.wanted) : "no number");
        const ScreenChoice choice = chooseScreen(*c.displays, c.wanted);
        EXPECT_EQ(choice.screen ? std::optional(choice.screen->number) : std::nullopt, c.chosen);
        EXPECT_EQ(choice.error, c.error);
    }
}

TEST(ChooseRoad, KeepsTheWordGivenToAssignOrConnect)
{
    const auto assign = chooseRoad({"prog", "--assign", "none"});
    EXPECT_EQ(assign.road, Road::assign);
    EXPECT_EQ(assign.assignValue, "none");
    const auto network = chooseRoad({"prog", "--display", "3", "--connect", "127.0.0.1:5000"});
    EXPECT_EQ(network.road, Road::connect);
    EXPECT_EQ(network.connectValue, "127.0.0.1:5000");
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
    EXPECT_EQ(chooseRoad(GetParam().words).road, GetParam().road);
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
        RoadCase{{"--profile-state"}, Road::profileState},  // the program name counts too
        RoadCase{{"prog", "--assign", "x.icc"}, Road::assign},
        RoadCase{{"prog", "--connect", "h", "--assign", "none"}, Road::assign},
        RoadCase{{"prog", "--connect", "h", "--list-displays"}, Road::listDisplays},
        RoadCase{{"prog", "--mm", "1", "2", "--assign"}, Road::presenter},  // --assign without its word
        RoadCase{{"prog", "--connect"}, Road::presenter},
        RoadCase{{"--assign", "x"}, Road::presenter},  // the program name is no option
        RoadCase{{"prog", "-help", "--HELP", "help", "--version=1", "--list-display", "-V"}, Road::presenter},
        RoadCase{{"prog"}, Road::presenter},
        RoadCase{{}, Road::presenter}));

}  // namespace
}  // namespace pp
