#include "wayland_client.hpp"

#include <errno.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace pp::test {

void say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void fail(const std::string& what)
{
    say("error " + what);
    std::exit(1);
}

namespace {

// --- outputs ---

void onGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*, int32_t) {}
void onMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t refresh)
{
    auto* o = static_cast<ClientOutput*>(data);
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    o->modeWidth = width;
    o->modeHeight = height;
    o->refreshMillihertz = refresh;
}
void onOutputDone(void*, wl_output*) {}
void onScale(void* data, wl_output*, int32_t factor) { static_cast<ClientOutput*>(data)->scale = factor; }
void onName(void* data, wl_output*, const char* name) { static_cast<ClientOutput*>(data)->name = name; }
void onDescription(void*, wl_output*, const char*) {}
const wl_output_listener OUTPUT_LISTENER = {onGeometry, onMode, onOutputDone, onScale, onName, onDescription};

void onLogicalPosition(void*, zxdg_output_v1*, int32_t, int32_t) {}
void onLogicalSize(void*, zxdg_output_v1*, int32_t, int32_t) {}
void onXdgDone(void*, zxdg_output_v1*) {}
void onXdgName(void* data, zxdg_output_v1*, const char* name)
{
    auto* o = static_cast<ClientOutput*>(data);
    if (o->name.empty()) o->name = name;
}
void onXdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener XDG_OUTPUT_LISTENER = {onLogicalPosition, onLogicalSize, onXdgDone, onXdgName,
                                                     onXdgDescription};

// --- registry ---

void onFormat(void* data, wl_shm*, uint32_t format)
{
    if (format == WL_SHM_FORMAT_XRGB2101010) static_cast<WaylandClient*>(data)->offersTenBit = true;
}
const wl_shm_listener SHM_LISTENER = {onFormat};

void onPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener WM_BASE_LISTENER = {onPing};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* c = static_cast<WaylandClient*>(data);
    const Global global{registry, name, interface, version};
    if (global.is(wl_compositor_interface)) {
        c->compositor = global.bind<wl_compositor>(wl_compositor_interface, 4);
    } else if (global.is(wl_shm_interface)) {
        c->shm = global.bind<wl_shm>(wl_shm_interface, 1);
        wl_shm_add_listener(c->shm, &SHM_LISTENER, c);
    } else if (global.is(xdg_wm_base_interface)) {
        c->wmBase = global.bind<xdg_wm_base>(xdg_wm_base_interface, 2);
        xdg_wm_base_add_listener(c->wmBase, &WM_BASE_LISTENER, c);
    } else if (global.is(wp_presentation_interface)) {
        c->presentation = global.bind<wp_presentation>(wp_presentation_interface, 1);
    } else if (global.is(zxdg_output_manager_v1_interface)) {
        c->xdgOutputManager = global.bind<zxdg_output_manager_v1>(zxdg_output_manager_v1_interface, 3);
    } else if (global.is(wl_output_interface)) {
        auto o = std::make_unique<ClientOutput>();
        o->proxy = global.bind<wl_output>(wl_output_interface, 4);
        wl_output_add_listener(o->proxy, &OUTPUT_LISTENER, o.get());
        c->outputs.push_back(std::move(o));
    } else if (c->otherGlobal) {
        c->otherGlobal(global);
    }
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener REGISTRY_LISTENER = {onGlobal, onGlobalRemove};

// --- window ---

void onToplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array* states)
{
    auto* w = static_cast<FullscreenWindow*>(data);
    w->pendingWidth = width;
    w->pendingHeight = height;
    w->pendingFullscreen = false;
    const auto* state = static_cast<const uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
        if (state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN) w->pendingFullscreen = true;
    }
}
void onToplevelClose(void*, xdg_toplevel*) {}
void onConfigureBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void onWmCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener TOPLEVEL_LISTENER = {onToplevelConfigure, onToplevelClose, onConfigureBounds,
                                                 onWmCapabilities};

void onSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial)
{
    auto* w = static_cast<FullscreenWindow*>(data);
    xdg_surface_ack_configure(surface, serial);
    w->configured = true;
    w->fullscreen = w->pendingFullscreen;
    w->width = w->pendingWidth;
    w->height = w->pendingHeight;
    if (w->onConfigured) w->onConfigured();
}
const xdg_surface_listener XDG_SURFACE_LISTENER = {onSurfaceConfigure};

void onRelease(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; }
const wl_buffer_listener BUFFER_LISTENER = {onRelease};

}  // namespace

void connectWayland(WaylandClient& c)
{
    c.display = wl_display_connect(nullptr);
    if (!c.display) fail("no compositor");
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &REGISTRY_LISTENER, &c);
    wl_display_roundtrip(c.display);
    if (!c.compositor || !c.shm || !c.wmBase || c.outputs.empty()) fail("missing globals");
    if (c.xdgOutputManager) {
        for (auto& o : c.outputs) {
            o->xdgOutput = zxdg_output_manager_v1_get_xdg_output(c.xdgOutputManager, o->proxy);
            zxdg_output_v1_add_listener(o->xdgOutput, &XDG_OUTPUT_LISTENER, o.get());
        }
    }
    wl_display_roundtrip(c.display);
}

void disconnectWayland(WaylandClient& c)
{
    for (auto& o : c.outputs) {
        if (o->xdgOutput) zxdg_output_v1_destroy(o->xdgOutput);
        wl_output_destroy(o->proxy);
    }
    if (c.xdgOutputManager) zxdg_output_manager_v1_destroy(c.xdgOutputManager);
    if (c.presentation) wp_presentation_destroy(c.presentation);
    if (c.wmBase) xdg_wm_base_destroy(c.wmBase);
    if (c.shm) wl_shm_destroy(c.shm);
    if (c.compositor) wl_compositor_destroy(c.compositor);
    if (c.registry) wl_registry_destroy(c.registry);
    wl_display_disconnect(c.display);
    c = WaylandClient{};
}

void createFullscreenWindow(const WaylandClient& c, FullscreenWindow& w, wl_output* output, const char* title,
                            const char* appId)
{
    w.surface = wl_compositor_create_surface(c.compositor);
    w.xdgSurface = xdg_wm_base_get_xdg_surface(c.wmBase, w.surface);
    xdg_surface_add_listener(w.xdgSurface, &XDG_SURFACE_LISTENER, &w);
    w.toplevel = xdg_surface_get_toplevel(w.xdgSurface);
    xdg_toplevel_add_listener(w.toplevel, &TOPLEVEL_LISTENER, &w);
    if (appId) xdg_toplevel_set_app_id(w.toplevel, appId);
    xdg_toplevel_set_title(w.toplevel, title);
    xdg_toplevel_set_fullscreen(w.toplevel, output);
}

void destroyWindow(FullscreenWindow& w)
{
    if (w.toplevel) xdg_toplevel_destroy(w.toplevel);
    if (w.xdgSurface) xdg_surface_destroy(w.xdgSurface);
    if (w.surface) wl_surface_destroy(w.surface);
    w = FullscreenWindow{};
}

ShmFrames createShmFrames(wl_shm* shm, int count, int width, int height, std::uint32_t format)
{
    ShmFrames f;
    const std::size_t frameBytes = std::size_t(width) * std::size_t(height) * 4;
    f.bytes = frameBytes * std::size_t(count);
    const int fd = memfd_create("pp-wayland-client", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(f.bytes)) != 0) fail("no shared memory");
    f.data = mmap(nullptr, f.bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (f.data == MAP_FAILED) fail("no shared memory");
    f.pool = wl_shm_create_pool(shm, fd, int32_t(f.bytes));
    close(fd);
    // Sized once: each buffer's listener holds its address.
    f.buffers.resize(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        ShmBuffer& b = f.buffers[std::size_t(i)];
        b.proxy = wl_shm_pool_create_buffer(f.pool, int32_t(frameBytes * std::size_t(i)), width, height, width * 4,
                                            format);
        b.pixels = reinterpret_cast<std::uint32_t*>(static_cast<char*>(f.data) + frameBytes * std::size_t(i));
        wl_buffer_add_listener(b.proxy, &BUFFER_LISTENER, &b);
    }
    return f;
}

void destroyShmFrames(ShmFrames& f)
{
    for (ShmBuffer& b : f.buffers) wl_buffer_destroy(b.proxy);
    if (f.pool) wl_shm_pool_destroy(f.pool);
    if (f.data) munmap(f.data, f.bytes);
    f = ShmFrames{};
}

bool dispatchOnce(wl_display* display, int timeoutMs, bool* inputEnded)
{
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) return false;
    }
    wl_display_flush(display);
    pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {0, POLLIN, 0}};
    const int ready = poll(fds, inputEnded ? 2 : 1, timeoutMs);
    if (ready <= 0 || !fds[0].revents) {
        wl_display_cancel_read(display);
        // A signal only interrupted the wait.
        if (ready < 0) return errno == EINTR;
        if (ready == 0) return false;
    } else if (wl_display_read_events(display) != 0 || wl_display_dispatch_pending(display) < 0) {
        return false;
    }
    char ignored[256];
    if (inputEnded && fds[1].revents && read(0, ignored, sizeof ignored) <= 0) *inputEnded = true;
    return true;
}

bool dispatchUntilInputEnds(wl_display* display)
{
    bool inputEnded = false;
    while (!inputEnded) {
        if (!dispatchOnce(display, -1, &inputEnded)) return false;
    }
    return true;
}

}  // namespace pp::test
