#include "app/options.hpp"

#include <cmath>

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
    if (word == "kms") return PlatformKind::kms;
    return std::nullopt;
}

KmsOptions kmsOptions(const Words& words)
{
    KmsOptions options;
    if (auto mode = option(words, "--mode", 1)) {
        options.modeWord = std::string(mode->front());
        options.mode = modeWish(options.modeWord);
    }
    if (auto signal = option(words, "--signal", 1)) options.hdr10 = signal->front() == "hdr10";
    const auto luminance = numbers(words, "--hdr-luminance", {options.minLuminance, options.maxLuminance});
    if (luminance.size() == 2 && std::isfinite(luminance[0]) && std::isfinite(luminance[1]) && luminance[0] >= 0 &&
        luminance[0] < luminance[1]) {
        options.minLuminance = luminance[0];
        options.maxLuminance = luminance[1];
    }
    return options;
}

}  // namespace pp
