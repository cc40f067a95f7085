#include "desktop.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "desktop_scripts.hpp"
#include "process_tools.hpp"

#ifndef PP_WAYLAND_TEST_CLIENT_PATH
#define PP_WAYLAND_TEST_CLIENT_PATH "pp-wayland-test-client"
#endif

namespace pp::test {

namespace {

const std::string CHROOTS = "/var/cache/pp-desktops";
constexpr uid_t NOBODY = 65534;
// gnome-shell on a loaded two-core machine takes many seconds to start.
constexpr auto READY_TIME = 30s;
constexpr auto TOOL_TIME = 60s;

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
    chmod(path.c_str(), 0644);
}

std::string readLink(const std::string& path)
{
    std::error_code error;
    const auto target = std::filesystem::read_symlink(path, error);
    return error ? "" : target.string();
}

// The process whose parent is `parent`, waiting for it at most ten seconds; 0 when none came.
pid_t childOf(pid_t parent)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string children = fileText("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                                              "/children");
        if (const long pid = std::atol(children.c_str()); pid > 0) return static_cast<pid_t>(pid);
        if (hasExited(parent)) return 0;
        std::this_thread::sleep_for(10ms);
    }
    return 0;
}

// 8-bit BGRx (or BGRA) samples as the screen cast writes them: one Rgb per four bytes, alpha dropped.
std::optional<Screenshot> screenshotFromBgrx(const std::string& bytes, int width, int height)
{
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (count == 0 || bytes.size() != count * 4) return std::nullopt;
    Screenshot shot{width, height, {}};
    shot.pixels.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + i * 4);
        shot.pixels.push_back({p[2], p[1], p[0]});
    }
    return shot;
}

std::string hexOf(const Rgb& colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", colour.r & 0xFF, colour.g & 0xFF, colour.b & 0xFF);
    return text;
}

}  // namespace

const char* desktopKindName(DesktopKind kind)
{
    switch (kind) {
    case DesktopKind::mutter:
        return "mutter";
    case DesktopKind::gnomeShell:
        return "gnomeShell";
    case DesktopKind::kwin:
        return "kwin";
    case DesktopKind::sway:
        return "sway";
    }
    return "";
}

const char* releaseName(Release release)
{
    return release == Release::trixie ? "trixie" : "sid";
}

const std::vector<DesktopChoice>& everyDesktop()
{
    static const std::vector<DesktopChoice> all = {
        {DesktopKind::mutter, Release::trixie}, {DesktopKind::gnomeShell, Release::trixie},
        {DesktopKind::kwin, Release::trixie},   {DesktopKind::mutter, Release::sid},
        {DesktopKind::gnomeShell, Release::sid}, {DesktopKind::kwin, Release::sid},
        {DesktopKind::sway, Release::sid}};
    return all;
}

std::string desktopChoiceName(const DesktopChoice& choice)
{
    return std::string(releaseName(choice.release)) + "_" + desktopKindName(choice.kind);
}

DesktopAvailability desktopAvailability(DesktopKind kind, Release release, std::string* why)
{
    std::string reason;
    DesktopAvailability availability = DesktopAvailability::ready;
    const std::string root = CHROOTS + "/" + releaseName(release);
    const std::string unavailable = CHROOTS + "/" + releaseName(release) + ".unavailable";
    if (kind == DesktopKind::sway && release == Release::trixie) {
        availability = DesktopAvailability::unbuildable;
        reason = "the desktop tests run sway only from sid";
    } else if (access((root + "/.pp-complete").c_str(), F_OK) == 0) {
        availability = DesktopAvailability::ready;
    } else if (release == Release::sid && access(unavailable.c_str(), F_OK) == 0) {
        availability = DesktopAvailability::unbuildable;
        reason = fileText(unavailable);
    } else {
        availability = DesktopAvailability::missing;
        reason = "no complete chroot at " + root + " (scripts/desktop-chroots builds it)";
    }
    if (why) *why = reason;
    return availability;
}

std::vector<pid_t> processesInMountNamespace(const std::string& ns)
{
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        char* end = nullptr;
        const long pid = std::strtol(name.c_str(), &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        if (readLink(entry.path().string() + "/ns/mnt") == ns) found.push_back(static_cast<pid_t>(pid));
    }
    return found;
}

Desktop::Desktop(DesktopKind kind, Release release)
    : kind_(kind), release_(release), root_(CHROOTS + "/" + releaseName(release)), folder_(makeFolder("pp-desktop")),
      runtimeDir_(folder_ + "/run")
{
}

Desktop::~Desktop()
{
    stopAll();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::unique_ptr<Desktop> Desktop::start(DesktopKind kind, Release release, const DesktopOptions& options)
{
    if (kind == DesktopKind::sway && release == Release::trixie) throw std::logic_error("sway runs only from sid");
    std::string why;
    if (desktopAvailability(kind, release, &why) != DesktopAvailability::ready) throw std::runtime_error(why);
    std::unique_ptr<Desktop> d(new Desktop(kind, release));
    // sway runs as nobody, which must reach its configuration and own its runtime folder.
    chmod(d->folder_.c_str(), 0755);
    mkdir(d->runtimeDir_.c_str(), 0700);
    if ((kind == DesktopKind::sway || kind == DesktopKind::kwin) && chown(d->runtimeDir_.c_str(), NOBODY, NOBODY) != 0) {
        throw std::runtime_error("chown " + d->runtimeDir_);
    }
    std::filesystem::create_directories(d->folder_ + "/home/.config/glib-2.0/settings");
    writeFile(d->folder_ + "/home/.config/glib-2.0/settings/keyfile", settingsKeyfile(options.animations));
    writeFile(d->folder_ + "/namespace.sh", namespaceScript(d->root_, d->folder_));
    writeFile(d->folder_ + "/session.sh",
              sessionScript(kind, d->folder_, d->runtimeDir_, options.width, options.height, options.kwinVirtual));
    writeFile(d->folder_ + "/sway.conf", swayConfig(options.width, options.height));
    writeFile(d->folder_ + "/system-bus.conf", systemBusConfig(d->folder_));
    writeFile(d->folder_ + "/screencast.py", screenCastScript());
    writeFile(d->folder_ + "/screenshot.py", screenshotScript());
    d->launch();
    d->waitUntilReady(options);
    return d;
}

// Starts the namespace: unshare in a process group of its own, killed when this process dies, and its
// child, the namespace's first process, killed when unshare dies, taking the whole namespace along.
void Desktop::launch()
{
    const std::string logPath = folder_ + "/desktop.log";
    const std::vector<std::string> argv = {"unshare", "--mount", "--propagation", "private", "--pid", "--fork",
                                           "--kill-child", "--", "/bin/bash", folder_ + "/namespace.sh"};
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        applyEnvironment({});
        const int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        auto args = argvOf(argv);
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
    init_ = childOf(pid_);
    namespace_ = init_ > 0 ? readLink("/proc/" + std::to_string(init_) + "/ns/mnt") : "";
    if (namespace_.empty()) throw std::runtime_error("the desktop's namespace did not start:\n" + log());
}

// Polls until the socket answers with the output at the requested mode, then waits on the session bus
// for the service the read-back uses, and on gnome-shell for its start to open the overview; throws with
// the log when the desktop ends or the time runs out.
void Desktop::waitUntilReady(const DesktopOptions& options)
{
    const auto deadline = std::chrono::steady_clock::now() + READY_TIME;
    CompositorOutput expected;
    expected.pixelWidth = options.width;
    expected.pixelHeight = options.height;
    bool ready = false;
    while (!ready && std::chrono::steady_clock::now() < deadline) {
        if (hasExited(pid_)) throw std::runtime_error("the desktop ended at start:\n" + log());
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(runtimeDir_, error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("wayland-", 0) != 0 || name.find('.') != std::string::npos || name == DESKTOP_SOCKET) continue;
            (kind_ == DesktopKind::sway ? socket_ : hostSocket_) = name;
        }
        if (kind_ != DesktopKind::sway) socket_ = DESKTOP_SOCKET;
        if (!socket_.empty() && std::filesystem::exists(runtimeDir_ + "/" + socket_)) {
            const auto seen = protocolOutputs(runtimeDir_ + "/" + socket_, 2s);
            ready = seen && matches(*seen, {expected});
        }
        if (!ready) std::this_thread::sleep_for(50ms);
    }
    if (!ready) throw std::runtime_error("the desktop was not ready in time:\n" + log());
    const char* service = kind_ == DesktopKind::mutter       ? "org.gnome.Mutter.ScreenCast"
                          : kind_ == DesktopKind::gnomeShell ? "org.gnome.Shell.Screenshot"
                                                             : nullptr;
    if (!service) return;
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - std::chrono::steady_clock::now());
    int status = 0;
    run({"gdbus", "wait", "--session", "--timeout", std::to_string(std::max<long>(1, left.count())), service}, &status);
    if (status != 0) throw std::runtime_error(std::string("the desktop did not offer ") + service + ":\n" + log());
    if (kind_ != DesktopKind::gnomeShell) return;
    // gnome-shell ends its start by opening the overview, a moment after it offers its services: a
    // presenter started in that moment would find it closed and then see it open. Ready is once it has.
    while (!overviewActive()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("gnome-shell's start did not open the overview:\n" + log());
        }
        std::this_thread::sleep_for(50ms);
    }
}

std::map<std::string, std::string> Desktop::env() const
{
    std::map<std::string, std::string> variables;
    for (const auto& name : FOREIGN_VARIABLES) variables[name] = "";
    variables["WAYLAND_DISPLAY"] = socket_;
    variables["XDG_RUNTIME_DIR"] = runtimeDir_;
    variables["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + runtimeDir_ + "/bus";
    return variables;
}

// The environment of a tool run in the chroot, as the session script gives its own processes.
std::map<std::string, std::string> Desktop::toolEnv() const
{
    const std::string home = folder_ + "/home";
    auto variables = env();
    variables.erase("DISPLAY");
    variables["PATH"] = "/usr/sbin:/usr/bin:/sbin:/bin";
    variables["LANG"] = "C.UTF-8";
    variables["HOME"] = home;
    variables["XDG_CONFIG_HOME"] = home + "/.config";
    variables["XDG_CACHE_HOME"] = home + "/.cache";
    variables["GSETTINGS_BACKEND"] = "keyfile";
    return variables;
}

std::string Desktop::run(const std::vector<std::string>& argv, int* status) const
{
    std::vector<std::string> command = {"nsenter", "--target", std::to_string(init_), "--mount", "--pid", "--root",
                                        "--wd", "--", "/usr/bin/env", "-i"};
    for (const auto& [name, value] : toolEnv()) {
        if (!value.empty()) command.push_back(name + "=" + value);
    }
    command.insert(command.end(), argv.begin(), argv.end());
    return runCaptured(command, {}, folder_ + "/tools.log", TOOL_TIME, status);
}

std::vector<CompositorOutput> Desktop::outputs() const
{
    return protocolOutputs(runtimeDir_ + "/" + socket_).value_or(std::vector<CompositorOutput>{});
}

Screenshot Desktop::screenshot() const
{
    if (kind_ == DesktopKind::mutter) return screenCast();
    if (kind_ == DesktopKind::gnomeShell) return shellScreenshot();
    // grim reads the sway: the desktop itself, or the one KWin draws its output into.
    const std::string display = kind_ == DesktopKind::kwin ? hostSocket_ : socket_;
    int status = 0;
    const std::string bytes = run({"env", "WAYLAND_DISPLAY=" + display, "grim", "-t", "ppm", "-"}, &status);
    auto shot = screenshotFromPpm(bytes);
    if (status != 0 || !shot) throw std::runtime_error("grim could not capture the output:\n" + fileText(folder_ + "/tools.log"));
    return *shot;
}

Screenshot Desktop::screenCast() const
{
    const auto all = outputs();
    if (all.size() != 1) throw std::runtime_error("mutter announces " + std::to_string(all.size()) + " outputs");
    const std::string target = folder_ + "/cast.raw";
    std::filesystem::remove(target);
    int status = 0;
    run({"python3", folder_ + "/screencast.py", all[0].name, target}, &status);
    const auto shot = screenshotFromBgrx(fileText(target), all[0].pixelWidth, all[0].pixelHeight);
    if (status != 0 || !shot) {
        throw std::runtime_error("the screen cast failed:\n" + fileText(folder_ + "/tools.log") + log());
    }
    return *shot;
}

Screenshot Desktop::shellScreenshot() const
{
    const std::string target = folder_ + "/shot.png";
    std::filesystem::remove(target);
    int status = 0;
    run({"python3", folder_ + "/screenshot.py", target}, &status);
    const auto shot = screenshotFromPng(target);
    if (status != 0 || !shot) throw std::runtime_error("gnome-shell's screenshot failed:\n" + fileText(folder_ + "/tools.log"));
    return *shot;
}

bool Desktop::overviewActive() const
{
    if (kind_ != DesktopKind::gnomeShell) throw std::logic_error("only gnome-shell has an overview");
    int status = 0;
    const std::string reply = run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                                   "/org/gnome/Shell", "--method", "org.freedesktop.DBus.Properties.Get",
                                   "org.gnome.Shell", "OverviewActive"},
                                  &status);
    if (status != 0) throw std::runtime_error("OverviewActive cannot be read:\n" + fileText(folder_ + "/tools.log"));
    return reply.find("true") != std::string::npos;
}

void Desktop::setOverviewActive(bool active) const
{
    if (kind_ != DesktopKind::gnomeShell) throw std::logic_error("only gnome-shell has an overview");
    int status = 0;
    run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell", "--method",
         "org.freedesktop.DBus.Properties.Set", "org.gnome.Shell", "OverviewActive", active ? "<true>" : "<false>"},
        &status);
    if (status != 0) throw std::runtime_error("OverviewActive cannot be set:\n" + fileText(folder_ + "/tools.log"));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (overviewActive() != active) {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("the overview did not follow");
        std::this_thread::sleep_for(50ms);
    }
}

bool Desktop::hdr() const
{
    if (kind_ != DesktopKind::mutter && kind_ != DesktopKind::gnomeShell) throw std::logic_error("gdctl drives mutter");
    int status = 0;
    const std::string shown = run({"gdctl", "show", "--verbose"}, &status);
    if (status != 0) throw std::runtime_error("gdctl show failed:\n" + fileText(folder_ + "/tools.log"));
    const auto at = shown.find("color-mode ");
    if (at == std::string::npos) throw std::runtime_error("gdctl shows no colour mode:\n" + shown);
    return shown.substr(at, shown.find('\n', at) - at).find("bt2100") != std::string::npos;
}

void Desktop::setHdr(bool on) const
{
    if (kind_ != DesktopKind::mutter && kind_ != DesktopKind::gnomeShell) throw std::logic_error("gdctl drives mutter");
    const auto all = outputs();
    if (all.empty()) throw std::runtime_error("no output");
    int status = 0;
    run({"gdctl", "set", "--logical-monitor", "--primary", "--monitor", all[0].name, "--color-mode",
         on ? "bt2100" : "default"},
        &status);
    if (status != 0) throw std::runtime_error("gdctl set failed:\n" + fileText(folder_ + "/tools.log"));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (hdr() != on) {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("the colour mode did not follow");
        std::this_thread::sleep_for(50ms);
    }
}

std::unique_ptr<ChildProcess> Desktop::cover(const Rgb& colour) const
{
    auto client = std::make_unique<ChildProcess>(
        std::vector<std::string>{PP_WAYLAND_TEST_CLIENT_PATH, "--colour", hexOf(colour)}, env());
    const auto deadline = std::chrono::steady_clock::now() + READY_TIME;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const auto line = client->readLine(left);
        if (!line) break;
        if (line->rfind("presented", 0) == 0 || *line == "frame") return client;
    }
    throw std::runtime_error("the covering client showed no frame:\n" + client->errorOutput());
}

std::string Desktop::log() const
{
    return fileText(folder_ + "/desktop.log");
}

// Kills the namespace's first process, which ends every process in the namespace, then reaps unshare;
// whatever might have left the namespace but still uses the runtime folder is killed after.
void Desktop::stopAll()
{
    if (pid_ > 0 && !reaped_) {
        if (init_ > 0 && !hasExited(pid_)) ::kill(init_, SIGKILL);
        ::kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        reaped_ = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!namespace_.empty() && std::chrono::steady_clock::now() < deadline) {
        const auto left = processesInMountNamespace(namespace_);
        if (left.empty()) break;
        for (pid_t pid : left) ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(20ms);
    }
    for (pid_t other : processesOf(runtimeDir_)) ::kill(other, SIGKILL);
}

}  // namespace pp::test
