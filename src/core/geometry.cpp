#include "core/geometry.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pp {

namespace {

double clamp01(double v)
{
    return std::min(1.0, std::max(0.0, v));
}

// A number pair that must be finite to be usable: a non-finite size or shift would poison the
// geometry and every report built from it.
std::vector<double> finitePair(const Words& words, std::string_view name, const std::vector<double>& fallback)
{
    const auto pair = numbers(words, name, fallback);
    return std::isfinite(pair[0]) && std::isfinite(pair[1]) ? pair : fallback;
}

// A patch size must also be positive on both axes: a patch of no size (or a negative one) is never
// drawn, and a reply for it would claim a picture that is not there.
std::vector<double> usableSize(const Words& words, const std::vector<double>& fallback)
{
    const auto pair = finitePair(words, "--mm", fallback);
    return pair[0] > 0 && pair[1] > 0 ? pair : fallback;
}

void appendFixed5(std::string& out, double value)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 5);
    out.append(buffer, result.ptr);
}

}  // namespace

Geometry patchGeometry(const Words& words, const Screen& screen)
{
    Geometry g;
    g.s = screen.frame;
    g.mm = screen.mm;
    g.size = usableSize(words, {65, 65});
    g.shift = finitePair(words, "--shift", {0, 0});
    g.sw = g.s.width;
    g.sh = g.s.height;
    // Only the physical height sets the scale; without one the patch is half the screen's height.
    if (g.mm.height > 0) {
        g.ppmm = g.sh / g.mm.height;
    } else {
        g.ppmm = (g.sh * 0.5) / std::max(1.0, g.size[1]);
    }
    g.pw = g.size[0] * g.ppmm;
    g.ph = g.size[1] * g.ppmm;
    g.pos = numbers(words, "--pos", {-1, -1});
    // A NaN fraction fails the comparison and centres like a negative one.
    if (g.pos[0] >= 0) {
        g.px = clamp01(g.pos[0]) * g.sw - 0.5 * g.pw;
    } else {
        g.px = (0.5 * g.sw - 0.5 * g.pw) + g.shift[0] * g.ppmm;
    }
    if (g.pos[1] >= 0) {
        g.py = (1 - clamp01(g.pos[1])) * g.sh - 0.5 * g.ph;
    } else {
        g.py = (0.5 * g.sh - 0.5 * g.ph) - g.shift[1] * g.ppmm;
    }
    g.patchRect = {g.px, g.py, g.pw, g.ph};
    return g;
}

std::string position(const Rect& rect, double sw, double sh)
{
    const double x = (rect.x + rect.width / 2) / sw;
    const double y = 1 - (rect.y + rect.height / 2) / sh;
    std::string text;
    appendFixed5(text, x);
    text += ' ';
    appendFixed5(text, y);
    return text;
}

}  // namespace pp
