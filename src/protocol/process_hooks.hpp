// How the command channel and the event handler write their lines and end the process. The defaults
// are the real ones; tests put in their own to watch the lines and survive the end.
#pragma once

#include <chrono>
#include <functional>
#include <thread>
#include <string_view>

#include "protocol/line_output.hpp"

namespace pp {

// The last line of a run whose window system has gone away.
inline constexpr std::string_view DISPLAY_LOST_LINE = "error display connection lost";

struct ProcessHooks {
    // Writes one whole line (the line feed is added). Called from the reader and the main thread.
    std::function<void(std::string_view)> write = [](std::string_view line) { writeLine(line); };
    // Ends the process with the status; the real one never returns. A test's may return, and the
    // caller then returns as well without doing anything more.
    std::function<void(int)> end = [](int status) { endProcess(status); };
    // Writes the run's last line and ends the process with the status, so that no line of another
    // thread follows it. Empty: `write`, then `end`. The real one is endWithLine.
    std::function<void(std::string_view, int)> last;

    // The hooks of the real process: the line output and the process end, the last line guarded.
    static ProcessHooks real()
    {
        ProcessHooks hooks;
        hooks.last = [](std::string_view line, int status) {
            // When the window system went away, the main thread's loop returns at once and ends the run
            // with the precise reason ("error display changed", ...); this line is for a main thread
            // that never gets there.
            std::this_thread::sleep_for(std::chrono::seconds(1));
            endWithLine(line, status);
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
