// The whole command loop on the headless platform: a reader thread on a pipe and the main loop on the
// test's thread; then forked children, where the real line output and process end are watched.
#include "commands/command_reader.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <mutex>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "presenter_stage.hpp"

namespace pp {
namespace {

void writeAll(int fd, const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// One in-process run. Every line is recorded with the frame count and a surround pixel at that moment;
// the end hook records the status and stops the loop, as the process would stop.
struct InProcessRun {
    struct Written {
        std::string line;
        int presents;
        std::uint32_t corner;
    };
    std::mutex mutex;
    std::vector<Written> written;
    std::vector<int> ends;
    PresenterStage stage{ProcessHooks{[this](std::string_view line) {
                                          std::lock_guard lock(mutex);
                                          written.push_back({std::string(line), stage.window.presentCount(),
                                                             stage.window.shownPixel(999, 0)});
                                      },
                                      [this](int status) {
                                          std::lock_guard lock(mutex);
                                          ends.push_back(status);
                                          stage.loop.stop();
                                      },
                                      {}}};
    int input[2]{-1, -1};

    std::size_t lineCount()
    {
        std::lock_guard lock(mutex);
        return written.size();
    }
    // Feeds `script`, then does `meanwhile`, then ends the input, with the reader on its own thread.
    void run(const std::string& script, std::function<void()> meanwhile = {})
    {
        ASSERT_EQ(pipe(input), 0);
        CommandSet commands(stage.presenter, stage.loop, [] { return 12.5; });
        std::jthread reader([&] { runCommandReader(input[0], commands, stage.hooks); });
        std::jthread feeder([&] {
            writeAll(input[1], script);
            if (meanwhile) meanwhile();
            close(input[1]);
        });
        stage.loop.run(stage.presenter);
        feeder.join();
        reader.join();
        close(input[0]);
    }
};

TEST(CommandLoop, AnswersAScriptedConversationInOrderAndEndsAtEndOfInput)
{
    InProcessRun run;
    const std::string caption(200'000, 'c');
    run.run("rgb 10 20 30\nrgb 1 2\n\n   \nsurround 20 20 20\r\nbogus\nmove 0.25 0.75\nmode deep\ninfo\n"
            "text " + caption + "\n\xFFmark on\nmark on\nmark off");
    // The reply's start and the frames presented by then: the loop paints the start-up frame first.
    const std::vector<std::pair<std::string, int>> expected{
        {"ready {", 1},  {"painted 12.5", 2}, {"error rgb needs three numbers", 2}, {"surround", 3},
        {"error unknown command", 3}, {"moved", 4}, {"mode deep window_bits 16 screen_bits 8 layer RGBA16Uint", 5},
        {"info {", 5}, {"text", 6}, {"error unknown command", 6},  // the invalid byte became U+FFFD
        {"mark on", 7}, {"mark off", 8},
    };
    ASSERT_EQ(run.written.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [start, presents] = expected[i];
        const std::string& line = run.written[i].line;
        EXPECT_TRUE(start.back() == '{' ? line.starts_with(start) : line == start) << line;
        EXPECT_EQ(run.written[i].presents, presents) << line;
        EXPECT_EQ(run.written[i].corner, i < 3 ? 0u : 0x141414u) << line;
    }
    const auto report = nlohmann::json::parse(run.written[7].line.substr(5));
    EXPECT_EQ(report["paint"], "deep");
    EXPECT_EQ(report["position"], nlohmann::json::parse("[0.25,0.75]"));
    EXPECT_EQ(run.stage.presenter.view().caption, caption);
    EXPECT_EQ(run.ends, std::vector<int>{0});
}

TEST(CommandLoop, QuitEndsWithoutReadingFurther)
{
    InProcessRun run;
    run.run("info\nquit now\nrgb 1 2 3\n");
    ASSERT_EQ(run.written.size(), 2u);
    EXPECT_EQ(run.ends, std::vector<int>{0});
    EXPECT_EQ(run.stage.presenter.view().rgb, (std::array<double, 3>{0, 0, 0}));
}

TEST(CommandLoop, PersonsDragAndNudgeShowInTheNextReport)
{
    InProcessRun run;
    run.run("mark on\n", [&] {
        while (run.lineCount() < 2) std::this_thread::yield();
        run.stage.loop.post(PointerEvent{PointerEvent::Kind::press, {500, 400}});
        run.stage.loop.post(PointerEvent{PointerEvent::Kind::drag, {600, 400}});
        run.stage.loop.post(PointerEvent{PointerEvent::Kind::release, {600, 400}});
        run.stage.loop.post(KeyEvent{"Up", false});
        run.stage.loop.runOnMain([] {});  // served after the events
        writeAll(run.input[1], "info\n");
    });
    ASSERT_EQ(run.written.size(), 5u);
    EXPECT_EQ(run.written[2].line, "position 0.60000 0.50000");
    EXPECT_EQ(run.written[3].line, "position 0.60000 0.47500");
    EXPECT_NE(run.written[4].line.find(R"("position":[0.6,0.475])"), std::string::npos) << run.written[4].line;
    EXPECT_EQ(run.written[2].presents, run.written[1].presents + 1);  // the loop painted the drag
}

TEST(CommandLoop, ALoopGoneBeforeTheGreetingEndsWithTheLossAndNoGreeting)
{
    InProcessRun run;
    run.stage.loop.stop();
    run.run("rgb 1 2 3\ninfo\n");
    ASSERT_EQ(run.written.size(), 1u);
    EXPECT_EQ(run.written[0].line, DISPLAY_LOST_LINE);
    EXPECT_EQ(run.ends, std::vector<int>{1});
}

TEST(CommandLoop, ALoopGoneMidRunWritesNoReplyForWorkItDidNotRun)
{
    // Each kind of command that hands work over, once the loop has gone.
    for (const char* command : {"rgb 1 2 3", "info", "mode deep", "move 0.1 0.1", "surround 1 2 3", "mark on",
                                "text words"}) {
        InProcessRun run;
        run.run("rgb 9 9 9\n", [&] {
            while (run.lineCount() < 2) std::this_thread::yield();
            run.stage.loop.stop();
            writeAll(run.input[1], std::string(command) + "\nrgb 5 5 5\ninfo\n");
        });
        ASSERT_EQ(run.written.size(), 3u) << command;
        EXPECT_TRUE(run.written[0].line.starts_with("ready {"));
        EXPECT_EQ(run.written[1].line, "painted 12.5");
        EXPECT_EQ(run.written[2].line, DISPLAY_LOST_LINE) << command;
        EXPECT_EQ(run.ends, std::vector<int>{1}) << command;
    }
}

// A stage whose presenter records the lines it writes and the ends it asks for.
struct EventLines : ::testing::Test {
    std::vector<std::string> lines;
    std::vector<int> ends;
    PresenterStage stage{ProcessHooks{[this](std::string_view line) { lines.emplace_back(line); },
                                      [this](int status) { ends.push_back(status); },
                                      {}}};
};

TEST_F(EventLines, AreHeldUntilTheGreetingIsOutThenWrittenInOrder)
{
    stage.presenter.key(KeyEvent{"Return", false});
    stage.presenter.pointer(PointerEvent{PointerEvent::Kind::release, {10, 10}});
    EXPECT_TRUE(lines.empty());
    stage.presenter.openEventLines();
    EXPECT_EQ(lines, (std::vector<std::string>{"key space", "key space"}));
    stage.presenter.key(KeyEvent{"space", false});
    EXPECT_EQ(lines.size(), 3u);
}

TEST_F(EventLines, EscapeBeforeTheGreetingStillWritesWhatIsHeldThenClosed)
{
    stage.presenter.key(KeyEvent{"KP_Enter", false});
    stage.presenter.key(KeyEvent{"Escape", false});
    EXPECT_EQ(lines, (std::vector<std::string>{"key space", "closed"}));
    EXPECT_EQ(ends, std::vector<int>{0});
}

// A forked presenter with the real line output and process end. Its standard input and output are
// pipes; a control pipe injects events: 'S' the space key, 'C' a click, 'E' Escape.
struct ChildPresenter {
    pid_t pid = -1;
    int in = -1, out = -1, control = -1;
    std::string pending;

    ChildPresenter()
    {
        std::signal(SIGPIPE, SIG_IGN);  // a child that is gone must fail the test, not kill it
        int i[2], o[2], c[2];
        if (pipe(i) || pipe(o) || pipe(c) || (pid = fork()) < 0) return;
        if (pid == 0) {
            alarm(30);
            dup2(i[0], 0);
            dup2(o[1], 1);
            for (int fd : {i[0], i[1], o[0], o[1], c[1]}) close(fd);
            prepareOutput();
            static PresenterStage stage;
            std::thread([fd = c[0]] {
                for (char event; read(fd, &event, 1) == 1;) {
                    if (event == 'S') stage.loop.post(KeyEvent{"space", false});
                    if (event == 'E') stage.loop.post(KeyEvent{"Escape", false});
                    if (event == 'C') stage.loop.post(PointerEvent{PointerEvent::Kind::press, {1, 1}});
                    if (event == 'C') stage.loop.post(PointerEvent{PointerEvent::Kind::release, {1, 1}});
                }
            }).detach();
            if (startCommandReader(0, stage.presenter, stage.loop)) stage.loop.run(stage.presenter);
            _exit(3);
        }
        close(i[0]);
        close(o[1]);
        close(c[0]);
        in = i[1], out = o[0], control = c[1];
    }
    ~ChildPresenter()
    {
        for (int fd : {in, out, control}) close(fd);
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
    void closeInput() { close(std::exchange(in, -1)); }
    // The next whole line; none at end of output (an unterminated rest is left in `pending`) or after 10 s.
    std::optional<std::string> readLine()
    {
        for (std::size_t lf; (lf = pending.find('\n')) == std::string::npos;) {
            pollfd p{out, POLLIN, 0};
            char buffer[4096];
            const ssize_t n = poll(&p, 1, 10'000) > 0 ? read(out, buffer, sizeof buffer) : -1;
            if (n <= 0) return std::nullopt;
            pending.append(buffer, static_cast<std::size_t>(n));
        }
        std::string line = pending.substr(0, pending.find('\n'));
        pending.erase(0, line.size() + 1);
        return line;
    }
    int exitStatus()
    {
        int status = 0;
        if (waitpid(std::exchange(pid, -1), &status, 0) < 0) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }
};

TEST(CommandLoopProcess, EventLinesFallOnlyBetweenWholeRepliesAndEndOfInputExitsZero)
{
    ChildPresenter child;
    ASSERT_GT(child.pid, 0);
    const int rounds = 300;
    std::vector<std::string> replies;
    for (int i = 0; i < rounds; ++i) replies.insert(replies.end(), {"painted", "text", "error surround needs three numbers"});
    std::jthread feeder([&] {
        // Each round: three commands, then a space key and a click (two "key space" lines).
        for (int i = 0; i < rounds; ++i) {
            writeAll(child.in, "rgb " + std::to_string(i) + " 0 0\ntext " + std::string(i * 10, 't') + "\nsurround 1\n");
            writeAll(child.control, "SC");
        }
    });
    // A person may act before the window is announced; the greeting is still the first line, and the
    // lines of those early events follow it.
    std::size_t answered = 0;
    int signals = 0, signalsAmidReplies = 0;
    const auto greeting = child.readLine();
    ASSERT_TRUE(greeting && greeting->starts_with("ready {")) << greeting.value_or("(none)");
    while (answered < replies.size() || signals < 2 * rounds) {
        const auto line = child.readLine();
        ASSERT_TRUE(line) << "after " << answered << " replies and " << signals << " events";
        if (*line == "key space") {
            ++signals;
            signalsAmidReplies += answered > 0 && answered < replies.size();
            continue;
        }
        ASSERT_LT(answered, replies.size()) << *line;
        const std::string& expected = replies[answered++];
        if (expected == "painted") {
            EXPECT_TRUE(line->starts_with("painted ") && line->find('.') != std::string::npos) << *line;
        } else {
            EXPECT_EQ(*line, expected);
        }
    }
    EXPECT_GT(signalsAmidReplies, 0);  // the run did mix the two kinds of line
    feeder.join();
    child.closeInput();
    EXPECT_FALSE(child.readLine());
    EXPECT_EQ(child.pending, "");
    EXPECT_EQ(child.exitStatus(), 0);
}

TEST(CommandLoopProcess, EscapeWritesClosedAndExitsZeroWhileInputIsOpen)
{
    ChildPresenter child;
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(child.readLine().value_or("").starts_with("ready "));
    writeAll(child.in, "rgb 1 2 3\n");
    ASSERT_TRUE(child.readLine().value_or("").starts_with("painted "));
    writeAll(child.control, "E");
    EXPECT_EQ(child.readLine(), "closed");
    EXPECT_FALSE(child.readLine());
    EXPECT_EQ(child.exitStatus(), 0);
}

TEST(CommandLoopProcess, ClosedInputStillGetsTheGreetingThenExitsZero)
{
    ChildPresenter child;
    ASSERT_GT(child.pid, 0);
    child.closeInput();
    EXPECT_TRUE(child.readLine().value_or("").starts_with("ready {"));
    EXPECT_FALSE(child.readLine());
    EXPECT_EQ(child.exitStatus(), 0);
}

}  // namespace
}  // namespace pp
