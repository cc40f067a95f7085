#include "private_colord.hpp"

#include "x_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <thread>

namespace pp::test {

namespace {

using namespace std::chrono_literals;

const char* COLORD = "/usr/libexec/colord";
const char* COLORD_DATABASE = "/var/lib/colord";

// A system bus like the machine's (the same policy files), listening only on a socket of our own
// and starting no services by itself.
const char* BUS_CONFIG = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <listen>unix:path=SOCKET</listen>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <includedir>/usr/share/dbus-1/system.d</includedir>
</busconfig>
)";

// Starts `argv` in a process group of its own with `env` added, output to `log` (and the bus
// address to `outFd` when given); its process id.
pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::string& log, int outFd = -1)
{
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        setpgid(0, 0);
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(outFd >= 0 ? outFd : logFd, 1);
        dup2(logFd, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Ends the process `pid` and the process group it leads (helpers it may have started): SIGTERM,
// then SIGKILL for whatever is left once it has gone, or after two seconds. The leader is reaped
// last, so its id cannot have been given to another process while the group is signalled.
void stopProcess(pid_t pid)
{
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) break;
        std::this_thread::sleep_for(20ms);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool exited(pid_t pid)
{
    int status;
    return waitpid(pid, &status, WNOHANG) == pid;
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

}  // namespace

std::unique_ptr<PrivateColord> PrivateColord::start(bool withColord)
{
    std::unique_ptr<PrivateColord> c(new PrivateColord());
    std::string pattern = (std::filesystem::temp_directory_path() / "pp-colord-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    c->folder_ = pattern;
    for (const char* sub : {"/database", "/data", "/home"}) std::filesystem::create_directories(c->folder_ + sub);

    std::string config = BUS_CONFIG;
    config.replace(config.find("SOCKET"), 6, c->folder_ + "/bus.sock");
    std::ofstream(c->folder_ + "/bus.conf") << config;

    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    c->busPid_ = spawn({"dbus-daemon", "--config-file=" + c->folder_ + "/bus.conf", "--nofork", "--nopidfile",
                        "--print-address=1"},
                       {}, c->folder_ + "/bus.log", fds[1]);
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    std::string line;
    while (std::chrono::steady_clock::now() < deadline && line.find('\n') == std::string::npos) {
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            line.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fds[0]);
    if (line.find('\n') == std::string::npos) {
        throw std::runtime_error("dbus-daemon did not start: " + fileText(c->folder_ + "/bus.log"));
    }
    c->address_ = line.substr(0, line.find('\n'));
    if (withColord) c->startColord();
    return c;
}

PrivateColord::~PrivateColord()
{
    stopColord();
    stopProcess(busPid_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::map<std::string, std::string> PrivateColord::environment() const
{
    return {{"DBUS_SYSTEM_BUS_ADDRESS", address_}, {"XDG_DATA_HOME", folder_ + "/data"}, {"HOME", folder_ + "/home"}};
}

void PrivateColord::startColord()
{
    if (colordPid_ != 0) return;
    if (!std::filesystem::is_directory(COLORD_DATABASE)) {
        throw std::runtime_error(std::string(COLORD_DATABASE) + " is missing: is colord installed?");
    }
    // colord keeps its database in a folder fixed at build time: give it ours in a namespace of its own.
    const std::string script = "mount --make-rprivate / && mount --bind " + quoted(folder_ + "/database") + " " +
                               COLORD_DATABASE + " && exec " + COLORD;
    colordPid_ = spawn({"unshare", "--mount", "/bin/sh", "-c", script}, {{"DBUS_SYSTEM_BUS_ADDRESS", address_}},
                       folder_ + "/colord.log");
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (exited(colordPid_)) {
            colordPid_ = 0;
            throw std::runtime_error("colord exited at start: " + fileText(folder_ + "/colord.log"));
        }
        const std::string owner = client(
            "gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
            "--method org.freedesktop.DBus.NameHasOwner org.freedesktop.ColorManager");
        if (owner.find("true") != std::string::npos) return;
        std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error("colord did not take its name on the bus");
}

void PrivateColord::stopColord()
{
    if (colordPid_ == 0) return;
    if (paused_) resumeColord();
    stopProcess(colordPid_);
    colordPid_ = 0;
}

void PrivateColord::pauseColord()
{
    if (colordPid_ != 0 && kill(-colordPid_, SIGSTOP) == 0) paused_ = true;
}

void PrivateColord::resumeColord()
{
    if (colordPid_ != 0) kill(-colordPid_, SIGCONT);
    paused_ = false;
}

std::string PrivateColord::client(const std::string& command, int* status) const
{
    std::string text;
    const int result = runShell(command, "DBUS_SYSTEM_BUS_ADDRESS", address_, &text);
    if (status) *status = result;
    return text;
}

std::string PrivateColord::createDisplayDevice(const std::string& outputName)
{
    const std::string id = "xrandr-" + outputName;
    int status = 0;
    const std::string properties = "{'Kind': 'display', 'Mode': 'physical', 'Colorspace': 'rgb', 'XRANDR_name': '" +
                                   outputName + "'}";
    client("gdbus call --system --dest org.freedesktop.ColorManager --object-path /org/freedesktop/ColorManager "
           "--method org.freedesktop.ColorManager.CreateDevice " +
               quoted(id) + " normal " + quoted(properties),
           &status);
    if (status != 0) throw std::runtime_error("CreateDevice failed for " + outputName);
    return id;
}

void PrivateColord::createProfile(const std::string& profileId, const std::string& path)
{
    int status = 0;
    client("gdbus call --system --dest org.freedesktop.ColorManager --object-path /org/freedesktop/ColorManager "
           "--method org.freedesktop.ColorManager.CreateProfile " +
               quoted(profileId) + " normal " + quoted("{'Filename': '" + path + "'}"),
           &status);
    if (status != 0) throw std::runtime_error("CreateProfile failed for " + path);
}

std::string PrivateColord::objectPath(const std::string& method, const std::string& id)
{
    const std::string reply =
        client("gdbus call --system --dest org.freedesktop.ColorManager --object-path /org/freedesktop/ColorManager "
               "--method org.freedesktop.ColorManager." +
               method + " " + quoted(id));
    std::smatch match;
    if (!std::regex_search(reply, match, std::regex("objectpath '([^']+)'"))) return "";
    return match[1];
}

void PrivateColord::addProfile(const std::string& deviceId, const std::string& profileId, const std::string& relation)
{
    const std::string device = objectPath("FindDeviceById", deviceId);
    const std::string profile = objectPath("FindProfileById", profileId);
    if (device.empty() || profile.empty()) throw std::runtime_error("no device or profile to add");
    int status = 0;
    client("gdbus call --system --dest org.freedesktop.ColorManager --object-path " + device +
               " --method org.freedesktop.ColorManager.Device.AddProfile " + quoted(relation) + " " + profile,
           &status);
    if (status != 0) throw std::runtime_error("AddProfile failed");
}

std::vector<std::string> PrivateColord::deviceProfiles(const std::string& deviceId)
{
    std::vector<std::string> ids;
    const std::string device = objectPath("FindDeviceById", deviceId);
    if (device.empty()) return ids;
    const std::string reply = client("gdbus call --system --dest org.freedesktop.ColorManager --object-path " + device +
                                     " --method org.freedesktop.DBus.Properties.Get "
                                     "org.freedesktop.ColorManager.Device Profiles");
    const std::regex path("'(/org/freedesktop/ColorManager/profiles/[^']+)'");
    for (auto it = std::sregex_iterator(reply.begin(), reply.end(), path); it != std::sregex_iterator(); ++it) {
        const std::string idReply = client("gdbus call --system --dest org.freedesktop.ColorManager --object-path " +
                                           (*it)[1].str() +
                                           " --method org.freedesktop.DBus.Properties.Get "
                                           "org.freedesktop.ColorManager.Profile ProfileId");
        std::smatch match;
        if (std::regex_search(idReply, match, std::regex("<'([^']+)'>"))) ids.push_back(match[1]);
    }
    return ids;
}

std::string headerProfileId(const std::string& path)
{
    const std::string bytes = fileText(path);
    if (bytes.size() < 100) return "";
    static const char* HEX = "0123456789abcdef";
    std::string id = "icc-";
    for (std::size_t i = 84; i < 100; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        id += HEX[b >> 4];
        id += HEX[b & 0x0F];
    }
    return id;
}

}  // namespace pp::test
