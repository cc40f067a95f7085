// A window system's picture of one output read from an image file: 8-bit RGB samples, exactly as stored.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pixels.hpp"

namespace pp::test {

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // top row first

    // The pixel at (x, y) from the top-left corner, in device pixels.
    Rgb at(int x, int y) const { return pixels.at(static_cast<std::size_t>(y) * width + x); }
    // Whether every pixel of the rectangle has the colour.
    bool uniform(int x, int y, int w, int h, const Rgb& colour) const;
};

// A binary PPM (P6, maxval 255) as grim writes it; none when the bytes are not one.
std::optional<Screenshot> screenshotFromPpm(const std::string& bytes);

// A PNG file of 8 bits per sample (RGB or RGBA, alpha dropped) as weston-screenshooter writes it; none
// when the file is missing or not such a PNG.
std::optional<Screenshot> screenshotFromPng(const std::string& path);

}  // namespace pp::test
