// The frame's shapes and text as 8-bit coverage masks, drawn with Cairo and Pango. The masks say how much
// of each pixel a shape covers; the frame compositor gives them their colours.
#pragma once

#include <memory>
#include <string>

#include "render/coverage_mask.hpp"

namespace pp {

// Main thread only. Keeps the fonts and text layouts between frames; a mask's memory is reused when it
// is drawn again. Every call draws the mask afresh, and its spans, in frame pixels of a `frameWidth` x
// `frameHeight` frame.
class CoveragePainter {
public:
    CoveragePainter();
    ~CoveragePainter();
    CoveragePainter(const CoveragePainter&) = delete;
    CoveragePainter& operator=(const CoveragePainter&) = delete;

    // The width of `text`'s text box in the desktop's sans face at `sizePx` pixels.
    double textWidth(const std::string& text, double sizePx);

    // How far from the left edge of `text`'s text box (sans face, `sizePx` pixels) the character at
    // byte `index` begins (the leading edge of its cluster).
    double textPosition(const std::string& text, double sizePx, std::size_t index);

    // `text` in the sans face at `sizePx`, with the lower-left corner of its text box at (left, bottom).
    void text(CoverageMask& mask, const std::string& text, double sizePx, double left, double bottom,
              int frameWidth, int frameHeight);

    // The ellipse inscribed in the rectangle at (left, top) of `width` x `height`, edges antialiased.
    void ellipse(CoverageMask& mask, double left, double top, double width, double height, int frameWidth,
                 int frameHeight);

    // The rectangle from (left, top) to (right, bottom) with every edge rounded to the nearest whole
    // pixel, so the patch is covered fully and nothing beside it at all.
    void rectangle(CoverageMask& mask, double left, double top, double right, double bottom, int frameWidth,
                   int frameHeight);

    // The alignment mark about (cx, cy), stroked `lineWidth` wide as one path: the horizontal and the
    // vertical arm of reach `arm`, then circles of radius `dot` and `ring`.
    void mark(CoverageMask& mask, double cx, double cy, double arm, double dot, double ring, double lineWidth,
              int frameWidth, int frameHeight);

private:
    struct Fonts;
    std::unique_ptr<Fonts> fonts_;
};

}  // namespace pp
