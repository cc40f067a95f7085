// An in-memory window for tests: a frame buffer of the screen's size and format that tests read back,
// a count of presents, and the pointer's visibility.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/buffer_ages.hpp"
#include "platform/window_system.hpp"

namespace pp::headless {

// The Window calls are main-thread only, as everywhere; the read-back calls (presentCount, shownPixel,
// shownFrame, pointerVisible, pointerChanges) may be made from any thread at any time.
class HeadlessWindow : public Window {
public:
    // A window covering `screen`: frame-sized, xrgb2101010 at depth 30 and xrgb8888 otherwise, the
    // pointer hidden (as a created window starts), nothing presented yet.
    explicit HeadlessWindow(const Screen& screen);

    FrameBuffer frame() override;
    void present(std::span<const PixelRect> changed) override;
    void setNeedsDisplay() override;
    void setPointerVisible(bool visible) override;
    std::optional<double> presentedAt() const override { return presentedAt_; }

    // Makes the window report that its frames were shown at `time` (none: it reports no time).
    void reportPresentationsAt(std::optional<double> time) { presentedAt_ = time; }

    // Whether a repaint was asked for since the last call; clears the request. Main thread (the loop).
    bool takeNeedsDisplay();

    int width() const { return width_; }
    int height() const { return height_; }
    PixelFormat format() const { return format_; }
    int presentCount() const { return presents_.load(); }
    // A pixel of the last presented frame, (0, 0) being the top-left; 0 before the first present.
    std::uint32_t shownPixel(int x, int y) const;
    std::vector<std::uint32_t> shownFrame() const;
    bool pointerVisible() const { return pointerVisible_.load(); }
    int pointerChanges() const { return pointerChanges_.load(); }

private:
    int width_;
    int height_;
    PixelFormat format_;
    std::vector<std::uint32_t> drawing_;  // what frame() hands out
    mutable std::mutex shownMutex_;
    std::vector<std::uint32_t> shown_;    // what the last present() put on the "screen"
    std::atomic<int> presents_{0};
    std::atomic<bool> pointerVisible_{false};
    std::atomic<int> pointerChanges_{0};
    bool needsDisplay_ = false;
    std::optional<double> presentedAt_;
    BufferAges ages_;
};

}  // namespace pp::headless
