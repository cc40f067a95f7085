// The "info" round trip of the real presenter on an Xorg with the dummy driver, with many outputs and
// with one: the status report reads every output's state from the server each time it is built.
#pragma once

#include <nlohmann/json.hpp>

// Starts a dummy-driver Xorg with 16 outputs (then one with a single output), runs the presenter on
// it, and measures the median and 90th percentile "info" round trip (line written to reply read) over
// `commands` requests after a warm-up. Prints one table line per case and returns the figures, one
// object per case.
nlohmann::ordered_json infoBench(int commands);
