// How the command channel and the event handler write their lines and end the process. The defaults
// are the real ones; tests put in their own to watch the lines and survive the end.
#pragma once

#include <functional>
#include <string_view>

#include "protocol/line_output.hpp"

namespace pp {

struct ProcessHooks {
    // Writes one whole line (the line feed is added). Called from the reader and the main thread.
    std::function<void(std::string_view)> write = [](std::string_view line) { writeLine(line); };
    // Ends the process with the status; the real one never returns. A test's may return, and the
    // caller then returns as well without doing anything more.
    std::function<void(int)> end = [](int status) { endProcess(status); };
};

}  // namespace pp
