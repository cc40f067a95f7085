// An in-memory main loop for tests: serves handed-over work and injected events in the order they
// arrive, painting between them when the window asked for it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <variant>

#include "platform/headless/headless_window.hpp"
#include "platform/window_system.hpp"

namespace pp::headless {

class HeadlessMainLoop : public MainLoop {
public:
    // A loop that paints through the handler whenever `window` (may be none) has asked for it.
    explicit HeadlessMainLoop(HeadlessWindow* window = nullptr);

    // Blocks until the loop has run `work`, after everything handed over or posted before it. Any
    // thread but the one in run(). Once the loop has stopped, `work` is dropped and the call returns
    // at once, so no caller waits for ever on a loop that is gone. True when the work ran.
    bool runOnMain(std::function<void()> work) override;

    // Serves work and events until stop(); paints first if the window asked for it, and after every
    // item that asked for it. Returns on the thread that called it.
    void run(EventHandler& handler) override;

    // Queues an event for the handler, behind everything queued before it. Any thread.
    void post(const PointerEvent& event);
    void post(const KeyEvent& event);

    // Makes run() return after the item it is serving (if any); later hand-overs are dropped. Any
    // thread, also from inside a handler.
    void stop();

    // Whether run() has been entered and has not yet returned. Any thread.
    bool running() const;

private:
    using Handover = std::pair<std::function<void()>, std::promise<bool>>;
    using Item = std::variant<std::shared_ptr<Handover>, PointerEvent, KeyEvent>;

    void push(Item item);

    HeadlessWindow* window_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> items_;
    bool running_ = false;
    bool stopped_ = false;
};

}  // namespace pp::headless
