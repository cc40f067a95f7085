// What a compositor tells about one output, and the screen it makes: pure data, no Wayland types.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/screen.hpp"

namespace pp::wayland {

// The announced state of one wl_output and its xdg-output, as the events left it.
struct OutputState {
    std::uint32_t registryName = 0;  // the wl_output global's name in the registry
    int x = 0;                       // wl_output geometry: position in the compositor space
    int y = 0;
    int mmWidth = 0;                 // physical size; 0 when the output reports none
    int mmHeight = 0;
    std::string make;
    std::string model;
    int modeWidth = 0;               // the current mode, device pixels
    int modeHeight = 0;
    int refreshMillihertz = 0;       // the current mode's refresh rate
    int scale = 1;                   // wl_output's integer scale
    int transform = 0;               // wl_output's transform: odd values turn the mode by 90 degrees
    std::string name;                // wl_output.name (version 4), the connector name
    std::string description;         // wl_output.description (version 4)
    bool haveLogical = false;        // xdg-output: logical position and size, in points
    int logicalX = 0;
    int logicalY = 0;
    int logicalWidth = 0;
    int logicalHeight = 0;
    std::string xdgName;             // xdg-output name and description (version 2)
    std::string xdgDescription;
    bool done = false;               // the first wl_output.done has arrived
};

// The colour-management protocol's names of its named primaries and transfer functions ("bt2020",
// "st2084_pq"); a value the protocol did not name when this was written is "primaries N" or "tf N".
std::string primariesName(std::uint32_t named);
std::string transferName(std::uint32_t named);

// A power-law transfer function from the protocol's exponent times 10000: "power 2.4".
std::string powerTransferName(std::uint32_t exponentTimes10000);

// The screen an output stands for. Number: the registry name. Output name: the connector name. Name:
// the description, else make and model, else the connector name (a blank word names nothing). Frame:
// the logical rectangle (else the position and the mode divided by the integer scale). Scale: device
// pixels per point, measured along the same edge (a turned output shows its mode's height across). Bits:
// 8, since the panel's depth is never told.
Screen screenOf(const OutputState& output);

}  // namespace pp::wayland
