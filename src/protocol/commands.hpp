// The eight commands of the line protocol: checks on the reader thread, work on the main thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.hpp"
#include "protocol/presenter.hpp"

namespace pp {

// The reply prefixes of "mark" and "info": their first words differ from every other line's.
inline constexpr std::string_view MARK_REPLY_PREFIX = "mark ";
inline constexpr std::string_view INFO_REPLY_PREFIX = "info ";

struct Reply {
    std::optional<std::string> line;  // the one line to write; none for a blank line and for "quit"
    bool quit = false;                // end the process with status 0, writing nothing
};

// Used by the reader thread only. Every change of state is handed to the main thread with
// `loop.runOnMain` and waited for; the presenter is touched nowhere else.
class CommandSet {
public:
    CommandSet(Presenter& presenter, MainLoop& loop, std::function<double()> clock = {});

    // "ready " followed by the status report, taken on the main thread.
    std::string greeting();

    // Tells the presenter that the greeting is out, so that event lines held until then follow it.
    void greeted();

    // The answer to one input line (terminator removed, valid UTF-8). A rejected command changes
    // nothing and hands nothing over.
    Reply answer(std::string_view line);

private:
    Presenter& presenter_;
    MainLoop& loop_;
    std::function<double()> clock_;
};

}  // namespace pp
