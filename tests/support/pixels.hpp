// Pixels read back from an X server by a second client, exactly as the server holds them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pp::test {

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    bool operator==(const Rgb&) const = default;
};

// How a failing test shows a pixel: "r,g,b".
inline void PrintTo(const Rgb& colour, std::ostream* out)
{
    *out << colour.r << "," << colour.g << "," << colour.b;
}

struct RootImage {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int depth = 24;                // 24: 8 bits per sample; 30: 10 bits per sample
    std::vector<std::uint32_t> pixels;  // raw server values, top row first

    // The samples of the pixel at root coordinates (x, y), at the screen's bits per sample.
    Rgb at(int rootX, int rootY) const;
};

// The root window's pixels in the rectangle, read with GetImage; throws when the server cannot be
// reached.
RootImage readRoot(const std::string& display, int x, int y, int width, int height);

}  // namespace pp::test
