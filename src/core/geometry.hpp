// The patch geometry of a run: the screen's size in points, the scale, and the start-up patch.
#pragma once

#include <string>
#include <vector>

#include "core/screen.hpp"
#include "core/words.hpp"

namespace pp {

// Written once at start-up and only read afterwards.
struct Geometry {
    Rect s;                      // the chosen screen's frame
    Size mm;                     // its physical size in millimetres (0 x 0 when it reports none)
    std::vector<double> size;    // requested patch size in millimetres (--mm)
    std::vector<double> shift;   // shift of a centred patch in millimetres (--shift)
    std::vector<double> pos;     // requested patch centre as fractions, y from the top (--pos)
    double sw = 0;               // screen width and height in points
    double sh = 0;
    double ppmm = 0;             // points per millimetre, both axes
    double pw = 0;               // patch width and height in points
    double ph = 0;
    double px = 0;               // lower-left corner of the start-up patch, view coordinates
    double py = 0;
    Rect patchRect;              // the start-up patch
};

// The geometry for `screen` from the command-line words (program name excluded).
Geometry patchGeometry(const Words& words, const Screen& screen);

// The centre of `rect` as fractions of the screen, x from the left and y from the top, "%.5f %.5f".
std::string position(const Rect& rect, double sw, double sh);

}  // namespace pp
