// The clocks a window system states its times in, and their carrying over to the wall clock.
#pragma once

#include <ctime>

namespace pp {

double secondsOf(const timespec& t);
// Seconds on `clock` now.
double clockSeconds(clockid_t clock);
double monotonicSeconds();

// The moment `seconds` on `clock` as seconds since 1970 (CLOCK_REALTIME). The offset between the two
// clocks is read from the tightest of a few back-to-back reads of both, so that a preemption between two
// reads does not move the moment (one loose pair was seen a tenth of a millisecond off). Any thread.
double wallClockOf(clockid_t clock, double seconds);

// `seconds` as a poll timeout: whole milliseconds, rounded up, at least 1.
int waitMilliseconds(double seconds);

// Sleeps until `seconds` on `clock` have been reached, but no longer than `most` seconds from now.
void sleepUntil(clockid_t clock, double seconds, double most);

}  // namespace pp
