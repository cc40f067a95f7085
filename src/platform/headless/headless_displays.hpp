// In-memory screens: whatever a test configures is what the queries answer. The binary uses them, with
// no screen at all, where no window system can be reached.
#pragma once

#include <map>

#include "platform/window_system.hpp"

namespace pp::headless {

class HeadlessDisplays : public virtual Displays {
public:
    std::vector<Screen> screenList;            // in the window system's order
    std::optional<std::uint32_t> primary;      // the main screen's number; none: the first screen
    std::map<std::uint32_t, TransferTable> ramps;                // full ramps, sampled on query
    std::map<std::uint32_t, std::vector<std::uint8_t>> profiles;  // advertised ICC bytes

    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    TransferTable transferTable(std::uint32_t number, std::size_t capacity) override;
    std::vector<std::uint8_t> advertisedProfile(std::uint32_t number) override;
};

// A screen with the given number and frame, 8 bits per sample, named "screen".
Screen headlessScreen(std::uint32_t number, Rect frame, Size mm = {});

}  // namespace pp::headless
