#include "platform/x11/x11_conversions.hpp"

#include <algorithm>

namespace pp::x11 {

Point viewPoint(int x, int y, int height)
{
    return {double(x), double(height) - double(y)};
}

std::optional<PixelFormat> pixelFormatFor(int depth, std::uint32_t redMask, std::uint32_t greenMask,
                                          std::uint32_t blueMask)
{
    if (depth == 24 && redMask == 0xFF0000 && greenMask == 0x00FF00 && blueMask == 0x0000FF) {
        return PixelFormat::xrgb8888;
    }
    if (depth == 30 && redMask == 0x3FF00000 && greenMask == 0x000FFC00 && blueMask == 0x000003FF) {
        return PixelFormat::xrgb2101010;
    }
    return std::nullopt;
}

int stripRows(std::uint64_t maxRequestBytes, int width, int height)
{
    // A PutImage request carries 24 bytes before its data.
    constexpr std::uint64_t HEADER_BYTES = 24;
    if (width <= 0 || height <= 0) return 1;
    const std::uint64_t rowBytes = std::uint64_t(width) * 4;
    const std::uint64_t room = maxRequestBytes > HEADER_BYTES ? maxRequestBytes - HEADER_BYTES : 0;
    const std::uint64_t rows = room / rowBytes;
    return int(std::clamp<std::uint64_t>(rows, 1, std::uint64_t(height)));
}

std::uint32_t coreKeysym(const std::uint32_t* symbols, int count, bool shift)
{
    if (count <= 0) return 0;
    if (shift && count > 1 && symbols[1] != 0) return symbols[1];
    return symbols[0];
}

}  // namespace pp::x11
