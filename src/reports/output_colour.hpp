// What the reports say of an output whose encoding a colour-managed window system describes.
#pragma once

#include <cstddef>
#include <string>

#include "core/screen.hpp"
#include "reports/json_text.hpp"

namespace pp {

// The name of the output's encoding for the status report's "profile": the ICC profile's description;
// for a parametric output its primaries and transfer function ("bt2020 st2084_pq", primaries given only
// as numbers written as their eight values joined by commas); "" when nothing names it.
std::string colourProfileName(const OutputColour& colour);

// What the compositor applies after the patch: the output ICC profile's calibration curve (vcgt),
// sampled at `capacity` evenly spaced inputs from 0 to 1; three empty channels when there is none.
TransferTable calibrationCurve(const OutputColour& colour, std::size_t capacity);

// The display list's "colour" member: null without a description; else an object with "icc" (the
// profile's description) for an output described by a profile, or "primaries" (a name, or the eight
// CIE x, y values), "tf" and "luminance" [min, max, reference] for a parametric one, each only when
// known.
JsonObject colourMember(const Screen& screen);

}  // namespace pp
