#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#ifndef PP_PRESENTER_PATH
#define PP_PRESENTER_PATH "patch-presenter"
#endif

namespace pp::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                           ChildStreams streams)
{
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        // No compositor of the machine's own takes part unless the test names one.
        if (!env.count("WAYLAND_DISPLAY")) unsetenv("WAYLAND_DISPLAY");
        if (!env.count("WAYLAND_SOCKET")) unsetenv("WAYLAND_SOCKET");
        if (!env.count("XDG_RUNTIME_DIR")) setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
        for (const auto& [name, value] : env) {
            if (value.empty()) {
                unsetenv(name.c_str());
            } else {
                setenv(name.c_str(), value.c_str(), 1);
            }
        }
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        if (streams.closedInput) close(0);
        if (streams.closedOutput) close(1);
        if (streams.nonBlockingInput) fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess()
{
    if (!status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
        if (fd >= 0) close(fd);
    }
}

void ChildProcess::write(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void ChildProcess::closeInput()
{
    if (in_ >= 0) close(in_);
    in_ = -1;
}

void ChildProcess::closeOutput()
{
    if (out_ >= 0) close(out_);
    out_ = -1;
    outEnded_ = true;
}

void ChildProcess::pump(int fd, std::string& into, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return;
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
    } else if (fd == out_) {
        outEnded_ = true;
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto end = outBuffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = outBuffer_.substr(0, end);
            outBuffer_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (outEnded_ || left.count() <= 0) return std::nullopt;
        pump(out_, outBuffer_, left);
    }
}

std::string ChildProcess::readRest(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!outEnded_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pump(out_, outBuffer_, left);
    }
    std::string rest;
    rest.swap(outBuffer_);
    return rest;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout)
{
    if (status_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            return status_;
        }
        std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
}

std::string ChildProcess::errorOutput()
{
    while (true) {
        pollfd p{err_, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) break;
        char buffer[4096];
        const ssize_t n = read(err_, buffer, sizeof buffer);
        if (n <= 0) break;
        errBuffer_.append(buffer, static_cast<std::size_t>(n));
    }
    return errBuffer_;
}

std::string presenterPath()
{
    return PP_PRESENTER_PATH;
}

RunResult runToEnd(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                   std::chrono::milliseconds timeout)
{
    std::vector<std::string> argv = {presenterPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, env);
    child.closeInput();
    RunResult result;
    result.output = child.readRest(timeout);
    result.status = child.wait(timeout).value_or(-999);
    result.errors = child.errorOutput();
    return result;
}

double wallClock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

}  // namespace pp::test
