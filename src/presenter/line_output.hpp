// Writing whole lines to standard output, from any thread.
#pragma once

#include <chrono>
#include <string_view>

namespace pp {

// Writes `text` and a line feed with one fwrite, so lines from the reader thread and the main thread
// never mix within a line. A line that cannot be written (standard output's reader is gone) ends the
// process with status 1 at once. Once the process has begun to end it writes nothing: no line ever
// follows the last one. Any thread.
void writeLine(std::string_view text);

// Makes standard output line-buffered and ignores SIGPIPE, before anything is printed.
void prepareOutput();

// Flushes standard output and ends the process with `status` at once, without running destructors
// (the main thread may still be inside its loop); with status 1 when the flush fails. Any thread; the first caller ends the process and
// later ones (and writeLine) wait for the end.
[[noreturn]] void endProcess(int status);

// Writes `text` as the process's last line and ends it with `status`, as endProcess does. Whichever
// thread gets here first writes its line; nothing is written after it. Any thread.
[[noreturn]] void endWithLine(std::string_view text, int status);

// For a thread whose work the main loop dropped because the loop has ended: the main thread is then on
// its way to end the run with the loop's own reason as the last line, so this thread writes nothing
// and waits for that end. Only a main thread that never gets there is covered: once it has been seen
// asleep in the kernel (neither running nor waiting for a processor) at every look for `wedged`,
// `text` becomes the last line and the process ends with `status`. However loaded the machine, a main
// thread with work to do is runnable, so its line wins. On the main thread itself: endWithLine.
[[noreturn]] void awaitMainThreadEnd(std::string_view text, int status, std::chrono::milliseconds wedged);

}  // namespace pp
