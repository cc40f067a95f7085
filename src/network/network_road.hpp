// The network road: the pictures a calibration suite sends over TCP, shown one after another.
#pragma once

#include <chrono>
#include <functional>

#include "network/suite_address.hpp"
#include "platform/platform.hpp"
#include "protocol/presenter.hpp"
#include "protocol/process_hooks.hpp"

namespace pp {

// What the road needs from the connection; the real one is a TCP socket, tests may put in another.
struct SuiteLink {
    // One attempt to connect: a readable descriptor, or -1. Blocks.
    std::function<int(const SuiteAddress&)> connect;
    // Waits between two failed attempts (a second).
    std::function<void()> pause;
    // How long the rest of a begun message may keep us waiting before the connection is taken as broken.
    std::chrono::milliseconds stall = std::chrono::seconds(10);
};

// The real link: connectToSuite and a one-second sleep.
SuiteLink tcpSuiteLink();

// Greets with "ready " and the status report, then for good: connects to the suite (retrying after
// each pause), writes "connected HOST PORT", and turns each whole message into a picture shown on the
// main thread, answered "painted T" once it is on the screen, or "error bad message" when it cannot be
// used. When the connection ends it writes "disconnected" and connects again; a frame that cannot be
// followed (over the size limit, cut short by the end of the connection, or stalled for `link.stall`
// half-way) is a bad message and ends the connection. Returns only when the main loop has ended (the window system is gone), without
// writing anything more. Reader thread.
void runNetworkRoad(const SuiteAddress& address, Presenter& presenter, MainLoop& loop, const ProcessHooks& hooks,
                    const SuiteLink& link, const std::function<double()>& clock);

// Starts runNetworkRoad with the TCP link and the wall clock on a new detached thread. `presenter` and
// `loop` must live until the process ends, and `loop` must be run. False when the thread cannot be started.
bool startNetworkRoad(const SuiteAddress& address, Presenter& presenter, MainLoop& loop, ProcessHooks hooks = {});

}  // namespace pp
