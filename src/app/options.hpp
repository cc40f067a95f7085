// Command-line lookup: options by name, number words, number pairs and display numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace pp {

using Words = std::vector<std::string>;

// The `count` words after the first word equal to `name`, or none when fewer follow or it is absent.
// `words` excludes the program name.
std::optional<Words> option(const Words& words, std::string_view name, std::size_t count);

// A word read as a double the way strtod reads it in the "C" locale, whatever the process's locale:
// none when it is empty, starts with white space, is not consumed whole, or overflows or underflows
// to zero.
std::optional<double> numberWord(std::string_view word);

// The two numbers after `name`, or `fallback` unless both of its first two words are numbers.
std::vector<double> numbers(const Words& words, std::string_view name, const std::vector<double>& fallback);

// A display number word: an optional sign and decimal digits, at most 4294967295, "-" only before
// a value of zero.
std::optional<std::uint32_t> displayNumber(std::string_view word);

// A platform word: exactly "wayland" or "x11"; none for anything else.
std::optional<PlatformKind> platformWord(std::string_view word);

}  // namespace pp
