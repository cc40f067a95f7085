#include "compositor.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wayland-client.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace pp::test {

namespace {

// sway refuses to run as root; it runs as nobody, which can still be reached by root's clients.
constexpr uid_t SWAY_USER = 65534;
constexpr auto READY_TIME = 10s;
constexpr auto TOOL_TIME = 20s;

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

// The variables that would lead a client or a compositor to another display than the one meant.
const std::vector<std::string> FOREIGN_VARIABLES = {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "SWAYSOCK",
                                                    "I3SOCK"};

// Sets up a forked child's environment: foreign display variables removed, then `env` applied (an
// empty value removes the variable).
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

// The processes, other than this one and its own children (the test's clients), whose environment
// names `runtimeDir` as their XDG_RUNTIME_DIR: what a compositor started, even in a session of its own.
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

// --- Reading the outputs through the Wayland protocol, as a client sees them ---

struct ProtocolOutput {
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    CompositorOutput info;
};

struct Registry {
    std::vector<std::unique_ptr<ProtocolOutput>> outputs;
    zxdg_output_manager_v1* xdgManager = nullptr;
};

void onGeometry(void* data, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char* make,
                const char* model, int32_t)
{
    auto* o = static_cast<ProtocolOutput*>(data);
    o->info.make = make;
    o->info.model = model;
}

void onMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    auto* o = static_cast<ProtocolOutput*>(data);
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        o->info.pixelWidth = width;
        o->info.pixelHeight = height;
    }
}

void onDone(void*, wl_output*) {}

void onScale(void* data, wl_output*, int32_t factor)
{
    static_cast<ProtocolOutput*>(data)->info.scale = factor;
}

void onName(void* data, wl_output*, const char* name)
{
    static_cast<ProtocolOutput*>(data)->info.name = name;
}

void onDescription(void*, wl_output*, const char*) {}

const wl_output_listener OUTPUT_LISTENER = {onGeometry, onMode, onDone, onScale, onName, onDescription};

void onLogicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y)
{
    auto* o = static_cast<ProtocolOutput*>(data);
    o->info.x = x;
    o->info.y = y;
}

void onLogicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height)
{
    auto* o = static_cast<ProtocolOutput*>(data);
    o->info.logicalWidth = width;
    o->info.logicalHeight = height;
}

void onXdgDone(void*, zxdg_output_v1*) {}

void onXdgName(void* data, zxdg_output_v1*, const char* name)
{
    auto* o = static_cast<ProtocolOutput*>(data);
    if (o->info.name.empty()) o->info.name = name;
}

void onXdgDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener XDG_OUTPUT_LISTENER = {onLogicalPosition, onLogicalSize, onXdgDone, onXdgName,
                                                     onXdgDescription};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* r = static_cast<Registry*>(data);
    if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto o = std::make_unique<ProtocolOutput>();
        o->output = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, std::min<uint32_t>(version, 4)));
        wl_output_add_listener(o->output, &OUTPUT_LISTENER, o.get());
        r->outputs.push_back(std::move(o));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        r->xdgManager = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, std::min<uint32_t>(version, 3)));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener REGISTRY_LISTENER = {onGlobal, onGlobalRemove};

void onSyncDone(void* data, wl_callback*, uint32_t)
{
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener SYNC_LISTENER = {onSyncDone};

// A round trip that gives up at the deadline, so that a compositor that hangs fails the test instead
// of stalling it.
bool roundtrip(wl_display* display, std::chrono::steady_clock::time_point deadline)
{
    bool done = false;
    wl_callback* sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &SYNC_LISTENER, &done);
    while (!done) {
        while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
        wl_display_flush(display);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{wl_display_get_fd(display), POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            wl_display_cancel_read(display);
            break;
        }
        if (wl_display_read_events(display) != 0 || wl_display_dispatch_pending(display) < 0) break;
    }
    wl_callback_destroy(sync);
    return done;
}

// The outputs as a client connecting to the socket sees them; none when it cannot connect or the
// compositor does not answer in time.
std::optional<std::vector<CompositorOutput>> protocolOutputs(const std::string& socketPath,
                                                            std::chrono::milliseconds timeout = 3s)
{
    wl_display* display = wl_display_connect(socketPath.c_str());
    if (!display) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Registry registry;
    wl_registry* wlRegistry = wl_display_get_registry(display);
    wl_registry_add_listener(wlRegistry, &REGISTRY_LISTENER, &registry);
    bool answered = roundtrip(display, deadline);
    if (answered && registry.xdgManager) {
        for (auto& o : registry.outputs) {
            o->xdgOutput = zxdg_output_manager_v1_get_xdg_output(registry.xdgManager, o->output);
            zxdg_output_v1_add_listener(o->xdgOutput, &XDG_OUTPUT_LISTENER, o.get());
        }
    }
    answered = answered && roundtrip(display, deadline);
    std::vector<CompositorOutput> outputs;
    for (auto& o : registry.outputs) {
        outputs.push_back(o->info);
        if (o->xdgOutput) zxdg_output_v1_destroy(o->xdgOutput);
        wl_output_destroy(o->output);
    }
    if (registry.xdgManager) zxdg_output_manager_v1_destroy(registry.xdgManager);
    wl_registry_destroy(wlRegistry);
    wl_display_disconnect(display);
    if (!answered) return std::nullopt;
    return outputs;
}

// Whether the outputs are the ones asked for: the same count and, for each output asked for with a
// mode (pixel width above 0), the output of that name with that mode and scale.
bool matches(const std::vector<CompositorOutput>& outputs, const std::vector<CompositorOutput>& expected)
{
    if (outputs.size() != expected.size()) return false;
    for (const auto& want : expected) {
        if (want.pixelWidth == 0) continue;
        const auto found = std::find_if(outputs.begin(), outputs.end(), [&](const auto& o) { return o.name == want.name; });
        if (found == outputs.end() || found->pixelWidth != want.pixelWidth || found->pixelHeight != want.pixelHeight ||
            found->scale != want.scale) {
            return false;
        }
    }
    return true;
}

std::vector<CompositorOutput> swayOutputs(const std::string& json)
{
    std::vector<CompositorOutput> outputs;
    const auto list = nlohmann::json::parse(json, nullptr, false);
    if (!list.is_array()) return outputs;
    for (const auto& o : list) {
        if (!o.value("active", false)) continue;
        CompositorOutput out;
        out.name = o.value("name", "");
        out.x = o["rect"].value("x", 0);
        out.y = o["rect"].value("y", 0);
        out.logicalWidth = o["rect"].value("width", 0);
        out.logicalHeight = o["rect"].value("height", 0);
        out.pixelWidth = o["current_mode"].value("width", 0);
        out.pixelHeight = o["current_mode"].value("height", 0);
        out.scale = o.value("scale", 1.0);
        out.make = o.value("make", "");
        out.model = o.value("model", "");
        out.serial = o.value("serial", "");
        outputs.push_back(out);
    }
    return outputs;
}

// Whether any node of sway's tree below `node` says its idle is inhibited.
bool anyInhibited(const nlohmann::json& node)
{
    if (node.value("inhibit_idle", false)) return true;
    for (const char* children : {"nodes", "floating_nodes"}) {
        if (!node.contains(children)) continue;
        for (const auto& child : node[children]) {
            if (anyInhibited(child)) return true;
        }
    }
    return false;
}

std::string hexColour(const std::string& colour)
{
    return colour.size() == 7 && colour[0] == '#' ? colour.substr(1) : colour;
}

}  // namespace

Compositor::Compositor(Kind kind, std::string folder) : kind_(kind), folder_(std::move(folder)), runtimeDir_(folder_ + "/run")
{
}

Compositor::~Compositor()
{
    stopAll();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void Compositor::launch(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env)
{
    const std::string logPath = folder_ + "/compositor.log";
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        setpgid(0, 0);
        // A test process that crashes takes its compositor with it (setpriv sets this again for sway,
        // since a change of user clears it).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        applyEnvironment(env);
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
}

std::unique_ptr<Compositor> Compositor::startSway(const SwayOptions& o)
{
    std::unique_ptr<Compositor> c(new Compositor(Kind::sway, makeFolder("pp-sway")));
    // The folder is opened so that nobody can read its configuration there; the runtime folder is its own.
    chmod(c->folder_.c_str(), 0755);
    mkdir(c->runtimeDir_.c_str(), 0700);
    if (chown(c->runtimeDir_.c_str(), SWAY_USER, SWAY_USER) != 0) throw std::runtime_error("chown " + c->runtimeDir_);

    std::string config =
        "xwayland disable\n"
        "default_border none\n"
        "default_floating_border none\n"
        "gaps inner 0\n"
        "gaps outer 0\n"
        "focus_follows_mouse no\n";
    if (o.background.empty()) {
        config += "swaybg_command -\n";
    } else {
        config += "output * bg " + o.background + " solid_color\n";
    }
    std::vector<CompositorOutput> expected;
    int x = 0;
    for (int i = 1; i <= o.outputs; ++i) {
        config += "output HEADLESS-" + std::to_string(i) + " mode " + std::to_string(o.width) + "x" +
                  std::to_string(o.height) + " position " + std::to_string(x) + " 0 scale " + std::to_string(o.scale) + "\n";
        x += o.width / o.scale;
        CompositorOutput out;
        out.name = "HEADLESS-" + std::to_string(i);
        // An output that the extra lines configure is left to them.
        const bool reconfigured = std::any_of(o.configLines.begin(), o.configLines.end(), [&](const std::string& line) {
            return line.find(out.name) != std::string::npos || line.find("output *") != std::string::npos;
        });
        if (!reconfigured) {
            out.pixelWidth = o.width;
            out.pixelHeight = o.height;
            out.scale = o.scale;
        }
        expected.push_back(out);
    }
    for (const auto& line : o.configLines) config += line + "\n";
    const std::string configPath = c->folder_ + "/sway.conf";
    std::ofstream(configPath) << config;
    chmod(configPath.c_str(), 0644);

    const std::string id = std::to_string(SWAY_USER);
    c->launch({"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--pdeathsig=KILL", "sway", "-c",
               configPath},
              {{"XDG_RUNTIME_DIR", c->runtimeDir_},
               {"HOME", c->runtimeDir_},
               {"WLR_BACKENDS", "headless"},
               {"WLR_LIBINPUT_NO_DEVICES", "1"},
               {"WLR_RENDERER", "pixman"},
               {"WLR_HEADLESS_OUTPUTS", std::to_string(o.outputs)}});
    c->waitUntilReady(expected);
    return c;
}

std::optional<std::string> colourManagedWeston(std::string* why)
{
    static const std::optional<std::string> found = []() -> std::optional<std::string> {
        if (access("/opt/pp-weston/bin/weston", X_OK) == 0 && access("/opt/pp-weston/bin/weston-screenshooter", X_OK) == 0) {
            return "/opt/pp-weston/bin";
        }
        // "weston 15.0.0" and later manage colour.
        FILE* version = popen("weston --version 2>/dev/null", "r");
        if (!version) return std::nullopt;
        char line[128] = {};
        const bool read = std::fgets(line, sizeof line, version) != nullptr;
        pclose(version);
        int major = 0;
        if (read && std::sscanf(line, "weston %d", &major) == 1 && major >= 15) return "";
        return std::nullopt;
    }();
    if (!found && why) {
        *why = "no colour-managed weston: neither /opt/pp-weston (scripts/install-deps builds it) nor a system "
               "weston of version 15 or later";
    }
    return found;
}

std::unique_ptr<Compositor> Compositor::startWeston(const WestonOptions& o)
{
    std::unique_ptr<Compositor> c(new Compositor(Kind::weston, makeFolder("pp-weston")));
    c->socket_ = "wayland-pp";
    mkdir(c->runtimeDir_.c_str(), 0700);
    // The desktop shell without panel, wallpaper, animations, screen lock or on-screen keyboard. (weston
    // 16's kiosk shell crashes when clients come and go.)
    std::string config = "[shell]\nbackground-image=\nbackground-color=0xff" + hexColour(o.background) +
                         "\npanel-position=none\nlocking=false\nanimation=none\nclose-animation=none\nstartup-animation=none\n"
                         "[input-method]\npath=\n";
    std::vector<std::string> argv;
    if (o.colourManaged) {
        const auto tools = colourManagedWeston();
        if (!tools) throw std::runtime_error("no colour-managed weston");
        c->tools_ = *tools;
        config += std::string("[core]\nidle-time=0\ncolor-management=") + (o.manageColour ? "true" : "false") +
                  "\n[output]\nname=headless\n";
        for (const auto& line : o.outputLines) config += line + "\n";
        argv = {c->tool("weston"), "--backend=headless", "--renderer=gl", "--shell=desktop"};
    } else {
        config += "[core]\nidle-time=0\n";
        argv = {"weston", "--backend=headless-backend.so", "--use-pixman"};
    }
    const std::string configPath = c->folder_ + "/weston.ini";
    std::ofstream(configPath) << config;
    // The headless backend takes the output's size in points.
    for (const std::string& arg : {std::string("--debug"), std::string("--idle-time=0"),
                                   "--width=" + std::to_string(o.width / o.scale),
                                   "--height=" + std::to_string(o.height / o.scale),
                                   "--scale=" + std::to_string(o.scale), "--socket=" + c->socket_,
                                   "--config=" + configPath}) {
        argv.push_back(arg);
    }
    c->launch(argv, {{"XDG_RUNTIME_DIR", c->runtimeDir_}});
    CompositorOutput out;
    out.name = "headless";
    out.pixelWidth = o.width;
    out.pixelHeight = o.height;
    out.scale = o.scale;
    c->waitUntilReady({out});
    return c;
}

namespace {

// Options of either compositor whose outputs have that mode and scale, the rest as they come.
template <class Options>
Options modeAndScale(int width, int height, int scale)
{
    Options options;
    options.width = width;
    options.height = height;
    options.scale = scale;
    return options;
}

}  // namespace

std::unique_ptr<Compositor> startTestCompositor(TestCompositor which, int width, int height, int scale)
{
    if (which == TestCompositor::sway) return Compositor::startSway(modeAndScale<SwayOptions>(width, height, scale));
    auto options = modeAndScale<WestonOptions>(width, height, scale);
    options.colourManaged = which == TestCompositor::colourWeston;
    return Compositor::startWeston(options);
}

std::unique_ptr<Compositor> startOnBackground(Compositor::Kind kind, int width, int height, int scale, int outputs)
{
    const std::string background = "#102030";
    if (kind == Compositor::Kind::sway) {
        auto options = modeAndScale<SwayOptions>(width, height, scale);
        options.outputs = outputs;
        options.background = background;
        return Compositor::startSway(options);
    }
    auto options = modeAndScale<WestonOptions>(width, height, scale);
    options.background = background;
    return Compositor::startWeston(options);
}

const char* testCompositorName(TestCompositor which)
{
    switch (which) {
    case TestCompositor::sway:
        return "sway";
    case TestCompositor::weston:
        return "weston";
    case TestCompositor::colourWeston:
        return "colourWeston";
    }
    return "";
}

// Waits until the socket answers a client and the outputs are announced as asked (on sway also through
// its IPC), polling; throws with the log when the compositor exits or the time runs out.
void Compositor::waitUntilReady(const std::vector<CompositorOutput>& expected)
{
    const auto deadline = std::chrono::steady_clock::now() + READY_TIME;
    while (std::chrono::steady_clock::now() < deadline) {
        if (hasExited(pid_)) throw std::runtime_error("the compositor exited at start:\n" + log());
        if (kind_ == Kind::sway) {
            // sway takes the first free wayland-N name.
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(runtimeDir_, error)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos) socket_ = name;
            }
        }
        const auto seen = protocolOutputs(runtimeDir_ + "/" + socket_, 1s);
        if (seen && matches(*seen, expected)) {
            if (kind_ != Kind::sway) return;
            // Clients must see what sway's IPC says, the extra lines' changes included.
            const auto configured = outputs();
            if (matches(configured, expected) && matches(*seen, configured)) return;
        }
        std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error("the compositor was not ready in time:\n" + log());
}

std::map<std::string, std::string> Compositor::env() const
{
    std::map<std::string, std::string> variables;
    for (const auto& name : FOREIGN_VARIABLES) variables[name] = "";
    variables["WAYLAND_DISPLAY"] = socket_;
    variables["XDG_RUNTIME_DIR"] = runtimeDir_;
    return variables;
}

std::string Compositor::tool(const std::string& name) const
{
    return tools_.empty() ? name : tools_ + "/" + name;
}

std::string Compositor::swaySocket() const
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(runtimeDir_, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("sway-ipc.", 0) == 0) return entry.path().string();
    }
    return "";
}

// Runs a tool as a client of this compositor (in `cwd` when given) and returns its standard output;
// its standard error goes to the folder's tools.log. Killed when it takes longer than TOOL_TIME.
std::string Compositor::runTool(const std::vector<std::string>& argv, int* status, const std::string& cwd) const
{
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    auto env = this->env();
    if (kind_ == Kind::sway) env["SWAYSOCK"] = swaySocket();
    const std::string errorLog = folder_ + "/tools.log";
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
    const auto deadline = std::chrono::steady_clock::now() + TOOL_TIME;
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

std::vector<CompositorOutput> Compositor::outputs() const
{
    if (kind_ == Kind::sway) return swayOutputs(runTool({"swaymsg", "-r", "-t", "get_outputs"}));
    return protocolOutputs(runtimeDir_ + "/" + socket_).value_or(std::vector<CompositorOutput>{});
}

Screenshot Compositor::screenshot(const std::string& outputName) const
{
    if (kind_ == Kind::sway) {
        // Without -s grim captures at the output's own scale: one image pixel per device pixel.
        int status = 0;
        const std::string bytes = runTool({"grim", "-t", "ppm", "-o", outputName, "-"}, &status);
        auto shot = screenshotFromPpm(bytes);
        if (status != 0 || !shot) {
            throw std::runtime_error("grim could not capture " + outputName + ":\n" + fileText(folder_ + "/tools.log"));
        }
        return *shot;
    }
    // weston-screenshooter captures every output into one PNG in its working folder; weston has one.
    const auto all = outputs();
    if (all.size() != 1 || all[0].name != outputName) throw std::runtime_error("weston has no output " + outputName);
    const std::string shots = makeFolder("pp-shot");
    int status = 0;
    runTool({tool("weston-screenshooter")}, &status, shots);
    std::optional<Screenshot> shot;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(shots, error)) {
        if (entry.path().extension() == ".png") shot = screenshotFromPng(entry.path().string());
    }
    std::filesystem::remove_all(shots, error);
    if (status != 0 || !shot) {
        throw std::runtime_error("weston-screenshooter failed:\n" + fileText(folder_ + "/tools.log"));
    }
    return *shot;
}

int Compositor::type(const std::vector<std::string>& wtypeArgs, std::chrono::milliseconds settle) const
{
    if (kind_ != Kind::sway) throw std::logic_error("typing needs sway's virtual keyboard");
    std::vector<std::string> argv = {"wtype", "-s", std::to_string(settle.count())};
    argv.insert(argv.end(), wtypeArgs.begin(), wtypeArgs.end());
    int status = 0;
    runTool(argv, &status);
    return status;
}

std::string Compositor::swaymsg(const std::string& command) const
{
    if (kind_ != Kind::sway) throw std::logic_error("swaymsg needs sway");
    return runTool({"swaymsg", "--", command});
}

std::string Compositor::createOutput() const
{
    std::set<std::string> before;
    for (const auto& o : outputs()) before.insert(o.name);
    swaymsg("create_output");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& o : outputs()) {
            if (!before.count(o.name)) return o.name;
        }
        std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error("sway added no output:\n" + log());
}

bool Compositor::idleInhibited() const
{
    if (kind_ != Kind::sway) throw std::logic_error("the idle state is read from sway's tree");
    const auto tree = nlohmann::json::parse(runTool({"swaymsg", "-r", "-t", "get_tree"}), nullptr, false);
    return !tree.is_discarded() && anyInhibited(tree);
}

void Compositor::kill()
{
    if (pid_ <= 0 || reaped_) return;
    ::kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
}

bool Compositor::running() const
{
    return pid_ > 0 && !reaped_ && !hasExited(pid_);
}

std::string Compositor::log() const
{
    return fileText(folder_ + "/compositor.log");
}

// Ends the compositor's process group (SIGTERM, then SIGKILL once it has gone or after two seconds)
// and then whatever it started outside that group. The leader is reaped last, so its id cannot have
// been given to another process while the group is signalled.
void Compositor::stopAll()
{
    if (pid_ > 0 && !reaped_) {
        ::kill(-pid_, SIGTERM);
        for (int i = 0; i < 100 && !hasExited(pid_); ++i) std::this_thread::sleep_for(20ms);
        ::kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        reaped_ = true;
    }
    for (pid_t other : processesOf(runtimeDir_)) ::kill(other, SIGKILL);
}

}  // namespace pp::test
