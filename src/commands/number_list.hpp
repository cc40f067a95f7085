// The numbers of a command's argument text.
#pragma once

#include <string_view>
#include <vector>

namespace pp {

// The words of `argument` (split at blanks, empty words dropped) that read as numbers under the
// command-line number rule, in order; the other words are dropped without a message.
std::vector<double> numberList(std::string_view argument);

}  // namespace pp
