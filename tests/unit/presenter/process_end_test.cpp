// How a run ends, in forked children with the real line output: a line nobody can read ends it, and
// the main thread's reason is the last line however long the main thread takes to write it.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "presenter/line_output.hpp"
#include "presenter/process_hooks.hpp"

namespace pp {
namespace {

using namespace std::chrono_literals;

struct Ended {
    std::string output;
    int status = -1;  // the exit status, or 100 + the signal
};

// Runs `body` in a forked child whose standard output is a pipe (closed at our end first when
// `readerGone`), and returns what it wrote and how it ended.
Ended runForked(const std::function<void()>& body, bool readerGone = false)
{
    int o[2];
    if (pipe(o) != 0) return {};
    if (readerGone) close(o[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(20);
        dup2(o[1], 1);
        close(o[1]);
        if (!readerGone) close(o[0]);
        prepareOutput();
        body();
        _exit(3);
    }
    close(o[1]);
    Ended ended;
    if (!readerGone) {
        char buffer[4096];
        for (ssize_t n; (n = read(o[0], buffer, sizeof buffer)) > 0;) ended.output.append(buffer, static_cast<std::size_t>(n));
        close(o[0]);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return ended;
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    return ended;
}

TEST(ProcessEnd, ALineNobodyCanReadEndsTheRunWithStatusOne)
{
    EXPECT_EQ(runForked([] { writeLine("painted 1.0"); }, true).status, 1);
    EXPECT_EQ(runForked([] { endProcess(0); }, true).status, 0);  // nothing written, nothing failed
}

// The reader thread's hand-over failed; the main thread is still on its way to the reason, busy far
// longer than any fixed grace would allow.
TEST(ProcessEnd, TheMainThreadsReasonIsLastHoweverLongItTakesToGetThere)
{
    const Ended ended = runForked([] {
        std::thread([] { ProcessHooks::real().last(DISPLAY_LOST_LINE, 1); }).detach();
        const auto until = std::chrono::steady_clock::now() + 1500ms;
        while (std::chrono::steady_clock::now() < until) {}  // runnable all along, as on a loaded machine
        endWithLine("error display changed", 1);
    });
    EXPECT_EQ(ended.output, "error display changed\n");
    EXPECT_EQ(ended.status, 1);
}

// A main thread that blocks for good never ends the run: the other thread's line does.
TEST(ProcessEnd, AMainThreadWedgedInTheKernelLeavesTheLastLineToTheOtherThread)
{
    const Ended ended = runForked([] {
        std::thread([] { awaitMainThreadEnd(DISPLAY_LOST_LINE, 1, 300ms); }).detach();
        pause();
    });
    EXPECT_EQ(ended.output, std::string(DISPLAY_LOST_LINE) + "\n");
    EXPECT_EQ(ended.status, 1);
}

}  // namespace
}  // namespace pp
