#include "platform/x11/x11_main_loop.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>

namespace pp::x11 {

struct X11MainLoop::Item {
    std::function<void()> work;
    std::exception_ptr error;
    bool done = false;
};

X11MainLoop::HandOver::HandOver() : wakeup(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

X11MainLoop::HandOver::~HandOver()
{
    if (wakeup >= 0) close(wakeup);
}

X11MainLoop::X11MainLoop(xcb_connection_t* connection)
    : connection_(connection), handOver_(std::make_shared<HandOver>()), mainThread_(std::this_thread::get_id())
{
}

X11MainLoop::~X11MainLoop()
{
    end();
}

bool X11MainLoop::ended() const
{
    std::lock_guard lock(handOver_->mutex);
    return handOver_->ended;
}

bool X11MainLoop::runOnMain(std::function<void()> work)
{
    if (std::this_thread::get_id() == mainThread_) {
        if (ended() || ending_) return false;
        work();
        return !ending_ && !xcb_connection_has_error(connection_);
    }
    const std::shared_ptr<HandOver> h = handOver_;
    auto item = std::make_shared<Item>();
    item->work = std::move(work);
    std::unique_lock lock(h->mutex);
    if (h->ended) return false;
    h->queue.push_back(item);
    const std::uint64_t one = 1;
    // The counter only grows; a full counter still leaves the descriptor readable.
    [[maybe_unused]] const ssize_t written = write(h->wakeup, &one, sizeof one);
    h->finished.wait(lock, [&] { return item->done || h->ended; });
    if (item->error) std::rethrow_exception(item->error);
    return item->done;
}

// Runs the oldest handed-over item, if there is one.
bool X11MainLoop::runOneItem()
{
    HandOver& h = *handOver_;
    std::shared_ptr<Item> item;
    {
        std::lock_guard lock(h.mutex);
        if (h.queue.empty()) return false;
        item = std::move(h.queue.front());
        h.queue.pop_front();
    }
    try {
        item->work();
    } catch (...) {
        item->error = std::current_exception();
    }
    // Work that lost the connection on the way (a present whose wait ended with the server gone), or
    // found the window system changed, has not done what it was asked for: its caller is released as
    // one whose work never ran.
    if (ending_ || xcb_connection_has_error(connection_)) {
        end();
        return true;
    }
    {
        std::lock_guard lock(h.mutex);
        item->done = true;
    }
    h.finished.notify_all();
    return true;
}

void X11MainLoop::endWith(std::string reason)
{
    if (ending_) return;
    ending_ = true;
    endReason_ = std::move(reason);
}

std::vector<const xcb_generic_event_t*> X11MainLoop::holdQueuedEvents()
{
    std::vector<const xcb_generic_event_t*> taken;
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
        held_.emplace_back(event);
        taken.push_back(event);
    }
    return taken;
}

void X11MainLoop::deliver(xcb_generic_event_t* event, EventHandler& handler)
{
    if ((event->response_type & 0x7F) != 0 && target_) target_->handleEvent(*event, handler);
}

void X11MainLoop::end()
{
    HandOver& h = *handOver_;
    {
        std::lock_guard lock(h.mutex);
        h.ended = true;
        h.queue.clear();
    }
    h.finished.notify_all();
}

void X11MainLoop::run(EventHandler& handler)
{
    mainThread_ = std::this_thread::get_id();
    const int wakeup = handOver_->wakeup;
    pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {wakeup, POLLIN, 0}};
    while (!ending_) {
        // Events held back while main-thread work looked at them come first: they are the oldest.
        if (!held_.empty()) {
            EventPointer event = std::move(held_.front());
            held_.pop_front();
            deliver(event.get(), handler);
            continue;
        }
        // Everything XCB holds or can read at once, including events queued while a present waited.
        if (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            deliver(event, handler);
            std::free(event);
            continue;
        }
        if (xcb_connection_has_error(connection_)) break;
        if (needsPaint_) {
            needsPaint_ = false;
            handler.paint();
            continue;
        }
        if (runOneItem()) continue;
        if (xcb_flush(connection_) <= 0) break;
        // A paint or an item may have let XCB read events into its queue.
        if (!held_.empty()) continue;
        if (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
            deliver(event, handler);
            std::free(event);
            continue;
        }
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t drained = read(wakeup, &count, sizeof count);
        }
    }
    end();
}

}  // namespace pp::x11
