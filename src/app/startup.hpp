// The start-up decisions that come before any road: which screen, and which road.
#pragma once

#include <optional>
#include <string>

#include "app/options.hpp"
#include "platform/platform.hpp"

namespace pp {

// The chosen screen, or the error line to print before exiting with status 1.
struct ScreenChoice {
    std::optional<Screen> screen;
    std::string error;
};

// With no wanted number the main screen; otherwise the first screen with that number. Never falls
// back from an asked number to the main screen.
ScreenChoice chooseScreen(Displays& displays, std::optional<std::uint32_t> wanted);

enum class Road { profileState, assign, presenter };

struct RoadChoice {
    Road road = Road::presenter;
    std::string assignValue;  // the word after --assign, on the assignment road
};

// --profile-state anywhere (program name included) wins; else --assign with a word; else the presenter.
RoadChoice chooseRoad(const Words& allWords);

}  // namespace pp
