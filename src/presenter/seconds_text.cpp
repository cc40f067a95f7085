#include "presenter/seconds_text.hpp"

#include <charconv>
#include <cmath>
#include <ctime>

namespace pp {

double wallClock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string secondsText(double seconds)
{
    if (!std::isfinite(seconds)) return "0.0";
    // Fixed notation without a precision is the shortest positional form that round-trips.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (text.find('.') == std::string::npos) text += ".0";
    return text;
}

}  // namespace pp
