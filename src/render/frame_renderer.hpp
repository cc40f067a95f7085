// Turns the view's state into a finished frame in the screen's format.
#pragma once

#include <memory>

#include "platform/platform.hpp"
#include "render/patch_view.hpp"

namespace pp {

// Main thread only. Holds the drawing surfaces between frames; every frame is drawn whole.
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

    // Draws the whole view on the drawing surface and converts it into `target` (the window's
    // buffer, same size, in the screen's format).
    void render(const PatchView& view, const FrameBuffer& target);

private:
    struct Surfaces;
    std::unique_ptr<Surfaces> surfaces_;
};

}  // namespace pp
