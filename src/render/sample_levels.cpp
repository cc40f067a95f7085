#include "render/sample_levels.hpp"

#include <algorithm>
#include <cmath>

namespace pp {

std::uint16_t level16(double c)
{
    const double clamped = c > 0 ? std::min(255.0, c) : 0.0;  // NaN fails the test: 0
    return static_cast<std::uint16_t>(std::lround(clamped * 257));  // 65535 / 255 = 257 exactly
}

std::uint16_t unitLevel16(double f)
{
    return level16(f * 255);
}

}  // namespace pp
