#include "kms_guest.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "process_tools.hpp"

namespace pp::test {

namespace {

const std::string GUEST_FOLDER = "/var/cache/pp-kms/guest";
const char* const QEMU = "/usr/bin/qemu-system-x86_64";

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Starts scripts/kms-guest's boot, which becomes qemu: a child killed when this thread ends.
pid_t launch(const std::string& folder)
{
    const std::vector<std::string> argv = {"/bin/bash", PP_KMS_GUEST_SCRIPT, "boot", folder};
    const std::string logPath = folder + "/qemu.log";
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(126);
        const int null = open("/dev/null", O_RDONLY);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        auto args = argvOf(argv);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Waits until the child exits or the time-out passes (then kills it); reaps it either way. Whether it
// exited by itself.
bool waitOrKill(pid_t pid, std::chrono::seconds timeout)
{
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    bool exited = false;
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!exited) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            const int ready = poll(&p, 1, static_cast<int>(left.count()));
            if (ready > 0) exited = true;
            if (ready < 0 && errno != EINTR) break;
        }
        close(pidfd);
    }
    if (!exited) ::kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return exited;
}

}  // namespace

std::string shellQuoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string kmsProbePath()
{
    return PP_KMS_PROBE_PATH;
}

bool KmsGuest::available(std::string* why)
{
    std::string missing;
    if (!std::filesystem::exists(GUEST_FOLDER + "/.pp-complete"))
        missing = "the KMS test guest is not built (run scripts/kms-guest, or make kms-guest)";
    else if (access(QEMU, X_OK) != 0)
        missing = std::string(QEMU) + " is missing (scripts/install-deps installs it)";
    if (why) *why = missing;
    return missing.empty();
}

KmsGuestResult KmsGuest::run(const std::vector<std::string>& argv, std::chrono::seconds timeout,
                             const std::map<std::string, std::string>& env)
{
    std::string command = "exec";
    for (const auto& word : argv) command += " " + shellQuoted(word);
    return runScript(command + "\n", timeout, env);
}

KmsGuestResult KmsGuest::runScript(const std::string& script, std::chrono::seconds timeout,
                                   const std::map<std::string, std::string>& env, const std::string& kernelArguments)
{
    const std::string folder = makeFolder("pp-kms");
    if (!kernelArguments.empty()) writeFile(folder + "/kernel-arguments", kernelArguments);
    std::string text;
    // A sanitized build's options (its suppressions above all) hold in the guest too.
    for (const char* name : {"TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        const char* value = std::getenv(name);
        if (value && !env.count(name)) text += "export " + std::string(name) + "=" + shellQuoted(value) + "\n";
    }
    for (const auto& [name, value] : env) text += "export " + name + "=" + shellQuoted(value) + "\n";
    writeFile(folder + "/run.sh", text + "cd " + shellQuoted(folder) + "\n" + script);

    KmsGuestResult result;
    result.qemu = launch(folder);
    result.timedOut = !waitOrKill(result.qemu, timeout);
    result.output = fileText(folder + "/stdout");
    result.errors = fileText(folder + "/stderr");
    result.console = fileText(folder + "/console.log") + fileText(folder + "/qemu.log");
    if (std::filesystem::exists(folder + "/status")) result.status = std::stoi(fileText(folder + "/status"));
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return result;
}

}  // namespace pp::test
