// Which presented frame each of a window's buffers holds, so that a frame is drawn over the one a
// buffer already has and only the difference is redrawn.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
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

    // One of a window's buffers as it stands when the next frame is to be drawn.
    struct Buffer {
        const void* pixels = nullptr;
        bool free = false;  // the window system has released it: it may be drawn into
    };

    // Of `buffers`, the index of the one to draw the next frame into: the free one holding the newest
    // frame, which leaves the least to bring up to date, else the first free one; -1 when none is free.
    int drawInto(std::span<const Buffer> buffers) const
    {
        int chosen = -1;
        int chosenAge = 0;
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            if (!buffers[i].free) continue;
            const int a = age(buffers[i].pixels);
            if (chosen < 0 || (a > 0 && (chosenAge == 0 || a < chosenAge))) {
                chosen = int(i);
                chosenAge = a;
            }
        }
        return chosen;
    }

    // Of `buffers`, the index of a buffer other than `drawing` that holds the frame presented last
    // (FrameBuffer::shown, what the drawing buffer is brought up to date from); -1 when none does.
    int shownBeside(std::span<const Buffer> buffers, int drawing) const
    {
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            if (int(i) != drawing && age(buffers[i].pixels) == 1) return int(i);
        }
        return -1;
    }

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
