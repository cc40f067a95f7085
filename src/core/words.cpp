#include "core/words.hpp"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace pp {

std::optional<Words> option(const Words& words, std::string_view name, std::size_t count)
{
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] != name) continue;
        if (words.size() - i - 1 < count) return std::nullopt;
        return Words(words.begin() + static_cast<long>(i) + 1, words.begin() + static_cast<long>(i + 1 + count));
    }
    return std::nullopt;
}

namespace {

// The "C" locale, made once and never freed: strtod_l reads with it whatever setlocale has chosen.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<double> numberWord(std::string_view word)
{
    if (word.empty() || isSpace(word.front())) return std::nullopt;
    // strtod needs a terminated string; a word with an embedded NUL is not consumed whole.
    const std::string text(word);
    if (text.size() != std::char_traits<char>::length(text.c_str())) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = strtod_l(text.c_str(), &end, cLocale());
    if (end != text.c_str() + text.size()) return std::nullopt;
    if (errno == ERANGE && (value == 0.0 || std::isinf(value))) return std::nullopt;
    return value;
}

std::vector<double> numbers(const Words& words, std::string_view name, const std::vector<double>& fallback)
{
    const Words taken = option(words, name, 2).value_or(Words{});
    std::vector<double> read;
    for (const auto& word : taken) {
        if (auto value = numberWord(word)) read.push_back(*value);
    }
    return read.size() == 2 ? read : fallback;
}

}  // namespace pp
