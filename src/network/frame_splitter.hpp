// Cuts the byte stream from a calibration suite into its messages: each is a 4-byte big-endian length
// followed by that many bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pp {

// The longest message taken; a longer length means the stream cannot be used any further.
inline constexpr std::uint32_t MAX_MESSAGE_BYTES = 1u << 20;

// Any one thread. Holds the bytes of an unfinished frame until the rest arrives, however the stream
// was cut into reads.
class FrameSplitter {
public:
    // Adds bytes as they came off the connection.
    void feed(std::string_view bytes);

    // The next whole message in stream order, or none until one is whole (and never again once
    // broken()).
    std::optional<std::string> next();

    // A frame announced more than MAX_MESSAGE_BYTES: its end cannot be found without reading it all,
    // so the connection is to be dropped.
    bool broken() const { return broken_; }

    // Bytes of a frame that has not ended are held: a stream that ends now cut a message short.
    bool midFrame() const { return held_.size() > start_; }

private:
    std::string held_;
    std::size_t start_ = 0;  // where the first unread frame begins in `held_`
    bool broken_ = false;
};

}  // namespace pp
