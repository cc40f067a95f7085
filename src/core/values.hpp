// The portable value types every floor shares: points and rectangles in view coordinates, rectangles of
// device pixels, the frame buffer a window lends for drawing, and the person's input.
#pragma once

#include <cstdint>
#include <string>

namespace pp {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

// A rectangle: origin (x, y) and size. In view coordinates the origin is the lower-left corner (y up);
// a screen frame is in root-window pixels with the origin at its upper-left corner (y down).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
};

// Where a frame is drawn: a buffer of 32-bit pixels in the screen's format, top row first.
enum class PixelFormat {
    xrgb8888,     // 0x00RRGGBB, 8 bits per sample (depth 24)
    xrgb2101010,  // 0bxxRRRRRRRRRRGGGGGGGGGGBBBBBBBBBB, 10 bits per sample (depth 30)
};

// A rectangle of device pixels in a frame: origin at its upper-left corner, y down.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

struct FrameBuffer {
    std::uint32_t* pixels = nullptr;  // owned by the window; valid until the next present()
    int width = 0;                    // device pixels
    int height = 0;
    int stride = 0;                   // pixels per row
    PixelFormat format = PixelFormat::xrgb8888;
    double scale = 1;                 // device pixels per view point
    std::uint32_t padding = 0;        // set in every pixel: the unused (x) bits, for a window system
                                      // that reads them as opacity
    int age = 0;                      // what `pixels` hold: 1 the frame last presented, 2 the one
                                      // presented before it, and so on; 0 nothing known (drawn whole)
    const std::uint32_t* shown = nullptr;  // the frame last presented, in another buffer of the same
                                           // size, stride and format, for copying from; or none
    bool blank = false;               // every pixel holds 0, and the window shows 0 wherever the frame
                                      // presented from this buffer leaves it unchanged (a window's first
                                      // frame, in fresh memory)
};

// The whole of `frame` as one rectangle.
inline PixelRect wholeFrame(const FrameBuffer& frame)
{
    return {0, 0, frame.width, frame.height};
}

// Input from the person at the display, already in view coordinates (points, origin bottom-left, y up).
struct PointerEvent {
    enum class Kind { press, drag, release };
    Kind kind = Kind::press;
    Point location;
};

struct KeyEvent {
    std::string keysym;  // the key symbol's name: "Left", "Return", "space", "KP_Enter", "Escape", ...
    bool shift = false;  // Shift held
};

}  // namespace pp
