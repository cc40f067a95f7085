// The command line's own words: display numbers and window-system names.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/window_system.hpp"

namespace pp {

// A display number word: an optional sign and decimal digits, at most 4294967295, "-" only before
// a value of zero.
std::optional<std::uint32_t> displayNumber(std::string_view word);

// A platform word: exactly "wayland" or "x11"; none for anything else.
std::optional<PlatformKind> platformWord(std::string_view word);

}  // namespace pp
