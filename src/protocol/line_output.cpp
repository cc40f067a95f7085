#include "protocol/line_output.hpp"

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <unistd.h>

namespace pp {

namespace {

// Held by every write and by the end: the process ends while holding it, so no line can slip in
// between the last line and the end.
std::mutex& outputMutex()
{
    static std::mutex mutex;
    return mutex;
}

void writeWholeLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace

void writeLine(std::string_view text)
{
    std::lock_guard lock(outputMutex());
    writeWholeLine(text);
}

void prepareOutput()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
}

void endProcess(int status)
{
    outputMutex().lock();
    std::fflush(stdout);
    _exit(status);
}

void endWithLine(std::string_view text, int status)
{
    outputMutex().lock();
    writeWholeLine(text);
    std::fflush(stdout);
    _exit(status);
}

}  // namespace pp
