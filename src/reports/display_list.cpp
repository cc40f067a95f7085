#include "reports/display_list.hpp"

#include <cmath>

#include "reports/output_colour.hpp"

namespace pp {

namespace {

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0;
}

}  // namespace

JsonObject displayList(Displays& displays)
{
    const std::optional<Screen> main = displays.mainScreen();
    JsonObject list = JsonObject::array();
    for (const Screen& screen : displays.screens()) {
        JsonObject entry = JsonObject::object();
        entry["display_id"] = screen.number;
        entry["name"] = screen.name;
        entry["output"] = screen.outputName;
        entry["main"] = main && main->number == screen.number;
        entry["frame"] = {finiteOrZero(screen.frame.x), finiteOrZero(screen.frame.y),
                          finiteOrZero(screen.frame.width), finiteOrZero(screen.frame.height)};
        entry["pixels"] = {screen.pixelsWide, screen.pixelsHigh};
        entry["size_mm"] = {finiteOrZero(screen.mm.width), finiteOrZero(screen.mm.height)};
        entry["scale"] = finiteOrZero(screen.scale);
        entry["bits"] = screen.bitsPerSample;
        entry["colour"] = colourMember(screen);
        // A display whose mode the program sets: the modes to choose from, and what its signal can carry.
        if (!screen.modes.empty()) {
            entry["modes"] = screen.modes;
            JsonObject signal = JsonObject::object();
            for (const auto& [property, present] : screen.signal) signal[property] = present;
            entry["signal"] = std::move(signal);
        }
        list.push_back(std::move(entry));
    }
    return list;
}

RoadOutcome listDisplaysRoad(Displays& displays)
{
    if (!displays.mainScreen()) return {NO_MAIN_SCREEN_LINE, 1};
    return {jsonText(displayList(displays), JsonNull::written), 0};
}

}  // namespace pp
