#include "protocol/command_reader.hpp"

#include <system_error>
#include <thread>

#include "protocol/line_reader.hpp"
#include "protocol/utf8_repair.hpp"

namespace pp {

void runCommandReader(int inputFd, CommandSet& commands, const ProcessHooks& hooks)
{
    hooks.write(commands.greeting());
    commands.greeted();
    LineReader lines(inputFd);
    while (auto bytes = lines.next()) {
        const Reply reply = commands.answer(repairedUtf8(*bytes));
        if (reply.quit) break;
        if (reply.line) hooks.write(*reply.line);
    }
    hooks.end(0);
}

bool startCommandReader(int inputFd, Presenter& presenter, MainLoop& loop, ProcessHooks hooks)
{
    try {
        std::thread([inputFd, &presenter, &loop, hooks = std::move(hooks)] {
            CommandSet commands(presenter, loop);
            runCommandReader(inputFd, commands, hooks);
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace pp
