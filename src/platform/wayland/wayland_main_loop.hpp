// The main thread's event loop over the Wayland connection, and the hand-over of work from other threads.
#pragma once

#include <poll.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/hand_over.hpp"
#include "platform/main_loop_turns.hpp"
#include "platform/window_system.hpp"

struct wl_display;

namespace pp::wayland {

// One poll over the display's descriptor, the hand-over's eventfd and any extra sources (the key-repeat
// timer). A turn dispatches every event that has arrived before it paints or runs an item. Input is
// delivered as the loop turns, never from inside a paint or a handed-over item (events read while a
// frame waits for the compositor are held until the loop turns again), and input that arrives before
// run() when it starts.
class WaylandMainLoop : public MainLoopTurns {
public:
    // Does not take ownership of `display`.
    explicit WaylandMainLoop(wl_display* display);

    // Hands an input event to the handler when the loop next turns. Main thread.
    void deliver(std::function<void(EventHandler&)> event);

    // Polls `fd` too and calls `ready` on the main thread when it is readable. Main thread, before run().
    void addSource(int fd, std::function<void()> ready);

    // Runs `work` once, the next time the loop has nothing to do but wait. Main thread.
    void whenIdle(std::function<void()> work) { idleWork_.push_back(std::move(work)); }

private:
    struct Source {
        int fd;
        std::function<void()> ready;
    };

    Events deliverEvents(EventHandler& handler) override;
    bool wait(EventHandler& handler) override;

    wl_display* display_;
    std::deque<std::function<void(EventHandler&)>> heldInput_;
    void deliverHeldInput(EventHandler& handler);

    std::vector<Source> sources_;
    std::vector<pollfd> fds_;  // what wait() polls
    std::vector<std::function<void()>> idleWork_;
};

}  // namespace pp::wayland
