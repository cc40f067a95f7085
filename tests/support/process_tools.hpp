// What the test fixtures that start servers share: scratch folders, a child's environment, waiting on
// processes, finding what a server started, and running a tool with its output captured.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace pp::test {

using namespace std::chrono_literals;

// The whole file, or "" when it cannot be read.
std::string fileText(const std::string& path);

// A new private folder in the temporary folder, named after `prefix`.
std::string makeFolder(const std::string& prefix);

// The variables that would lead a client or a compositor to another display than the one meant.
extern const std::vector<std::string> FOREIGN_VARIABLES;

// Sets up a forked child's environment: foreign display variables removed, then `env` applied (an
// empty value removes the variable).
void applyEnvironment(const std::map<std::string, std::string>& env);

// An argument vector for execvp; it points into `argv`, which must outlive it.
std::vector<char*> argvOf(const std::vector<std::string>& argv);

// Whether the child has exited (it is left to be reaped).
bool hasExited(pid_t pid);

// The processes, other than this one and its own children (the test's clients), whose environment
// names `runtimeDir` as their XDG_RUNTIME_DIR: what a compositor started, even in a session of its own.
std::vector<pid_t> processesOf(const std::string& runtimeDir);

// Runs `argv` with `env` applied (in `cwd` when given) and returns its standard output; its standard
// error is appended to `errorLog`. Killed when it takes longer than `timeout`; `status` gets its exit
// status, or -1 when it did not exit by itself.
std::string runCaptured(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                        const std::string& errorLog, std::chrono::milliseconds timeout, int* status = nullptr,
                        const std::string& cwd = "");

}  // namespace pp::test
