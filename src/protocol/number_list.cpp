#include "protocol/number_list.hpp"

#include "app/options.hpp"
#include "protocol/command_split.hpp"

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
