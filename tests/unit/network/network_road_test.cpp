// The network road on the headless platform: the road on its own thread, the main loop on the test's,
// the suite's connections made of socket pairs whose far ends the test writes and closes.
#include "network/network_road.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <mutex>
#include <thread>

#include "frame_bytes.hpp"
#include "platform/headless/headless_displays.hpp"
#include "platform/headless/headless_main_loop.hpp"
#include "platform/headless/headless_window.hpp"

namespace pp {
namespace {

std::string formB(int r, int g, int b, int br, int bg, int bb, int bits, const char* geometry)
{
    const std::string depth = " bits=\"" + std::to_string(bits) + "\"";
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><calibration><color red=\"" + std::to_string(r) +
           "\" green=\"" + std::to_string(g) + "\" blue=\"" + std::to_string(b) + "\"" + depth +
           "/><background red=\"" + std::to_string(br) + "\" green=\"" + std::to_string(bg) + "\" blue=\"" +
           std::to_string(bb) + "\"" + depth + "/><geometry " + geometry + "/></calibration>";
}

const char* const BOX = R"(x="0.25" y="0.1" cx="0.5" cy="0.3")";  // columns 250..749, rows 80..319 of 1000 x 800

// One connection as the suite makes it: what it writes, and then it closes (or, stalling, keeps the
// connection open a while longer).
struct Script {
    Script(std::string bytes, bool stalls = false) : bytes(std::move(bytes)), stalls(stalls) {}
    Script(const char* bytes) : bytes(bytes) {}
    std::string bytes;
    bool stalls = false;
};

// A 1000 x 800 screen (depth 24 or 30) with its window, loop and presenter, and the road's lines, each
// kept with the pixels that were on the screen when it was written.
struct Stage {
    struct Written {
        std::string line;
        std::uint32_t inside, corner;   // (500, 200) in the patch box, (100, 500) outside it
    };
    Screen screen;
    headless::HeadlessDisplays displays;
    headless::HeadlessWindow window;
    headless::HeadlessMainLoop loop{&window};
    std::mutex mutex;
    std::vector<Written> written;
    ProcessHooks hooks{[this](std::string_view line) {
                           std::lock_guard lock(mutex);
                           written.push_back({std::string(line), window.shownPixel(500, 200), window.shownPixel(100, 500)});
                       },
                       [this](int) { loop.stop(); }};
    Presenter presenter;
    std::deque<std::optional<Script>> connections;  // none: the suite is not listening on that attempt
    int pauses = 0;

    static Screen screenOfDepth(int depth)
    {
        Screen s = headless::headlessScreen(3, {0, 0, 1000, 800}, {250, 200});
        s.depth = depth;
        s.bitsPerSample = depth == 30 ? 10 : 8;
        return s;
    }

    explicit Stage(int depth = 24)
        : screen(screenOfDepth(depth)), window(screen),
          presenter(window, displays, screen, patchGeometry({}, screen), hooks)
    {
        displays.screenList = {screen};
        window.reportPresentationsAt(12.5);
    }

    // Each attempt takes the next scripted connection; once they are used up the loop is stopped and
    // one more good message is offered, which the road must not answer.
    int connect()
    {
        if (connections.empty()) {
            loop.stop();
            return suiteEnd(frame(formB(1, 2, 3, 4, 5, 6, 8, BOX)));
        }
        auto next = std::move(connections.front());
        connections.pop_front();
        return next ? suiteEnd(next->bytes, next->stalls) : -1;
    }

    // Our end of a connection whose far end has written `script` and closed.
    static int suiteEnd(const std::string& script, bool stalls = false)
    {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
        std::thread([fd = pair[1], script, stalls] {
            for (std::size_t done = 0; done < script.size();) {
                const ssize_t n = write(fd, script.data() + done, script.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            if (stalls) std::this_thread::sleep_for(std::chrono::seconds(2));
            close(fd);
        }).detach();
        return pair[0];
    }

    // Runs the road on its own thread and the loop here until the scripted connections are used up.
    void run()
    {
        SuiteLink link{[this](const SuiteAddress&) { return connect(); }, [this] { ++pauses; },
                       std::chrono::milliseconds(100)};
        std::thread road([&] { runNetworkRoad({"127.0.0.1", 5000}, presenter, loop, hooks, link, [] { return 12.5; }); });
        loop.run(presenter);
        road.join();
    }

    std::vector<std::string> lines()
    {
        std::vector<std::string> out;
        for (const auto& w : written) out.push_back(w.line.rfind("ready ", 0) == 0 ? "ready" : w.line);
        return out;
    }
};

std::uint32_t xrgb(int r, int g, int b) { return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b); }

TEST(NetworkRoad, GreetsRetriesAndShowsEachGoodMessageAnsweringBadOnesWithTheConnectionKept)
{
    Stage stage;
    stage.connections = {std::nullopt, std::nullopt,
                         frame(formB(200, 100, 50, 10, 20, 30, 8, BOX)) + frame("<calibration><color") +
                             frame(formB(0, 0, 0, 0, 0, 0, 40, BOX)) + frame(formB(9, 8, 7, 1, 1, 1, 8, BOX))};
    stage.run();
    EXPECT_EQ(stage.pauses, 2);
    const std::vector<std::string> expected{"ready", "connected 127.0.0.1 5000", "painted 12.5", "error bad message",
                                            "error bad message", "painted 12.5", "disconnected",
                                            "connected 127.0.0.1 5000"};
    ASSERT_EQ(stage.lines(), expected);
    EXPECT_EQ(stage.written[2].inside, xrgb(200, 100, 50));
    EXPECT_EQ(stage.written[2].corner, xrgb(10, 20, 30));
    EXPECT_EQ(stage.written[5].inside, xrgb(9, 8, 7));  // the bad messages in between showed nothing
    EXPECT_EQ(stage.written[5].corner, xrgb(1, 1, 1));
    EXPECT_EQ(stage.presenter.view().mode, "dither");
    EXPECT_FALSE(stage.presenter.view().mark);
}

TEST(NetworkRoad, ARectangleCoversExactlyTheGeometrysPixels)
{
    Stage stage;
    stage.connections = {frame(formB(250, 240, 230, 5, 6, 7, 8, BOX))};
    stage.run();
    ASSERT_EQ(stage.lines().at(2), "painted 12.5");
    const std::uint32_t patch = xrgb(250, 240, 230), surround = xrgb(5, 6, 7);
    struct Probe {
        int x, y;
        bool inside;
    };
    for (const Probe p : {Probe{250, 80, true}, Probe{749, 319, true}, Probe{249, 80, false}, Probe{250, 79, false},
                          Probe{750, 319, false}, Probe{749, 320, false}, Probe{0, 0, false}, Probe{999, 799, false}}) {
        EXPECT_EQ(stage.window.shownPixel(p.x, p.y), p.inside ? patch : surround) << p.x << "," << p.y;
    }
}

// Over the size limit; cut short by the end of the connection (twice); stalled half-way.
TEST(NetworkRoad, ABrokenTruncatedOrStalledFrameIsABadMessageAndTheConnectionIsMadeAgain)
{
    Stage stage;
    stage.connections = {frame(formB(200, 0, 0, 0, 0, 0, 8, BOX)) + frame("", 2u << 20) + frame(formB(0, 200, 0, 0, 0, 0, 8, BOX)),
                         frame(formB(0, 0, 200, 0, 0, 0, 8, BOX)).substr(0, 30),
                         std::string("\0\0", 2),
                         Script(frame(formB(0, 0, 200, 0, 0, 0, 8, BOX)).substr(0, 30), true)};
    stage.run();
    const std::vector<std::string> expected{
        "ready",         "connected 127.0.0.1 5000", "painted 12.5",      "error bad message", "disconnected",
        "connected 127.0.0.1 5000", "error bad message", "disconnected", "connected 127.0.0.1 5000",
        "error bad message", "disconnected", "connected 127.0.0.1 5000", "error bad message", "disconnected",
        "connected 127.0.0.1 5000"};
    ASSERT_EQ(stage.lines(), expected);
    EXPECT_EQ(stage.written.back().inside, xrgb(200, 0, 0));  // nothing after the broken frame was shown
}

TEST(NetworkRoad, OnATenBitScreenTenBitValuesAreShownExactlyInDeepMode)
{
    Stage stage(30);
    stage.connections = {frame(formB(1023, 512, 1, 3, 1000, 0, 10, BOX))};
    stage.run();
    ASSERT_EQ(stage.lines().at(2), "painted 12.5");
    EXPECT_EQ(stage.presenter.view().mode, "deep");
    EXPECT_EQ(stage.written[2].inside, 1023u << 20 | 512u << 10 | 1u);
    EXPECT_EQ(stage.written[2].corner, 3u << 20 | 1000u << 10 | 0u);
}

}  // namespace
}  // namespace pp
