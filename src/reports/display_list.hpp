// The attached displays as one line of JSON: how a person finds the number of the display in front
// of them.
#pragma once

#include "platform/window_system.hpp"
#include "reports/json_text.hpp"
#include "reports/profile_state.hpp"

namespace pp {

// One object per screen in the window system's order, members in this order: "display_id", "name",
// "output", "main" (true for the main screen only), "frame" [x, y, width, height] in points,
// "pixels" [width, height], "size_mm" [width, height], "scale" (device pixels per point), "bits"
// (bits per sample) and "colour" (the output's encoding where the window system manages colour, else
// null). A non-finite number is written as 0. Reads `displays` once each for the screens
// and the main screen.
JsonObject displayList(Displays& displays);

// The list road: the list as one line and status 0, or "error no screen main" and status 1 when there
// is no main screen (no window system, or one without screens).
RoadOutcome listDisplaysRoad(Displays& displays);

}  // namespace pp
