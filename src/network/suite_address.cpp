#include "network/suite_address.hpp"

#include <charconv>

namespace pp {
namespace {

std::optional<std::uint16_t> portNumber(std::string_view word)
{
    unsigned value = 0;
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (word.empty() || error != std::errc() || stop != end || value < 1 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<SuiteAddress> suiteAddress(std::string_view word)
{
    std::string_view host = word;
    std::optional<std::string_view> port;
    if (word.starts_with('[')) {
        const auto close = word.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = word.substr(1, close - 1);
        const std::string_view rest = word.substr(close + 1);
        if (!rest.empty()) {
            if (!rest.starts_with(':')) return std::nullopt;
            port = rest.substr(1);
        }
    } else if (const auto colon = word.find(':'); colon != std::string_view::npos) {
        // Outside brackets a colon ends the host: "::1:5000" could be an address or an address and a
        // port, and "127.0.0.1:20002:1" is neither.
        host = word.substr(0, colon);
        port = word.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of(" \t\n") != std::string_view::npos) return std::nullopt;
    SuiteAddress address{std::string(host), DEFAULT_SUITE_PORT};
    if (port) {
        const auto number = portNumber(*port);
        if (!number) return std::nullopt;
        address.port = *number;
    }
    return address;
}

}  // namespace pp
