// Frames of the network road's channel, built byte by byte for the tests: a 4-byte big-endian length,
// then the body.
#pragma once

#include <cstdint>
#include <string>

namespace pp {

// `body` behind the length `length` (which need not be the body's own, to test what is refused).
inline std::string frame(const std::string& body, std::uint32_t length)
{
    std::string bytes{char(length >> 24), char(length >> 16 & 255), char(length >> 8 & 255), char(length & 255)};
    return bytes + body;
}

inline std::string frame(const std::string& body)
{
    return frame(body, static_cast<std::uint32_t>(body.size()));
}

}  // namespace pp
