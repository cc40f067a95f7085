// A small native Wayland client for the compositor fixtures' own tests: one fullscreen xdg_toplevel
// filled with a known XRGB8888 colour, told on standard output when each frame has been presented and
// which keys reach it.
//
//   pp-wayland-test-client [--colour RRGGBB | --ten-bit R G B] [--output NAME] [--inhibit-idle] [--frames N]
//
// --ten-bit fills an XRGB2101010 buffer with the 10-bit levels (0 to 1023) instead of XRGB8888.
// --frames N draws N more frames after the first, each once the previous one's frame callback came.
//
// Lines: "configured W H" (points), "frame" (a commit's frame callback), "presented W H" (buffer pixels),
// "discarded", "keyboard" (focus arrived), "key NAME" or "key NAME shift" for each key pressed,
// "error TEXT", "lost" (the compositor went away; exit status 1). End of standard input ends it with
// status 0.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "presentation-time-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace {

struct Output {
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    std::string name;
    int scale = 1;
};

struct Client {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    wp_presentation* presentation = nullptr;
    zwp_idle_inhibit_manager_v1* inhibitManager = nullptr;
    zwp_idle_inhibitor_v1* inhibitor = nullptr;
    zxdg_output_manager_v1* xdgOutputManager = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;

    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_buffer* buffer = nullptr;
    int pendingWidth = 0;
    int pendingHeight = 0;

    xkb_context* xkb = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* keyState = nullptr;

    std::uint32_t colour = 0x000000;
    bool tenBit = false;  // colour is an XRGB2101010 pixel
    int scale = 1;
    int width = 0;   // the buffer's size in pixels
    int height = 0;
    int framesLeft = 0;  // frames still to draw one after another, each after the last one's callback
};

void draw(Client* c, int width, int height);

void say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// --- outputs ---

void onGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*, int32_t) {}
void onMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void onOutputDone(void*, wl_output*) {}
void onScale(void* data, wl_output*, int32_t factor) { static_cast<Output*>(data)->scale = factor; }
void onName(void* data, wl_output*, const char* name) { static_cast<Output*>(data)->name = name; }
void onDescription(void*, wl_output*, const char*) {}
const wl_output_listener OUTPUT_LISTENER = {onGeometry, onMode, onOutputDone, onScale, onName, onDescription};

void onLogicalPosition(void*, zxdg_output_v1*, int32_t, int32_t) {}
void onLogicalSize(void*, zxdg_output_v1*, int32_t, int32_t) {}
void onXdgDone(void*, zxdg_output_v1*) {}
void onXdgName(void* data, zxdg_output_v1*, const char* name)
{
    auto* o = static_cast<Output*>(data);
    if (o->name.empty()) o->name = name;
}
void onXdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener XDG_OUTPUT_LISTENER = {onLogicalPosition, onLogicalSize, onXdgDone, onXdgName,
                                                     onXdgDescription};

// --- keyboard ---

void onKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size)
{
    auto* c = static_cast<Client*>(data);
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        close(fd);
        return;
    }
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (text == MAP_FAILED) return;
    xkb_keymap* keymap = xkb_keymap_new_from_string(c->xkb, static_cast<const char*>(text), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(text, size);
    if (!keymap) return;
    if (c->keyState) xkb_state_unref(c->keyState);
    if (c->keymap) xkb_keymap_unref(c->keymap);
    c->keymap = keymap;
    c->keyState = xkb_state_new(keymap);
}

void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) { say("keyboard"); }
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}

void onKey(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state)
{
    auto* c = static_cast<Client*>(data);
    if (state != WL_KEYBOARD_KEY_STATE_PRESSED || !c->keyState) return;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(c->keyState, key + 8);
    char name[64];
    xkb_keysym_get_name(sym, name, sizeof name);
    const bool shift = xkb_state_mod_name_is_active(c->keyState, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0;
    say(std::string("key ") + name + (shift ? " shift" : ""));
}

void onModifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
                 uint32_t group)
{
    auto* c = static_cast<Client*>(data);
    if (c->keyState) xkb_state_update_mask(c->keyState, depressed, latched, locked, 0, 0, group);
}

void onRepeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

const wl_keyboard_listener KEYBOARD_LISTENER = {onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeatInfo};

// The keyboard exists only while a keyboard device does (sway: while wtype runs): follow the seat.
void onCapabilities(void* data, wl_seat* seat, uint32_t capabilities)
{
    auto* c = static_cast<Client*>(data);
    const bool has = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    if (has && !c->keyboard) {
        c->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(c->keyboard, &KEYBOARD_LISTENER, c);
    } else if (!has && c->keyboard) {
        if (wl_keyboard_get_version(c->keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
            wl_keyboard_release(c->keyboard);
        } else {
            wl_keyboard_destroy(c->keyboard);
        }
        c->keyboard = nullptr;
    }
}

void onSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener SEAT_LISTENER = {onCapabilities, onSeatName};

// --- registry ---

void onPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener WM_BASE_LISTENER = {onPing};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* c = static_cast<Client*>(data);
    auto bind = [&](const wl_interface* type, uint32_t most) {
        return wl_registry_bind(registry, name, type, std::min(version, most));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        c->compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        c->shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        c->wmBase = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 2));
        xdg_wm_base_add_listener(c->wmBase, &WM_BASE_LISTENER, c);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !c->seat) {
        c->seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
        wl_seat_add_listener(c->seat, &SEAT_LISTENER, c);
    } else if (std::strcmp(interface, wp_presentation_interface.name) == 0) {
        c->presentation = static_cast<wp_presentation*>(bind(&wp_presentation_interface, 1));
    } else if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0) {
        c->inhibitManager = static_cast<zwp_idle_inhibit_manager_v1*>(bind(&zwp_idle_inhibit_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        c->xdgOutputManager = static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 3));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto o = std::make_unique<Output>();
        o->output = static_cast<wl_output*>(bind(&wl_output_interface, 4));
        wl_output_add_listener(o->output, &OUTPUT_LISTENER, o.get());
        c->outputs.push_back(std::move(o));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener REGISTRY_LISTENER = {onGlobal, onGlobalRemove};

// --- drawing ---

void onPresented(void* data, struct wp_presentation_feedback* feedback, uint32_t, uint32_t, uint32_t, uint32_t,
                 uint32_t, uint32_t, uint32_t)
{
    const auto* size = static_cast<const std::pair<int, int>*>(data);
    say("presented " + std::to_string(size->first) + " " + std::to_string(size->second));
    delete size;
    wp_presentation_feedback_destroy(feedback);
}

void onDiscarded(void* data, struct wp_presentation_feedback* feedback)
{
    delete static_cast<const std::pair<int, int>*>(data);
    say("discarded");
    wp_presentation_feedback_destroy(feedback);
}

void onSyncOutput(void*, struct wp_presentation_feedback*, wl_output*) {}
const wp_presentation_feedback_listener FEEDBACK_LISTENER = {onSyncOutput, onPresented, onDiscarded};

void onBufferRelease(void*, wl_buffer* buffer) { wl_buffer_destroy(buffer); }

void onFrameDone(void* data, wl_callback* callback, uint32_t)
{
    auto* c = static_cast<Client*>(data);
    say("frame");
    wl_callback_destroy(callback);
    if (c->framesLeft > 0) {
        --c->framesLeft;
        draw(c, c->width, c->height);
    }
}

const wl_callback_listener FRAME_LISTENER = {onFrameDone};
const wl_buffer_listener BUFFER_LISTENER = {onBufferRelease};

// Fills a new shared-memory buffer of the surface's pixel size with the colour and commits it with a
// presentation feedback.
void draw(Client* c, int width, int height)
{
    const int stride = width * 4;
    const std::size_t size = static_cast<std::size_t>(stride) * height;
    const int fd = memfd_create("pp-test-buffer", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        say("error no shared memory");
        std::exit(1);
    }
    auto* pixels = static_cast<std::uint32_t*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    const std::uint32_t pixel = c->tenBit ? c->colour : 0xFF000000u | c->colour;
    for (std::size_t i = 0; i < size / 4; ++i) pixels[i] = pixel;
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(c->shm, fd, static_cast<int32_t>(size));
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride,
                                                  c->tenBit ? WL_SHM_FORMAT_XRGB2101010 : WL_SHM_FORMAT_XRGB8888);
    wl_buffer_add_listener(buffer, &BUFFER_LISTENER, nullptr);
    wl_shm_pool_destroy(pool);
    close(fd);

    wl_surface_set_buffer_scale(c->surface, c->scale);
    wl_surface_attach(c->surface, buffer, 0, 0);
    wl_surface_damage_buffer(c->surface, 0, 0, width, height);
    c->width = width;
    c->height = height;
    wl_callback_add_listener(wl_surface_frame(c->surface), &FRAME_LISTENER, c);
    if (c->presentation) {
        struct wp_presentation_feedback* feedback = wp_presentation_feedback(c->presentation, c->surface);
        wp_presentation_feedback_add_listener(feedback, &FEEDBACK_LISTENER, new std::pair<int, int>(width, height));
    }
    wl_surface_commit(c->surface);
}

void onToplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*)
{
    auto* c = static_cast<Client*>(data);
    c->pendingWidth = width;
    c->pendingHeight = height;
}

void onToplevelClose(void*, xdg_toplevel*) {}
void onConfigureBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void onWmCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener TOPLEVEL_LISTENER = {onToplevelConfigure, onToplevelClose, onConfigureBounds,
                                                 onWmCapabilities};

void onSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial)
{
    auto* c = static_cast<Client*>(data);
    xdg_surface_ack_configure(surface, serial);
    const int width = c->pendingWidth > 0 ? c->pendingWidth : 640;
    const int height = c->pendingHeight > 0 ? c->pendingHeight : 480;
    say("configured " + std::to_string(width) + " " + std::to_string(height));
    draw(c, width * c->scale, height * c->scale);
}

const xdg_surface_listener XDG_SURFACE_LISTENER = {onSurfaceConfigure};

}  // namespace

// Everything the client holds stays reachable until the process ends, which is how it ends.
Client client;

int main(int argc, char** argv)
{
    Client& c = client;
    std::string outputName;
    bool inhibitIdle = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--colour" && i + 1 < argc) {
            c.colour = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 16)) & 0xFFFFFF;
        } else if (arg == "--ten-bit" && i + 3 < argc) {
            c.tenBit = true;
            c.colour = 0;
            for (int k = 0; k < 3; ++k) c.colour = (c.colour << 10) | (std::strtoul(argv[++i], nullptr, 10) & 0x3FF);
        } else if (arg == "--output" && i + 1 < argc) {
            outputName = argv[++i];
        } else if (arg == "--inhibit-idle") {
            inhibitIdle = true;
        } else if (arg == "--frames" && i + 1 < argc) {
            c.framesLeft = std::atoi(argv[++i]);
        }
    }
    c.display = wl_display_connect(nullptr);
    if (!c.display) {
        say("error no compositor");
        return 1;
    }
    c.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &REGISTRY_LISTENER, &c);
    wl_display_roundtrip(c.display);
    if (!c.compositor || !c.shm || !c.wmBase || c.outputs.empty()) {
        say("error missing globals");
        return 1;
    }
    if (c.xdgOutputManager) {
        for (auto& o : c.outputs) {
            o->xdgOutput = zxdg_output_manager_v1_get_xdg_output(c.xdgOutputManager, o->output);
            zxdg_output_v1_add_listener(o->xdgOutput, &XDG_OUTPUT_LISTENER, o.get());
        }
    }
    wl_display_roundtrip(c.display);

    Output* target = c.outputs.front().get();
    for (auto& o : c.outputs) {
        if (o->name == outputName) target = o.get();
    }
    if (!outputName.empty() && target->name != outputName) {
        say("error no output " + outputName);
        return 1;
    }
    c.scale = target->scale;

    c.surface = wl_compositor_create_surface(c.compositor);
    c.xdgSurface = xdg_wm_base_get_xdg_surface(c.wmBase, c.surface);
    xdg_surface_add_listener(c.xdgSurface, &XDG_SURFACE_LISTENER, &c);
    c.toplevel = xdg_surface_get_toplevel(c.xdgSurface);
    xdg_toplevel_add_listener(c.toplevel, &TOPLEVEL_LISTENER, &c);
    xdg_toplevel_set_app_id(c.toplevel, "pp-test-client");
    xdg_toplevel_set_title(c.toplevel, "pp-test-client");
    xdg_toplevel_set_fullscreen(c.toplevel, target->output);
    if (inhibitIdle) {
        if (!c.inhibitManager) {
            say("error no idle inhibit manager");
            return 1;
        }
        c.inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(c.inhibitManager, c.surface);
    }
    wl_surface_commit(c.surface);

    pollfd fds[2] = {{wl_display_get_fd(c.display), POLLIN, 0}, {0, POLLIN, 0}};
    while (true) {
        while (wl_display_prepare_read(c.display) != 0) {
            if (wl_display_dispatch_pending(c.display) < 0) {
                say("lost");
                return 1;
            }
        }
        wl_display_flush(c.display);
        if (poll(fds, 2, -1) < 0) {
            wl_display_cancel_read(c.display);
            continue;
        }
        if (fds[0].revents) {
            if (wl_display_read_events(c.display) != 0 || wl_display_dispatch_pending(c.display) < 0) {
                say("lost");
                return 1;
            }
        } else {
            wl_display_cancel_read(c.display);
        }
        if (fds[1].revents) {
            char buffer[256];
            if (read(0, buffer, sizeof buffer) <= 0) return 0;
        }
    }
}
