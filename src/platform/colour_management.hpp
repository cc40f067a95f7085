// Colour management as the program sees it: the display's device, its profiles and their assignment.
// The implementations are platform/colord (colord on the system bus) and platform/headless (in memory).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/screen.hpp"

namespace pp {

// A value in a colour-management device record, in the shapes the profile-state rules read.
struct RecordValue;
using RecordKey = std::variant<std::string, double>;  // a key may be a text or, in a foreign record, not
struct NullMarker {
    bool operator==(const NullMarker&) const = default;
};
struct FileUrl {
    std::string path;
    bool operator==(const FileUrl&) const = default;
};
using RecordMap = std::vector<std::pair<RecordKey, RecordValue>>;

struct RecordValue {
    std::variant<NullMarker, std::string, double, FileUrl, RecordMap> value;
};

// Record keys of the profile maps.
inline constexpr const char* CUSTOM_PROFILES_KEY = "CustomProfiles";
inline constexpr const char* FACTORY_PROFILES_KEY = "FactoryProfiles";
inline constexpr const char* DEVICE_PROFILE_URL_KEY = "DeviceProfileURL";

// The display's colour-management device, its profiles, and assignment.
// Thread: any one thread at a time. Every call is bounded by a short timeout: a service that does not
// answer reads as "no device" (or a refusal), it never hangs the caller.
class ColourManagement {
public:
    virtual ~ColourManagement() = default;

    // The id of the device that stands for `screen`, or none.
    virtual std::optional<std::string> displayUUID(const Screen& screen) = 0;

    // The device's record: a map with CUSTOM_PROFILES_KEY (profile id to FileUrl) and
    // FACTORY_PROFILES_KEY (profile id to a map holding DEVICE_PROFILE_URL_KEY), or none.
    virtual std::optional<RecordValue> deviceRecord(const std::string& deviceId) = 0;

    // Makes the profile file at `path` the device's custom and default profile, or with none clears
    // the custom profiles. True when accepted.
    virtual bool setCustomProfile(const std::string& deviceId, const std::optional<std::string>& path) = 0;

    // The title of the device's default profile, or "".
    virtual std::string defaultProfileTitle(const std::string& deviceId) = 0;
};

}  // namespace pp
