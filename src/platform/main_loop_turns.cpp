#include "platform/main_loop_turns.hpp"

#include <utility>

namespace pp {

MainLoopTurns::~MainLoopTurns()
{
    handOver_.end();
}

bool MainLoopTurns::runOnMain(std::function<void()> work)
{
    return handOver_.runOnMain(std::move(work));
}

void MainLoopTurns::endWith(std::string reason)
{
    PP_MAIN_THREAD_ONLY(handOver_);
    if (handOver_.ended()) return;
    endReason_ = std::move(reason);
    handOver_.end();
}

void MainLoopTurns::run(EventHandler& handler)
{
    handOver_.setMainThread();
    while (!ended()) {
        const Events events = deliverEvents(handler);
        if (events == Events::lost) break;
        // An event's handling may have ended the run.
        if (events == Events::delivered || ended()) continue;
        if (needsPaint_) {
            needsPaint_ = false;
            handler.paint();
            continue;
        }
        if (handOver_.runOne()) continue;
        if (!wait(handler)) break;
    }
    handOver_.end();
}

}  // namespace pp
