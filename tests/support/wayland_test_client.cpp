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
#include <sys/mman.h>
#include <unistd.h>

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <list>
#include <string>
#include <utility>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "wayland_client.hpp"

namespace {

using namespace pp::test;

struct Client {
    WaylandClient wayland;
    FullscreenWindow window;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    zwp_idle_inhibit_manager_v1* inhibitManager = nullptr;
    zwp_idle_inhibitor_v1* inhibitor = nullptr;
    std::list<ShmFrames> frames;  // one buffer each, dropped once released

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

// Fills a new shared-memory buffer of the surface's pixel size with the colour and commits it with a
// presentation feedback.
void draw(Client* c, int width, int height)
{
    for (auto f = c->frames.begin(); f != c->frames.end();) {
        if (f->buffers[0].busy) {
            ++f;
            continue;
        }
        destroyShmFrames(*f);
        f = c->frames.erase(f);
    }
    ShmBuffer& buffer = c->frames.emplace_back(createShmFrames(
        c->wayland.shm, 1, width, height, c->tenBit ? WL_SHM_FORMAT_XRGB2101010 : WL_SHM_FORMAT_XRGB8888)).buffers[0];
    std::fill_n(buffer.pixels, std::size_t(width) * std::size_t(height), c->tenBit ? c->colour : 0xFF000000u | c->colour);

    wl_surface* surface = c->window.surface;
    wl_surface_set_buffer_scale(surface, c->scale);
    wl_surface_attach(surface, buffer.proxy, 0, 0);
    wl_surface_damage_buffer(surface, 0, 0, width, height);
    buffer.busy = true;
    c->width = width;
    c->height = height;
    wl_callback_add_listener(wl_surface_frame(surface), &FRAME_LISTENER, c);
    if (c->wayland.presentation) {
        struct wp_presentation_feedback* feedback = wp_presentation_feedback(c->wayland.presentation, surface);
        wp_presentation_feedback_add_listener(feedback, &FEEDBACK_LISTENER, new std::pair<int, int>(width, height));
    }
    wl_surface_commit(surface);
}

void onConfigured(Client* c)
{
    const int width = c->window.width > 0 ? c->window.width : 640;
    const int height = c->window.height > 0 ? c->window.height : 480;
    say("configured " + std::to_string(width) + " " + std::to_string(height));
    draw(c, width * c->scale, height * c->scale);
}

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
    c.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    c.wayland.otherGlobal = [&c](const Global& global) {
        if (global.is(wl_seat_interface) && !c.seat) {
            c.seat = global.bind<wl_seat>(wl_seat_interface, 5);
            wl_seat_add_listener(c.seat, &SEAT_LISTENER, &c);
        } else if (global.is(zwp_idle_inhibit_manager_v1_interface)) {
            c.inhibitManager = global.bind<zwp_idle_inhibit_manager_v1>(zwp_idle_inhibit_manager_v1_interface, 1);
        }
    };
    connectWayland(c.wayland);

    ClientOutput* target = c.wayland.outputs.front().get();
    for (auto& o : c.wayland.outputs) {
        if (o->name == outputName) target = o.get();
    }
    if (!outputName.empty() && target->name != outputName) fail("no output " + outputName);
    c.scale = target->scale;

    c.window.onConfigured = [&c] { onConfigured(&c); };
    createFullscreenWindow(c.wayland, c.window, target->proxy, "pp-test-client", "pp-test-client");
    if (inhibitIdle) {
        if (!c.inhibitManager) fail("no idle inhibit manager");
        c.inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(c.inhibitManager, c.window.surface);
    }
    wl_surface_commit(c.window.surface);

    if (dispatchUntilInputEnds(c.wayland.display)) return 0;
    say("lost");
    return 1;
}
