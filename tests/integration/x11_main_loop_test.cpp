// The main loop on a real server: handed-over work, painting on request, keys, a lost server.
#include <array>
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "x11_window_harness.hpp"
#include "x_server.hpp"

namespace pp::test {
namespace {

TEST(HandedOverWork, RunsOnTheLoopThreadInOrderAndItsFramesAreOnTheScreenWhenItReturns)
{
    auto server = XServer::startXvfb({.width = 800, .height = 600, .depth = 30});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    RecordingHandler handler(*w.window, {0, 0, 0}, PixelFormat::xrgb2101010);
    const auto loopThread = std::this_thread::get_id();
    std::vector<int> order;
    bool onLoopThread = true;
    runWhile(server->display(), w, handler, [&] {
        auto& loop = w.system->mainLoop();
        for (int i = 0; i < 20; ++i) {
            const Rgb colour{1023 - i * 40, i * 50 + 1, 512 + i};
            int sawPaints = -1;
            loop.runOnMain([&] {
                order.push_back(i);
                onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread;
                fill(w.window->frame(), packed(PixelFormat::xrgb2101010, colour));
                w.window->present(std::array{pp::wholeFrame(w.window->frame())});
                sawPaints = handler.paints;
            });
            EXPECT_GE(sawPaints, 1) << "the mapped window was painted before the first item";
            EXPECT_EQ(readRoot(server->display(), 400, 300, 1, 1).at(400, 300), colour) << "item " << i;
        }

        // Two threads at once: each one's items keep their order and every item runs once.
        std::vector<std::pair<int, int>> mixed;
        auto submit = [&](int thread) {
            for (int i = 0; i < 50; ++i) loop.runOnMain([&mixed, thread, i] { mixed.emplace_back(thread, i); });
        };
        std::thread a(submit, 0), b(submit, 1);
        a.join();
        b.join();
        int next[2] = {0, 0};
        for (const auto& [thread, i] : mixed) EXPECT_EQ(i, next[thread]++);
        EXPECT_EQ(next[0], 50);
        EXPECT_EQ(next[1], 50);
    });
    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i) expected[std::size_t(i)] = i;
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(onLoopThread);
}

TEST(HandedOverWork, AskingForDisplayPaintsOnceBeforeTheLoopWaits)
{
    auto server = XServer::startXvfb({.width = 320, .height = 240});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    RecordingHandler handler(*w.window, {5, 6, 7});
    runWhile(server->display(), w, handler, [&] {
        auto& loop = w.system->mainLoop();
        int before = 0, after = 0, later = 0;
        loop.runOnMain([&] {
            before = handler.paints;
            handler.paintColour = {90, 91, 92};
            w.window->setNeedsDisplay();
            w.window->setNeedsDisplay();
        });
        loop.runOnMain([&] { after = handler.paints; });
        loop.runOnMain([&] { later = handler.paints; });
        EXPECT_EQ(after, before + 1);
        EXPECT_EQ(later, after);
        EXPECT_EQ(readRoot(server->display(), 0, 0, 1, 1).at(0, 0), (Rgb{90, 91, 92}));
    });
}

TEST(HandedOverWork, AnExceptionReachesTheCallerAndTheLoopGoesOn)
{
    auto server = XServer::startXvfb({.width = 320, .height = 240});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    RecordingHandler handler(*w.window);
    runWhile(server->display(), w, handler, [&] {
        auto& loop = w.system->mainLoop();
        EXPECT_THROW(loop.runOnMain([] { throw std::runtime_error("work failed"); }), std::runtime_error);
        bool ran = false;
        loop.runOnMain([&] { ran = true; });
        EXPECT_TRUE(ran);
    });
}

TEST(LostServer, RunReturnsAndNoCallerIsLeftWaiting)
{
    auto server = XServer::startXvfb({.width = 320, .height = 240});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    RecordingHandler handler(*w.window);
    auto& loop = w.system->mainLoop();
    std::atomic<bool> secondQueued = false;
    std::thread second;
    std::thread first([&] {
        loop.runOnMain([&] {
            // The server dies while an item runs and another waits; presenting then must not hang.
            second = std::thread([&] {
                secondQueued = true;
                loop.runOnMain([] {});
            });
            while (!secondQueued) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            kill(server->pid(), SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            fill(w.window->frame(), 0x123456);
            w.window->present(std::array{pp::wholeFrame(w.window->frame())});
        });
    });
    loop.run(handler);  // returns once the connection is gone
    first.join();
    second.join();
    bool ran = false;
    loop.runOnMain([&] { ran = true; });  // from the loop's own thread, after the end
    EXPECT_FALSE(ran);
    std::thread late([&] { loop.runOnMain([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(ran);
    EXPECT_EQ(loop.endReason(), "error display connection lost");
}

TEST(EndingWithAReason, TheWorkThatEndsTheLoopCountsAsNotRunAndItsLineIsTheEndReason)
{
    auto server = XServer::startXvfb({.width = 320, .height = 240});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    RecordingHandler handler(*w.window);
    auto& loop = static_cast<x11::X11MainLoop&>(w.system->mainLoop());
    bool before = false;
    bool ending = true;
    bool after = true;
    int ranAfter = 0;
    std::thread driver([&] {
        before = loop.runOnMain([] {});
        ending = loop.runOnMain([&] { loop.endWith("error display changed"); });
        after = loop.runOnMain([&] { ++ranAfter; });
    });
    loop.run(handler);  // returns at the turn after the ending item
    driver.join();
    EXPECT_TRUE(before);
    EXPECT_FALSE(ending);
    EXPECT_FALSE(after);
    EXPECT_EQ(ranAfter, 0);
    EXPECT_EQ(loop.endReason(), "error display changed");
}

TEST(Keys, ArriveAsKeySymbolNamesWithTheShiftFlag)
{
    auto server = XServer::startXvfb({.width = 640, .height = 480});
    auto w = openWindow(server->display());
    ASSERT_TRUE(w.window);
    RecordingHandler handler(*w.window);
    std::vector<KeyEvent> seen;
    const std::vector<std::pair<std::string, bool>> expected = {
        {"Left", false}, {"Shift_L", false}, {"Up", true}, {"Return", false}, {"KP_Enter", false},
        {"space", false}, {"Shift_L", false}, {"A", true}, {"a", false}, {"Escape", false},
    };
    runWhile(server->display(), w, handler, [&] {
        w.system->mainLoop().runOnMain([] {});
        ASSERT_EQ(server->run("xdotool key Left key shift+Up key Return key KP_Enter key space key shift+a key a "
                              "key Escape"),
                  0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (seen.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
            w.system->mainLoop().runOnMain([&] { seen = handler.keys; });
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].keysym, expected[i].first) << i;
        EXPECT_EQ(seen[i].shift, expected[i].second) << i;
    }
}

}  // namespace
}  // namespace pp::test
