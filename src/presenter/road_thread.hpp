// The thread a road (the command lines, the network) runs on.
#pragma once

#include <functional>

namespace pp {

// Runs `road` on a new thread that nobody joins: a road runs until the process ends. False when the
// thread cannot be started.
bool startRoadThread(std::function<void()> road);

}  // namespace pp
