// A bare Wayland client that shows frames the way the presenter does, as the yardstick for its round
// trip on a compositor: a fullscreen xdg_toplevel with two wl_shm buffers of the output's pixel size.
// Each frame is filled before the clock starts; the timed part attaches the buffer, damages it, commits
// with a presentation feedback and waits until the feedback arrives (presented or discarded).
//
//   wayland-reference full FRAMES [--until-frame] [--ten-bit] [--tagged] [--hold]
//   wayland-reference patch FRAMES W H [--until-frame] [--ten-bit] [--tagged] [--hold]
//   wayland-reference box FRAMES W H [X Y] [--until-frame] [--ten-bit] [--tagged] [--serve]
//   wayland-reference first [--until-frame]
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
// "first" is the yardstick for the presenter's start-up: it shows one full frame as soon as it can
// (after the first configure, waited for until presented, or composed with --until-frame; again while
// the window is not yet fullscreen or the frame was discarded), prints "shown" and exits.
//
// Prints the per-frame times in microseconds, space-separated, on one line, then
// "feedback presented P discarded D refresh_mhz R" (R: the output's refresh in millihertz, 0 when
// unknown; with --until-frame every frame counts as presented). With --hold it then keeps the last frame on the screen until standard input ends.
// Failures are one line "error ..." and status 1.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef PP_COLOUR_MANAGEMENT
#include "color-management-v1-client-protocol.h"
#endif
#include "wayland_client.hpp"

namespace {

using namespace pp::test;

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

struct Client {
    WaylandClient wayland;
    ClientOutput* output = nullptr;  // the first output, as the presenter's main screen is
    FullscreenWindow window;
    ShmFrames frames;  // two buffers of the output's pixel size
#ifdef PP_COLOUR_MANAGEMENT
    wp_color_manager_v1* colourManager = nullptr;
    bool perceptual = false;  // the manager offers the perceptual render intent
    wp_color_management_surface_v1* colourSurface = nullptr;
#endif
    Description description = Description::waiting;
    std::string descriptionFailure;
    Feedback feedback = Feedback::waiting;
    bool frameDone = false;
};

// Destroys every object the client made and closes the connection.
void disconnect(Client& c)
{
    destroyShmFrames(c.frames);
#ifdef PP_COLOUR_MANAGEMENT
    if (c.colourSurface) wp_color_management_surface_v1_destroy(c.colourSurface);
    if (c.colourManager) wp_color_manager_v1_destroy(c.colourManager);
#endif
    destroyWindow(c.window);
    disconnectWayland(c.wayland);
}

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

// Dispatches events until `done()` holds; fails with `failure` when the connection fails or nothing
// comes for a feedback's time.
template <class Done>
void awaitEvents(Client& c, Done done, const char* failure)
{
    while (!done()) {
        if (!dispatchOnce(c.wayland.display, FEEDBACK_TIMEOUT_MS)) fail(failure);
    }
}

// Tags the surface with the output's own image description, waited for with round trips, before the
// surface's first commit; fails where the compositor cannot.
void tagSurface(Client& c)
{
#ifdef PP_COLOUR_MANAGEMENT
    if (!c.colourManager) fail("no colour management");
    if (!c.perceptual) fail("no perceptual render intent");
    wp_color_management_output_v1* colourOutput = wp_color_manager_v1_get_output(c.colourManager, c.output->proxy);
    wp_image_description_v1* description = wp_color_management_output_v1_get_image_description(colourOutput);
    wp_image_description_v1_add_listener(description, &DESCRIPTION_LISTENER, &c);
    const auto asked = std::chrono::steady_clock::now();
    while (c.description == Description::waiting) {
        if (wl_display_roundtrip(c.wayland.display) < 0 ||
            std::chrono::steady_clock::now() - asked > std::chrono::milliseconds(FEEDBACK_TIMEOUT_MS)) {
            fail("no output image description");
        }
    }
    if (c.description == Description::failed) fail("output image description failed: " + c.descriptionFailure);
    c.colourSurface = wp_color_manager_v1_get_surface(c.colourManager, c.window.surface);
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

// A buffer the compositor does not hold, waited for.
ShmBuffer& freeBuffer(Client& c)
{
    ShmBuffer* buffer = nullptr;
    awaitEvents(c, [&] {
        for (ShmBuffer& b : c.frames.buffers) {
            if (!b.busy) buffer = &b;
        }
        return buffer != nullptr;
    }, "no buffer released");
    return *buffer;
}

// Attaches the buffer with its damage, asks for the frame's completion as `untilFrame` says, commits
// and waits until the frame is done: its frame callback, or its presentation feedback.
void showFrame(Client& c, ShmBuffer& buffer, int x, int y, int width, int height, bool untilFrame)
{
    wl_surface* surface = c.window.surface;
    wl_surface_attach(surface, buffer.proxy, 0, 0);
    wl_surface_damage_buffer(surface, x, y, width, height);
    buffer.busy = true;
    if (untilFrame) {
        c.frameDone = false;
        wl_callback_add_listener(wl_surface_frame(surface), &FRAME_LISTENER, &c);
    } else {
        c.feedback = Feedback::waiting;
        wp_presentation_feedback_add_listener(wp_presentation_feedback(c.wayland.presentation, surface),
                                              &FEEDBACK_LISTENER, &c);
    }
    wl_surface_commit(surface);
    awaitEvents(c, [&] { return untilFrame ? c.frameDone : c.feedback != Feedback::waiting; },
                untilFrame ? "no frame callback" : "no presentation feedback");
    if (untilFrame) c.feedback = Feedback::presented;
}

// One batch's two lines: the frame times in microseconds, then how the frames ended.
struct Batch {
    std::string times;
    int presented = 0;
    int discarded = 0;

    void add(std::chrono::steady_clock::time_point start, Feedback feedback)
    {
        const auto took = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start);
        times += (times.empty() ? "" : " ") + std::to_string(long(took.count()));
        (feedback == Feedback::presented ? presented : discarded) += 1;
    }
    void print(int refreshMillihertz) const
    {
        say(times);
        say("feedback presented " + std::to_string(presented) + " discarded " + std::to_string(discarded) +
            " refresh_mhz " + std::to_string(refreshMillihertz));
    }
};

struct Box {
    int x, y, width, height;
};

// "box": frames that write and damage the box alone, in batches (one, or one per line of standard input
// with --serve).
void runBoxes(Client& c, int width, Box box, int frames, bool untilFrame, bool tenBit, bool serve)
{
    // An 8-bit level widened to 10 bits by bit replication.
    auto ten = [](std::uint32_t level) { return (level << 2) | (level >> 6); };
    if (serve) say("ready");
    int frame = 0;
    auto batch = [&](int count) {
        Batch b;
        for (int i = 0; i < count; ++i, ++frame) {
            // A new colour each frame, as each "rgb" brings.
            const std::uint32_t level = 0x40u + std::uint32_t(frame % 50);
            const std::uint32_t colour = tenBit ? 0xC0000000u | (ten(level) << 20) | (ten(0x40u) << 10) | ten(0x0Au)
                                                : 0xFF000000u | (level << 16) | (0x40u << 8) | 0x0Au;
            const auto start = std::chrono::steady_clock::now();
            ShmBuffer& buffer = freeBuffer(c);
            for (int y = box.y; y < box.y + box.height; ++y) {
                std::fill_n(buffer.pixels + std::size_t(y) * std::size_t(width) + std::size_t(box.x), box.width, colour);
            }
            showFrame(c, buffer, box.x, box.y, box.width, box.height, untilFrame);
            b.add(start, c.feedback);
        }
        b.print(c.output->refreshMillihertz);
    };
    if (!serve) {
        batch(frames);
    } else {
        for (char request[64]; std::fgets(request, sizeof request, stdin);) batch(std::atoi(request));
    }
}

// "first": full frames until one is shown on the fullscreen window.
void showFirstFrame(Client& c, int width, int height, std::uint32_t colour, bool untilFrame)
{
    constexpr int TRIES = 10;
    for (int i = 0; i < TRIES; ++i) {
        ShmBuffer& buffer = freeBuffer(c);
        fill(buffer.pixels, width, height, colour, colour, 0, 0);
        const bool wasFullscreen = c.window.fullscreen;
        showFrame(c, buffer, 0, 0, width, height, untilFrame);
        if (wasFullscreen && c.feedback == Feedback::presented) return;
        if (!c.window.fullscreen) awaitEvents(c, [&] { return c.window.fullscreen; }, "not made fullscreen");
    }
    fail("no frame shown");
}

}  // namespace

int main(int argc, char** argv)
{
    const bool box = argc >= 2 && std::strcmp(argv[1], "box") == 0;
    const bool patch = box || (argc >= 2 && std::strcmp(argv[1], "patch") == 0);
    const bool first = argc >= 2 && std::strcmp(argv[1], "first") == 0;
    if ((argc < 3 && !first) || (!patch && !first && std::strcmp(argv[1], "full") != 0) || (patch && argc < 5)) {
        say("usage: wayland-reference full FRAMES | patch FRAMES W H | box FRAMES W H [X Y] | first, then "
            "[--until-frame] [--ten-bit] [--tagged] [--hold] [--serve]");
        return 2;
    }
    const int frames = first ? 1 : std::atoi(argv[2]);
    const int patchWidth = patch ? std::atoi(argv[3]) : 0;
    const int patchHeight = patch ? std::atoi(argv[4]) : 0;
    int boxX = -1;
    int boxY = -1;
    bool hold = false;
    bool untilFrame = false;
    bool tenBit = false;
    bool tagged = false;
    bool serve = false;
    for (int i = patch ? 5 : first ? 2 : 3; i < argc; ++i) {
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
#ifdef PP_COLOUR_MANAGEMENT
    c.wayland.otherGlobal = [&c](const Global& global) {
        if (!global.is(wp_color_manager_v1_interface)) return;
        c.colourManager = global.bind<wp_color_manager_v1>(wp_color_manager_v1_interface, 2);
        wp_color_manager_v1_add_listener(c.colourManager, &MANAGER_LISTENER, &c);
    };
#endif
    connectWayland(c.wayland);
    c.output = c.wayland.outputs.front().get();
    if (!c.wayland.presentation && !untilFrame) fail("no presentation-time");
    if (tenBit && !c.wayland.offersTenBit) fail("no XRGB2101010 buffers");
    if (c.output->modeWidth <= 0 || c.output->modeHeight <= 0) fail("no output mode");
    const int width = c.output->modeWidth;
    const int height = c.output->modeHeight;
    if (patch && (patchWidth <= 0 || patchHeight <= 0 || patchWidth > width || patchHeight > height)) {
        fail("patch does not fit the output");
    }
    if (boxX < 0 || boxY < 0) {
        boxX = (width - patchWidth) / 2;
        boxY = (height - patchHeight) / 2;
    }
    if (box && (boxX + patchWidth > width || boxY + patchHeight > height)) fail("box does not fit the output");

    createFullscreenWindow(c.wayland, c.window, c.output->proxy, "wayland-reference");
    if (c.output->scale > 1) wl_surface_set_buffer_scale(c.window.surface, c.output->scale);
    if (tagged) tagSurface(c);
    wl_surface_commit(c.window.surface);
    awaitEvents(c, [&] { return c.window.configured; }, "not configured");

    c.frames = createShmFrames(c.wayland.shm, 2, width, height, tenBit ? WL_SHM_FORMAT_XRGB2101010 : WL_SHM_FORMAT_XRGB8888);

    // Some compositors make the window fullscreen only once it has content: a first frame goes out, and
    // the timed ones start after the fullscreen configure, the first of them carrying its acknowledgement.
    const std::uint32_t* colours = tenBit ? COLOURS_TEN : COLOURS;
    const std::uint32_t surround = tenBit ? SURROUND_TEN : SURROUND;
    if (first) {
        showFirstFrame(c, width, height, colours[0], untilFrame);
        say("shown");
        disconnect(c);
        return 0;
    }
    if (box) {
        // The box's frames write the box alone: both buffers start as the surround.
        for (ShmBuffer& b : c.frames.buffers) fill(b.pixels, width, height, surround, surround, 0, 0);
    } else {
        fill(c.frames.buffers[1].pixels, width, height, colours[1], surround, patchWidth, patchHeight);
    }
    wl_surface_attach(c.window.surface, c.frames.buffers[1].proxy, 0, 0);
    wl_surface_damage_buffer(c.window.surface, 0, 0, width, height);
    c.frames.buffers[1].busy = true;
    wl_surface_commit(c.window.surface);
    awaitEvents(c, [&] { return c.window.fullscreen; }, "not made fullscreen");
    if (box) {
        runBoxes(c, width, {boxX, boxY, patchWidth, patchHeight}, frames, untilFrame, tenBit, serve);
        disconnect(c);
        return 0;
    }

    Batch batch;
    for (int i = 0; i < frames; ++i) {
        ShmBuffer& buffer = freeBuffer(c);
        fill(buffer.pixels, width, height, colours[i % 2], surround, patchWidth, patchHeight);
        const auto start = std::chrono::steady_clock::now();
        // The first frame puts the surround on the screen, so it is damaged whole in either mode.
        if (patch && i > 0) {
            showFrame(c, buffer, (width - patchWidth) / 2, (height - patchHeight) / 2, patchWidth, patchHeight,
                      untilFrame);
        } else {
            showFrame(c, buffer, 0, 0, width, height, untilFrame);
        }
        batch.add(start, c.feedback);
    }
    batch.print(c.output->refreshMillihertz);
    if (hold) dispatchUntilInputEnds(c.wayland.display);
    disconnect(c);
    return 0;
}
