#include "platform/wayland/wayland_screens.hpp"

#include <algorithm>
#include <iterator>

namespace pp::wayland {

namespace {

// The text without the blanks around it (one compositor describes an output as " WL-0", another as " ").
std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A make or model a compositor reports when it knows none.
bool meaningful(const std::string& word)
{
    return !word.empty() && word != "unknown" && word != "Unknown";
}

}  // namespace

std::string primariesName(std::uint32_t named)
{
    static const char* const NAMES[] = {nullptr, "srgb", "pal_m", "pal", "ntsc", "generic_film", "bt2020",
                                        "cie1931_xyz", "dci_p3", "display_p3", "adobe_rgb"};
    if (named < std::size(NAMES) && NAMES[named]) return NAMES[named];
    return "primaries " + std::to_string(named);
}

std::string transferName(std::uint32_t named)
{
    static const char* const NAMES[] = {nullptr,  "bt1886",     "gamma22",   "gamma28", "st240",
                                        "ext_linear", "log_100", "log_316",   "xvycc",   "srgb",
                                        "ext_srgb", "st2084_pq", "st428",     "hlg",     "compound_power_2_4"};
    if (named < std::size(NAMES) && NAMES[named]) return NAMES[named];
    return "tf " + std::to_string(named);
}

std::string powerTransferName(std::uint32_t exponentTimes10000)
{
    // Four decimals at most, without trailing zeros: 22000 is "power 2.2", 24000 "power 2.4".
    std::string text = std::to_string(exponentTimes10000 / 10000);
    std::uint32_t fraction = exponentTimes10000 % 10000;
    if (fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, 4 - digits.size(), '0');
        while (digits.back() == '0') digits.pop_back();
        text += "." + digits;
    }
    return "power " + text;
}

Screen screenOf(const OutputState& output)
{
    Screen screen;
    screen.number = output.registryName;
    screen.outputName = !output.name.empty() ? output.name : output.xdgName;

    // A blank description names nothing.
    const std::string ownDescription = trimmed(output.description);
    const std::string description = !ownDescription.empty() ? ownDescription : trimmed(output.xdgDescription);
    const std::string make = trimmed(output.make), model = trimmed(output.model);
    std::string makeModel;
    if (meaningful(make)) makeModel = make;
    if (meaningful(model)) makeModel += (makeModel.empty() ? "" : " ") + model;
    screen.name = !description.empty() ? description : !makeModel.empty() ? makeModel : screen.outputName;

    screen.pixelsWide = output.modeWidth;
    screen.pixelsHigh = output.modeHeight;
    const int integerScale = std::max(1, output.scale);
    const bool turned = output.transform % 2 == 1;
    const int acrossPixels = turned ? output.modeHeight : output.modeWidth;
    const int downPixels = turned ? output.modeWidth : output.modeHeight;
    if (output.haveLogical && output.logicalWidth > 0 && output.logicalHeight > 0) {
        screen.frame = {double(output.logicalX), double(output.logicalY), double(output.logicalWidth),
                        double(output.logicalHeight)};
    } else {
        screen.frame = {double(output.x), double(output.y), double(acrossPixels / integerScale),
                        double(downPixels / integerScale)};
    }
    screen.scale = screen.frame.width > 0 && acrossPixels > 0 ? acrossPixels / screen.frame.width : 1;
    screen.mm = {double(std::max(0, output.mmWidth)), double(std::max(0, output.mmHeight))};
    // The panel's depth is not told on Wayland (the buffer formats are the compositor's): 8 bits.
    screen.bitsPerSample = 8;
    screen.depth = 24;
    return screen;
}

}  // namespace pp::wayland
