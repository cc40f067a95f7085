// The presenter's round trips on headless Wayland compositors, beside a bare wl_shm client on the same
// compositor: what the X11 rows of the benchmark measure, on the window system it runs on natively.
#pragma once

#include <nlohmann/json.hpp>

// Runs the presenter (forced onto Wayland) on sway and on weston, each headless at 1920x1080 and
// 3840x2160: the start-up to "ready", and per mode the "rgb" round trip of a colour that moves nothing
// and the "move" round trip, each over `commands` commands after ten for warm-up; then the bare client's
// full-frame and patch-sized frame times. Then, on the colour-managed weston with an output described by
// an ICC profile, at both sizes: the presenter's "rgb" round trip per mode (its surface tagged with the
// output's description) beside the bare client's patch-sized updates untagged and tagged, with the ratios
// presenter / tagged and tagged / untagged; one line saying why where there is no such weston. Prints
// the tables and returns the figures, one object per compositor and size. A case that cannot run is
// reported with an "error" member.
nlohmann::ordered_json waylandBench(int commands);

// On sway, weston and the colour-managed weston (where there is one), each headless at 1920x1080 and
// 3840x2160: the presenter's start-up to "ready" (the first start on the fresh compositor and the median
// of five more), then per mode its "rgb" round trip interleaved in rounds with a bare client that writes
// and damages only the patch's box, on a compositor of its own of the same kind, waited for as the
// presenter waits (the frame callback on sway, which reports no presentation; the presentation
// elsewhere). Prints the rows and returns the figures.
nlohmann::ordered_json waylandBoxBench(int commands);
