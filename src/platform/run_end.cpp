#include "platform/run_end.hpp"

#include <mutex>
#include <vector>

namespace pp {

namespace {

struct Hooks {
    std::mutex mutex;
    std::vector<std::function<void()>> hooks;
    bool ran = false;
};

Hooks& hooks()
{
    static Hooks* all = new Hooks;  // never destroyed: the process may end from any thread
    return *all;
}

}  // namespace

void atRunEnd(std::function<void()> hook)
{
    std::lock_guard lock(hooks().mutex);
    hooks().hooks.push_back(std::move(hook));
}

void runEndHooks()
{
    // Held to the end: a second thread ending the process at the same time waits here rather than
    // ending it while the hooks still run.
    hooks().mutex.lock();
    if (hooks().ran) return;
    hooks().ran = true;
    for (const auto& hook : hooks().hooks) hook();
}

}  // namespace pp
