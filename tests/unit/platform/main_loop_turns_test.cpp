#include "platform/main_loop_turns.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace pp {
namespace {

// A loop, and its own handler, over a scripted window system: each delivery runs the next step of the
// script. It waits on the hand-over alone; a wait that nothing ends reads as the window system gone.
class ScriptedLoop : public MainLoopTurns, public EventHandler {
public:
    std::deque<std::function<Events()>> script;
    std::vector<std::string> log;

    // A step that delivers the event `name`, handled by `also`; `more`: more may be delivered at once.
    void event(const std::string& name, bool more, std::function<void()> also = [] {})
    {
        script.push_back([=, this] {
            log.push_back(name);
            also();
            return more ? Events::delivered : Events::none;
        });
    }

    // Waits until one more item has been handed over (each wakes the loop once). Before run().
    bool awaitHandOver() const
    {
        pollfd fd{handOver().wakeupFd(), POLLIN, 0};
        std::uint64_t wakes = 0;
        return poll(&fd, 1, 5000) == 1 && read(fd.fd, &wakes, sizeof wakes) == sizeof wakes && wakes == 1;
    }

    void pointer(const PointerEvent&) override {}
    void key(const KeyEvent&) override {}
    void paint() override { log.push_back("paint"); }

private:
    Events deliverEvents(EventHandler&) override
    {
        if (script.empty()) return Events::none;
        auto step = std::move(script.front());
        script.pop_front();
        return step();
    }
    bool wait(EventHandler&) override
    {
        pollfd fd{handOver().wakeupFd(), POLLIN, 0};
        if (poll(&fd, 1, 5000) != 1) return false;
        handOver().drainWakeup();
        return true;
    }
};

TEST(MainLoopTurns, EventsComeBeforeThePaintAndThePaintBeforeEachItem)
{
    ScriptedLoop loop;
    loop.event("a", true, [&] { loop.requestPaint(); });
    loop.event("b", false, [&] { loop.requestPaint(); });
    bool endingRan = true;
    // Both items wait before the loop turns: the second is served only after what the first asked for.
    std::thread first([&] {
        loop.runOnMain([&] {
            loop.log.push_back("item1");
            loop.requestPaint();
            loop.event("c", false);
        });
        endingRan = loop.runOnMain([&] { loop.endWith("error display changed"); });
    });
    const bool firstWaits = loop.awaitHandOver();
    std::thread second([&] { loop.runOnMain([&] { loop.log.push_back("item2"); }); });
    const bool bothWait = firstWaits && loop.awaitHandOver();
    if (bothWait) loop.run(loop);
    loop.endWith("error display changed");  // releases the threads when the loop did not run
    first.join();
    second.join();
    ASSERT_TRUE(bothWait);
    EXPECT_EQ(loop.log, (std::vector<std::string>{"a", "b", "paint", "item1", "c", "paint", "item2"}));
    EXPECT_FALSE(endingRan);
    EXPECT_EQ(loop.endReason(), "error display changed");
}

TEST(MainLoopTurns, AnEventThatEndsTheRunIsNotPaintedAndTheFirstLineStays)
{
    ScriptedLoop loop;
    loop.event("a", false, [&] {
        loop.requestPaint();
        loop.endWith(MainLoop::WINDOW_DESTROYED);
    });
    loop.run(loop);
    loop.endWith(MainLoop::DISPLAY_CHANGED);
    EXPECT_EQ(loop.log, std::vector<std::string>{"a"});
    EXPECT_EQ(loop.endReason(), MainLoop::WINDOW_DESTROYED);
    bool ran = false;
    EXPECT_FALSE(loop.runOnMain([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace pp
