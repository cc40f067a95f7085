// How a run ends, in forked children with the real line output: a line nobody can read ends it, the
// ending line is last whatever other threads write, and the main thread's reason is the last line
// however long the main thread takes to write it.
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

// Two threads writing lines and two ending the run, as the reader and the main loop may: the line that
// ends it is the last, written once, and every line before it is whole.
TEST(ProcessEnd, TheLastLineIsLastWhateverOtherThreadsWrite)
{
    const std::string last = std::string(DISPLAY_LOST_LINE) + "\n";
    for (int round = 0; round < 20; ++round) {
        const Ended ended = runForked([] {
            for (int t = 0; t < 2; ++t) {
                std::thread([t] {
                    for (int i = 0;; ++i) writeLine("painted " + std::to_string(t) + "." + std::to_string(i));
                }).detach();
            }
            std::thread([] {
                std::this_thread::sleep_for(5ms);
                endWithLine(DISPLAY_LOST_LINE, 1);
            }).detach();
            std::this_thread::sleep_for(5ms);
            endWithLine(DISPLAY_LOST_LINE, 1);
        });
        EXPECT_EQ(ended.status, 1);
        const std::string& output = ended.output;
        ASSERT_TRUE(output.ends_with(last)) << output.substr(output.size() > 200 ? output.size() - 200 : 0);
        EXPECT_EQ(output.find(DISPLAY_LOST_LINE), output.size() - last.size()) << "written twice";
        std::size_t start = 0;
        for (std::size_t lf; (lf = output.find('\n', start)) != std::string::npos; start = lf + 1) {
            const std::string line = output.substr(start, lf - start);
            EXPECT_TRUE(line == DISPLAY_LOST_LINE || line.starts_with("painted ")) << line;
        }
    }
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
