// The colour-profile roads on Wayland: the colord device is the one whose XRANDR_name is the output's
// connector name, as on X11.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "colour_test_profiles.hpp"
#include "compositor.hpp"
#include "private_colord.hpp"
#include "wayland_presenter_session.hpp"

namespace pp::test {
namespace {

TEST(WaylandColourRoads, FindTheDeviceByTheOutputsConnectorName)
{
    auto sway = startSwayWithTwoOutputs();
    auto colord = PrivateColord::start();
    auto env = sway->env();
    for (const auto& [name, value] : colord->environment()) env[name] = value;

    const RunResult listed = runToEnd({"--list-displays"}, env);
    ASSERT_EQ(listed.status, 0) << listed.output;
    const auto list = nlohmann::json::parse(listed.output);
    ASSERT_EQ(list.size(), 2u);
    const std::string second = list.at(1)["output"];
    const std::string number = std::to_string(list.at(1)["display_id"].get<long>());

    // Only the second output has a device: the first has none.
    const std::string device = colord->createDisplayDevice(second);
    const RunResult none = runToEnd({"--profile-state"}, env);
    EXPECT_EQ(none.output, "{\"display_id\":" + std::to_string(list.at(0)["display_id"].get<long>()) +
                               ",\"error\":\"no ColorSync device\"}\n");
    EXPECT_EQ(none.status, 0);

    const RunResult assigned = runToEnd({"--display", number, "--assign", ADOBE_SAMPLE}, env);
    EXPECT_EQ(assigned.output, "assigned\n");
    EXPECT_EQ(assigned.status, 0);
    const RunResult state = runToEnd({"--display", number, "--profile-state"}, env);
    ASSERT_EQ(state.status, 0);
    const auto json = nlohmann::json::parse(state.output);
    EXPECT_EQ(json["display_id"], list.at(1)["display_id"]);
    ASSERT_EQ(json["custom"].size(), 1u) << state.output;
    EXPECT_EQ(colord->deviceProfiles(device).front(), json["custom"].begin().key());
    EXPECT_EQ(state.errors, "");
}

}  // namespace
}  // namespace pp::test
