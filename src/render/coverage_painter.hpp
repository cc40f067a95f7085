// The frame's shapes and text as 8-bit coverage masks, drawn with Cairo and Pango. The masks say how much
// of each pixel a shape covers; the frame compositor gives them their colours.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pp {

// Coverage of one shape over a rectangle of the frame (pixels, origin top-left, y down), already clipped
// to the frame. Empty when the shape lies wholly outside.
struct CoverageMask {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int stride = 0;                   // bytes per row
    std::vector<std::uint8_t> alpha;  // 0 (untouched) to 255 (covered), `height` rows of `stride` bytes

    bool empty() const { return width <= 0 || height <= 0; }
    // The coverage row at frame row `frameY` (which must lie within the mask).
    const std::uint8_t* row(int frameY) const { return alpha.data() + static_cast<std::size_t>(frameY - y) * stride; }
};

// Main thread only. Keeps the fonts and text layouts between frames; a mask's memory is reused when it
// is drawn again. Every call draws the mask afresh, in frame pixels of a `frameWidth` x `frameHeight` frame.
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
