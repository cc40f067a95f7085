// One whole picture as a network message asks for it: a rectangular patch on a surround.
#pragma once

#include <array>

namespace pp {

// Colours on the 0 to 255 scale (fractions allowed); the patch rectangle in fractions of the screen.
struct Picture {
    std::array<double, 3> rgb{0, 0, 0};       // the patch colour
    std::array<double, 3> surround{0, 0, 0};  // the colour of the rest of the screen
    double left = 0;                          // the patch's left edge, from the screen's left
    double top = 0;                           // its top edge, from the screen's top
    double width = 0;
    double height = 0;

    bool operator==(const Picture&) const = default;
};

}  // namespace pp
