#include "platform/kms_options.hpp"

#include <charconv>
#include <cmath>

namespace pp {

namespace {

// A whole positive number taking the whole of `text`.
std::optional<int> wholeNumber(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<ModeWish> modeWish(std::string_view word)
{
    const auto times = word.find('x');
    const auto at = word.find('@');
    if (times == std::string_view::npos || at == std::string_view::npos || at < times) return std::nullopt;
    const auto width = wholeNumber(word.substr(0, times));
    const auto height = wholeNumber(word.substr(times + 1, at - times - 1));
    const std::string_view rateText = word.substr(at + 1);
    double rate = 0;
    const auto [end, error] = std::from_chars(rateText.data(), rateText.data() + rateText.size(), rate,
                                              std::chars_format::fixed);
    if (!width || !height || error != std::errc() || end != rateText.data() + rateText.size() || !std::isfinite(rate) ||
        rate <= 0) {
        return std::nullopt;
    }
    return ModeWish{*width, *height, rate};
}

std::string modeWishText(const ModeWish& wish)
{
    char rate[32];
    const auto result = std::to_chars(rate, rate + sizeof rate, wish.refresh);
    return std::to_string(wish.width) + "x" + std::to_string(wish.height) + "@" + std::string(rate, result.ptr);
}

}  // namespace pp
