// The command reader: greets, then answers one line of input after another until the input ends.
#pragma once

#include "commands/commands.hpp"
#include "platform/window_system.hpp"
#include "presenter/presenter.hpp"
#include "presenter/process_hooks.hpp"

namespace pp {

// Writes the greeting, then reads `inputFd` line by line (invalid UTF-8 replaced) and writes each
// line's reply before reading the next. At end of input, on a read error and on "quit" it calls
// hooks.end(0) without writing anything. When the main thread could not run a command's work (the
// display is gone) it writes no reply but ends the run with DISPLAY_LOST_LINE and status 1 through
// hooks.last. It returns only if the end hook returns. Reader thread.
void runCommandReader(int inputFd, CommandSet& commands, const ProcessHooks& hooks);

// Starts runCommandReader on a new detached thread, with a CommandSet of its own over `presenter`
// and `loop`. Both must live until the process ends, and `loop` must be run (it serves the greeting).
// False when the thread cannot be started.
bool startCommandReader(int inputFd, Presenter& presenter, MainLoop& loop, ProcessHooks hooks = {});

}  // namespace pp
