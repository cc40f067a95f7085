// Writing whole lines to standard output, from any thread.
#pragma once

#include <string_view>

namespace pp {

// Writes `text` and a line feed with one fwrite, so lines from the reader thread and the main thread
// never mix within a line. Write errors are ignored. Any thread.
void writeLine(std::string_view text);

// Makes standard output line-buffered and ignores SIGPIPE, before anything is printed.
void prepareOutput();

// Flushes standard output and ends the process with `status` at once, without running destructors
// (the main thread may still be inside its loop). Any thread.
[[noreturn]] void endProcess(int status);

}  // namespace pp
