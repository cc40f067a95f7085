// The area of the window a present updates, as every window system that takes an update area decides it.
#pragma once

#include <span>

#include "core/values.hpp"

namespace pp {

// What a present of a frame that differs from the one before it in `changed` updates on the window, in
// the form the window systems' present calls take it: no rectangles for the whole window when `whole`
// (the window lost its contents, or the window system waits for whole new content); one pixel when
// nothing changed, so that the frame still goes through the window system and the wait for it to be
// shown keeps its meaning; else `changed`.
inline std::span<const PixelRect> updateArea(std::span<const PixelRect> changed, bool whole)
{
    static constexpr PixelRect ONE_PIXEL{0, 0, 1, 1};
    if (whole) return {};
    if (changed.empty()) return {&ONE_PIXEL, 1};
    return changed;
}

}  // namespace pp
