#include "platform/clocks.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

namespace pp {

namespace {

// Reads of the two clocks taken to find their offset; the tightest counts.
constexpr int OFFSET_READS = 4;

timespec timespecOf(double seconds)
{
    timespec t{};
    t.tv_sec = time_t(std::floor(seconds));
    t.tv_nsec = long((seconds - std::floor(seconds)) * 1e9);
    if (t.tv_nsec >= 1000000000L) {
        ++t.tv_sec;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

}  // namespace

double secondsOf(const timespec& t)
{
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double clockSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return secondsOf(now);
}

double monotonicSeconds()
{
    return clockSeconds(CLOCK_MONOTONIC);
}

double wallClockOf(clockid_t clock, double seconds)
{
    if (clock == CLOCK_REALTIME) return seconds;
    // The wall clock read between two reads of the other clock: the narrower the bracket, the better
    // the wall clock's moment is known on the other clock.
    double bestWidth = std::numeric_limits<double>::infinity();
    double offset = 0;
    for (int i = 0; i < OFFSET_READS; ++i) {
        timespec before{}, wall{}, after{};
        clock_gettime(clock, &before);
        clock_gettime(CLOCK_REALTIME, &wall);
        clock_gettime(clock, &after);
        const double width = secondsOf(after) - secondsOf(before);
        if (width < bestWidth) {
            bestWidth = width;
            offset = secondsOf(wall) - (secondsOf(before) + width / 2);
        }
    }
    return seconds + offset;
}

int waitMilliseconds(double seconds)
{
    return std::max(1, int(std::ceil(seconds * 1000)));
}

void sleepUntil(clockid_t clock, double seconds, double most)
{
    const double until = std::min(seconds, clockSeconds(clock) + std::max(0.0, most));
    const timespec at = timespecOf(until);
    int error = EINTR;
    while (error == EINTR) error = clock_nanosleep(clock, TIMER_ABSTIME, &at, nullptr);
    // A clock that cannot be slept on (a raw one) is waited on as a span of the monotonic clock.
    if (error != 0) {
        const double left = until - clockSeconds(clock);
        if (left > 0) sleepUntil(CLOCK_MONOTONIC, monotonicSeconds() + left, left);
    }
}

}  // namespace pp
