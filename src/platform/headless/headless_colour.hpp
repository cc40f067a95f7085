// An in-memory colour-management store for tests: records of any shape, and a log of assignments.
#pragma once

#include <map>

#include "platform/colour_management.hpp"

namespace pp::headless {

class HeadlessColourManagement : public ColourManagement {
public:
    struct Assignment {
        std::string deviceId;
        std::optional<std::string> path;  // none: cleared
        bool operator==(const Assignment&) const = default;
    };

    std::map<std::string, std::string> devices;  // output name to device id
    std::map<std::string, RecordValue> records;  // device id to its record, of any shape
    std::map<std::string, std::string> titles;   // device id to its default profile's title
    bool acceptAssignments = true;               // setCustomProfile's answer for a known device
    std::vector<Assignment> assignments;         // every setCustomProfile call, in order

    std::optional<std::string> displayUUID(const Screen& screen) override;
    std::optional<RecordValue> deviceRecord(const std::string& deviceId) override;
    // Logs the call. When accepted, a path becomes the custom map's only entry (key "custom") and
    // the default profile's title becomes the file's name; none empties the custom map. The custom
    // map is made when the record has none usable.
    bool setCustomProfile(const std::string& deviceId, const std::optional<std::string>& path) override;
    std::string defaultProfileTitle(const std::string& deviceId) override;
};

// A record with the two profile maps as colour management keeps them.
RecordValue profileRecord(RecordMap custom, RecordMap factory);

}  // namespace pp::headless
