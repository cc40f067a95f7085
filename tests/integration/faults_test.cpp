// The presenter in a hostile environment: the X server killed under it, odd standard streams, and
// lines far longer than anything a screen can show. The real binary under Xvfb.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "presenter_session.hpp"

namespace pp::test {
namespace {

constexpr const char* LOST = "error display connection lost";

ChildProcess startPresenter(const XServer& server, ChildStreams streams = {}, std::vector<std::string> args = {})
{
    std::vector<std::string> argv = {presenterPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return ChildProcess(argv, {{"DISPLAY", server.display()}}, streams);
}

// Every line until the output ends.
std::vector<std::string> linesUntilEnd(ChildProcess& child, std::chrono::milliseconds timeout = 20s)
{
    std::vector<std::string> lines;
    while (auto line = child.readLine(timeout)) lines.push_back(*line);
    return lines;
}

// A line is a whole reply or greeting: the report-carrying ones carry their report.
void expectWhole(const std::string& line)
{
    if (line.starts_with("ready") || line.starts_with("info")) {
        ASSERT_GT(line.size(), 6u) << line;
        EXPECT_TRUE(nlohmann::json::accept(line.substr(line.find(' ') + 1))) << line;
    }
    if (line.starts_with("mode")) {
        EXPECT_TRUE(line.starts_with("mode dither window_bits 8 screen_bits ")) << line;
    }
}

// VmHWM, the peak resident memory, of a running process in kilobytes.
long peakKilobytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

TEST(ServerKilled, WhileCommandsStreamTheLastLineIsTheLossAndNoReplyClaimsAFrameAfterIt)
{
    for (int round = 0; round < 3; ++round) {
        auto server = XServer::startXvfb({.width = 640, .height = 480});
        ChildProcess child = startPresenter(*server);
        const auto greeting = child.readLine(20s);
        ASSERT_TRUE(greeting && greeting->starts_with("ready {")) << greeting.value_or("(none)");

        std::atomic<bool> stop = false;
        std::jthread feeder([&] {
            for (int i = 0; !stop; ++i) {
                child.write("rgb " + std::to_string(i % 256) + " 0 0\ninfo\nmode dither\n");
            }
        });
        // Let replies flow, then kill the server mid-stream.
        std::vector<std::string> lines;
        while (lines.size() < 150u + 50u * round) lines.push_back(child.readLine().value_or("<no reply>"));
        const double killedAt = wallClock();
        ASSERT_EQ(kill(server->pid(), SIGKILL), 0);
        const std::size_t before = lines.size();
        for (auto& line : linesUntilEnd(child)) lines.push_back(std::move(line));
        // The program is gone: the feeder's writes fail at once, so it stops before its pipe is closed.
        stop = true;
        feeder.join();
        child.closeInput();

        EXPECT_EQ(child.wait(10s), 1);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), LOST);
        int paintedAfterKill = 0;
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            expectWhole(lines[i]);
            EXPECT_NE(lines[i], LOST) << "at line " << i;
            if (i >= before && lines[i].starts_with("painted ")) {
                paintedAfterKill += std::stod(lines[i].substr(8)) > killedAt;
            }
        }
        EXPECT_LE(paintedAfterKill, 1) << "round " << round;
        EXPECT_EQ(child.errorOutput(), "");
    }
}

TEST(ServerKilled, DuringStartUpNeverGreetsWithoutAReport)
{
    // How long start-up takes here: the kills below fall before, in and after its last steps.
    std::chrono::microseconds startUp{};
    {
        auto server = XServer::startXvfb({.width = 640, .height = 480});
        const auto started = std::chrono::steady_clock::now();
        ChildProcess child = startPresenter(*server);
        ASSERT_TRUE(child.readLine(20s).value_or("").starts_with("ready {"));
        startUp = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    }
    for (int step = 0; step <= 16; ++step) {
        const auto delay = startUp * (40 + 5 * step) / 100;
        const auto delayMs = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
        auto server = XServer::startXvfb({.width = 640, .height = 480});
        ChildProcess child = startPresenter(*server);
        std::this_thread::sleep_for(delay);
        kill(server->pid(), SIGKILL);
        const auto lines = linesUntilEnd(child);
        const auto status = child.wait(10s);
        ASSERT_TRUE(status) << delayMs;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            expectWhole(lines[i]);
            if (lines[i] == LOST) {
                EXPECT_EQ(i + 1, lines.size()) << "a line follows the loss, delay " << delayMs;
            }
        }
        // Either the run got its greeting out and the loss ended it, or it never started.
        if (*status == 1 && !lines.empty()) {
            EXPECT_TRUE(lines.back() == LOST || lines.back().starts_with("error no ")) << lines.back();
        }
        if (*status == 0) {
            EXPECT_TRUE(!lines.empty() && lines.front().starts_with("ready {")) << delayMs;
        }
    }
}

struct OddStreams : ::testing::Test {
    std::unique_ptr<XServer> server = XServer::startXvfb({.width = 320, .height = 240});

    // Waits until the pixel at the patch centre shows `colour` (the only sign of life with no output).
    bool showsAtCentre(Rgb colour)
    {
        for (int i = 0; i < 500; ++i) {
            if (readRoot(server->display(), 160, 120, 1, 1).at(160, 120) == colour) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
};

TEST_F(OddStreams, ClosedOutputStillObeysAndEndsAtEndOfInput)
{
    ChildProcess child = startPresenter(*server, {.closedOutput = true});
    child.write("mode flat\nrgb 200 0 0\n");
    EXPECT_TRUE(showsAtCentre({200, 0, 0}));
    child.write("rgb 0 90 0\n");
    EXPECT_TRUE(showsAtCentre({0, 90, 0}));
    child.closeInput();
    EXPECT_EQ(child.wait(10s), 0);
    EXPECT_EQ(child.errorOutput(), "");
}

TEST_F(OddStreams, ClosedOutputStillEndsOnQuit)
{
    ChildProcess child = startPresenter(*server, {.closedOutput = true});
    child.write("mode flat\nrgb 0 0 70\n");
    EXPECT_TRUE(showsAtCentre({0, 0, 70}));
    child.write("quit\n");
    EXPECT_EQ(child.wait(10s), 0);
}

TEST_F(OddStreams, ClosedInputIsAnEmptyInputNotTheServersBytes)
{
    ChildProcess child = startPresenter(*server, {.closedInput = true});
    const auto lines = linesUntilEnd(child);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("ready {")) << lines[0];
    EXPECT_EQ(child.wait(10s), 0);
}

TEST_F(OddStreams, BothClosedEndsAtOnceWithStatusZero)
{
    ChildProcess child = startPresenter(*server, {.closedInput = true, .closedOutput = true});
    EXPECT_EQ(child.wait(10s), 0);
}

TEST_F(OddStreams, NonBlockingInputIsWaitedOn)
{
    ChildProcess child = startPresenter(*server, {.nonBlockingInput = true});
    ASSERT_TRUE(child.readLine(20s).value_or("").starts_with("ready {"));
    std::this_thread::sleep_for(1s);
    child.write("mode flat\n");
    EXPECT_EQ(child.readLine(), "mode flat window_bits 8 screen_bits 8 layer RGBA8Uint");
    std::this_thread::sleep_for(1s);
    child.write("rgb 10 20 30\n");
    EXPECT_TRUE(child.readLine().value_or("").starts_with("painted "));
    EXPECT_EQ(readRoot(server->display(), 160, 120, 1, 1).at(160, 120), (Rgb{10, 20, 30}));
    child.closeInput();
    EXPECT_EQ(child.wait(10s), 0);
}

TEST(HugeCaption, IsAnsweredWithinBoundedMemoryAndLaterFramesStillWork)
{
    auto server = XServer::startXvfb({.width = 1280, .height = 720});
    PresenterSession session(*server);
    ASSERT_TRUE(session.greeting().starts_with("ready {"));
    ASSERT_TRUE(session.ask("mode flat").starts_with("mode flat"));

    // 50 MB of words with a few multi-byte characters, so that the caption is real text.
    std::string caption;
    caption.reserve(50'000'000);
    while (caption.size() < 50'000'000) caption += "caption \xC3\xA9t\xC3\xA9 word ";
    std::jthread writer([&] { session.child().write("text " + caption + "\n"); });
    // Generous: only a guard against a hang, not a speed goal.
    EXPECT_EQ(session.child().readLine(60s), "text");
    writer.join();
    const long peak = peakKilobytes(session.child().pid());
    EXPECT_GT(peak, 0);
#ifndef PP_SANITIZED_BUILD  // a sanitizer's shadow memory is not the program's
    EXPECT_LT(peak, 200 * 1024) << "peak resident memory in kB";
#endif

    for (int c : {40, 160}) {
        const std::string value = std::to_string(c);
        ASSERT_TRUE(session.ask("rgb " + value + " " + value + " " + value).starts_with("painted "));
        EXPECT_EQ(session.pixel(640, 360), (Rgb{c, c, c}));
    }
    // The caption runs across the whole screen in the band above the patch (whose top is row 180).
    const auto band = session.area(0, 100, 1280, 78);
    int lit = 0, leftmost = 1280, rightmost = -1;
    for (int y = 100; y < 178; ++y) {
        for (int x = 0; x < 1280; ++x) {
            if (band.at(x, y) == Rgb{0, 0, 0}) continue;
            ++lit;
            leftmost = std::min(leftmost, x);
            rightmost = std::max(rightmost, x);
        }
    }
    EXPECT_GT(lit, 1000);
    EXPECT_LT(leftmost, 40);
    EXPECT_GT(rightmost, 1240);
    // The stored caption is whole; "info" does not show it, and "quit" still ends the run.
    session.child().write("quit\n");
    EXPECT_EQ(session.child().wait(10s), 0);
    EXPECT_EQ(session.child().errorOutput(), "");
}

}  // namespace
}  // namespace pp::test
