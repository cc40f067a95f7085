// Assigning (or clearing) the display's custom colour profile for the current user.
#pragma once

#include <optional>
#include <string>

#include "platform/colour_management.hpp"
#include "reports/profile_state.hpp"

namespace pp {

inline constexpr const char* ASSIGN_REFUSED = "error ColorSyncDeviceSetCustomProfiles refused";

// None when `value` is exactly "none" (clear); otherwise the value as an absolute path, a relative
// one taken under the current directory.
std::optional<std::string> assignedProfilePath(const std::string& value);

// Sets the custom profile of the screen's device to the profile file named by `value`, or clears it
// for "none". False, without asking colour management to change anything, when the screen has no
// device or the file is no readable, whole ICC profile; otherwise colour management's answer.
// Prints nothing.
bool assign(ColourManagement& colour, const Screen& screen, const std::string& value);

// The assignment road: "assigned" with status 0, or the refusal line with status 1.
RoadOutcome assignmentRoad(ColourManagement& colour, const Screen& screen, const std::string& value);

}  // namespace pp
