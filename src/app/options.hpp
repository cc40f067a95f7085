// The command line's own words: display numbers and window-system names.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/words.hpp"
#include "platform/kms_options.hpp"
#include "platform/window_system.hpp"

namespace pp {

// A display number word: an optional sign and decimal digits, at most 4294967295, "-" only before
// a value of zero.
std::optional<std::uint32_t> displayNumber(std::string_view word);

// A platform word: exactly "wayland", "x11" or "kms"; none for anything else.
std::optional<PlatformKind> platformWord(std::string_view word);

// What the command line asks of a display the program drives itself: --mode WxH@RATE, --signal
// sdr|hdr10 and --hdr-luminance MIN MAX. A value that cannot be read counts as absent (the preferred
// mode, sdr, 0.005 and 1000 cd/m²), and so does a luminance pair that is not 0 <= MIN < MAX.
KmsOptions kmsOptions(const Words& words);

}  // namespace pp
