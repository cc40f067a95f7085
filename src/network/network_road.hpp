// The network road: the pictures a calibration suite sends over TCP, shown one after another.
#pragma once

#include <chrono>
#include <functional>

#include "network/suite_address.hpp"
#include "network/suite_socket.hpp"
#include "platform/window_system.hpp"
#include "presenter/presenter.hpp"
#include "presenter/process_hooks.hpp"

namespace pp {

// What the road needs from the connection and the clock; the real ones are a TCP socket and the
// monotonic clock, tests may put in others.
struct SuiteLink {
    using Clock = std::chrono::steady_clock;
    // One attempt to connect. Blocks.
    std::function<SuiteAttempt(const SuiteAddress&)> connect;
    // Waits until the moment; false when `output` hung up meanwhile.
    std::function<bool(Clock::time_point)> waitUntil;
    // Now, on the clock the pacing and the message deadline are measured by.
    std::function<Clock::time_point()> now;
    // How long a message may take from its first byte to its last before the connection is taken as broken.
    std::chrono::milliseconds stall = std::chrono::seconds(10);
    // Watched while the road waits: when it hangs up (standard output's reader is gone) the run ends
    // with status 1, as a failed write would end it. -1: none.
    int output = -1;
};

// The least time from the start of one connection attempt to the start of the next, however the
// first ended.
inline constexpr std::chrono::seconds ATTEMPT_SPACING{1};

// The real link: connectToSuite, the steady clock, a 10 s message deadline and standard output watched.
SuiteLink tcpSuiteLink();

// Greets with "ready " and the status report, then for good: connects to the suite, at most one
// attempt per ATTEMPT_SPACING, writes "connected HOST PORT", and turns each whole message into a
// picture shown on the main thread, answered "painted T" once it is on the screen, or "error bad
// message" when it cannot be used. When the connection ends it writes "disconnected" and connects
// again; a frame that cannot be followed (over the size limit, cut short by the end of the
// connection, or not whole within `link.stall` of its first byte) is a bad message and ends the
// connection. A host that does not resolve is written once as "error no address HOST" and tried
// again; the line comes again only after it has resolved in between. When the main loop has ended (the
// window system is gone) it writes nothing more of its own and ends the run through
// endWithLastLine; when `link.output` hangs up it ends the run with hooks.end(1). Returns only if
// that hook returns. Reader thread.
void runNetworkRoad(const SuiteAddress& address, Presenter& presenter, MainLoop& loop, const ProcessHooks& hooks,
                    const SuiteLink& link, const std::function<double()>& clock);

// Starts runNetworkRoad with the TCP link and the wall clock on a new detached thread. `presenter` and
// `loop` must live until the process ends, and `loop` must be run. False when the thread cannot be started.
bool startNetworkRoad(const SuiteAddress& address, Presenter& presenter, MainLoop& loop, ProcessHooks hooks = {});

}  // namespace pp
