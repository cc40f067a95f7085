// Writing whole lines to standard output, from any thread.
#pragma once

#include <string_view>

namespace pp {

// Writes `text` and a line feed with one fwrite, so lines from the reader thread and the main thread
// never mix within a line. Write errors are ignored. Once the process has begun to end it writes
// nothing: no line ever follows the last one. Any thread.
void writeLine(std::string_view text);

// Makes standard output line-buffered and ignores SIGPIPE, before anything is printed.
void prepareOutput();

// Flushes standard output and ends the process with `status` at once, without running destructors
// (the main thread may still be inside its loop). Any thread; the first caller ends the process and
// later ones (and writeLine) wait for the end.
[[noreturn]] void endProcess(int status);

// Writes `text` as the process's last line and ends it with `status`, as endProcess does. Whichever
// thread gets here first writes its line; nothing is written after it. Any thread.
[[noreturn]] void endWithLine(std::string_view text, int status);

}  // namespace pp
