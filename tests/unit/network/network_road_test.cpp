// The network road on the headless platform: the road on its own thread, the main loop on the test's,
// the suite's connections made of socket pairs whose far ends the test writes and closes.
#include "network/network_road.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <sys/ioctl.h>
#include <linux/sockios.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "frame_bytes.hpp"
#include "presenter_stage.hpp"

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

// One connection attempt as the suite answers it: refused, a host without address, or a connection on
// which the suite writes its bytes and closes. A stalling suite keeps the connection open a while
// after its bytes; a trickling one writes them `chunk` bytes at a time, one second apart on the fake
// clock, each once the road has read the one before.
struct Script {
    enum Answer { connects, refused, noAddress };
    Script(Answer answer) : answer(answer) {}
    Script(std::string bytes, bool stalls = false, std::size_t chunk = 0)
        : bytes(std::move(bytes)), stalls(stalls), chunk(chunk)
    {
    }
    Script(const char* bytes) : bytes(bytes) {}
    Answer answer = connects;
    std::string bytes;
    bool stalls = false;
    std::size_t chunk = 0;  // 0: all at once
};

using FakeClock = std::shared_ptr<std::atomic<std::int64_t>>;  // milliseconds

// Writes `script` on `fd` as the suite would, then closes it.
void playSuite(int fd, const Script& script, const FakeClock& clock)
{
    const std::size_t chunk = script.chunk ? script.chunk : std::max<std::size_t>(script.bytes.size(), 1);
    for (std::size_t done = 0; done < script.bytes.size();) {
        const std::size_t size = std::min(chunk, script.bytes.size() - done);
        const ssize_t n = send(fd, script.bytes.data() + done, size, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
        if (!script.chunk) continue;
        // Read by the road (or dropped with its end) before the clock moves on.
        int unread = 1;
        for (int i = 0; i < 2000 && ioctl(fd, SIOCOUTQ, &unread) == 0 && unread > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        *clock += 1000;
    }
    if (script.stalls) std::this_thread::sleep_for(std::chrono::seconds(2));
    close(fd);
}

// The presenter's stage (depth 24 or 30) and the road's lines, each kept with the pixels that were on
// the screen when it was written. The road's clock is fake: it moves only when the road waits for its
// next attempt, or a trickling suite moves it.
struct Stage : PresenterStage {
    struct Written {
        std::string line;
        std::uint32_t inside, corner;   // (500, 200) in the patch box, (100, 500) outside it
    };
    std::mutex mutex;
    std::vector<Written> written;
    std::vector<int> ends;
    std::deque<Script> connections;
    FakeClock clock = std::make_shared<std::atomic<std::int64_t>>(0);
    std::vector<std::int64_t> attempts;  // the fake time of each attempt
    int waits = 0;
    std::chrono::milliseconds stall{100};
    int output = -1;

    explicit Stage(int depth = 24)
        : PresenterStage(ProcessHooks{[this](std::string_view line) {
                                          std::lock_guard lock(mutex);
                                          written.push_back({std::string(line), window.shownPixel(500, 200),
                                                             window.shownPixel(100, 500)});
                                      },
                                      [this](int status) {
                                          ends.push_back(status);
                                          loop.stop();
                                      },
                                      {}},
                         depth)
    {
        window.reportPresentationsAt(12.5);
    }

    // Each attempt takes the next scripted answer; once they are used up the loop is stopped and one
    // more good message is offered, which the road must not answer.
    SuiteAttempt connect()
    {
        attempts.push_back(*clock);
        if (connections.empty()) {
            loop.stop();
            return {suiteEnd(frame(formB(1, 2, 3, 4, 5, 6, 8, BOX))), false};
        }
        Script next = std::move(connections.front());
        connections.pop_front();
        if (next.answer != Script::connects) return {-1, next.answer == Script::noAddress};
        return {suiteEnd(std::move(next)), false};
    }

    // Our end of a connection whose far end plays `script`.
    int suiteEnd(Script script)
    {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
        std::thread(playSuite, pair[1], std::move(script), clock).detach();
        return pair[0];
    }

    // Runs the road on its own thread and the loop here until the scripted connections are used up.
    void run()
    {
        SuiteLink link;
        link.connect = [this](const SuiteAddress&) { return connect(); };
        link.waitUntil = [this](SuiteLink::Clock::time_point until) {
            ++waits;
            const std::int64_t target = std::chrono::duration_cast<std::chrono::milliseconds>(until.time_since_epoch()).count();
            for (std::int64_t now = *clock; now < target && !clock->compare_exchange_weak(now, target);) {}
            return true;
        };
        link.now = [this] { return SuiteLink::Clock::time_point(std::chrono::milliseconds(*clock)); };
        link.stall = stall;
        link.output = output;
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

const std::string CONNECTED = "connected 127.0.0.1 5000";
const std::string LOST(DISPLAY_LOST_LINE);

std::uint32_t xrgb(int r, int g, int b) { return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b); }

TEST(NetworkRoad, GreetsRetriesAndShowsEachGoodMessageAnsweringBadOnesWithTheConnectionKept)
{
    Stage stage;
    stage.connections = {Script::refused, Script::refused,
                         frame(formB(200, 100, 50, 10, 20, 30, 8, BOX)) + frame("<calibration><color") +
                             frame(formB(0, 0, 0, 0, 0, 0, 40, BOX)) + frame(formB(9, 8, 7, 1, 1, 1, 8, BOX))};
    stage.run();
    const std::vector<std::string> expected{"ready", CONNECTED, "painted 12.5", "error bad message",
                                            "error bad message", "painted 12.5", "disconnected", CONNECTED, LOST};
    ASSERT_EQ(stage.lines(), expected);
    EXPECT_EQ(stage.written[2].inside, xrgb(200, 100, 50));
    EXPECT_EQ(stage.written[2].corner, xrgb(10, 20, 30));
    EXPECT_EQ(stage.written[5].inside, xrgb(9, 8, 7));  // the bad messages in between showed nothing
    EXPECT_EQ(stage.written[5].corner, xrgb(1, 1, 1));
    EXPECT_EQ(stage.presenter.view().mode, Mode::dither);
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
    const std::vector<std::string> expected{"ready", CONNECTED, "painted 12.5", "error bad message", "disconnected",
                                            CONNECTED, "error bad message", "disconnected",
                                            CONNECTED, "error bad message", "disconnected",
                                            CONNECTED, "error bad message", "disconnected", CONNECTED, LOST};
    ASSERT_EQ(stage.lines(), expected);
    EXPECT_EQ(stage.written.back().inside, xrgb(200, 0, 0));  // nothing after the broken frame was shown
}

// Whatever ended an attempt, the next one waits until a second after it began.
TEST(NetworkRoad, AttemptsAreASecondApartHoweverTheLastEnded)
{
    Stage stage;
    stage.connections = {Script::refused,
                         "",                                               // accepted and closed at once
                         frame("", 2u << 20),                              // a broken frame
                         frame(formB(1, 1, 1, 0, 0, 0, 8, BOX)),           // a message, then closed
                         frame("<calibration/>"),                          // a bad message, then closed
                         Script::noAddress};
    stage.run();
    ASSERT_EQ(stage.attempts.size(), 7u);
    EXPECT_EQ(stage.waits, 6);  // before every attempt but the first
    for (std::size_t i = 1; i < stage.attempts.size(); ++i) {
        EXPECT_GE(stage.attempts[i] - stage.attempts[i - 1], 1000) << "attempt " << i;
    }
}

TEST(NetworkRoad, AHostWithoutAddressIsSaidOnceWhileItLastsAndAgainAfterItResolved)
{
    Stage stage;
    stage.connections = {Script::noAddress, Script::noAddress, Script::noAddress, Script::refused,
                         Script::noAddress, Script::noAddress};
    stage.run();
    const std::vector<std::string> expected{"ready", "error no address 127.0.0.1", "error no address 127.0.0.1",
                                            CONNECTED, LOST};
    EXPECT_EQ(stage.lines(), expected);
}

// A message must be whole within the stall limit of its first byte, however often its bytes come.
TEST(NetworkRoad, AMessageTricklingInPastTheLimitFromItsFirstByteIsABadMessage)
{
    const std::string message = frame(formB(0, 90, 0, 0, 0, 0, 8, BOX));
    struct Case {
        const char* why;
        std::size_t chunk;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"ten chunks over nine seconds", message.size() / 10 + 1,
         {"ready", CONNECTED, "painted 12.5", "disconnected", CONNECTED, LOST}},
        {"a byte a second", 1, {"ready", CONNECTED, "error bad message", "disconnected", CONNECTED, LOST}},
    };
    for (const Case& c : cases) {
        Stage stage;
        stage.stall = std::chrono::seconds(10);
        stage.connections = {Script(message, false, c.chunk)};
        stage.run();
        EXPECT_EQ(stage.lines(), c.lines) << c.why;
    }
}

// Standard output's reader gone while the road waits for the suite: the run ends with status 1.
TEST(NetworkRoad, AnOutputThatHangsUpEndsTheRunWithStatusOne)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    Stage stage;
    stage.output = pipeFds[1];
    stage.connections = {Script("", true)};  // a suite that says nothing for a while
    std::jthread watchdog([&stage](std::stop_token stop) {
        // The loop must not outlive a road that failed to end the run.
        for (int i = 0; i < 500 && !stop.stop_requested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!stop.stop_requested()) stage.loop.stop();
    });
    stage.run();
    close(pipeFds[1]);
    EXPECT_EQ(stage.ends, std::vector<int>{1});
    EXPECT_EQ(stage.lines(), (std::vector<std::string>{"ready", CONNECTED}));
}

TEST(NetworkRoad, OnATenBitScreenTenBitValuesAreShownExactlyInDeepMode)
{
    Stage stage(30);
    stage.connections = {frame(formB(1023, 512, 1, 3, 1000, 0, 10, BOX))};
    stage.run();
    ASSERT_EQ(stage.lines().at(2), "painted 12.5");
    EXPECT_EQ(stage.presenter.view().mode, Mode::deep);
    EXPECT_EQ(stage.written[2].inside, 1023u << 20 | 512u << 10 | 1u);
    EXPECT_EQ(stage.written[2].corner, 3u << 20 | 1000u << 10 | 0u);
}

}  // namespace
}  // namespace pp
