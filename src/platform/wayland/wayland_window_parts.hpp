// What the window's files share: its limits, the listeners each file keeps, and the pool and the report
// a frame goes out with.
#pragma once

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <latch>
#include <memory>
#include <optional>
#include <thread>

#include "platform/clocks.hpp"
#include "platform/wayland/wayland_window.hpp"
#include "presentation-time-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace pp::wayland {

constexpr const char* WINDOW_NAME = "patch-presenter";
// How long one wait for the compositor may block before the wait is looked at again.
constexpr int WAIT_SLICE_MS = 1000;
// A frame not shown within this many seconds of its commit ends the run (the overview left open too).
constexpr double SHOW_LIMIT = MainLoop::SHOW_LIMIT;
// How long the compositor has to put the window back, full-screen on its output, once it is elsewhere.
constexpr double PLACEMENT_LIMIT = 1;
// How long gnome-shell may still be easing the window in (150 ms from its map, which waits for the
// overview to hide), with a margin: frames presented before then may show it scaled and faded.
constexpr double SETTLE_TIME = 0.2;

// The listeners of the surface's place (configures, the outputs it enters), kept with the placement.
extern const xdg_surface_listener SURFACE_LISTENER;
extern const xdg_toplevel_listener TOPLEVEL_LISTENER;
extern const wl_surface_listener SURFACE_OUTPUTS_LISTENER;

// Two buffers of one format in one shared-memory file.
struct WaylandWindow::Pool {
    std::uint32_t format = 0;
    int fd = -1;
    void* data = MAP_FAILED;
    std::size_t size = 0;
    wl_shm_pool* proxy = nullptr;
    Buffer buffers[2];
    // The buffers as the ages see them: their pixels, and whether the compositor has released them.
    std::array<BufferAges::Buffer, 2> agesView() const
    {
        return {{{buffers[0].pixels, !buffers[0].busy}, {buffers[1].pixels, !buffers[1].busy}}};
    }
    // Make the memory present, each its half of each buffer, the first buffer first.
    std::thread populating[2];

    std::unique_ptr<std::latch> firstPresent;  // counted down as each has done its half of the first buffer
    std::unique_ptr<std::latch> firstShown;    // counted down once the first frame is shown
    bool drawnInto = false;  // a frame has been drawn in it

    static void release(void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }
    static constexpr wl_buffer_listener BUFFER = {release};

    // Lets the threads go on to the second buffer. Main thread.
    void firstFrameShown()
    {
        if (firstShown && !firstShown->try_wait()) firstShown->count_down();
    }
    void joinPopulating()
    {
        firstFrameShown();
        for (std::thread& t : populating) {
            if (t.joinable()) t.join();
        }
    }

    ~Pool()
    {
        joinPopulating();
        for (Buffer& b : buffers) {
            if (b.proxy) wl_buffer_destroy(b.proxy);
        }
        if (proxy) wl_shm_pool_destroy(proxy);
        if (data != MAP_FAILED) munmap(data, size);
        if (fd >= 0) close(fd);
    }
};

// One commit's presentation feedback and the frame it belongs to, so that a report that comes late
// still counts for its own frame.
struct WaylandWindow::FrameReport {
    WaylandWindow* window = nullptr;
    std::uint64_t frame = 0;
    struct wp_presentation_feedback* proxy = nullptr;
    std::optional<double> composedAt;  // monotonic seconds of the frame's frame callback
    bool overdue = false;              // no report within the grace after it

    ~FrameReport()
    {
        if (proxy) wp_presentation_feedback_destroy(proxy);
    }
};

}  // namespace pp::wayland
