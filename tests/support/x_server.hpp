// Test X servers: an Xvfb, or an Xorg with the dummy driver for several outputs, each on a free display
// number and stopped by its process id whatever the test's outcome.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pp::test {

struct XvfbOptions {
    int width = 1920;
    int height = 1080;
    int depth = 24;
    int dpi = 0;              // 0: Xvfb's default
    int fakeScreenFps = 600;  // fast fake vblank, so presentation does not slow the tests
};

// One output of a dummy-driver Xorg: its mode, its place right of the previous one, its physical size.
struct DummyOutput {
    int width = 1600;
    int height = 1000;
    int mmWidth = 0;
    int mmHeight = 0;
};

class XServer {
public:
    static std::unique_ptr<XServer> startXvfb(const XvfbOptions& options = {});
    // Outputs DUMMY0, DUMMY1, ... in order; DUMMY0 is the primary. Depth 24 or 30.
    static std::unique_ptr<XServer> startXorgDummy(const std::vector<DummyOutput>& outputs, int depth = 24);

    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // ":N"
    const std::string& display() const { return display_; }
    pid_t pid() const { return pid_; }

    // Runs a shell command with DISPLAY set to this server; its exit status.
    int run(const std::string& command) const;
    // Runs a shell command with DISPLAY set to this server; its standard output.
    std::string output(const std::string& command) const;
    // The XIDs of the connected outputs, by name, as `xrandr --verbose` lists them.
    std::map<std::string, std::uint32_t> outputIds() const;

private:
    XServer(pid_t pid, std::string display, std::string folder);
    pid_t pid_;
    std::string display_;
    std::string folder_;
};

// Runs `command` under /bin/sh with the variable `name` set to `value`; its exit status. Standard
// output goes into `capture` when given, else nowhere; standard error nowhere.
int runShell(const std::string& command, const std::string& name, const std::string& value, std::string* capture);

// Whether a program is on PATH.
bool haveProgram(const std::string& name);

// Skips the test where the program `name` is not on PATH. Use at the top of a test body or SetUp.
#define SKIP_WITHOUT_PROGRAM(name)                                                             \
    do {                                                                                       \
        if (!::pp::test::haveProgram(name)) GTEST_SKIP() << (name) << " is not installed";     \
    } while (false)

// The atom of that name on the connection's server, made if need be; XCB_ATOM_NONE when the server does
// not answer.
xcb_atom_t internAtom(xcb_connection_t* connection, const std::string& name);

// Sets (or with no bytes deletes) the _ICC_PROFILE property of the RandR output, or of the root window
// with output 0, as a colour daemon does, and waits until the server has done it.
void advertiseIccProfile(xcb_connection_t* connection, std::uint32_t output, const std::vector<std::uint8_t>& bytes);

}  // namespace pp::test
