#include "platform/x11/x11_presentation.hpp"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/present.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/buffer_ages.hpp"
#include "platform/x11/x11_conversions.hpp"

namespace pp::x11 {

namespace {

template <typename T>
struct Freed {
    T* p;
    explicit Freed(T* pointer) : p(pointer) {}
    ~Freed() { std::free(p); }
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// True when the checked request went through without an error.
bool succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie)
{
    xcb_generic_error_t* error = xcb_request_check(c, cookie);
    std::free(error);
    return error == nullptr && !xcb_connection_has_error(c);
}

// A request the server answers, so that every request before it has been carried out.
void roundTrip(xcb_connection_t* c)
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// Whether 32-bit pixels are the server's image layout at `depth`.
bool thirtyTwoBitPixels(xcb_connection_t* c, int depth)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == depth) return f.data->bits_per_pixel == 32 && f.data->scanline_pad <= 32;
    }
    return false;
}

// Whether the connection is a local socket, the only kind a file descriptor can be sent over.
bool localSocket(xcb_connection_t* c)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(xcb_get_file_descriptor(c), reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    return address.ss_family == AF_UNIX;
}

// Writes the rows of the image that `area` touches (all of them when it is empty) to the window, in
// strips of whole rows that each fit one request, then makes a round trip.
void putImageStrips(xcb_connection_t* c, xcb_window_t window, xcb_gcontext_t gc, const std::uint32_t* pixels,
                    int width, int height, int depth, std::span<const PixelRect> area)
{
    const int rows = stripRows(std::uint64_t(xcb_get_maximum_request_length(c)) * 4, width, height);
    auto put = [&](int from, int to) {
        for (int top = from; top < to; top += rows) {
            const int count = std::min(rows, to - top);
            xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, std::uint16_t(width), std::uint16_t(count), 0,
                          std::int16_t(top), 0, std::uint8_t(depth), std::uint32_t(width) * std::uint32_t(count) * 4,
                          reinterpret_cast<const std::uint8_t*>(pixels + std::size_t(top) * std::size_t(width)));
        }
    };
    if (area.empty()) put(0, height);
    for (const PixelRect& r : area) put(std::clamp(r.y, 0, height), std::clamp(r.y + r.height, 0, height));
    roundTrip(c);
}

// The rectangles of `area` as the server takes them.
std::vector<xcb_rectangle_t> serverRectangles(std::span<const PixelRect> area)
{
    std::vector<xcb_rectangle_t> rects;
    for (const PixelRect& r : area) {
        rects.push_back({std::int16_t(r.x), std::int16_t(r.y), std::uint16_t(r.width), std::uint16_t(r.height)});
    }
    return rects;
}

xcb_gcontext_t makeGc(xcb_connection_t* c, xcb_window_t window)
{
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(c, gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    return gc;
}

// Frames in the client's memory, written with PutImage.
class ImagePresentation : public X11Presentation {
public:
    ImagePresentation(xcb_connection_t* c, xcb_window_t window, int width, int height, int depth, PixelFormat format)
        : c_(c), window_(window), width_(width), height_(height), depth_(depth), format_(format),
          pixels_(std::size_t(width) * std::size_t(height)), gc_(makeGc(c, window))
    {
    }
    ~ImagePresentation() override { xcb_free_gc(c_, gc_); }

    FrameBuffer frame() override
    {
        FrameBuffer frame{pixels_.data(), width_, height_, width_, format_};
        frame.age = ages_.age(pixels_.data());
        frame.blank = !presented_;
        return frame;
    }

    void present(std::span<const PixelRect> area) override
    {
        putImageStrips(c_, window_, gc_, pixels_.data(), width_, height_, depth_, area);
        ages_.presented(pixels_.data());
        presented_ = true;
    }

    PresentationPath path() const override { return PresentationPath::putImage; }

    const std::uint32_t* shownPixels() const override { return pixels_.data(); }

private:
    xcb_connection_t* c_;
    xcb_window_t window_;
    int width_, height_, depth_;
    PixelFormat format_;
    std::vector<std::uint32_t> pixels_;
    xcb_gcontext_t gc_;
    BufferAges ages_;
    bool presented_ = false;
};

// Two shared-memory pixmaps, presented in turn. A pixmap is drawn into only once the server has said
// it is idle. The one presented last is reused when it is idle already (a copying presentation), so
// the second is touched only when the server holds on to the first (a flip).
class SharedMemoryPresentation : public X11Presentation {
public:
    // How long a presentation may go without completing before the server is asked whether it
    // refused it.
    static constexpr int REFUSAL_CHECK_MS = 100;

    SharedMemoryPresentation(xcb_connection_t* c, xcb_window_t window, int width, int height, int depth,
                             PixelFormat format)
        : c_(c), window_(window), width_(width), height_(height), depth_(depth), format_(format)
    {
    }

    ~SharedMemoryPresentation() override
    {
        if (special_) xcb_unregister_for_special_event(c_, special_);
        for (auto pixmap : pixmaps_) {
            if (pixmap != XCB_NONE) xcb_free_pixmap(c_, pixmap);
        }
        if (gc_ != XCB_NONE) xcb_free_gc(c_, gc_);
        if (region_ != XCB_NONE) xcb_xfixes_destroy_region(c_, region_);
        if (attached_) xcb_shm_detach(c_, segment_);
        xcb_flush(c_);
        if (memory_ && sysV_) shmdt(memory_);
        if (memory_ && !sysV_) munmap(memory_, bytes_);
    }

    // Attaches the memory and makes the pixmaps; false when the server refuses any of it.
    bool open(const xcb_shm_query_version_reply_t& shm)
    {
        frameBytes_ = std::size_t(width_) * std::size_t(height_) * 4;
        const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
        frameBytes_ = (frameBytes_ + page - 1) / page * page;
        bytes_ = 2 * frameBytes_;
        segment_ = xcb_generate_id(c_);
        const bool fdPassing =
            (shm.major_version > 1 || (shm.major_version == 1 && shm.minor_version >= 2)) && localSocket(c_);
        if (!(fdPassing && attachMemoryFile()) && !attachSysV()) return false;
        attached_ = true;

        xcb_void_cookie_t made[2];
        for (int i = 0; i < 2; ++i) {
            pixmaps_[i] = xcb_generate_id(c_);
            made[i] = xcb_shm_create_pixmap_checked(c_, pixmaps_[i], window_, std::uint16_t(width_),
                                                    std::uint16_t(height_), std::uint8_t(depth_), segment_,
                                                    std::uint32_t(i * frameBytes_));
        }
        const xcb_present_event_t events = xcb_generate_id(c_);
        const auto selected = xcb_present_select_input_checked(
            c_, events, window_, XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY | XCB_PRESENT_EVENT_MASK_IDLE_NOTIFY);
        special_ = xcb_register_for_special_xge(c_, &xcb_present_id, events, nullptr);
        // One region, set to each frame's update area; without XFixes every frame updates the whole window.
        if (const auto* xfixes = xcb_get_extension_data(c_, &xcb_xfixes_id); xfixes && xfixes->present) {
            region_ = xcb_generate_id(c_);
            if (!succeeded(c_, xcb_xfixes_create_region_checked(c_, region_, 0, nullptr))) region_ = XCB_NONE;
        }
        bool ok = succeeded(c_, selected) && special_ != nullptr;
        for (int i = 0; i < 2; ++i) {
            if (succeeded(c_, made[i])) continue;
            pixmaps_[i] = XCB_NONE;  // a refused id names no pixmap
            ok = false;
        }
        return ok;
    }

    FrameBuffer frame() override
    {
        if (current_ < 0) current_ = idleBuffer();
        FrameBuffer frame{bufferPixels(current_), width_, height_, width_, format_};
        frame.age = ages_.age(frame.pixels);
        frame.blank = !presented_;  // the memory is fresh, and zero, until a frame is drawn into it
        // The other buffer, when it holds the frame on the screen, brings this one up to date.
        if (const int shown = ages_.shownBeside(agesView(), current_); shown >= 0) frame.shown = bufferPixels(shown);
        return frame;
    }

    void present(std::span<const PixelRect> area) override
    {
        if (current_ < 0) current_ = idleBuffer();
        const int b = current_;
        current_ = -1;
        last_ = b;
        ages_.presented(bufferPixels(b));
        presented_ = true;
        if (imageFallback_) {
            putImageStrips(c_, window_, gc_, bufferPixels(b), width_, height_, depth_, area);
            return;
        }
        if (++serial_ == 0) serial_ = 1;  // 0 stands for "no completion"
        const std::uint32_t serial = serial_;
        idle_[b] = false;
        serials_[b] = serial;
        xcb_xfixes_region_t update = XCB_NONE;
        if (region_ != XCB_NONE && !area.empty()) {
            const auto rects = serverRectangles(area);
            xcb_xfixes_set_region(c_, region_, std::uint32_t(rects.size()), rects.data());
            update = region_;
        }
        const auto cookie = xcb_present_pixmap_checked(c_, window_, pixmaps_[b], serial, XCB_NONE, update, 0, 0,
                                                       XCB_NONE, XCB_NONE, XCB_NONE, XCB_PRESENT_OPTION_NONE, 0, 0,
                                                       0, 0, nullptr);
        if (awaitCompletion(serial, cookie) != Completion::refused) return;
        // The server will not present this window: write the image from now on.
        idle_[b] = true;
        if (xcb_connection_has_error(c_)) return;
        imageFallback_ = true;
        gc_ = makeGc(c_, window_);
        putImageStrips(c_, window_, gc_, bufferPixels(b), width_, height_, depth_, {});
    }

    PresentationPath path() const override
    {
        return imageFallback_ ? PresentationPath::putImage : PresentationPath::presentPixmap;
    }

    const std::uint32_t* shownPixels() const override { return bufferPixels(last_); }

private:
    // Shares an anonymous memory file with the server (MIT-SHM 1.2); works across IPC namespaces.
    bool attachMemoryFile()
    {
        const int fd = memfd_create("patch-presenter-frames", MFD_CLOEXEC);
        if (fd < 0) return false;
        void* memory = MAP_FAILED;
        if (ftruncate(fd, off_t(bytes_)) == 0) memory = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        const int passed = memory == MAP_FAILED ? -1 : dup(fd);  // XCB closes the descriptor it sends
        close(fd);
        if (passed < 0) {
            if (memory != MAP_FAILED) munmap(memory, bytes_);
            return false;
        }
        if (!succeeded(c_, xcb_shm_attach_fd_checked(c_, segment_, passed, 0))) {
            munmap(memory, bytes_);
            return false;
        }
        memory_ = memory;
        sysV_ = false;
        return true;
    }

    // A System V segment, removed as soon as the server has attached it.
    bool attachSysV()
    {
        const int id = shmget(IPC_PRIVATE, bytes_, IPC_CREAT | 0600);
        if (id < 0) return false;
        void* memory = shmat(id, nullptr, 0);
        if (memory == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        const bool ok = succeeded(c_, xcb_shm_attach_checked(c_, segment_, std::uint32_t(id), 0));
        shmctl(id, IPC_RMID, nullptr);
        if (!ok) {
            shmdt(memory);
            return false;
        }
        memory_ = memory;
        sysV_ = true;
        return true;
    }

    std::uint32_t* bufferPixels(int b) const
    {
        return reinterpret_cast<std::uint32_t*>(static_cast<char*>(memory_) + std::size_t(b) * frameBytes_);
    }

    enum class Completion { completed, refused, lost };

    // Waits for this presentation's own completion; an earlier one's does not count. A refused request
    // never completes, and its error is all the server sends about it: the server is asked whether it
    // refused the request only when the completion is slow to come, so that a frame costs no round
    // trip of its own.
    Completion awaitCompletion(std::uint32_t serial, xcb_void_cookie_t cookie)
    {
        if (xcb_flush(c_) <= 0) return Completion::lost;
        bool accepted = false;  // the server has carried the request out
        for (;;) {
            // Reads what the server has sent when nothing is queued yet.
            while (xcb_generic_event_t* event = xcb_poll_for_special_event(c_, special_)) {
                const bool done = take(*event) == serial;
                std::free(event);
                if (!done) continue;
                if (!accepted) xcb_discard_reply(c_, cookie.sequence);
                return Completion::completed;
            }
            if (xcb_connection_has_error(c_)) return Completion::lost;
            if (accepted) {
                xcb_generic_event_t* event = xcb_wait_for_special_event(c_, special_);
                if (!event) return Completion::lost;
                const bool done = take(*event) == serial;
                std::free(event);
                if (done) return Completion::completed;
                continue;
            }
            pollfd socket{xcb_get_file_descriptor(c_), POLLIN, 0};
            const int ready = poll(&socket, 1, REFUSAL_CHECK_MS);
            if (ready > 0 || (ready < 0 && errno == EINTR)) continue;
            xcb_generic_error_t* error = xcb_request_check(c_, cookie);
            std::free(error);
            if (error) return Completion::refused;
            accepted = true;
        }
    }

    // Notes a Present event; the serial of a completed pixmap presentation, else 0.
    std::uint32_t take(const xcb_generic_event_t& event)
    {
        const auto& ge = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
        if (ge.event_type == XCB_PRESENT_EVENT_IDLE_NOTIFY) {
            const auto& idle = reinterpret_cast<const xcb_present_idle_notify_event_t&>(event);
            for (int i = 0; i < 2; ++i) {
                if (idle.pixmap == pixmaps_[i] && idle.serial == serials_[i]) idle_[i] = true;
            }
        } else if (ge.event_type == XCB_PRESENT_EVENT_COMPLETE_NOTIFY) {
            const auto& complete = reinterpret_cast<const xcb_present_complete_notify_event_t&>(event);
            if (complete.kind == XCB_PRESENT_COMPLETE_KIND_PIXMAP) return complete.serial;
        }
        return 0;
    }

    // The pixmaps as the ages see them: their pixels, and whether the server has released them.
    std::array<BufferAges::Buffer, 2> agesView() const
    {
        return {{{bufferPixels(0), idle_[0]}, {bufferPixels(1), idle_[1]}}};
    }

    // The buffer to draw into: of those the server has released, the one holding the newest frame,
    // waiting for the server to release one when it holds both.
    int idleBuffer()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_special_event(c_, special_)) {
            take(*event);
            std::free(event);
        }
        for (;;) {
            if (const int b = ages_.drawInto(agesView()); b >= 0) return b;
            xcb_generic_event_t* event = xcb_wait_for_special_event(c_, special_);
            if (!event) return last_;  // the connection is gone; drawing goes nowhere
            take(*event);
            std::free(event);
        }
    }

    xcb_connection_t* c_;
    xcb_window_t window_;
    int width_, height_, depth_;
    PixelFormat format_;
    std::size_t frameBytes_ = 0;
    std::size_t bytes_ = 0;
    void* memory_ = nullptr;
    bool sysV_ = false;
    bool attached_ = false;
    xcb_shm_seg_t segment_ = XCB_NONE;
    xcb_pixmap_t pixmaps_[2] = {XCB_NONE, XCB_NONE};
    bool idle_[2] = {true, true};
    std::uint32_t serials_[2] = {0, 0};
    std::uint32_t serial_ = 0;
    int current_ = -1;
    int last_ = 0;
    xcb_special_event_t* special_ = nullptr;
    bool imageFallback_ = false;
    xcb_gcontext_t gc_ = XCB_NONE;
    xcb_xfixes_region_t region_ = XCB_NONE;
    BufferAges ages_;
    bool presented_ = false;
};

// The MIT-SHM version when the server offers shared pixmaps and Present, else none.
std::unique_ptr<xcb_shm_query_version_reply_t, decltype(&std::free)> sharedPixmapSupport(xcb_connection_t* c)
{
    std::unique_ptr<xcb_shm_query_version_reply_t, decltype(&std::free)> none(nullptr, &std::free);
    const xcb_query_extension_reply_t* shmExtension = xcb_get_extension_data(c, &xcb_shm_id);
    const xcb_query_extension_reply_t* presentExtension = xcb_get_extension_data(c, &xcb_present_id);
    if (!shmExtension || !shmExtension->present || !presentExtension || !presentExtension->present) return none;
    auto presentCookie = xcb_present_query_version(c, XCB_PRESENT_MAJOR_VERSION, XCB_PRESENT_MINOR_VERSION);
    std::unique_ptr<xcb_shm_query_version_reply_t, decltype(&std::free)> shm(
        xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr), &std::free);
    Freed<xcb_present_query_version_reply_t> present(xcb_present_query_version_reply(c, presentCookie, nullptr));
    if (!shm || !present || !shm->shared_pixmaps || shm->pixmap_format != XCB_IMAGE_FORMAT_Z_PIXMAP) return none;
    return shm;
}

}  // namespace

std::unique_ptr<X11Presentation> makePresentation(xcb_connection_t* connection, xcb_window_t window, int width,
                                                  int height, int depth, PixelFormat format,
                                                  PresentationPath preferred)
{
    if (width <= 0 || height <= 0 || !thirtyTwoBitPixels(connection, depth)) return nullptr;
    if (preferred == PresentationPath::presentPixmap) {
        if (auto shm = sharedPixmapSupport(connection)) {
            auto shared = std::make_unique<SharedMemoryPresentation>(connection, window, width, height, depth, format);
            if (shared->open(*shm)) return shared;
        }
    }
    return std::make_unique<ImagePresentation>(connection, window, width, height, depth, format);
}

}  // namespace pp::x11
