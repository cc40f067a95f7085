// A bare Wayland client that shows frames the way the presenter does, as the yardstick for its round
// trip on a compositor: a fullscreen xdg_toplevel with two wl_shm buffers of the output's pixel size.
// Each frame is filled before the clock starts; the timed part attaches the buffer, damages it, commits
// with a presentation feedback and waits until the feedback arrives (presented or discarded).
//
//   wayland-reference full FRAMES [--until-frame] [--ten-bit] [--tagged] [--hold]
//   wayland-reference patch FRAMES W H [--until-frame] [--ten-bit] [--tagged] [--hold]
//   wayland-reference box FRAMES W H [X Y] [--until-frame] [--ten-bit] [--tagged] [--serve]
//
// "full" damages the whole buffer each frame; "patch" keeps a fixed surround and damages only a W x H
// rectangle in the middle, where the colour changes, as a patch-sized update does. "box" is the floor
// for the presenter's colour change: both buffers hold the surround from the start, and each frame writes
// only the W x H box (a plain loop over its rows, centred unless X Y give its upper-left corner) and
// damages only the box; its clock starts before it takes a free buffer and fills it. With --serve, "box"
// prints "ready" once set up, then runs a batch of N frames for each line N on standard input (each
// batch printing its two lines), until standard input ends. --until-frame waits
// for the frame callback (the compositor has composed the frame) instead of a presentation feedback,
// for compositors that never send one. --ten-bit uses XRGB2101010 buffers instead of XRGB8888, as the
// presenter's deep mode does where the compositor offers the format. --tagged tags the surface with
// the output's own image description (wp_color_manager_v1, perceptual intent) before its first commit,
// as the presenter does, so a colour-managed compositor converts nothing; it fails where the compositor
// does not manage colour or cannot describe the output. The colours
// alternate between 0x404040 and 0x808080 (frame 0 is 0x404040); the surround is 0x202020.
//
// Prints the per-frame times in microseconds, space-separated, on one line, then
// "feedback presented P discarded D refresh_mhz R" (R: the output's refresh in millihertz, 0 when
// unknown; with --until-frame every frame counts as presented). With --hold it then keeps the last frame on the screen until standard input ends.
// Failures are one line "error ..." and status 1.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef PP_COLOUR_MANAGEMENT
#include "color-management-v1-client-protocol.h"
#endif
#include "presentation-time-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace {

// The same levels as XRGB8888 and as XRGB2101010 (8-bit levels widened by bit replication), the unused
// bits set: some compositors read an x channel as alpha.
constexpr std::uint32_t COLOURS[2] = {0xFF404040u, 0xFF808080u};
constexpr std::uint32_t SURROUND = 0xFF202020u;
constexpr std::uint32_t COLOURS_TEN[2] = {0xC0000000u | (0x101u << 20) | (0x101u << 10) | 0x101u,
                                          0xC0000000u | (0x202u << 20) | (0x202u << 10) | 0x202u};
constexpr std::uint32_t SURROUND_TEN = 0xC0000000u | (0x080u << 20) | (0x080u << 10) | 0x080u;
// How long one frame's feedback may take before the compositor counts as stuck.
constexpr int FEEDBACK_TIMEOUT_MS = 2000;

enum class Feedback { waiting, presented, discarded };
enum class Description { waiting, ready, failed };

struct Buffer {
    wl_buffer* proxy = nullptr;
    std::uint32_t* pixels = nullptr;
    bool busy = false;
};

struct Client {
    wl_display* display = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wp_presentation* presentation = nullptr;
    wl_output* output = nullptr;
    int modeWidth = 0;  // the output's current mode, in device pixels
    int modeHeight = 0;
    int refreshMillihertz = 0;
    int outputScale = 1;
    bool offersTenBit = false;
#ifdef PP_COLOUR_MANAGEMENT
    wp_color_manager_v1* colourManager = nullptr;
    bool perceptual = false;  // the manager offers the perceptual render intent
#endif
    Description description = Description::waiting;
    std::string descriptionFailure;

    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    bool configured = false;
    bool fullscreenPending = false;  // the last toplevel configure had the fullscreen state
    bool fullscreen = false;         // a configure with the fullscreen state has been acknowledged
    Buffer buffers[2];
    Feedback feedback = Feedback::waiting;
    bool frameDone = false;
    wl_registry* registry = nullptr;
    wl_shm_pool* pool = nullptr;
#ifdef PP_COLOUR_MANAGEMENT
    wp_color_management_surface_v1* colourSurface = nullptr;
#endif
};

// Destroys every object the client made and closes the connection.
void disconnect(Client& c)
{
    for (Buffer& b : c.buffers) {
        if (b.proxy) wl_buffer_destroy(b.proxy);
    }
    if (c.pool) wl_shm_pool_destroy(c.pool);
#ifdef PP_COLOUR_MANAGEMENT
    if (c.colourSurface) wp_color_management_surface_v1_destroy(c.colourSurface);
    if (c.colourManager) wp_color_manager_v1_destroy(c.colourManager);
#endif
    if (c.toplevel) xdg_toplevel_destroy(c.toplevel);
    if (c.xdgSurface) xdg_surface_destroy(c.xdgSurface);
    if (c.surface) wl_surface_destroy(c.surface);
    if (c.output) wl_output_destroy(c.output);
    if (c.presentation) wp_presentation_destroy(c.presentation);
    if (c.wmBase) xdg_wm_base_destroy(c.wmBase);
    if (c.shm) wl_shm_destroy(c.shm);
    if (c.compositor) wl_compositor_destroy(c.compositor);
    if (c.registry) wl_registry_destroy(c.registry);
    wl_display_disconnect(c.display);
}

[[noreturn]] void fail(const std::string& what)
{
    std::printf("error %s\n", what.c_str());
    std::exit(1);
}

void onGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*, int32_t) {}
void onMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t refresh)
{
    auto* c = static_cast<Client*>(data);
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    c->modeWidth = width;
    c->modeHeight = height;
    c->refreshMillihertz = refresh;
}
void onOutputDone(void*, wl_output*) {}
void onScale(void* data, wl_output*, int32_t factor) { static_cast<Client*>(data)->outputScale = factor; }
// Bound at version 2: name and description are never sent.
const wl_output_listener OUTPUT_LISTENER = {onGeometry, onMode, onOutputDone, onScale, nullptr, nullptr};

void onFormat(void* data, wl_shm*, uint32_t format)
{
    if (format == WL_SHM_FORMAT_XRGB2101010) static_cast<Client*>(data)->offersTenBit = true;
}
const wl_shm_listener SHM_LISTENER = {onFormat};

void onPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener WM_BASE_LISTENER = {onPing};

#ifdef PP_COLOUR_MANAGEMENT
void onSupportedIntent(void* data, wp_color_manager_v1*, uint32_t intent)
{
    if (intent == WP_COLOR_MANAGER_V1_RENDER_INTENT_PERCEPTUAL) static_cast<Client*>(data)->perceptual = true;
}
void onSupportedOther(void*, wp_color_manager_v1*, uint32_t) {}
void onManagerDone(void*, wp_color_manager_v1*) {}
const wp_color_manager_v1_listener MANAGER_LISTENER = {onSupportedIntent, onSupportedOther, onSupportedOther,
                                                       onSupportedOther, onManagerDone};

void onDescriptionFailed(void* data, wp_image_description_v1*, uint32_t, const char* message)
{
    auto* c = static_cast<Client*>(data);
    c->description = Description::failed;
    c->descriptionFailure = message;
}
void onDescriptionReady(void* data, wp_image_description_v1*, uint32_t)
{
    static_cast<Client*>(data)->description = Description::ready;
}
void onDescriptionReady2(void* data, wp_image_description_v1*, uint32_t, uint32_t)
{
    static_cast<Client*>(data)->description = Description::ready;
}
const wp_image_description_v1_listener DESCRIPTION_LISTENER = {onDescriptionFailed, onDescriptionReady,
                                                               onDescriptionReady2};
#endif

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
        wl_shm_add_listener(c->shm, &SHM_LISTENER, c);
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        c->wmBase = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(c->wmBase, &WM_BASE_LISTENER, c);
    } else if (std::strcmp(interface, wp_presentation_interface.name) == 0) {
        c->presentation = static_cast<wp_presentation*>(bind(&wp_presentation_interface, 1));
#ifdef PP_COLOUR_MANAGEMENT
    } else if (std::strcmp(interface, wp_color_manager_v1_interface.name) == 0) {
        c->colourManager = static_cast<wp_color_manager_v1*>(bind(&wp_color_manager_v1_interface, 2));
        wp_color_manager_v1_add_listener(c->colourManager, &MANAGER_LISTENER, c);
#endif
    } else if (std::strcmp(interface, wl_output_interface.name) == 0 && !c->output) {
        // The first output, as the presenter's main screen is; version 2 is enough for mode and scale.
        c->output = static_cast<wl_output*>(bind(&wl_output_interface, 2));
        wl_output_add_listener(c->output, &OUTPUT_LISTENER, c);
    }
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener REGISTRY_LISTENER = {onGlobal, onGlobalRemove};

void onToplevelConfigure(void* data, xdg_toplevel*, int32_t, int32_t, wl_array* states)
{
    auto* c = static_cast<Client*>(data);
    c->fullscreenPending = false;
    const auto* state = static_cast<const uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
        if (state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN) c->fullscreenPending = true;
    }
}
void onToplevelClose(void*, xdg_toplevel*) {}
// Bound at version 1: the later toplevel events are never sent.
const xdg_toplevel_listener TOPLEVEL_LISTENER = {onToplevelConfigure, onToplevelClose, nullptr, nullptr};

void onSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial)
{
    auto* c = static_cast<Client*>(data);
    xdg_surface_ack_configure(surface, serial);
    c->configured = true;
    c->fullscreen = c->fullscreenPending;
}
const xdg_surface_listener XDG_SURFACE_LISTENER = {onSurfaceConfigure};

void onRelease(void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }
const wl_buffer_listener BUFFER_LISTENER = {onRelease};

void onSyncOutput(void*, struct wp_presentation_feedback*, wl_output*) {}
void onPresented(void* data, struct wp_presentation_feedback* feedback, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                 uint32_t, uint32_t)
{
    static_cast<Client*>(data)->feedback = Feedback::presented;
    wp_presentation_feedback_destroy(feedback);
}
void onDiscarded(void* data, struct wp_presentation_feedback* feedback)
{
    static_cast<Client*>(data)->feedback = Feedback::discarded;
    wp_presentation_feedback_destroy(feedback);
}
const wp_presentation_feedback_listener FEEDBACK_LISTENER = {onSyncOutput, onPresented, onDiscarded};

void onFrameDone(void* data, wl_callback* callback, uint32_t)
{
    static_cast<Client*>(data)->frameDone = true;
    wl_callback_destroy(callback);
}
const wl_callback_listener FRAME_LISTENER = {onFrameDone};

// Tags the surface with the output's own image description, waited for with round trips, before the
// surface's first commit; fails where the compositor cannot.
void tagSurface(Client& c)
{
#ifdef PP_COLOUR_MANAGEMENT
    if (!c.colourManager) fail("no colour management");
    if (!c.perceptual) fail("no perceptual render intent");
    wp_color_management_output_v1* colourOutput = wp_color_manager_v1_get_output(c.colourManager, c.output);
    wp_image_description_v1* description = wp_color_management_output_v1_get_image_description(colourOutput);
    wp_image_description_v1_add_listener(description, &DESCRIPTION_LISTENER, &c);
    const auto asked = std::chrono::steady_clock::now();
    while (c.description == Description::waiting) {
        if (wl_display_roundtrip(c.display) < 0 ||
            std::chrono::steady_clock::now() - asked > std::chrono::milliseconds(FEEDBACK_TIMEOUT_MS)) {
            fail("no output image description");
        }
    }
    if (c.description == Description::failed) fail("output image description failed: " + c.descriptionFailure);
    c.colourSurface = wp_color_manager_v1_get_surface(c.colourManager, c.surface);
    wp_color_management_surface_v1_set_image_description(c.colourSurface, description,
                                                          WP_COLOR_MANAGER_V1_RENDER_INTENT_PERCEPTUAL);
    // The surface keeps a copy of the description; the description and output objects are done with.
    wp_image_description_v1_destroy(description);
    wp_color_management_output_v1_destroy(colourOutput);
#else
    (void)c;
    fail("built without the colour-management protocol");
#endif
}

// Reads and dispatches events, waiting at most `timeoutMs`; false when the connection failed or
// nothing came in time.
bool dispatchOnce(wl_display* display, int timeoutMs)
{
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) return false;
    }
    wl_display_flush(display);
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0) {
        wl_display_cancel_read(display);
        return false;
    }
    return wl_display_read_events(display) == 0 && wl_display_dispatch_pending(display) >= 0;
}

// The buffer pixels: the whole frame in the frame's colour, or the surround with the patch in it.
void fill(std::uint32_t* pixels, int width, int height, std::uint32_t colour, std::uint32_t surround, int patchWidth,
          int patchHeight)
{
    if (patchWidth <= 0) {
        std::fill_n(pixels, std::size_t(width) * std::size_t(height), colour);
        return;
    }
    std::fill_n(pixels, std::size_t(width) * std::size_t(height), surround);
    const int x0 = (width - patchWidth) / 2;
    const int y0 = (height - patchHeight) / 2;
    for (int y = y0; y < y0 + patchHeight; ++y) std::fill_n(pixels + std::size_t(y) * width + x0, patchWidth, colour);
}


// Waits until the frame just committed is done: its frame callback, or its presentation feedback.
void waitForFrame(Client& c, bool untilFrame)
{
    while (untilFrame ? !c.frameDone : c.feedback == Feedback::waiting) {
        if (!dispatchOnce(c.display, FEEDBACK_TIMEOUT_MS)) fail(untilFrame ? "no frame callback" : "no presentation feedback");
    }
    if (untilFrame) c.feedback = Feedback::presented;
}

// Asks for the frame's completion as `untilFrame` says, then commits.
void commitWatched(Client& c, bool untilFrame)
{
    if (untilFrame) {
        c.frameDone = false;
        wl_callback_add_listener(wl_surface_frame(c.surface), &FRAME_LISTENER, &c);
    } else {
        c.feedback = Feedback::waiting;
        wp_presentation_feedback_add_listener(wp_presentation_feedback(c.presentation, c.surface), &FEEDBACK_LISTENER, &c);
    }
    wl_surface_commit(c.surface);
}

struct Box {
    int x, y, width, height;
};

// "box": frames that write and damage the box alone, in batches (one, or one per line of standard input
// with --serve); returns the exit status.
int runBoxes(Client& c, int width, Box box, int frames, bool untilFrame, bool tenBit, bool serve)
{
    // An 8-bit level widened to 10 bits by bit replication.
    auto ten = [](std::uint32_t level) { return (level << 2) | (level >> 6); };
    if (serve) {
        std::printf("ready\n");
        std::fflush(stdout);
    }
    int frame = 0;
    auto batch = [&](int count) {
        std::string line;
        int presented = 0;
        int discarded = 0;
        for (int i = 0; i < count; ++i, ++frame) {
            // A new colour each frame, as each "rgb" brings.
            const std::uint32_t level = 0x40u + std::uint32_t(frame % 50);
            const std::uint32_t colour = tenBit ? 0xC0000000u | (ten(level) << 20) | (ten(0x40u) << 10) | ten(0x0Au)
                                                : 0xFF000000u | (level << 16) | (0x40u << 8) | 0x0Au;
            const auto start = std::chrono::steady_clock::now();
            Buffer* buffer = nullptr;
            while (!buffer) {
                for (Buffer& b : c.buffers) {
                    if (!b.busy) buffer = &b;
                }
                if (!buffer && !dispatchOnce(c.display, FEEDBACK_TIMEOUT_MS)) fail("no buffer released");
            }
            for (int y = box.y; y < box.y + box.height; ++y) {
                std::fill_n(buffer->pixels + std::size_t(y) * std::size_t(width) + std::size_t(box.x), box.width, colour);
            }
            wl_surface_attach(c.surface, buffer->proxy, 0, 0);
            wl_surface_damage_buffer(c.surface, box.x, box.y, box.width, box.height);
            buffer->busy = true;
            commitWatched(c, untilFrame);
            waitForFrame(c, untilFrame);
            line += std::to_string(long(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count())) + " ";
            (c.feedback == Feedback::presented ? presented : discarded) += 1;
        }
        if (!line.empty()) line.pop_back();
        std::printf("%s\nfeedback presented %d discarded %d refresh_mhz %d\n", line.c_str(), presented, discarded,
                    c.refreshMillihertz);
        std::fflush(stdout);
    };
    if (!serve) {
        batch(frames);
    } else {
        for (char request[64]; std::fgets(request, sizeof request, stdin);) batch(std::atoi(request));
    }
    disconnect(c);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool box = argc >= 2 && std::strcmp(argv[1], "box") == 0;
    const bool patch = box || (argc >= 2 && std::strcmp(argv[1], "patch") == 0);
    if (argc < 3 || (!patch && std::strcmp(argv[1], "full") != 0) || (patch && argc < 5)) {
        std::printf("usage: wayland-reference full FRAMES | patch FRAMES W H | box FRAMES W H [X Y], then "
                    "[--until-frame] [--ten-bit] [--tagged] [--hold] [--serve]\n");
        return 2;
    }
    const int frames = std::atoi(argv[2]);
    const int patchWidth = patch ? std::atoi(argv[3]) : 0;
    const int patchHeight = patch ? std::atoi(argv[4]) : 0;
    int boxX = -1;
    int boxY = -1;
    bool hold = false;
    bool untilFrame = false;
    bool tenBit = false;
    bool tagged = false;
    bool serve = false;
    for (int i = patch ? 5 : 3; i < argc; ++i) {
        if (box && i == 5 && i + 1 < argc && argv[i][0] != '-') {
            boxX = std::atoi(argv[i]);
            boxY = std::atoi(argv[++i]);
            continue;
        }
        tenBit = tenBit || std::strcmp(argv[i], "--ten-bit") == 0;
        tagged = tagged || std::strcmp(argv[i], "--tagged") == 0;
        hold = hold || std::strcmp(argv[i], "--hold") == 0;
        untilFrame = untilFrame || std::strcmp(argv[i], "--until-frame") == 0;
        serve = serve || std::strcmp(argv[i], "--serve") == 0;
    }

    Client c;
    c.display = wl_display_connect(nullptr);
    if (!c.display) fail("no compositor");
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &REGISTRY_LISTENER, &c);
    wl_display_roundtrip(c.display);
    wl_display_roundtrip(c.display);
    if (!c.compositor || !c.shm || !c.wmBase || !c.output) fail("missing globals");
    if (!c.presentation && !untilFrame) fail("no presentation-time");
    if (tenBit && !c.offersTenBit) fail("no XRGB2101010 buffers");
    if (c.modeWidth <= 0 || c.modeHeight <= 0) fail("no output mode");
    const int width = c.modeWidth;
    const int height = c.modeHeight;
    if (patch && (patchWidth <= 0 || patchHeight <= 0 || patchWidth > width || patchHeight > height)) {
        fail("patch does not fit the output");
    }
    if (boxX < 0 || boxY < 0) {
        boxX = (width - patchWidth) / 2;
        boxY = (height - patchHeight) / 2;
    }
    if (box && (boxX + patchWidth > width || boxY + patchHeight > height)) fail("box does not fit the output");

    c.surface = wl_compositor_create_surface(c.compositor);
    c.xdgSurface = xdg_wm_base_get_xdg_surface(c.wmBase, c.surface);
    xdg_surface_add_listener(c.xdgSurface, &XDG_SURFACE_LISTENER, &c);
    c.toplevel = xdg_surface_get_toplevel(c.xdgSurface);
    xdg_toplevel_add_listener(c.toplevel, &TOPLEVEL_LISTENER, &c);
    xdg_toplevel_set_title(c.toplevel, "wayland-reference");
    xdg_toplevel_set_fullscreen(c.toplevel, c.output);
    if (c.outputScale > 1) wl_surface_set_buffer_scale(c.surface, c.outputScale);
    if (tagged) tagSurface(c);
    wl_surface_commit(c.surface);
    while (!c.configured) {
        if (!dispatchOnce(c.display, FEEDBACK_TIMEOUT_MS)) fail("not configured");
    }

    const std::size_t frameBytes = std::size_t(width) * std::size_t(height) * 4;
    const int fd = memfd_create("wayland-reference", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(frameBytes * 2)) != 0) fail("no shared memory");
    void* data = mmap(nullptr, frameBytes * 2, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) fail("no shared memory");
    c.pool = wl_shm_create_pool(c.shm, fd, int32_t(frameBytes * 2));
    for (int i = 0; i < 2; ++i) {
        Buffer& b = c.buffers[i];
        b.proxy = wl_shm_pool_create_buffer(c.pool, int32_t(frameBytes * std::size_t(i)), width, height, width * 4,
                                            tenBit ? WL_SHM_FORMAT_XRGB2101010 : WL_SHM_FORMAT_XRGB8888);
        b.pixels = reinterpret_cast<std::uint32_t*>(static_cast<char*>(data) + frameBytes * std::size_t(i));
        wl_buffer_add_listener(b.proxy, &BUFFER_LISTENER, &b);
    }

    // Some compositors make the window fullscreen only once it has content: a first frame goes out, and
    // the timed ones start after the fullscreen configure, the first of them carrying its acknowledgement.
    const std::uint32_t* colours = tenBit ? COLOURS_TEN : COLOURS;
    const std::uint32_t surround = tenBit ? SURROUND_TEN : SURROUND;
    if (box) {
        // The box's frames write the box alone: both buffers start as the surround.
        for (Buffer& b : c.buffers) fill(b.pixels, width, height, surround, surround, 0, 0);
    } else {
        fill(c.buffers[1].pixels, width, height, colours[1], surround, patchWidth, patchHeight);
    }
    wl_surface_attach(c.surface, c.buffers[1].proxy, 0, 0);
    wl_surface_damage_buffer(c.surface, 0, 0, width, height);
    c.buffers[1].busy = true;
    wl_surface_commit(c.surface);
    while (!c.fullscreen) {
        if (!dispatchOnce(c.display, FEEDBACK_TIMEOUT_MS)) fail("not made fullscreen");
    }
    if (box) return runBoxes(c, width, {boxX, boxY, patchWidth, patchHeight}, frames, untilFrame, tenBit, serve);

    std::vector<long> times;
    int presented = 0;
    int discarded = 0;
    for (int i = 0; i < frames; ++i) {
        Buffer* buffer = nullptr;
        while (!buffer) {
            for (Buffer& b : c.buffers) {
                if (!b.busy) buffer = &b;
            }
            if (!buffer && !dispatchOnce(c.display, FEEDBACK_TIMEOUT_MS)) fail("no buffer released");
        }
        fill(buffer->pixels, width, height, colours[i % 2], surround, patchWidth, patchHeight);

        const auto start = std::chrono::steady_clock::now();
        wl_surface_attach(c.surface, buffer->proxy, 0, 0);
        // The first frame puts the surround on the screen, so it is damaged whole in either mode.
        if (patch && i > 0) {
            wl_surface_damage_buffer(c.surface, (width - patchWidth) / 2, (height - patchHeight) / 2, patchWidth,
                                     patchHeight);
        } else {
            wl_surface_damage_buffer(c.surface, 0, 0, width, height);
        }
        buffer->busy = true;
        commitWatched(c, untilFrame);
        waitForFrame(c, untilFrame);
        times.push_back(long(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count()));
        (c.feedback == Feedback::presented ? presented : discarded) += 1;
    }

    std::string line;
    for (long t : times) line += std::to_string(t) + " ";
    if (!line.empty()) line.pop_back();
    std::printf("%s\nfeedback presented %d discarded %d refresh_mhz %d\n", line.c_str(), presented, discarded,
                c.refreshMillihertz);
    std::fflush(stdout);

    if (hold) {
        pollfd fds[2] = {{wl_display_get_fd(c.display), POLLIN, 0}, {0, POLLIN, 0}};
        for (;;) {
            while (wl_display_prepare_read(c.display) != 0) wl_display_dispatch_pending(c.display);
            wl_display_flush(c.display);
            if (poll(fds, 2, -1) < 0) {
                wl_display_cancel_read(c.display);
                continue;
            }
            if (fds[0].revents) {
                if (wl_display_read_events(c.display) != 0 || wl_display_dispatch_pending(c.display) < 0) break;
            } else {
                wl_display_cancel_read(c.display);
            }
            char ignored[256];
            if (fds[1].revents && read(0, ignored, sizeof ignored) <= 0) break;
        }
    }
    disconnect(c);
    return 0;
}
