// The presentation state of the one view: what the next frame shows.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/values.hpp"

namespace pp {

// Mark sizes in millimetres; turned into points with the run's scale.
inline constexpr double MARK_MARGIN_MM = 15;
inline constexpr double MARK_ARM_MM = 15;
inline constexpr double MARK_DOT_MM = 5;

// How the patch's colour reaches the screen: one level per sample on the 8-bit surface ("flat"), the
// dither tile's mix of the two nearest levels on it ("dither"), or the 16-bit surface ("deep").
enum class Mode { flat, dither, deep };

// The mode's word in commands and reports: "flat", "dither" or "deep".
std::string_view modeName(Mode mode);
// The mode a word names exactly; none for any other word.
std::optional<Mode> modeWord(std::string_view word);

// What the patch is drawn as: the ellipse inscribed in the patch rectangle, or the rectangle itself
// with its edges on whole device pixels.
enum class PatchShape { ellipse, rectangle };

// Main thread only. Coordinates are view points: origin at the display's bottom-left corner, y up.
struct PatchView {
    explicit PatchView(double ppmm) : ppmm(ppmm) {}

    std::array<double, 3> rgb{0, 0, 0};       // patch colour, 0 to 255, fractions allowed; clamped when drawn
    Mode mode = Mode::dither;                 // the dither mode draws the tile; the others a flat fill
    std::array<double, 3> surround{0, 0, 0};  // surround colour, same scale
    bool mark = false;                        // the alignment mark is shown; gates dragging and nudging
    std::string caption;                      // drawn above the patch; empty means none
    Rect patch;                               // the live patch rectangle; the patch is its inscribed ellipse
    PatchShape shape = PatchShape::ellipse;   // or, on the network road, the rectangle itself
    std::optional<Point> dragFrom;            // pointer position at which a drag began
    Rect dragOrigin;                          // `patch` when the drag began
    bool dragged = false;                     // moved past the drag threshold since the press

    double ppmm;                              // points per millimetre of the run, fixed at start-up

    // Half the larger side of the patch plus the mark margin: the ring radius and the grab radius.
    double markRing() const;
};

}  // namespace pp
