// Which presented frame each of a window's buffers holds, so that a frame is drawn over the one a
// buffer already has and only the difference is redrawn.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace pp {

// Buffers are known by their pixels' address. Main thread only.
class BufferAges {
public:
    // FrameBuffer::age of `buffer`: 1 when it holds the frame presented last, 2 the one before it, and
    // so on; 0 when it holds no presented frame.
    int age(const void* buffer) const
    {
        for (const auto& [b, frame] : held_) {
            if (b == buffer) return int(std::min<std::uint64_t>(presented_ - frame + 1, AGE_LIMIT));
        }
        return 0;
    }

    // `buffer` has been presented: it holds the newest frame.
    void presented(const void* buffer)
    {
        ++presented_;
        hold(buffer);
    }

    // The newest frame has been copied whole into `buffer`.
    void copiedNewest(const void* buffer)
    {
        if (presented_ > 0) hold(buffer);
    }

    // The buffers' contents are gone (freed, resized, recreated).
    void forget() { held_.clear(); }

private:
    static constexpr std::uint64_t AGE_LIMIT = 1000;  // older than any history a renderer keeps

    void hold(const void* buffer)
    {
        for (auto& [b, frame] : held_) {
            if (b == buffer) {
                frame = presented_;
                return;
            }
        }
        held_.emplace_back(buffer, presented_);
    }

    std::uint64_t presented_ = 0;
    std::vector<std::pair<const void*, std::uint64_t>> held_;
};

}  // namespace pp
