// The whole command loop on the headless platform: a reader thread on a pipe, the main loop on the
// test's thread, and forked children where the process's real end and standard output are watched.
#include "protocol/command_reader.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <mutex>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/headless/headless_displays.hpp"
#include "platform/headless/headless_main_loop.hpp"
#include "platform/headless/headless_window.hpp"

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

// A 1000 x 800 point screen of 250 x 200 mm with its window, loop and presenter.
struct Stage {
    Screen screen = headless::headlessScreen(3, {0, 0, 1000, 800}, {250, 200});
    headless::HeadlessDisplays displays;
    headless::HeadlessWindow window{screen};
    headless::HeadlessMainLoop loop{&window};
    std::unique_ptr<Presenter> presenter;

    explicit Stage(ProcessHooks hooks = {})
    {
        displays.screenList = {screen};
        presenter = std::make_unique<Presenter>(window, displays, screen, patchGeometry({}, screen), std::move(hooks));
    }
};

// What the program wrote, with the frame count and a surround pixel at the moment of each line.
struct Written {
    std::string line;
    int presents;
    std::uint32_t corner;
};

struct InProcessRun {
    std::mutex mutex;
    std::vector<Written> written;
    std::vector<int> ends;
    std::unique_ptr<Stage> stage;
    int input[2];

    InProcessRun()
    {
        stage = std::make_unique<Stage>(hooks());
        EXPECT_EQ(pipe(input), 0);
    }
    // Hooks that record each line and each end; an end stops the loop, as the process would stop.
    ProcessHooks hooks()
    {
        ProcessHooks h;
        h.write = [this](std::string_view line) {
            std::lock_guard lock(mutex);
            written.push_back({std::string(line), stage->window.presentCount(), stage->window.shownPixel(999, 0)});
        };
        h.end = [this](int status) {
            std::lock_guard lock(mutex);
            ends.push_back(status);
            stage->loop.stop();
        };
        return h;
    }
    std::size_t lineCount()
    {
        std::lock_guard lock(mutex);
        return written.size();
    }
    // Feeds `script`, then `whileRunning`, then ends the input; runs the reader on its own thread and
    // the loop on this one until the end hook stops it.
    void run(const std::string& script, std::function<void()> whileRunning = {})
    {
        CommandSet commands(*stage->presenter, stage->loop, [] { return 12.5; });
        const ProcessHooks readerHooks = hooks();
        std::thread reader([&] { runCommandReader(input[0], commands, readerHooks); });
        std::thread feeder([&] {
            writeAll(input[1], script);
            if (whileRunning) whileRunning();
            close(input[1]);
        });
        stage->loop.run(*stage->presenter);
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
    const std::vector<std::pair<std::string, int>> expected{
        {"ready ", 1},  // the loop painted the start-up frame before serving the greeting
        {"painted 12.5", 2},
        {"error rgb needs three numbers", 2},
        {"surround", 3},
        {"error unknown command", 3},
        {"moved", 4},
        {"mode deep window_bits 16 screen_bits 8 layer RGBA16Uint", 5},
        {"info ", 5},
        {"text", 6},
        {"error unknown command", 6},  // the invalid byte became U+FFFD, part of the word
        {"mark on", 7},
        {"mark off", 8},
    };
    ASSERT_EQ(run.written.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [line, presents] = expected[i];
        if (line.back() == ' ') {
            EXPECT_TRUE(run.written[i].line.starts_with(line)) << run.written[i].line;
        } else {
            EXPECT_EQ(run.written[i].line, line);
        }
        EXPECT_EQ(run.written[i].presents, presents) << line;
        EXPECT_EQ(run.written[i].corner, i < 3 ? 0u : 0x141414u) << line;
    }
    const auto report = nlohmann::json::parse(run.written[7].line.substr(5));
    EXPECT_EQ(report["paint"], "deep");
    EXPECT_EQ(report["position"], nlohmann::json::parse("[0.25,0.75]"));
    EXPECT_EQ(run.stage->presenter->view().caption, caption);
    EXPECT_EQ(run.ends, std::vector<int>{0});
}

TEST(CommandLoop, QuitEndsWithoutReadingFurther)
{
    InProcessRun run;
    run.run("info\nquit now\nrgb 1 2 3\n");
    ASSERT_EQ(run.written.size(), 2u);
    EXPECT_TRUE(run.written[1].line.starts_with("info {"));
    EXPECT_EQ(run.ends, std::vector<int>{0});
    EXPECT_EQ(run.stage->presenter->view().rgb, (std::array<double, 3>{0, 0, 0}));
}

TEST(CommandLoop, PersonsDragShowsInTheNextReport)
{
    InProcessRun run;
    Stage& stage = *run.stage;
    run.run("mark on\n", [&] {
        // Wait for the reply to "mark on", then drag the patch 100 points right and nudge it 5 mm up.
        while (run.lineCount() < 2) std::this_thread::yield();
        stage.loop.post(PointerEvent{PointerEvent::Kind::press, {500, 400}});
        stage.loop.post(PointerEvent{PointerEvent::Kind::drag, {600, 400}});
        stage.loop.post(PointerEvent{PointerEvent::Kind::release, {600, 400}});
        stage.loop.post(KeyEvent{"Up", false});
        stage.loop.runOnMain([] {});  // the events above have been handled
        writeAll(run.input[1], "info\n");
    });
    std::vector<std::string> lines;
    for (auto& w : run.written) lines.push_back(w.line);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "position 0.60000 0.50000");
    EXPECT_EQ(lines[3], "position 0.60000 0.47500");
    EXPECT_NE(lines[4].find(R"("position":[0.6,0.475])"), std::string::npos) << lines[4];
    EXPECT_EQ(run.written[3].presents, run.written[1].presents + 1);  // the drag was painted by the loop
}

// A forked presenter with the real line output and process end: standard input and output are pipes,
// and a control pipe lets the test inject events ('S' space key, 'C' click, 'E' Escape).
struct ChildPresenter {
    pid_t pid = -1;
    int in = -1, out = -1, control = -1;
    std::string pending;

    ChildPresenter()
    {
        std::signal(SIGPIPE, SIG_IGN);  // a child that is gone must fail the test, not kill it
        int i[2], o[2], c[2];
        if (pipe(i) || pipe(o) || pipe(c)) return;
        pid = fork();
        if (pid == 0) {
            alarm(30);
            dup2(i[0], 0);
            dup2(o[1], 1);
            for (int fd : {i[0], i[1], o[0], o[1], c[1]}) close(fd);
            prepareOutput();
            static Stage stage;
            std::thread([&, fd = c[0]] {
                char event;
                while (read(fd, &event, 1) == 1) {
                    if (event == 'S') stage.loop.post(KeyEvent{"space", false});
                    if (event == 'E') stage.loop.post(KeyEvent{"Escape", false});
                    if (event == 'C') {
                        stage.loop.post(PointerEvent{PointerEvent::Kind::press, {1, 1}});
                        stage.loop.post(PointerEvent{PointerEvent::Kind::release, {1, 1}});
                    }
                }
            }).detach();
            if (!startCommandReader(0, *stage.presenter, stage.loop)) _exit(4);
            stage.loop.run(*stage.presenter);
            _exit(3);
        }
        close(i[0]);
        close(o[1]);
        close(c[0]);
        in = i[1];
        out = o[0];
        control = c[1];
    }
    ~ChildPresenter()
    {
        for (int fd : {in, out, control}) if (fd >= 0) close(fd);
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // The next line, or none at end of output or after 10 s; `partial` gets an unterminated rest.
    std::optional<std::string> readLine(std::string* partial = nullptr)
    {
        for (;;) {
            const auto lf = pending.find('\n');
            if (lf != std::string::npos) {
                std::string line = pending.substr(0, lf);
                pending.erase(0, lf + 1);
                return line;
            }
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, 10'000) <= 0) return std::nullopt;
            char buffer[4096];
            const ssize_t n = read(out, buffer, sizeof buffer);
            if (n <= 0) {
                if (partial) *partial = pending;
                return std::nullopt;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
        }
    }
    int exitStatus()
    {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }
};

TEST(CommandLoopProcess, EventLinesFallOnlyBetweenWholeRepliesAndEndOfInputExitsZero)
{
    ChildPresenter child;
    ASSERT_GT(child.pid, 0);
    const int rounds = 300;
    std::vector<std::string> replies;
    std::jthread feeder([&] {
        // Each round: three commands, then a space key and a click (two "key space" lines).
        for (int i = 0; i < rounds; ++i) {
            writeAll(child.in, "rgb " + std::to_string(i) + " 0 0\ntext " + std::string(i * 10, 't') + "\nsurround 1\n");
            writeAll(child.control, "SC");
        }
    });
    for (int i = 0; i < rounds; ++i) replies.insert(replies.end(), {"painted", "text", "error surround needs three numbers"});
    // A person may act before the window is announced; the greeting still comes before every reply.
    std::size_t answered = 0;
    int signals = 0;
    int signalsAmidReplies = 0;
    auto greeting = child.readLine();
    for (; greeting == "key space"; greeting = child.readLine()) ++signals;
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
    close(child.in);
    child.in = -1;
    std::string rest;
    EXPECT_FALSE(child.readLine(&rest));
    EXPECT_EQ(rest, "");
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
    close(child.in);
    child.in = -1;
    EXPECT_TRUE(child.readLine().value_or("").starts_with("ready {"));
    EXPECT_FALSE(child.readLine());
    EXPECT_EQ(child.exitStatus(), 0);
}

}  // namespace
}  // namespace pp
