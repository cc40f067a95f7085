// The display's colour-profile state: its factory and custom profiles as plain paths, in JSON.
#pragma once

#include <string>

#include "platform/colour_management.hpp"
#include "reports/json_text.hpp"

namespace pp {

inline constexpr const char* NO_DEVICE_ERROR = "no ColorSync device";

// The text a value prints as: a text as its own characters, a number in its usual decimal form
// ("3", "2.5", "1e+300"), the null marker as "<null>", a file URL as "file://" and its
// percent-encoded path, a map as "{key = value; ...}".
std::string descriptionText(const RecordValue& value);

// A custom-profiles entry: a URL gives its path, anything else its description text.
std::string customProfileText(const RecordValue& value);

// A factory-profiles entry: a profile record (a map with text keys) gives the path of its
// DEVICE_PROFILE_URL_KEY entry when that is a URL, else ""; any other value its description text.
std::string factoryProfileText(const RecordValue& value);

// {"display_id": N, "custom": {...}, "factory": {...}} for the screen's device; a member is left out
// when its map is missing or has a non-text key. {"display_id": N, "error": "no ColorSync device"}
// when there is no device, no record, or the record is not a map with text keys. Never fails, prints
// nothing, keeps nothing.
JsonObject profileState(ColourManagement& colour, const Screen& screen);

// What a one-shot road prints (one line) and its exit status.
struct RoadOutcome {
    std::string line;
    int status = 0;
    bool operator==(const RoadOutcome&) const = default;
};

// The profile-state road: the profile state as one line of JSON (empty if it cannot be written),
// status 0 whatever it holds.
RoadOutcome profileStateRoad(ColourManagement& colour, const Screen& screen);

}  // namespace pp
