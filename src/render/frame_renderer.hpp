// Turns the view's state into a finished frame in the screen's format.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "core/patch_view.hpp"
#include "core/thread_rules.hpp"
#include "core/values.hpp"

namespace pp {

// Main thread only. Holds the masks and fonts between frames and what the last frames changed: a frame
// is drawn over the one its buffer already holds, only where the two differ.
class FrameRenderer {
public:
    // Each frame is drawn at its target's size, one point per pixel.
    FrameRenderer();
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    // Chooses the drawing surface: 8 bits per sample ("flat", "dither") or 16 ("deep").
    void setSurfaceBits(int bits);
    // The bits per sample of the drawing surface in use.
    int surfaceBits() const;

    // Draws the view into `target` (the window's buffer, in the screen's format) and returns where the
    // frame differs from the one drawn before it, for Window::present. After the call `target` holds
    // exactly what drawing the whole view gives. What the buffer already holds (FrameBuffer::age) is
    // brought up to date from the frame shown (FrameBuffer::shown) and redrawn only where the view
    // changed; without either the frame is drawn whole. Valid until the next call.
    std::span<const PixelRect> render(const PatchView& view, const FrameBuffer& target);

    // Frames whose changes are kept: a buffer older than this is drawn whole.
    static constexpr std::size_t HISTORY = 4;

private:
    struct State;
    std::unique_ptr<State> state_;
    OwnThread thread_;  // the main thread, checked in debug builds
};

}  // namespace pp
