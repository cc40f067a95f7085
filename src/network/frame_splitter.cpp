#include "network/frame_splitter.hpp"

namespace pp {

void FrameSplitter::feed(std::string_view bytes)
{
    // Read frames are dropped from the front only now and then, so a burst of small frames stays linear.
    if (start_ > 0 && (start_ >= held_.size() || start_ > 65536)) {
        held_.erase(0, start_);
        start_ = 0;
    }
    held_.append(bytes);
}

std::optional<std::string> FrameSplitter::next()
{
    if (broken_ || held_.size() - start_ < 4) return std::nullopt;
    const auto byte = [this](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(held_[start_ + i])); };
    const std::uint32_t length = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    if (length > MAX_MESSAGE_BYTES) {
        broken_ = true;
        return std::nullopt;
    }
    if (held_.size() - start_ - 4 < length) return std::nullopt;
    std::string message = held_.substr(start_ + 4, length);
    start_ += 4 + static_cast<std::size_t>(length);
    return message;
}

}  // namespace pp
