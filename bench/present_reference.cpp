// A bare X client that shows full frames the way the presenter does, as the yardstick for its round
// trip: "present" draws each frame into a shared-memory pixmap, presents it with the Present extension
// and waits for completion; "upload" only puts the frame with MIT-SHM and makes a round trip. Only the
// showing is timed, not the drawing. With a size (present W H) only a W x H update region in the middle
// of the frame is presented.
// "box" is the floor for the presenter's colour change: the client writes only a W x H box of its
// shared-memory pixmap (a plain loop over the box's rows, in a new colour each frame), presents it with
// an update region of that box alone and waits for completion; each frame is timed from before its
// fill. The box is centred unless X Y give its upper-left corner. The rest of the pixmap is filled and
// shown once, untimed, before the first frame.
// "first" is the yardstick for the presenter's start-up: it shows one full frame (its window mapped,
// the frame drawn into a shared-memory pixmap, presented, waited for until completion), prints "shown"
// and exits.
//   present-reference present|upload FRAMES [W H]
//   present-reference box FRAMES W H [X Y] [--serve]
//   present-reference first
// Prints one line: the per-frame times in microseconds, space-separated. With --serve, "box" prints
// "ready" once set up, then runs a batch of N frames for each line N on standard input, printing each
// batch's line, until standard input ends.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/present.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

template <typename T>
void release(T* reply)
{
    std::free(reply);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool first = argc >= 2 && std::strcmp(argv[1], "first") == 0;
    if ((argc < 3 && !first) || (std::strcmp(argv[1], "box") == 0 && argc < 5)) {
        std::printf("usage: present-reference present|upload FRAMES [WIDTH HEIGHT] | box FRAMES W H [X Y] [--serve] "
                    "| first\n");
        return 2;
    }
    const bool present = std::strcmp(argv[1], "present") == 0;
    const bool box = std::strcmp(argv[1], "box") == 0;
    const int frames = first ? 1 : std::atoi(argv[2]);
    bool serve = false;
    std::vector<int> numbers;
    for (int i = first ? 2 : 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--serve") == 0) {
            serve = true;
        } else {
            numbers.push_back(std::atoi(argv[i]));
        }
    }

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::printf("error no display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const int width = screen->width_in_pixels;
    const int height = screen->height_in_pixels;

    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {1};
    xcb_create_window(c, screen->root_depth, window, screen->root, 0, 0, static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, window);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);

    const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
    const int shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    auto* pixels = static_cast<std::uint32_t*>(shmat(shmid, nullptr, 0));
    shmctl(shmid, IPC_RMID, nullptr);
    const xcb_shm_seg_t seg = xcb_generate_id(c);
    xcb_shm_attach(c, seg, static_cast<std::uint32_t>(shmid), 0);
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_shm_create_pixmap(c, pixmap, window, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                          screen->root_depth, seg, 0);

    const xcb_query_extension_reply_t* presentExt = xcb_get_extension_data(c, &xcb_present_id);
    const xcb_present_event_t eid = xcb_generate_id(c);
    xcb_present_select_input(c, eid, window, XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY);
    xcb_xfixes_region_t update = XCB_NONE;
    xcb_rectangle_t rect{0, 0, 0, 0};
    if (numbers.size() >= 2) {
        const int w = std::clamp(numbers[0], 1, width), h = std::clamp(numbers[1], 1, height);
        const int x = numbers.size() >= 4 ? std::clamp(numbers[2], 0, width - w) : (width - w) / 2;
        const int y = numbers.size() >= 4 ? std::clamp(numbers[3], 0, height - h) : (height - h) / 2;
        release(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        rect = {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), static_cast<std::uint16_t>(w),
                static_cast<std::uint16_t>(h)};
        update = xcb_generate_id(c);
        xcb_xfixes_create_region(c, update, 1, &rect);
    }
    release(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    std::uint32_t serial = 0;
    // Presents the pixmap (through `region`, or whole) and waits for this presentation's completion.
    auto presentAndWait = [&](xcb_xfixes_region_t region) {
        ++serial;
        xcb_present_pixmap(c, window, pixmap, serial, XCB_NONE, region, 0, 0, XCB_NONE, XCB_NONE, XCB_NONE,
                           XCB_PRESENT_OPTION_NONE, 0, 0, 0, 0, nullptr);
        xcb_flush(c);
        for (bool done = false; !done;) {
            xcb_generic_event_t* event = xcb_wait_for_event(c);
            if (!event) return false;
            if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
                auto* ge = reinterpret_cast<xcb_present_generic_event_t*>(event);
                if (ge->extension == presentExt->major_opcode && ge->evtype == XCB_PRESENT_COMPLETE_NOTIFY) {
                    done = reinterpret_cast<xcb_present_complete_notify_event_t*>(event)->serial == serial;
                }
            }
            std::free(event);
        }
        return true;
    };

    if (first) {
        std::fill_n(pixels, static_cast<std::size_t>(width) * height, 0x00404040u);
        if (!presentAndWait(XCB_NONE)) return 1;
        std::printf("shown\n");
        xcb_disconnect(c);
        return 0;
    }

    if (box) {
        if (update == XCB_NONE) return 2;
        // The surround, shown once; then each frame writes and presents the box alone.
        std::fill_n(pixels, static_cast<std::size_t>(width) * height, 0x00202020u);
        if (!presentAndWait(XCB_NONE)) return 1;
        if (serve) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
        int frame = 0;
        auto batch = [&](int count) {
            std::string line;
            for (int i = 0; i < count; ++i, ++frame) {
                // A new colour each frame, as each "rgb" brings.
                const std::uint32_t level = 0x40u + static_cast<std::uint32_t>(frame % 50);
                const std::uint32_t colour = (level << 16) | (0x40u << 8) | 0x0Au;
                const auto start = std::chrono::steady_clock::now();
                for (int y = rect.y; y < rect.y + rect.height; ++y) {
                    std::fill_n(pixels + static_cast<std::size_t>(y) * width + rect.x, rect.width, colour);
                }
                if (!presentAndWait(update)) return false;
                const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
                line += std::to_string(static_cast<long>(us)) + " ";
            }
            if (!line.empty()) line.pop_back();
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
            return true;
        };
        if (!serve) return batch(frames) ? 0 : 1;
        for (char request[64]; std::fgets(request, sizeof request, stdin);) {
            if (!batch(std::atoi(request))) return 1;
        }
        xcb_disconnect(c);
        return 0;
    }

    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
        const std::uint32_t colour = (i & 1) ? 0x00808080u : 0x00404040u;
        std::fill_n(pixels, static_cast<std::size_t>(width) * height, colour);
        const auto start = std::chrono::steady_clock::now();
        if (present) {
            if (!presentAndWait(update)) return 1;
        } else {
            xcb_shm_put_image(c, window, gc, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                              0, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0, 0,
                              screen->root_depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, seg, 0);
            release(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        }
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::string line;
    for (double t : times) line += std::to_string(static_cast<long>(t)) + " ";
    if (!line.empty()) line.pop_back();
    std::printf("%s\n", line.c_str());
    xcb_disconnect(c);
    return 0;
}
