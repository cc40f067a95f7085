// The start-up decisions that come before any road: which screen, and which road.
#pragma once

#include <optional>
#include <string>

#include "core/words.hpp"
#include "platform/window_system.hpp"

namespace pp {

// The chosen screen, or the error line to print before exiting with status 1.
struct ScreenChoice {
    std::optional<Screen> screen;
    std::string error;
};

// With no wanted number the main screen; otherwise the first screen with that number. Never falls
// back from an asked number to the main screen.
ScreenChoice chooseScreen(Displays& displays, std::optional<std::uint32_t> wanted);

enum class Road { help, version, listDisplays, profileState, assign, connect, presenter };

struct RoadChoice {
    Road road = Road::presenter;
    std::string assignValue;   // the word after --assign, on the assignment road
    std::string connectValue;  // the word after --connect, on the network road
};

// The first of --help, --version, --list-displays and --profile-state found anywhere on the command
// line (program name included), in that order of precedence; else --assign with a word; else --connect
// with a word (the network road); else the presenter. Help and version come first because they must work without any window system.
RoadChoice chooseRoad(const Words& allWords);

}  // namespace pp
