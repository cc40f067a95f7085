// Reading one message of a calibration suite: the XML that asks for a patch colour, a background and
// the patch's place.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/picture.hpp"

namespace pp {

// The bits per sample a message may give: whole numbers in this range.
inline constexpr int MIN_SAMPLE_BITS = 1;
inline constexpr int MAX_SAMPLE_BITS = 16;

// The picture a message asks for, or none when it cannot be used: XML that does not parse, a root
// other than `calibration`, no `color` or `geometry` element, an attribute missing or unreadable, a
// `bits` outside MIN_SAMPLE_BITS..MAX_SAMPLE_BITS, a colour value that is not a whole number from 0 to
// 2^bits − 1, or a geometry value outside 0..1. Two forms are read: `color` and `geometry` inside
// `shapes/rectangle` (8 bits, black background), or `color`, `background` and `geometry` directly
// under `calibration`, each colour with its own `bits` (8 when absent). Colours come out on the 0 to
// 255 scale; the rectangle in fractions of the screen, its top edge from the top.
std::optional<Picture> pictureFromMessage(std::string_view xml);

// A sample of `bits` bits on the 0 to 255 scale: value × 255 / (2^bits − 1).
double sampleLevel(std::uint32_t value, int bits);

}  // namespace pp
