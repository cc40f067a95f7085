// The main thread's event loop over the Wayland connection, and the hand-over of work from other threads.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/hand_over.hpp"
#include "platform/window_system.hpp"

struct wl_display;

namespace pp::wayland {

// One poll over the display's descriptor, the hand-over's eventfd and any extra sources (the key-repeat
// timer). Each turn dispatches every event that has arrived, then paints once if asked, then runs one
// handed-over item; it waits only when none of these has anything to do. Input is delivered as the
// loop turns, never from inside a paint or a handed-over item (events read while a frame waits for the
// compositor are held until the loop turns again), and input that arrives before run() when it starts.
class WaylandMainLoop : public MainLoop {
public:
    // Does not take ownership of `display`. The constructing thread is the main thread until run().
    explicit WaylandMainLoop(wl_display* display);
    ~WaylandMainLoop() override;
    WaylandMainLoop(const WaylandMainLoop&) = delete;
    WaylandMainLoop& operator=(const WaylandMainLoop&) = delete;

    bool runOnMain(std::function<void()> work) override;
    // Returns when the compositor is gone or end() was called. Main thread.
    void run(EventHandler& handler) override;
    std::string endReason() const override { return endReason_; }

    // Paint before the loop next waits. Main thread.
    void requestPaint() { needsPaint_ = true; }

    // Hands an input event to the handler when the loop next turns. Main thread.
    void deliver(std::function<void(EventHandler&)> event);

    // Polls `fd` too and calls `ready` on the main thread when it is readable. Main thread, before run().
    void addSource(int fd, std::function<void()> ready);

    // Ends the run with `reason` as the error line the process ends with; work handed over is no longer
    // run, and work running now counts as not run. Main thread, also from inside a listener or an item.
    void endWith(std::string reason);
    bool ended() const { return handOver_.ended(); }
    // Whether the calling thread is the main thread (for the debug-build checks).
    bool onMainThread() const { return handOver_.onMainThread(); }

private:
    struct Source {
        int fd;
        std::function<void()> ready;
    };

    wl_display* display_;
    HandOver handOver_;
    std::deque<std::function<void(EventHandler&)>> heldInput_;
    void deliverHeldInput(EventHandler& handler);

    std::vector<Source> sources_;
    bool needsPaint_ = true;  // the first turn paints the freshly configured window
    std::string endReason_ = DISPLAY_CONNECTION_LOST;
};

}  // namespace pp::wayland
