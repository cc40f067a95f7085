// Colour samples on their way to the screen: a 0 to 255 component becomes a 16-bit sample, and a
// finished sample becomes what an 8-bit or a 10-bit screen takes.
#pragma once

#include <cstdint>

#include "core/values.hpp"

namespace pp {

// One pixel at 16 bits per sample, the precision every frame is composed in.
struct Rgb16 {
    std::uint16_t r = 0;
    std::uint16_t g = 0;
    std::uint16_t b = 0;
    bool operator==(const Rgb16&) const = default;
};

// A component on the 0 to 255 scale as a 16-bit sample: round(c / 255 x 65535), clamped to the scale;
// NaN counts as 0.
std::uint16_t level16(double c);

// A fraction 0 to 1 (a drawing colour such as the text grey) as a 16-bit sample, rounded.
std::uint16_t unitLevel16(double f);

// A 16-bit sample rounded to 8 bits: round(v / 65535 x 255).
constexpr std::uint32_t eightFromSixteen(std::uint32_t v)
{
    return (v * 255 + 32767) / 65535;
}

// A 16-bit sample rounded to 10 bits: round(v / 65535 x 1023).
constexpr std::uint32_t tenFromSixteen(std::uint32_t v)
{
    return (v * 1023 + 32767) / 65535;
}

// An 8-bit level on a 10-bit screen by bit replication, so that 0 and 255 reach 0 and 1023.
constexpr std::uint32_t tenFromEight(std::uint32_t v)
{
    return (v << 2) | (v >> 6);
}

// A composed pixel as the screen takes it. On the 8-bit surface ("flat", "dither") each sample is first
// rounded to 8 bits, and a 10-bit screen gets that level by bit replication; on the 16-bit surface
// ("deep") each sample is rounded straight to the screen's bits.
constexpr std::uint32_t screenPixel(Rgb16 p, int surfaceBits, PixelFormat format)
{
    if (surfaceBits == 16) {
        if (format == PixelFormat::xrgb2101010) {
            return (tenFromSixteen(p.r) << 20) | (tenFromSixteen(p.g) << 10) | tenFromSixteen(p.b);
        }
        return (eightFromSixteen(p.r) << 16) | (eightFromSixteen(p.g) << 8) | eightFromSixteen(p.b);
    }
    const std::uint32_t r = eightFromSixteen(p.r), g = eightFromSixteen(p.g), b = eightFromSixteen(p.b);
    if (format == PixelFormat::xrgb2101010) {
        return (tenFromEight(r) << 20) | (tenFromEight(g) << 10) | tenFromEight(b);
    }
    return (r << 16) | (g << 8) | b;
}

}  // namespace pp
