// Where the calibration suite listens: the word given to --connect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pp {

// The port the suites listen on unless told otherwise.
inline constexpr std::uint16_t DEFAULT_SUITE_PORT = 20002;

struct SuiteAddress {
    std::string host;  // a name, an IPv4 address or an IPv6 address (without brackets)
    std::uint16_t port = DEFAULT_SUITE_PORT;

    bool operator==(const SuiteAddress&) const = default;
};

// HOST, HOST:PORT, [IPV6] or [IPV6]:PORT: an IPv6 address is always written in brackets. None when the
// host is empty, or what follows the host is not ":" and a port number from 1 to 65535 (so a second
// colon outside brackets, as in "::1" or "127.0.0.1:20002:1", is refused).
std::optional<SuiteAddress> suiteAddress(std::string_view word);

}  // namespace pp
