// The window where the report says it is, on a desktop that moves, hides or un-fullscreens it: every
// "painted" is the colour on the chosen output, or the run ends with an error line and status 1.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

#include "compositor.hpp"
#include "wayland_presenter_session.hpp"

namespace pp::test {
namespace {

struct Disturbance {
    const char* name;
    std::vector<std::string> commands;  // sway commands; OTHER stands for the other output's name
    bool coverWithClient = false;       // another client goes full-screen on the chosen output
};

void PrintTo(const Disturbance& value, std::ostream* out)
{
    *out << value.name;
}

class WaylandPlacement : public ::testing::TestWithParam<Disturbance> {};

TEST_P(WaylandPlacement, PaintedIsOnTheChosenOutputOrTheRunEnds)
{
    auto sway = startSwayWithTwoOutputs();
    const auto list = nlohmann::json::parse(runToEnd({"--list-displays"}, sway->env()).output);
    ASSERT_EQ(list.size(), 2u);
    const std::string chosen = list.at(1)["output"];
    const std::string other = list.at(0)["output"];
    WaylandPresenterSession session(*sway, {"--display", std::to_string(list.at(1)["display_id"].get<long>())});
    ASSERT_TRUE(painted(session.ask("rgb 10 20 30")));

    std::unique_ptr<ChildProcess> cover;
    if (GetParam().coverWithClient) {
        cover = std::make_unique<ChildProcess>(
            std::vector<std::string>{PP_WAYLAND_TEST_CLIENT, "--colour", "01FE80", "--output", chosen}, sway->env());
        ASSERT_TRUE(startsWith(cover->readLine().value_or(""), "configured"));
    }
    for (std::string command : GetParam().commands) {
        if (const auto at = command.find("OTHER"); at != std::string::npos) command.replace(at, 5, other);
        sway->swaymsg("[app_id=patch-presenter] " + command);
    }
    for (int i = 0; i < 3; ++i) {
        const Rgb colour{255, 255, std::uint8_t(i * 100)};
        const std::string reply = session.ask("rgb " + std::to_string(colour.r) + " " + std::to_string(colour.g) +
                                              " " + std::to_string(colour.b));
        if (reply.rfind("painted ", 0) == 0) {
            EXPECT_EQ(session.screen(chosen).at(320, 240), colour) << "painted, but not shown on " << chosen;
            continue;
        }
        const std::set<std::string> endings = {"error window does not cover the display",
                                               "error display does not show the window"};
        EXPECT_TRUE(endings.count(reply)) << reply;
        EXPECT_EQ(session.child().wait(), 1);
        return;
    }
}

const Disturbance DISTURBANCES[] = {
    {"MovedToTheOtherOutput", {"move to output OTHER"}},
    {"FloatedAndMoved", {"fullscreen disable, floating enable, move position 300 250"}},
    {"FullscreenDisabled", {"fullscreen disable"}},
    {"MovedToAHiddenWorkspace", {"move to workspace 9"}},
    {"CoveredByAnotherFullScreenClient", {}, true},
};

INSTANTIATE_TEST_SUITE_P(Sway, WaylandPlacement, ::testing::ValuesIn(DISTURBANCES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pp::test
