#include "platform/wayland/wayland_window.hpp"

#include <sys/mman.h>

#include <cstring>
#include <limits>

#include "platform/clocks.hpp"
#include "platform/wayland/wayland_window_parts.hpp"

namespace pp::wayland {

namespace {

constexpr const char* NO_FRAME_MEMORY = "error no memory for the window's frames";

PixelFormat pixelFormat(std::uint32_t shmFormat)
{
    return shmFormat == WL_SHM_FORMAT_XRGB2101010 ? PixelFormat::xrgb2101010 : PixelFormat::xrgb8888;
}

}  // namespace

WaylandWindow::Pool* WaylandWindow::pool(std::uint32_t format)
{
    for (auto& p : pools_) {
        if (p->format == format) return p.get();
    }
    if (failedFormats_.count(format)) return nullptr;
    failedFormats_.insert(format);
    auto p = std::make_unique<Pool>();
    p->format = format;
    // The protocol gives a pool's size and a buffer's offset and stride in 32 bits.
    const std::size_t frameBytes = std::size_t(width_) * std::size_t(height_) * 4;
    if (frameBytes == 0 || frameBytes > std::size_t(std::numeric_limits<std::int32_t>::max()) / 2) return nullptr;
    p->size = frameBytes * 2;
    p->fd = memfd_create(WINDOW_NAME, MFD_CLOEXEC);
    if (p->fd < 0 || ftruncate(p->fd, off_t(p->size)) != 0) return nullptr;
    p->data = mmap(nullptr, p->size, PROT_READ | PROT_WRITE, MAP_SHARED, p->fd, 0);
    if (p->data == MAP_FAILED) return nullptr;
    failedFormats_.erase(format);
    // Fresh memory costs a fault per page where it is first written, far more than drawing the page.
    // Two threads make it present: each its half of the first buffer, which the first frame waits for
    // and is then drawn at memory speed, then, once that frame is shown, its half of the second. A
    // kernel without the call leaves the faults to the drawing.
    p->firstPresent = std::make_unique<std::latch>(2);
    p->firstShown = std::make_unique<std::latch>(1);
    const std::size_t half = frameBytes / 2;
    for (int i = 0; i < 2; ++i) {
        const std::size_t from = i == 0 ? 0 : half;
        const std::size_t bytes = i == 0 ? half : frameBytes - half;
        char* data = static_cast<char*>(p->data);
        p->populating[i] = std::thread([data, from, bytes, frameBytes, done = p->firstPresent.get(),
                                        shown = p->firstShown.get()] {
            madvise(data + from, bytes, MADV_POPULATE_WRITE);
            done->count_down();
            shown->wait();
            madvise(data + frameBytes + from, bytes, MADV_POPULATE_WRITE);
        });
    }
    p->proxy = wl_shm_create_pool(connection_.shm(), p->fd, std::int32_t(p->size));
    for (int i = 0; i < 2; ++i) {
        Buffer& b = p->buffers[i];
        b.proxy = wl_shm_pool_create_buffer(p->proxy, std::int32_t(frameBytes * std::size_t(i)), width_, height_,
                                            width_ * 4, format);
        b.pixels = reinterpret_cast<std::uint32_t*>(static_cast<char*>(p->data) + frameBytes * std::size_t(i));
        wl_buffer_add_listener(b.proxy, &Pool::BUFFER, &b);
    }
    pools_.push_back(std::move(p));
    return pools_.back().get();
}

FrameBuffer WaylandWindow::frame()
{
    PP_MAIN_THREAD_ONLY(loop_);
    framing_ = true;
    drawing_ = nullptr;
    Pool* p = pool(format_);
    if (!p && format_ != WL_SHM_FORMAT_XRGB8888) p = pool(WL_SHM_FORMAT_XRGB8888);
    if (!p) loop_.endWith(NO_FRAME_MEMORY);
    // A compositor that keeps both buffers is not showing the frames: it is waited for as a frame is.
    const double until = monotonicSeconds() + SHOW_LIMIT;
    while (p && !drawing_ && !loop_.ended()) {
        if (const int b = ages_.drawInto(p->agesView()); b >= 0) {
            drawing_ = &p->buffers[b];
            break;
        }
        const double left = until - monotonicSeconds();
        if (left <= 0) {
            loop_.endWith(MainLoop::WINDOW_NOT_SHOWN);
            break;
        }
        if (!dispatchOnce(std::min(WAIT_SLICE_MS, waitMilliseconds(left)))) break;
    }
    if (!drawing_) {
        // Nothing will be shown: the frame is drawn where it harms nothing.
        scratch_.resize(std::size_t(width_) * std::size_t(height_));
        return {scratch_.data(), width_, height_, width_, PixelFormat::xrgb8888, scale_};
    }
    // The unused bits are set: some compositors read an x channel as alpha.
    const std::uint32_t padding = p->format == WL_SHM_FORMAT_XRGB2101010 ? 0xC0000000u : 0xFF000000u;
    // The first frame waits for the first buffer's memory only; by the second, all of it is present (the
    // threads end there, and so no way out of the process leaves them behind).
    if (p->drawnInto) {
        p->joinPopulating();
    } else {
        p->firstPresent->wait();
    }
    p->drawnInto = true;
    FrameBuffer frame{drawing_->pixels, width_, height_, width_, pixelFormat(p->format), scale_, padding};
    frame.age = ages_.age(drawing_->pixels);
    if (const int shown = ages_.shownBeside(p->agesView(), int(drawing_ - p->buffers)); shown >= 0) {
        frame.shown = p->buffers[shown].pixels;
    }
    return frame;
}

WaylandWindow::Buffer& WaylandWindow::freshCopy(Buffer& shown)
{
    for (auto& p : pools_) {
        Buffer* other = &shown == &p->buffers[0] ? &p->buffers[1] : &shown == &p->buffers[1] ? &p->buffers[0] : nullptr;
        if (!other || other->busy) continue;
        // The other buffer's memory is made present by both threads first, faster than the copy's faults.
        p->joinPopulating();
        std::memcpy(other->pixels, shown.pixels, std::size_t(width_) * std::size_t(height_) * 4);
        ages_.copiedNewest(other->pixels);
        return *other;
    }
    return shown;
}

void WaylandWindow::setSurfaceBits(int bits)
{
    // 10-bit frames only where they are known to reach the output as they are.
    const bool deep = bits == 16 && connection_.takesDeepFrames(screen_.number);
    format_ = deep ? WL_SHM_FORMAT_XRGB2101010 : WL_SHM_FORMAT_XRGB8888;
}

}  // namespace pp::wayland
