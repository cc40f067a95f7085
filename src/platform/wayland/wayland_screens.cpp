#include "platform/wayland/wayland_screens.hpp"

#include <algorithm>

namespace pp::wayland {

namespace {

// A make or model a compositor reports when it knows none.
bool meaningful(const std::string& word)
{
    return !word.empty() && word != "unknown" && word != "Unknown";
}

}  // namespace

Screen screenOf(const OutputState& output, int bitsPerSample)
{
    Screen screen;
    screen.number = output.registryName;
    screen.outputName = !output.name.empty() ? output.name : output.xdgName;

    const std::string& description = !output.description.empty() ? output.description : output.xdgDescription;
    std::string makeModel;
    if (meaningful(output.make)) makeModel = output.make;
    if (meaningful(output.model)) makeModel += (makeModel.empty() ? "" : " ") + output.model;
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
    screen.bitsPerSample = bitsPerSample;
    screen.depth = bitsPerSample * 3;
    return screen;
}

}  // namespace pp::wayland
