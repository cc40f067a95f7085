// The pure conversions at the X11 edge: window pixels to view points, visuals to pixel formats, image
// strips within the request size, and the core keyboard mapping's key symbol for a key.
#pragma once

#include <cstdint>
#include <optional>

#include "core/values.hpp"

namespace pp::x11 {

// The view point (origin bottom-left, y up) of the window pixel (x, y) (origin top-left, y down) in a
// window `height` pixels high; one point is one pixel.
Point viewPoint(int x, int y, int height);

// The frame buffer format of a TrueColor visual with these channel masks at this depth, or none when
// it is not one of the two standard layouts.
std::optional<PixelFormat> pixelFormatFor(int depth, std::uint32_t redMask, std::uint32_t greenMask,
                                          std::uint32_t blueMask);

// Rows per PutImage request for an image `width` pixels wide (4 bytes each) when a request may hold at
// most `maxRequestBytes`; at least 1 and at most `height`.
int stripRows(std::uint64_t maxRequestBytes, int width, int height);

// The key symbol the core keyboard mapping gives a key: `symbols` holds that key's `count` columns;
// Shift picks the second column when it has one, else the first.
std::uint32_t coreKeysym(const std::uint32_t* symbols, int count, bool shift);

}  // namespace pp::x11
