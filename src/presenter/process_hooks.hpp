// How the command channel and the event handler write their lines and end the process. The defaults
// are the real ones; tests put in their own to watch the lines and survive the end.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "platform/window_system.hpp"
#include "presenter/line_output.hpp"

namespace pp {

// The last line of a run whose window system has gone away.
inline constexpr std::string_view DISPLAY_LOST_LINE = MainLoop::DISPLAY_CONNECTION_LOST;

// How long a main thread that has not ended the run must have been blocked in the kernel before a
// thread whose hand-over failed ends it with its own line.
inline constexpr std::chrono::seconds MAIN_THREAD_WEDGED{5};

struct ProcessHooks {
    // Writes one whole line (the line feed is added). Called from the reader and the main thread.
    std::function<void(std::string_view)> write = [](std::string_view line) { writeLine(line); };
    // Ends the process with the status; the real one never returns. A test's may return, and the
    // caller then returns as well without doing anything more.
    std::function<void(int)> end = [](int status) { endProcess(status); };
    // Ends the run after the main loop dropped this thread's work, with the line as the last one and
    // the status, so that no line of another thread follows it. Empty: `write`, then `end`. The real
    // one leaves the line to the main thread, which knows the precise reason (awaitMainThreadEnd).
    std::function<void(std::string_view, int)> last;

    // The hooks of the real process: the line output and the process end, the last line guarded.
    static ProcessHooks real()
    {
        ProcessHooks hooks;
        hooks.last = [](std::string_view line, int status) {
            // A hand-over fails only once the main loop has ended, and the main thread then ends the
            // run with the precise reason ("error display changed", ...): this thread waits for it,
            // and writes `line` only for a main thread wedged on the way.
            awaitMainThreadEnd(line, status, MAIN_THREAD_WEDGED);
        };
        return hooks;
    }
};

// Ends the run with `line` as its last line and `status`, through hooks.last when there is one.
inline void endWithLastLine(const ProcessHooks& hooks, std::string_view line, int status)
{
    if (hooks.last) {
        hooks.last(line, status);
    } else {
        hooks.write(line);
        hooks.end(status);
    }
}

}  // namespace pp
