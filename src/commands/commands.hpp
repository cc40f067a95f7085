// The eight commands of the line protocol: checks on the reader thread, work on the main thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/window_system.hpp"
#include "presenter/presenter.hpp"

namespace pp {

// The reply prefixes of "mark" and "info": their first words differ from every other line's.
inline constexpr std::string_view MARK_REPLY_PREFIX = "mark ";
inline constexpr std::string_view INFO_REPLY_PREFIX = "info ";

struct Reply {
    std::optional<std::string> line;  // the one line to write; none for a blank line and for "quit"
    bool quit = false;                // end the process with status 0, writing nothing
    bool lost = false;                // the work did not run (the display is gone): write nothing more
};

// Used by the reader thread only. Every change of state is handed to the main thread with
// `loop.runOnMain` and waited for; the presenter is touched nowhere else.
class CommandSet {
public:
    CommandSet(Presenter& presenter, MainLoop& loop, std::function<double()> clock = {});

    // "ready " followed by the status report, taken on the main thread; none when the display is
    // gone before the report could be taken.
    std::optional<std::string> greeting();

    // Tells the presenter that the greeting is out, so that event lines held until then follow it.
    // False when the display is gone.
    bool greeted();

    // The answer to one input line (terminator removed, valid UTF-8). A rejected command changes
    // nothing and hands nothing over. When the main thread did not run the work, the reply is `lost`
    // and carries no line. The line is taken by value so that a long caption is moved, not copied.
    Reply answer(std::string line);

private:
    Presenter& presenter_;
    MainLoop& loop_;
    std::function<double()> clock_;
};

}  // namespace pp
