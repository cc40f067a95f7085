#include "compositor.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>


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

#include "process_tools.hpp"
#include "wayland_outputs.hpp"

namespace pp::test {

namespace {

// sway refuses to run as root; it runs as nobody, which can still be reached by root's clients.
constexpr uid_t SWAY_USER = 65534;
constexpr auto READY_TIME = 10s;
constexpr auto TOOL_TIME = 20s;

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
    auto env = this->env();
    if (kind_ == Kind::sway) env["SWAYSOCK"] = swaySocket();
    return runCaptured(argv, env, folder_ + "/tools.log", TOOL_TIME, status, cwd);
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
