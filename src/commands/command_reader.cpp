#include "commands/command_reader.hpp"

#include "commands/line_reader.hpp"
#include "commands/utf8_repair.hpp"
#include "presenter/road_thread.hpp"

namespace pp {

void runCommandReader(int inputFd, CommandSet& commands, const ProcessHooks& hooks)
{
    // Once the display is gone nothing but the last line is written: not the greeting, not a reply.
    const auto greeting = commands.greeting();
    if (!greeting) return endWithLastLine(hooks, DISPLAY_LOST_LINE, 1);
    hooks.write(*greeting);
    if (!commands.greeted()) return endWithLastLine(hooks, DISPLAY_LOST_LINE, 1);
    LineReader lines(inputFd);
    while (auto bytes = lines.next()) {
        const Reply reply = commands.answer(repairedLine(std::move(*bytes)));
        if (reply.lost) return endWithLastLine(hooks, DISPLAY_LOST_LINE, 1);
        if (reply.quit) break;
        if (reply.line) hooks.write(*reply.line);
    }
    hooks.end(0);
}

bool startCommandReader(int inputFd, Presenter& presenter, MainLoop& loop, ProcessHooks hooks)
{
    return startRoadThread([inputFd, &presenter, &loop, hooks = std::move(hooks)] {
        CommandSet commands(presenter, loop);
        runCommandReader(inputFd, commands, hooks);
    });
}

}  // namespace pp
