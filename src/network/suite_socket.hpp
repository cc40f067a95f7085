// The TCP connection to the calibration suite.
#pragma once

#include "network/suite_address.hpp"

namespace pp {

// What one attempt to reach the suite came to.
struct SuiteAttempt {
    int fd = -1;             // the connected socket (blocking, close-on-exec), or -1
    bool noAddress = false;  // the host could not be resolved to any address
};

// One attempt to reach the suite: resolves the host (names, IPv4 and IPv6 through getaddrinfo) and
// connects to the first of its addresses that accepts within a few seconds. Blocks; any thread but
// the main one.
SuiteAttempt connectToSuite(const SuiteAddress& address);

}  // namespace pp
