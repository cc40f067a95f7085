#include "platform/hand_over.hpp"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace pp {
namespace {

using namespace std::chrono_literals;

// Serves the hand-over as a main loop would, on its own thread, until told to stop.
struct Server {
    HandOver handOver;
    std::atomic<bool> stop{false};
    std::thread thread;

    Server()
    {
        std::atomic<bool> ready{false};
        thread = std::thread([this, &ready] {
            handOver.setMainThread();
            ready = true;
            while (!stop) {
                if (handOver.runOne()) continue;
                pollfd fd{handOver.wakeupFd(), POLLIN, 0};
                poll(&fd, 1, 20);
                handOver.drainWakeup();
            }
        });
        while (!ready) std::this_thread::yield();
    }
    ~Server()
    {
        stop = true;
        handOver.end();
        thread.join();
    }
};

TEST(HandOver, RunsItemsInOrderOnTheServingThreadAndSaysTheyRan)
{
    Server server;
    std::vector<int> seen;
    std::thread::id ranOn;
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(server.handOver.runOnMain([&, i] {
            seen.push_back(i);
            ranOn = std::this_thread::get_id();
        }));
    }
    EXPECT_EQ(seen.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(seen[std::size_t(i)], i);
    EXPECT_EQ(ranOn, server.thread.get_id());
}

TEST(HandOver, AfterTheEndNothingRunsAndCallersHearFalse)
{
    Server server;
    server.handOver.end();
    bool ran = false;
    EXPECT_FALSE(server.handOver.runOnMain([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(HandOver, WorkDuringWhichTheLoopEndsCountsAsNotRunButIsWaitedFor)
{
    Server server;
    bool finished = false;
    const bool ran = server.handOver.runOnMain([&] {
        server.handOver.end();            // the window system went away during the work
        std::this_thread::sleep_for(30ms);
        finished = true;                  // still writes the caller's value: the caller must wait
    });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(finished);
}

TEST(HandOver, QueuedCallersAreReleasedWhenTheLoopEnds)
{
    HandOver handOver;  // nobody serves it
    std::atomic<int> released{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&] {
            if (!handOver.runOnMain([] {})) ++released;
        });
    }
    std::this_thread::sleep_for(50ms);
    handOver.end();
    for (auto& t : callers) t.join();
    EXPECT_EQ(released, 4);
}

TEST(HandOver, AnExceptionReachesTheCaller)
{
    Server server;
    EXPECT_THROW(server.handOver.runOnMain([] { throw std::runtime_error("failed"); }), std::runtime_error);
    EXPECT_TRUE(server.handOver.runOnMain([] {}));
}

}  // namespace
}  // namespace pp
