#include "app/options.hpp"

#include <cstdint>

namespace pp {

std::optional<std::uint32_t> displayNumber(std::string_view word)
{
    bool negative = false;
    if (!word.empty() && (word.front() == '+' || word.front() == '-')) {
        negative = word.front() == '-';
        word.remove_prefix(1);
    }
    if (word.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<PlatformKind> platformWord(std::string_view word)
{
    if (word == "wayland") return PlatformKind::wayland;
    if (word == "x11") return PlatformKind::x11;
    return std::nullopt;
}

}  // namespace pp
