// What one pointer or key event leads to, for the event handler to carry out.
#pragma once

#include <optional>
#include <string>

namespace pp {

struct InputOutcome {
    std::optional<std::string> line;  // the line to write to standard output, if any
    bool repaint = false;             // the view changed and needs display
    bool end = false;                 // end the process with status 0 once the line is written
};

}  // namespace pp
