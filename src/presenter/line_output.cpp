#include "presenter/line_output.hpp"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/run_end.hpp"

namespace pp {

namespace {

// Held by every write and by the end: the process ends while holding it, so no line can slip in
// between the last line and the end.
std::mutex& outputMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Set by the first thread that begins to end the process, before it waits for the output.
std::atomic<bool> ending{false};

void writeWholeLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line += '\n';
    // Standard output is line-buffered: the line has left (or failed to) when fwrite returns. A line
    // nobody can read (the reader is gone, the disk is full) ends the run.
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::ferror(stdout)) {
        runEndHooks();
        _exit(1);
    }
}

// Whether the process's main thread is asleep in the kernel: neither running nor waiting for a
// processor. Without /proc it counts as asleep.
bool mainThreadAsleep()
{
    std::ifstream stat("/proc/self/task/" + std::to_string(getpid()) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');  // the command name may hold any character
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'R';
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
    ending = true;
    outputMutex().lock();
    runEndHooks();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
    _exit(status);
}

void endWithLine(std::string_view text, int status)
{
    ending = true;
    outputMutex().lock();
    runEndHooks();
    writeWholeLine(text);
    std::fflush(stdout);
    _exit(status);
}

void awaitMainThreadEnd(std::string_view text, int status, std::chrono::milliseconds wedged)
{
    if (gettid() == getpid()) endWithLine(text, status);  // nobody else would end it
    constexpr auto LOOK = std::chrono::milliseconds(20);
    auto asleepFor = std::chrono::milliseconds(0);
    for (;;) {
        std::this_thread::sleep_for(LOOK);
        // A thread that has begun to end the process ends it; its line is the last.
        if (ending) continue;
        asleepFor = mainThreadAsleep() ? asleepFor + LOOK : std::chrono::milliseconds(0);
        if (asleepFor >= wedged) endWithLine(text, status);
    }
}

}  // namespace pp
