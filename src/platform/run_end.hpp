// What must be undone when the run ends, however it ends: a display the program drives itself is put
// back as it was found.
#pragma once

#include <functional>

namespace pp {

// Adds `hook` to what runs once, just before the process ends (the end of input, "quit", Esc, an error
// line, a lost display). Any thread.
void atRunEnd(std::function<void()> hook);

// Runs the hooks, each once, in the order they were added; a later call runs none again. The calling
// thread ends the process right after. Any thread.
void runEndHooks();

}  // namespace pp
