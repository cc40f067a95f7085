#include "x_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/randr.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pp::test {

namespace {

// Starts `argv` with its display number written to a pipe (-displayfd) and waits for it.
std::pair<pid_t, std::string> startServer(std::vector<std::string> argv, const std::string& logFile)
{
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    for (auto& a : argv) {
        if (a == "FD") a = std::to_string(fds[1]);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        setpgid(0, 0);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (poll(&p, 1, 100) > 0) {
            char c;
            const ssize_t n = read(fds[0], &c, 1);
            if (n <= 0) break;
            if (c == '\n') break;
            number += c;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            close(fds[0]);
            throw std::runtime_error("X server exited at start; see " + logFile);
        }
    }
    close(fds[0]);
    if (number.empty()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        throw std::runtime_error("X server did not report a display; see " + logFile);
    }
    return {pid, ":" + number};
}

std::string makeFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pp-xserver-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    return pattern;
}

const char* XORG_CONFIG = R"(Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth DEPTH
  SubSection "Display"
    Depth DEPTH
    Virtual 3840 2160
  EndSubSection
EndSection
)";

}  // namespace

bool haveProgram(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

xcb_atom_t internAtom(xcb_connection_t* connection, const std::string& name)
{
    auto* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

void advertiseIccProfile(xcb_connection_t* connection, std::uint32_t output, const std::vector<std::uint8_t>& bytes)
{
    const xcb_atom_t atom = internAtom(connection, "_ICC_PROFILE");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (output == 0 && bytes.empty()) xcb_delete_property(connection, root, atom);
    if (output == 0 && !bytes.empty()) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom, XCB_ATOM_CARDINAL, 8, size, bytes.data());
    }
    if (output != 0 && bytes.empty()) xcb_randr_delete_output_property(connection, output, atom);
    if (output != 0 && !bytes.empty()) {
        xcb_randr_change_output_property(connection, output, atom, XCB_ATOM_CARDINAL, 8, XCB_PROP_MODE_REPLACE, size,
                                         bytes.data());
    }
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

XServer::XServer(pid_t pid, std::string display, std::string folder)
    : pid_(pid), display_(std::move(display)), folder_(std::move(folder))
{
}

XServer::~XServer()
{
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid_ != 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::unique_ptr<XServer> XServer::startXvfb(const XvfbOptions& o)
{
    const std::string folder = makeFolder();
    std::vector<std::string> argv = {"Xvfb", "-displayfd", "FD", "-noreset", "-nolisten", "tcp", "-screen", "0",
                                     std::to_string(o.width) + "x" + std::to_string(o.height) + "x" +
                                         std::to_string(o.depth)};
    if (o.dpi > 0) {
        argv.push_back("-dpi");
        argv.push_back(std::to_string(o.dpi));
    }
    if (o.fakeScreenFps > 0) {
        argv.push_back("-fakescreenfps");
        argv.push_back(std::to_string(o.fakeScreenFps));
    }
    auto [pid, display] = startServer(argv, folder + "/xvfb.log");
    return std::unique_ptr<XServer>(new XServer(pid, display, folder));
}

std::unique_ptr<XServer> XServer::startXorgDummy(const std::vector<DummyOutput>& outputs, int depth)
{
    const std::string folder = makeFolder();
    std::string config = XORG_CONFIG;
    for (auto at = config.find("DEPTH"); at != std::string::npos; at = config.find("DEPTH")) {
        config.replace(at, 5, std::to_string(depth));
    }
    std::ofstream(folder + "/xorg.conf") << config;
    std::vector<std::string> argv = {"Xorg", "-displayfd", "FD", "-noreset", "-nolisten", "tcp",
                                     "-config", folder + "/xorg.conf", "-logfile", folder + "/xorg.log",
                                     "-keeptty", "-novtswitch", "-sharevts", "-depth", std::to_string(depth)};
    auto [pid, display] = startServer(argv, folder + "/xorg.out");
    std::unique_ptr<XServer> server(new XServer(pid, display, folder));

    // Give each output its mode, place and physical size; a full probe makes the sizes visible.
    std::string script;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const auto& out = outputs[i];
        const std::string name = "DUMMY" + std::to_string(i);
        const std::string mode = std::to_string(out.width) + "x" + std::to_string(out.height);
        script += "xrandr --newmode " + mode + "_pp 100 " + std::to_string(out.width) + " " +
                  std::to_string(out.width + 8) + " " + std::to_string(out.width + 16) + " " +
                  std::to_string(out.width + 24) + " " + std::to_string(out.height) + " " +
                  std::to_string(out.height + 1) + " " + std::to_string(out.height + 2) + " " +
                  std::to_string(out.height + 3) + " 2>/dev/null; ";
        script += "xrandr --addmode " + name + " " + mode + "_pp && ";
        script += "xrandr --output " + name + " --mode " + mode + "_pp";
        if (i == 0) {
            script += " --pos 0x0 --primary";
        } else {
            script += " --right-of DUMMY" + std::to_string(i - 1);
        }
        script += " && xrandr --output " + name + " --set WIDTH_MM " + std::to_string(out.mmWidth) +
                  " --set HEIGHT_MM " + std::to_string(out.mmHeight) + " && ";
    }
    script += "xrandr >/dev/null";
    if (server->run(script) != 0) throw std::runtime_error("xrandr set-up failed: " + script);
    return server;
}

int runShell(const std::string& command, const std::string& name, const std::string& value, std::string* capture)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        setenv(name.c_str(), value.c_str(), 1);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(capture ? fds[1] : null, 1);
        dup2(null, 2);
        close(fds[0]);
        close(fds[1]);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        if (capture) capture->append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int XServer::run(const std::string& command) const
{
    return runShell(command, "DISPLAY", display_, nullptr);
}

std::string XServer::output(const std::string& command) const
{
    std::string text;
    runShell(command, "DISPLAY", display_, &text);
    return text;
}

std::map<std::string, std::uint32_t> XServer::outputIds() const
{
    std::map<std::string, std::uint32_t> ids;
    std::istringstream text(output("xrandr --verbose --current"));
    std::string line, current;
    while (std::getline(text, line)) {
        if (line.find(" connected") != std::string::npos) current = line.substr(0, line.find(' '));
        const auto at = line.find("Identifier: 0x");
        if (at != std::string::npos && !current.empty()) {
            ids[current] = static_cast<std::uint32_t>(std::stoul(line.substr(at + 12), nullptr, 16));
            current.clear();
        }
    }
    return ids;
}

}  // namespace pp::test
