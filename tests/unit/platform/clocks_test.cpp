#include "platform/clocks.hpp"

#include <gtest/gtest.h>

namespace pp {
namespace {

// A moment on another clock lands on the wall clock where the wall clock stood at that moment.
TEST(Clocks, AMomentOnAnotherClockIsCarriedOverToTheWallClock)
{
    for (const clockid_t clock : {CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW, CLOCK_BOOTTIME}) {
        const double wallBefore = clockSeconds(CLOCK_REALTIME);
        const double moment = clockSeconds(clock);
        const double wallAfter = clockSeconds(CLOCK_REALTIME);
        const double carried = wallClockOf(clock, moment);
        EXPECT_GE(carried, wallBefore - 0.0005) << clock;
        EXPECT_LE(carried, wallAfter + 0.0005) << clock;
        // An hour earlier stays an hour earlier.
        EXPECT_NEAR(wallClockOf(clock, moment - 3600), carried - 3600, 0.001) << clock;
    }
    EXPECT_EQ(wallClockOf(CLOCK_REALTIME, 1700000000.25), 1700000000.25);
}

// A sleep reaches the moment asked for, on clocks that can be slept on and on one that cannot; one
// asked for far ahead ends at its bound.
TEST(Clocks, SleepUntilReachesTheMomentOrItsBound)
{
    for (const clockid_t clock : {CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW}) {
        const double target = clockSeconds(clock) + 0.02;
        sleepUntil(clock, target, 1);
        EXPECT_GE(clockSeconds(clock), target) << clock;
    }
    // Without the bound this would not return within the test's time limit.
    const double start = monotonicSeconds();
    sleepUntil(CLOCK_MONOTONIC, start + 3600, 0.01);
    EXPECT_GE(monotonicSeconds(), start + 0.01);
}

}  // namespace
}  // namespace pp
