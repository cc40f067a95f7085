// Drives a program as a controller would: lines to its standard input, lines from its standard output.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pp::test {

using namespace std::chrono_literals;

// How the program's standard streams are set up, for tests of odd starts.
struct ChildStreams {
    bool closedInput = false;       // descriptor 0 closed when the program starts
    bool closedOutput = false;      // descriptor 1 closed when the program starts
    bool nonBlockingInput = false;  // standard input is a pipe with O_NONBLOCK set
};

class ChildProcess {
public:
    // Starts `argv` (argv[0] is the program path) with `env` added to this process's environment;
    // an entry with an empty value removes that variable. Unless `env` names them, WAYLAND_DISPLAY and
    // WAYLAND_SOCKET are removed and XDG_RUNTIME_DIR points nowhere, so no compositor of the machine's
    // own is reached.
    ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                 ChildStreams streams = {});
    ~ChildProcess();  // kills the process if it is still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void write(const std::string& bytes);
    void closeInput();
    void closeOutput();  // the controller stops reading the program's standard output

    // The next line of standard output without its line feed; none at end of output or on time-out.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = 10s);
    // Whatever standard output holds before it ends (or the time-out), lines joined with line feeds.
    std::string readRest(std::chrono::milliseconds timeout = 10s);

    // The exit status, or -signal when killed by a signal; none when still running at the time-out.
    std::optional<int> wait(std::chrono::milliseconds timeout = 10s);

    // Everything the program wrote to standard error so far.
    std::string errorOutput();

    pid_t pid() const { return pid_; }

private:
    void pump(int fd, std::string& into, std::chrono::milliseconds timeout);
    pid_t pid_ = 0;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
    bool outEnded_ = false;
    std::optional<int> status_;
};

// The program built beside the tests.
std::string presenterPath();

// Runs the program to its end with no input; its output, status and standard error.
struct RunResult {
    std::string output;
    int status = -1;
    std::string errors;
};
RunResult runToEnd(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                   std::chrono::milliseconds timeout = 20s);

// The time now in seconds since 1970, as the program's "painted T" counts it.
double wallClock();

}  // namespace pp::test
