#include "process_tools.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pp::test {

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string makeFolder(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    return pattern;
}

const std::vector<std::string> FOREIGN_VARIABLES = {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "SWAYSOCK",
                                                    "I3SOCK"};

void applyEnvironment(const std::map<std::string, std::string>& env)
{
    for (const auto& name : FOREIGN_VARIABLES) unsetenv(name.c_str());
    for (const auto& [name, value] : env) {
        if (value.empty()) {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
}

std::vector<char*> argvOf(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

bool hasExited(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

std::vector<pid_t> processesOf(const std::string& runtimeDir)
{
    std::vector<pid_t> found;
    const std::string entry = "XDG_RUNTIME_DIR=" + runtimeDir;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    while (dirent* d = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(d->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == getpid()) continue;
        const std::string base = std::string("/proc/") + d->d_name;
        const std::string status = fileText(base + "/status");
        const auto ppidAt = status.find("PPid:");
        if (ppidAt != std::string::npos && std::atol(status.c_str() + ppidAt + 5) == getpid()) continue;
        const std::string environ = fileText(base + "/environ");
        std::size_t at = 0;
        while (at < environ.size()) {
            const std::size_t next = environ.find('\0', at);
            const std::string variable = environ.substr(at, next == std::string::npos ? std::string::npos : next - at);
            if (variable == entry) {
                found.push_back(static_cast<pid_t>(pid));
                break;
            }
            if (next == std::string::npos) break;
            at = next + 1;
        }
    }
    closedir(proc);
    return found;
}

std::string runCaptured(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                        const std::string& errorLog, std::chrono::milliseconds timeout, int* status, const std::string& cwd)
{
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        applyEnvironment(env);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        const int null = open("/dev/null", O_RDONLY);
        const int errors = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(null, 0);
        dup2(out[1], 1);
        dup2(errors, 2);
        close(out[0]);
        close(out[1]);
        auto args = argvOf(argv);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd p{out[0], POLLIN, 0};
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        char buffer[65536];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int result = 0;
    waitpid(pid, &result, 0);
    if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return text;
}

}  // namespace pp::test
