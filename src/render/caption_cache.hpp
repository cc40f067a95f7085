// The caption's coverage mask, kept between frames and drawn again only when what it shows changes.
// A caption too long to lay out cheaply is laid out only around its middle, as far as the screen can
// show it: a caption of any length costs a frame what a short one costs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "render/coverage_painter.hpp"

namespace pp {

// The bytes of a caption that are laid out, as offsets into it.
struct CaptionWindow {
    std::size_t begin = 0;
    std::size_t middle = 0;  // the character boundary at or before the middle byte
    std::size_t end = 0;
    bool whole = true;       // the window is the whole caption
};

// The part of `caption` (valid UTF-8) within `reach` characters of visible width on either side of
// its middle byte. Zero-width characters (combining marks, format characters) do not count towards
// the reach, but no more than 64 times `reach` characters are walked on a side. The whole caption
// when it ends within that on both sides.
CaptionWindow captionWindow(std::string_view caption, std::size_t reach);

// Main thread only. Draws with a CoveragePainter it is given.
class CaptionCache {
public:
    // The caption in the sans face at `sizePx`, its text box's bottom at frame row `bottom`, centred on
    // frame column `centreX` (a caption in a window: its middle character at `centreX`), clipped to the
    // `frameWidth` x `frameHeight` frame. Empty for an empty caption. The mask stays valid until the
    // next call, which redraws it only when the text or the placement has changed.
    const CoverageMask& mask(CoveragePainter& painter, const std::string& caption, double sizePx, double centreX,
                             double bottom, int frameWidth, int frameHeight);

    // Counts the changes of the mask: equal between two calls when the mask was left as it was.
    std::uint64_t version() const { return version_; }

private:
    struct Key {
        std::string text;  // the laid-out text: the caption or its window, NUL bytes as U+FFFD
        std::size_t middle = 0;
        bool whole = true;
        double sizePx = 0, centreX = 0, bottom = 0;
        int frameWidth = 0, frameHeight = 0;
        bool operator==(const Key&) const = default;
    };
    Key key_;
    bool drawn_ = false;
    std::uint64_t version_ = 0;
    CoverageMask mask_;
};

}  // namespace pp
