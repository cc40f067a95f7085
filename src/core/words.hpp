// Words as the command line and the commands give them: options by name, number words, number pairs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace pp
