// Moving the patch in millimetre steps with the arrow keys while the mark is shown.
#pragma once

#include <optional>
#include <string>

#include "core/geometry.hpp"
#include "core/patch_view.hpp"

namespace pp {

inline constexpr double NUDGE_MM = 5;       // an arrow alone
inline constexpr double FINE_NUDGE_MM = 1;  // an arrow with Shift

// Moves the patch by (dx, dy) steps (each -1, 0 or 1, y up) of 5 mm, or 1 mm when `fine`, and gives
// the position line; with the mark off nothing moves and there is no line.
std::optional<std::string> nudge(PatchView& view, int dx, int dy, bool fine, const Geometry& geometry);

}  // namespace pp
