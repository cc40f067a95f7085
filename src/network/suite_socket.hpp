// The TCP connection to the calibration suite.
#pragma once

#include "network/suite_address.hpp"

namespace pp {

// One attempt to reach the suite: resolves the host (names, IPv4 and IPv6 through getaddrinfo) and
// connects to the first of its addresses that accepts within a few seconds. The connected socket
// (blocking, close-on-exec), or -1. Blocks; any thread but the main one.
int connectToSuite(const SuiteAddress& address);

}  // namespace pp
