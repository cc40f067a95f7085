// Colour management through colord on the system bus (libcolord).
#pragma once

#include <memory>

#include "core/thread_rules.hpp"
#include "platform/colour_management.hpp"

namespace pp::colord {

// The display's colord device and its profiles.
// A device is the colord device whose metadata XRANDR_name is the screen's output name; its id is
// colord's device id. In its record, CUSTOM_PROFILES_KEY holds the profiles the user assigned (hard
// relation) and FACTORY_PROFILES_KEY the others (soft relation, such as the one made from EDID), each
// keyed by colord's profile id. Every call is bounded by a short time limit; no bus, no colord on it,
// or a colord that does not answer in time all read as "no device" (or a refusal). Once a call has
// run out of time, colord counts as absent for the rest of the process, so a hung service costs the
// caller one time limit at most. GLib's log messages are dropped: nothing reaches standard error.
// Thread: any one thread at a time.
class ColordColourManagement : public ColourManagement {
public:
    ColordColourManagement();  // connects on first use
    ~ColordColourManagement() override;
    ColordColourManagement(const ColordColourManagement&) = delete;
    ColordColourManagement& operator=(const ColordColourManagement&) = delete;

    std::optional<std::string> displayUUID(const Screen& screen) override;
    std::optional<RecordValue> deviceRecord(const std::string& deviceId) override;
    // With a path: keeps a copy of the file in the user's ICC store, makes it known to colord (unless
    // colord already knows a profile with its id), adds it to the device with a hard relation and makes
    // it the default. Without: removes every hard-relation profile from the device.
    bool setCustomProfile(const std::string& deviceId, const std::optional<std::string>& path) override;
    std::string defaultProfileTitle(const std::string& deviceId) override;

private:
    struct State;
    std::unique_ptr<State> state_;
    OneAtATime oneAtATime_;  // checked in debug builds
};

// The colour management of the running system: colord on the system bus. Never null; without a bus
// or colord every query answers "no device".
std::unique_ptr<ColourManagement> connectColourManagement();

}  // namespace pp::colord
