// The wall-clock time of the "painted" reply and its decimal form.
#pragma once

#include <string>

namespace pp {

// Seconds since 1970-01-01 00:00:00 UTC (CLOCK_REALTIME).
double wallClock();

// The shortest decimal that reads back as `seconds`, positional (no exponent), with at least one
// digit after the point: 1700000000 gives "1700000000.0". A non-finite value, which no clock gives,
// is written "0.0".
std::string secondsText(double seconds);

}  // namespace pp
