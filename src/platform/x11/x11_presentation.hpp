// Putting whole frames on a window: shared-memory pixmaps through the Present extension, or, without
// Present or MIT-SHM, the image in PutImage strips followed by a round trip.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <span>

#include "core/values.hpp"

namespace pp::x11 {

// How frames reach the window.
enum class PresentationPath {
    presentPixmap,  // MIT-SHM pixmaps presented with PresentPixmap, waiting for completion
    putImage,       // PutImage in strips from the client's memory, then a round trip
};

// The frames of one window. Main thread only; the window outlives it.
class X11Presentation {
public:
    virtual ~X11Presentation() = default;

    // The buffer for the next frame (the window's size, top row first), with its age and the frame
    // shown last; may wait for the server to release it. Valid until the next present().
    virtual FrameBuffer frame() = 0;

    // Shows the buffer last returned by frame(), `area` of it (the window's pixels; the whole frame
    // when empty), and returns once the server has it on the window (or the connection is gone).
    // Events that arrive meanwhile stay queued for the event loop.
    virtual void present(std::span<const PixelRect> area) = 0;

    virtual PresentationPath path() const = 0;

    // The pixels of the frame last presented (the window's size, the frame's stride), until the
    // next frame() or present().
    virtual const std::uint32_t* shownPixels() const = 0;
};

// The presentation for `window` (`width` x `height`, root depth) in `format`: Present with MIT-SHM
// when the server offers both and accepts the shared memory and `preferred` allows it, else PutImage.
// None only when a buffer cannot be had at all.
std::unique_ptr<X11Presentation> makePresentation(xcb_connection_t* connection, xcb_window_t window, int width,
                                                  int height, int depth, PixelFormat format,
                                                  PresentationPath preferred);

}  // namespace pp::x11
