// The plumbing of the small native Wayland clients that run beside the presenter: the tests' other
// client (pp-wayland-test-client) and the benchmarks' bare client (wayland-reference). It binds the
// globals both need, follows every output's name, mode and scale, makes a fullscreen xdg_toplevel and
// frames in shared memory, and runs the event loop. A failure is one line "error ..." on standard
// output and status 1, as both clients report it.
#pragma once

#include <wayland-client.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "presentation-time-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace pp::test {

// Writes `line` and a line feed to standard output at once.
void say(const std::string& line);

// Says "error WHAT" and ends the process with status 1.
[[noreturn]] void fail(const std::string& what);

// A global as the registry announces it, for a client to bind.
struct Global {
    wl_registry* registry;
    uint32_t name;
    const char* interface;
    uint32_t version;

    bool is(const wl_interface& type) const { return std::strcmp(interface, type.name) == 0; }
    // Binds it at its own version or `most`, whichever is lower.
    template <class Proxy>
    Proxy* bind(const wl_interface& type, uint32_t most) const
    {
        return static_cast<Proxy*>(wl_registry_bind(registry, name, &type, std::min(version, most)));
    }
};

// One output as the compositor describes it.
struct ClientOutput {
    wl_output* proxy = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    std::string name;  // wl_output.name, else xdg_output.name
    int scale = 1;
    int modeWidth = 0;  // the current mode, in device pixels
    int modeHeight = 0;
    int refreshMillihertz = 0;  // 0 when unknown
};

// A connection and the globals every such client binds.
struct WaylandClient {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wp_presentation* presentation = nullptr;  // null where the compositor reports no presentation
    zxdg_output_manager_v1* xdgOutputManager = nullptr;
    std::vector<std::unique_ptr<ClientOutput>> outputs;  // in the registry's order
    bool offersTenBit = false;                           // wl_shm offers XRGB2101010
    // Sees every global not bound above, during connectWayland's first round trip.
    std::function<void(const Global&)> otherGlobal;
};

// Connects to the compositor the environment names and binds the globals; after two round trips every
// output's name, mode and scale are known. Fails with "no compositor", or with "missing globals" when
// there is no wl_compositor, wl_shm, xdg_wm_base or output.
void connectWayland(WaylandClient& client);
// Destroys what connectWayland made and closes the connection.
void disconnectWayland(WaylandClient& client);

// A surface whose xdg_toplevel asks to be fullscreen on one output; each configure is acknowledged.
struct FullscreenWindow {
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    bool configured = false;  // a configure has been acknowledged
    bool fullscreen = false;  // the last acknowledged configure had the fullscreen state
    int width = 0;            // its size in points from that configure; 0 leaves it to the client
    int height = 0;
    std::function<void()> onConfigured;  // after each acknowledgement, before the next event
    // The toplevel's configure, until the surface configure that completes it.
    int pendingWidth = 0;
    int pendingHeight = 0;
    bool pendingFullscreen = false;
};

// Makes the window's objects with its title (and app id, unless null); nothing is committed yet.
void createFullscreenWindow(const WaylandClient& client, FullscreenWindow& window, wl_output* output,
                            const char* title, const char* appId = nullptr);
void destroyWindow(FullscreenWindow& window);

// A wl_buffer and its pixels, 4 bytes each, rows without padding.
struct ShmBuffer {
    wl_buffer* proxy = nullptr;
    std::uint32_t* pixels = nullptr;
    bool busy = false;  // set when attached; cleared when the compositor releases it
};

// Buffers side by side in one mapped shared-memory pool.
struct ShmFrames {
    wl_shm_pool* pool = nullptr;
    void* data = nullptr;
    std::size_t bytes = 0;
    std::vector<ShmBuffer> buffers;
};

// `count` buffers of width x height pixels in `format` (a WL_SHM_FORMAT_*). Fails with "no shared
// memory".
ShmFrames createShmFrames(wl_shm* shm, int count, int width, int height, std::uint32_t format);
void destroyShmFrames(ShmFrames& frames);

// Flushes the requests, then reads and dispatches the events that come within `timeoutMs` (-1: no
// limit). With `inputEnded`, standard input is watched too: what arrives there is read and dropped,
// and its end sets *inputEnded. False when the connection failed, or when nothing came in time.
bool dispatchOnce(wl_display* display, int timeoutMs, bool* inputEnded = nullptr);

// Dispatches events until standard input ends (true) or the connection fails (false).
bool dispatchUntilInputEnds(wl_display* display);

}  // namespace pp::test
