// The status report: one line of JSON saying what is on the screen and on which display.
#pragma once

#include <string>
#include <string_view>

#include "core/geometry.hpp"
#include "core/patch_view.hpp"
#include "platform/window_system.hpp"

namespace pp {

// Entries per channel of the transfer table in the report.
inline constexpr std::size_t GAMMA_TABLE_CAPACITY = 256;

// The report's twelve members, in order, from the chosen screen, the start-up geometry, the view's
// patch and mode, and a fresh query of `displays` (pixel size, name, transfer table); `profile` is the
// name of the display's colour profile. A value that JSON cannot hold (a non-finite number) is
// written as a finite stand-in, so the text is always valid JSON without null. Main thread.
std::string info(const Screen& screen, const Geometry& geometry, const PatchView& view, Displays& displays,
                 std::string_view profile = "");

// The same report from a reading of the display already made (Displays::displayReading with
// GAMMA_TABLE_CAPACITY): the chosen screen's values stand when the reading no longer lists it.
std::string info(const Screen& screen, const Geometry& geometry, const PatchView& view,
                 const DisplayReading& reading, std::string_view profile = "");

}  // namespace pp
