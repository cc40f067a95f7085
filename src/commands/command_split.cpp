#include "commands/command_split.hpp"

namespace pp {

std::optional<CommandView> splitCommandView(std::string_view line)
{
    const std::size_t begin = line.find_first_not_of(' ');
    if (begin == std::string_view::npos) return std::nullopt;
    const std::size_t end = line.find(' ', begin);
    if (end == std::string_view::npos) return CommandView{line.substr(begin), line.substr(line.size())};
    return CommandView{line.substr(begin, end - begin), line.substr(end + 1)};
}

std::optional<CommandText> splitCommand(std::string_view line)
{
    const auto view = splitCommandView(line);
    if (!view) return std::nullopt;
    return CommandText{std::string(view->word), std::string(view->argument)};
}

std::vector<std::string_view> blankSeparatedWords(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

}  // namespace pp
