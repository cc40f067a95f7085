// One input line split into its command word and argument text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp {

struct CommandText {
    std::string word;      // the first run of non-blank characters
    std::string argument;  // everything after the one blank that ends the word, unchanged
};

// The same split as views into the line, for lines too long to copy.
struct CommandView {
    std::string_view word;
    std::string_view argument;
};

// The single blank (U+0020) is the only separator: tabs and other white space stay inside words.
// Leading blanks are skipped. None for an empty line or one of blanks only.
std::optional<CommandText> splitCommand(std::string_view line);
std::optional<CommandView> splitCommandView(std::string_view line);

// The words of an argument text split at blanks, empty words dropped.
std::vector<std::string_view> blankSeparatedWords(std::string_view text);

}  // namespace pp
