#include "commands/number_list.hpp"

#include "commands/command_split.hpp"
#include "core/words.hpp"

namespace pp {

std::vector<double> numberList(std::string_view argument)
{
    std::vector<double> numbers;
    for (std::string_view word : blankSeparatedWords(argument)) {
        if (auto value = numberWord(word)) numbers.push_back(*value);
    }
    return numbers;
}

}  // namespace pp
