#include "platform/headless/headless_main_loop.hpp"

namespace pp::headless {

HeadlessMainLoop::HeadlessMainLoop(HeadlessWindow* window) : window_(window) {}

bool HeadlessMainLoop::runOnMain(std::function<void()> work)
{
    auto handover = std::make_shared<Handover>(std::move(work), std::promise<bool>());
    std::future<bool> done = handover->second.get_future();
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return false;
        items_.emplace_back(handover);
    }
    wake_.notify_all();
    return done.get();
}

void HeadlessMainLoop::push(Item item)
{
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        items_.push_back(std::move(item));
    }
    wake_.notify_all();
}

void HeadlessMainLoop::post(const PointerEvent& event)
{
    push(event);
}

void HeadlessMainLoop::post(const KeyEvent& event)
{
    push(event);
}

void HeadlessMainLoop::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

bool HeadlessMainLoop::running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

void HeadlessMainLoop::run(EventHandler& handler)
{
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    auto paintIfAsked = [&] {
        if (window_ && window_->takeNeedsDisplay()) handler.paint();
    };
    paintIfAsked();
    for (;;) {
        Item item;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopped_ || !items_.empty(); });
            if (stopped_) break;
            item = std::move(items_.front());
            items_.pop_front();
        }
        if (auto* handover = std::get_if<std::shared_ptr<Handover>>(&item)) {
            (*handover)->first();
            (*handover)->second.set_value(true);
        } else if (auto* pointer = std::get_if<PointerEvent>(&item)) {
            handler.pointer(*pointer);
        } else {
            handler.key(std::get<KeyEvent>(item));
        }
        paintIfAsked();
    }
    // Release every waiting caller: their work will never run now.
    std::deque<Item> left;
    {
        std::lock_guard lock(mutex_);
        left.swap(items_);
        running_ = false;
    }
    for (auto& item : left) {
        if (auto* handover = std::get_if<std::shared_ptr<Handover>>(&item)) (*handover)->second.set_value(false);
    }
}

}  // namespace pp::headless
