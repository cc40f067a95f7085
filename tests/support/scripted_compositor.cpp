#include "scripted_compositor.hpp"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <wayland-server.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <filesystem>
#include <future>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

#include "presentation-time-server-protocol.h"
#include "xdg-output-unstable-v1-server-protocol.h"
#include "xdg-shell-server-protocol.h"

namespace pp::test {

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, the presentation clock
using std::chrono::milliseconds;

constexpr int COMPOSITOR_VERSION = 4;
constexpr int OUTPUT_VERSION = 4;
constexpr int XDG_OUTPUT_VERSION = 3;
constexpr int WM_BASE_VERSION = 5;
// How long one turn of the compositor's loop may block when nothing happens.
constexpr int LOOP_SLICE_MS = 100;

void dropLog(const char*, va_list) {}

timespec monotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// A request the compositor does not act on: ignored, except that "destroy" destroys the object.
int inertDispatch(const void*, void* target, std::uint32_t, const wl_message* message, wl_argument*)
{
    if (std::strcmp(message->name, "destroy") == 0) wl_resource_destroy(static_cast<wl_resource*>(target));
    return 0;
}

wl_resource* inertResource(wl_client* client, const wl_interface* interface, int version, std::uint32_t id)
{
    wl_resource* resource = wl_resource_create(client, interface, version, id);
    if (!resource) {
        wl_client_post_no_memory(client);
        return nullptr;
    }
    wl_resource_set_dispatcher(resource, inertDispatch, nullptr, nullptr, nullptr);
    return resource;
}

void destroyResource(wl_client*, wl_resource* resource)
{
    wl_resource_destroy(resource);
}

// A wl_buffer held by a surface, forgotten when the client destroys it.
struct BufferRef {
    wl_listener listener{};  // first: the listener leads back to its BufferRef
    wl_resource* resource = nullptr;

    BufferRef() = default;
    BufferRef(const BufferRef&) = delete;
    BufferRef& operator=(const BufferRef&) = delete;
    ~BufferRef() { clear(); }

    void set(wl_resource* buffer)
    {
        if (buffer == resource) return;
        clear();
        if (!buffer) return;
        resource = buffer;
        listener.notify = gone;
        wl_resource_add_destroy_listener(buffer, &listener);
    }
    void clear()
    {
        if (!resource) return;
        wl_list_remove(&listener.link);
        resource = nullptr;
    }
    static void gone(wl_listener* listener, void*)
    {
        auto* self = reinterpret_cast<BufferRef*>(listener);
        wl_list_remove(&listener->link);
        self->resource = nullptr;
    }
};

// The 8-bit 0x00RRGGBB of one buffer pixel.
std::uint32_t rgbOf(std::uint32_t pixel, std::uint32_t format)
{
    if (format == WL_SHM_FORMAT_XRGB2101010 || format == WL_SHM_FORMAT_ARGB2101010) {
        auto reduce = [](std::uint32_t v) { return (v * 255 + 511) / 1023; };
        return reduce((pixel >> 20) & 1023) << 16 | reduce((pixel >> 10) & 1023) << 8 | reduce(pixel & 1023);
    }
    return pixel & 0xFFFFFF;
}

}  // namespace

struct ScriptedCompositor::Server {
    struct Surface;

    struct OutputGlobal {
        Server* server = nullptr;
        std::size_t index = 0;
        ScriptedOutput output;
        wl_global* global = nullptr;
        std::vector<wl_resource*> resources;  // the wl_output objects clients bound
    };

    // An xdg_surface and, once it has one, its toplevel.
    struct XdgSurface {
        Server* server = nullptr;
        wl_resource* resource = nullptr;
        Surface* surface = nullptr;
        wl_resource* toplevel = nullptr;
        bool configured = false;  // the initial configure was sent
        bool acked = false;       // a configure was acknowledged since the last commit
        bool entered = false;     // the surface was sent into its output
        int fullscreenOutput = -1;
    };

    struct Surface {
        Server* server = nullptr;
        wl_resource* resource = nullptr;
        XdgSurface* role = nullptr;
        // Pending state, applied by the next commit.
        bool attached = false;
        BufferRef pending;
        std::vector<std::array<int, 4>> bufferDamage;
        bool surfaceDamage = false;
        std::vector<wl_resource*> callbacks;
        std::vector<wl_resource*> feedbacks;
        // Current state.
        BufferRef current;
        int width = 0, height = 0;
        std::uint32_t format = 0;
        std::size_t output = 0;  // the output it is shown on
    };

    // One commit's frame callbacks and presentation feedback, on their way to the client.
    struct Frame {
        Surface* surface = nullptr;
        int number = 0;  // the toplevel's commit number; 0 for other surfaces
        std::vector<wl_resource*> callbacks;
        std::vector<wl_resource*> feedbacks;
        std::optional<Clock::time_point> composeAt;  // none while frame callbacks are withheld
        bool composed = false;
        FeedbackRule rule = FeedbackRule::present;
        milliseconds delay{0};
        std::optional<Clock::time_point> reportAt;
    };

    // A listener that leads back to the server.
    struct Listener {
        wl_listener listener{};  // first: the wl_listener's address is the Listener's
        Server* server = nullptr;
    };

    explicit Server(ScriptedOptions opts);
    ~Server();
    // Stops the thread, destroys the clients and the display, removes the folder.
    void shutdown();

    // Runs `task` on the compositor's thread and waits for it.
    void run(std::function<void()> task);
    void serve();

    void bindGlobals();
    void commit(Surface& surface);
    void copyDamage(Surface& surface, wl_shm_buffer* shm, bool whole);
    void process();
    void report(Frame& frame, bool presented);
    void forget(wl_resource* resource);
    void forgetSurface(Surface* surface);
    void sendConfigure(XdgSurface& xdg, int width, int height, bool fullscreen);
    void sendOutputChange(XdgSurface& xdg, std::size_t index, bool enter);
    std::vector<wl_resource*> outputResources(std::size_t index, wl_client* client) const;
    std::optional<std::size_t> outputIndexOf(wl_resource* output) const;
    void answerWithheld();

    ScriptedOptions options;
    std::string folder;
    std::string socket = "wayland-1";
    std::string socketPath;

    wl_display* display = nullptr;
    wl_event_loop* loop = nullptr;
    int wakeFd = -1;
    wl_event_source* wakeSource = nullptr;
    wl_event_source* timer = nullptr;
    Listener clientCreated;
    std::thread thread;
    std::atomic<bool> stopping{false};

    std::mutex taskMutex;
    std::deque<std::packaged_task<void()>> tasks;

    // Shared with the test's thread, under `mutex`.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<ScriptedCommit> commitLog;
    std::vector<ScriptedReport> reportLog;
    std::vector<int> fullscreenLog;
    int clients = 0;
    int contentWidth = 0, contentHeight = 0;
    std::uint32_t contentFormat = 0;
    std::vector<std::uint32_t> content;  // 0x00RRGGBB per buffer pixel; empty: no content

    // The compositor thread's own.
    bool answerFullscreen = true;  // set_fullscreen on a shown window is answered with a configure
    std::vector<std::unique_ptr<OutputGlobal>> outputs;
    std::set<Surface*> surfaces;
    std::list<Frame> frames;
    XdgSurface* toplevel = nullptr;
    int commitCount = 0;
    FeedbackRule rule = FeedbackRule::present;
    milliseconds ruleDelay{0};
    int onceLeft = 0;
    FeedbackRule onceRule = FeedbackRule::present;
    milliseconds onceDelay{0};
    bool sendFrames = true;
    milliseconds frameDelay{0};
    milliseconds presentedAhead{0};
    std::uint64_t sequence = 0;
};

using Server = ScriptedCompositor::Server;

namespace {

Server::Surface* surfaceOf(wl_resource* resource)
{
    return static_cast<Server::Surface*>(wl_resource_get_user_data(resource));
}

Server::XdgSurface* xdgOf(wl_resource* resource)
{
    return static_cast<Server::XdgSurface*>(wl_resource_get_user_data(resource));
}

Server* serverOf(wl_resource* resource)
{
    return static_cast<Server*>(wl_resource_get_user_data(resource));
}

// --- wl_callback, wp_presentation_feedback: no requests; forgotten when destroyed ---

void pendingObjectGone(wl_resource* resource)
{
    serverOf(resource)->forget(resource);
}

// --- wl_surface ---

void surfaceAttach(wl_client*, wl_resource* resource, wl_resource* buffer, std::int32_t, std::int32_t)
{
    Server::Surface& s = *surfaceOf(resource);
    s.attached = true;
    s.pending.set(buffer);
}

void surfaceDamage(wl_client*, wl_resource* resource, std::int32_t, std::int32_t, std::int32_t, std::int32_t)
{
    surfaceOf(resource)->surfaceDamage = true;
}

void surfaceFrame(wl_client* client, wl_resource* resource, std::uint32_t id)
{
    Server::Surface& s = *surfaceOf(resource);
    wl_resource* callback = wl_resource_create(client, &wl_callback_interface, 1, id);
    if (!callback) {
        wl_client_post_no_memory(client);
        return;
    }
    wl_resource_set_implementation(callback, nullptr, s.server, pendingObjectGone);
    s.callbacks.push_back(callback);
}

void surfaceRegion(wl_client*, wl_resource*, wl_resource*) {}

void surfaceCommit(wl_client*, wl_resource* resource)
{
    Server::Surface& s = *surfaceOf(resource);
    s.server->commit(s);
}

void surfaceTransform(wl_client*, wl_resource*, std::int32_t) {}

void surfaceScale(wl_client*, wl_resource*, std::int32_t) {}

void surfaceDamageBuffer(wl_client*, wl_resource* resource, std::int32_t x, std::int32_t y, std::int32_t width,
                         std::int32_t height)
{
    surfaceOf(resource)->bufferDamage.push_back({x, y, width, height});
}

void surfaceOffset(wl_client*, wl_resource*, std::int32_t, std::int32_t) {}

const struct wl_surface_interface SURFACE_IMPL = {
    destroyResource, surfaceAttach,      surfaceDamage,     surfaceFrame,        surfaceRegion, surfaceRegion,
    surfaceCommit,   surfaceTransform,   surfaceScale,      surfaceDamageBuffer, surfaceOffset,
};

void surfaceGone(wl_resource* resource)
{
    Server::Surface* s = surfaceOf(resource);
    s->server->forgetSurface(s);
    delete s;
}

// --- wl_compositor ---

void createSurface(wl_client* client, wl_resource* resource, std::uint32_t id)
{
    Server* server = serverOf(resource);
    wl_resource* surface = wl_resource_create(client, &wl_surface_interface, wl_resource_get_version(resource), id);
    if (!surface) {
        wl_client_post_no_memory(client);
        return;
    }
    auto* s = new Server::Surface();
    s->server = server;
    s->resource = surface;
    wl_resource_set_implementation(surface, &SURFACE_IMPL, s, surfaceGone);
    server->surfaces.insert(s);
}

void createRegion(wl_client* client, wl_resource*, std::uint32_t id)
{
    inertResource(client, &wl_region_interface, 1, id);
}

const struct wl_compositor_interface COMPOSITOR_IMPL = {createSurface, createRegion};

void bindCompositor(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
{
    wl_resource* resource = wl_resource_create(client, &wl_compositor_interface, int(version), id);
    if (!resource) return wl_client_post_no_memory(client);
    wl_resource_set_implementation(resource, &COMPOSITOR_IMPL, data, nullptr);
}

// --- wl_output, zxdg_output_manager_v1 ---

const struct wl_output_interface OUTPUT_IMPL = {destroyResource};

void outputGone(wl_resource* resource)
{
    auto* o = static_cast<Server::OutputGlobal*>(wl_resource_get_user_data(resource));
    std::erase(o->resources, resource);
}

void bindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
{
    auto* o = static_cast<Server::OutputGlobal*>(data);
    wl_resource* resource = wl_resource_create(client, &wl_output_interface, int(version), id);
    if (!resource) return wl_client_post_no_memory(client);
    wl_resource_set_implementation(resource, &OUTPUT_IMPL, o, outputGone);
    o->resources.push_back(resource);
    const ScriptedOutput& out = o->output;
    const int mmWidth = out.mmWidth > 0 ? out.mmWidth : int(std::lround(out.width * 25.4 / 96));
    const int mmHeight = out.mmHeight > 0 ? out.mmHeight : int(std::lround(out.height * 25.4 / 96));
    wl_output_send_geometry(resource, out.x, out.y, mmWidth, mmHeight, WL_OUTPUT_SUBPIXEL_UNKNOWN, "scripted",
                            out.name.c_str(), WL_OUTPUT_TRANSFORM_NORMAL);
    wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT | WL_OUTPUT_MODE_PREFERRED, out.width, out.height,
                        out.refreshMillihertz);
    if (version >= WL_OUTPUT_SCALE_SINCE_VERSION) wl_output_send_scale(resource, 1);
    if (version >= WL_OUTPUT_NAME_SINCE_VERSION) {
        wl_output_send_name(resource, out.name.c_str());
        wl_output_send_description(resource, ("scripted output " + out.name).c_str());
    }
    if (version >= WL_OUTPUT_DONE_SINCE_VERSION) wl_output_send_done(resource);
}

const struct zxdg_output_v1_interface XDG_OUTPUT_IMPL = {destroyResource};

void getXdgOutput(wl_client* client, wl_resource* manager, std::uint32_t id, wl_resource* output)
{
    const int version = wl_resource_get_version(manager);
    wl_resource* resource = wl_resource_create(client, &zxdg_output_v1_interface, version, id);
    if (!resource) return wl_client_post_no_memory(client);
    wl_resource_set_implementation(resource, &XDG_OUTPUT_IMPL, nullptr, nullptr);
    auto* o = static_cast<Server::OutputGlobal*>(wl_resource_get_user_data(output));
    const ScriptedOutput& out = o->output;
    zxdg_output_v1_send_logical_position(resource, out.x, out.y);
    zxdg_output_v1_send_logical_size(resource, out.width, out.height);
    if (version >= ZXDG_OUTPUT_V1_NAME_SINCE_VERSION) {
        zxdg_output_v1_send_name(resource, out.name.c_str());
        zxdg_output_v1_send_description(resource, ("scripted output " + out.name).c_str());
    }
    // From version 3 the wl_output's done closes the batch.
    if (version >= 3) {
        if (wl_resource_get_version(output) >= WL_OUTPUT_DONE_SINCE_VERSION) wl_output_send_done(output);
    } else {
        zxdg_output_v1_send_done(resource);
    }
}

const struct zxdg_output_manager_v1_interface XDG_OUTPUT_MANAGER_IMPL = {destroyResource, getXdgOutput};

void bindXdgOutputManager(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
{
    wl_resource* resource = wl_resource_create(client, &zxdg_output_manager_v1_interface, int(version), id);
    if (!resource) return wl_client_post_no_memory(client);
    wl_resource_set_implementation(resource, &XDG_OUTPUT_MANAGER_IMPL, data, nullptr);
}

// --- xdg_toplevel ---

void toplevelIgnore(wl_client*, wl_resource*) {}
void toplevelParent(wl_client*, wl_resource*, wl_resource*) {}
void toplevelText(wl_client*, wl_resource*, const char*) {}
void toplevelMenu(wl_client*, wl_resource*, wl_resource*, std::uint32_t, std::int32_t, std::int32_t) {}
void toplevelMove(wl_client*, wl_resource*, wl_resource*, std::uint32_t) {}
void toplevelResize(wl_client*, wl_resource*, wl_resource*, std::uint32_t, std::uint32_t) {}
void toplevelSize(wl_client*, wl_resource*, std::int32_t, std::int32_t) {}

void toplevelFullscreen(wl_client*, wl_resource* resource, wl_resource* output)
{
    Server::XdgSurface* xdg = xdgOf(resource);
    if (!xdg) return;
    Server& server = *xdg->server;
    const std::optional<std::size_t> index = output ? server.outputIndexOf(output) : std::nullopt;
    xdg->fullscreenOutput = index ? int(*index) : -1;
    {
        std::lock_guard lock(server.mutex);
        server.fullscreenLog.push_back(xdg->fullscreenOutput);
    }
    // A window already shown is moved to the output it names.
    if (xdg->configured && server.answerFullscreen) {
        if (xdg->surface) xdg->surface->output = index.value_or(0);
        const ScriptedOutput& out = server.outputs.at(index.value_or(0))->output;
        server.sendConfigure(*xdg, out.width, out.height, true);
    }
}

const struct xdg_toplevel_interface TOPLEVEL_IMPL = {
    destroyResource, toplevelParent,  toplevelText,   toplevelText,       toplevelMenu,
    toplevelMove,    toplevelResize,  toplevelSize,   toplevelSize,       toplevelIgnore,
    toplevelIgnore,  toplevelFullscreen, toplevelIgnore, toplevelIgnore,
};

void toplevelGone(wl_resource* resource)
{
    Server::XdgSurface* xdg = xdgOf(resource);
    if (!xdg) return;
    xdg->toplevel = nullptr;
    if (xdg->server->toplevel == xdg) xdg->server->toplevel = nullptr;
}

// --- xdg_surface ---

void getToplevel(wl_client* client, wl_resource* resource, std::uint32_t id)
{
    Server::XdgSurface* xdg = xdgOf(resource);
    wl_resource* toplevel = wl_resource_create(client, &xdg_toplevel_interface, wl_resource_get_version(resource), id);
    if (!toplevel) return wl_client_post_no_memory(client);
    wl_resource_set_implementation(toplevel, &TOPLEVEL_IMPL, xdg, toplevelGone);
    xdg->toplevel = toplevel;
    if (!xdg->server->toplevel) xdg->server->toplevel = xdg;
}

void getPopup(wl_client* client, wl_resource* resource, std::uint32_t id, wl_resource*, wl_resource*)
{
    inertResource(client, &xdg_popup_interface, wl_resource_get_version(resource), id);
}

void setWindowGeometry(wl_client*, wl_resource*, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {}

void ackConfigure(wl_client*, wl_resource* resource, std::uint32_t)
{
    xdgOf(resource)->acked = true;
}

const struct xdg_surface_interface XDG_SURFACE_IMPL = {destroyResource, getToplevel, getPopup, setWindowGeometry,
                                                       ackConfigure};

void xdgSurfaceGone(wl_resource* resource)
{
    Server::XdgSurface* xdg = xdgOf(resource);
    if (xdg->surface) xdg->surface->role = nullptr;
    if (xdg->toplevel) wl_resource_set_user_data(xdg->toplevel, nullptr);
    if (xdg->server->toplevel == xdg) xdg->server->toplevel = nullptr;
    delete xdg;
}

// --- xdg_wm_base ---

void createPositioner(wl_client* client, wl_resource* resource, std::uint32_t id)
{
    inertResource(client, &xdg_positioner_interface, wl_resource_get_version(resource), id);
}

void getXdgSurface(wl_client* client, wl_resource* resource, std::uint32_t id, wl_resource* surface)
{
    wl_resource* xdgResource = wl_resource_create(client, &xdg_surface_interface, wl_resource_get_version(resource), id);
    if (!xdgResource) return wl_client_post_no_memory(client);
    auto* xdg = new Server::XdgSurface();
    xdg->server = serverOf(resource);
    xdg->resource = xdgResource;
    xdg->surface = surfaceOf(surface);
    xdg->surface->role = xdg;
    wl_resource_set_implementation(xdgResource, &XDG_SURFACE_IMPL, xdg, xdgSurfaceGone);
}

void pong(wl_client*, wl_resource*, std::uint32_t) {}

const struct xdg_wm_base_interface WM_BASE_IMPL = {destroyResource, createPositioner, getXdgSurface, pong};

void bindWmBase(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
{
    wl_resource* resource = wl_resource_create(client, &xdg_wm_base_interface, int(version), id);
    if (!resource) return wl_client_post_no_memory(client);
    wl_resource_set_implementation(resource, &WM_BASE_IMPL, data, nullptr);
    // The client answers pings in its event handling; one is sent at once, as desktops do.
    xdg_wm_base_send_ping(resource, wl_display_next_serial(static_cast<Server*>(data)->display));
}

// --- wp_presentation ---

void presentationFeedback(wl_client* client, wl_resource* resource, wl_resource* surface, std::uint32_t id)
{
    Server::Surface& s = *surfaceOf(surface);
    wl_resource* feedback = wl_resource_create(client, &wp_presentation_feedback_interface, 1, id);
    if (!feedback) return wl_client_post_no_memory(client);
    wl_resource_set_implementation(feedback, nullptr, serverOf(resource), pendingObjectGone);
    s.feedbacks.push_back(feedback);
}

const struct wp_presentation_interface PRESENTATION_IMPL = {destroyResource, presentationFeedback};

void bindPresentation(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
{
    wl_resource* resource = wl_resource_create(client, &wp_presentation_interface, int(version), id);
    if (!resource) return wl_client_post_no_memory(client);
    wl_resource_set_implementation(resource, &PRESENTATION_IMPL, data, nullptr);
    wp_presentation_send_clock_id(resource, CLOCK_MONOTONIC);
}

// --- the loop's sources ---

int wake(int fd, std::uint32_t, void* data)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof count);
    auto* server = static_cast<Server*>(data);
    while (true) {
        std::packaged_task<void()> task;
        {
            std::lock_guard lock(server->taskMutex);
            if (server->tasks.empty()) break;
            task = std::move(server->tasks.front());
            server->tasks.pop_front();
        }
        task();
    }
    return 0;
}

int timerDue(void* data)
{
    static_cast<Server*>(data)->process();
    return 0;
}

void clientGone(wl_listener* listener, void*)
{
    auto* watch = reinterpret_cast<Server::Listener*>(listener);
    wl_list_remove(&listener->link);
    {
        std::lock_guard lock(watch->server->mutex);
        --watch->server->clients;
    }
    watch->server->changed.notify_all();
    delete watch;
}

void clientCame(wl_listener* listener, void* data)
{
    Server* server = reinterpret_cast<Server::Listener*>(listener)->server;
    auto* watch = new Server::Listener();
    watch->server = server;
    watch->listener.notify = clientGone;
    wl_client_add_destroy_listener(static_cast<wl_client*>(data), &watch->listener);
    {
        std::lock_guard lock(server->mutex);
        ++server->clients;
    }
    server->changed.notify_all();
}

std::string makeFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pp-scripted-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    return pattern;
}

}  // namespace

Server::Server(ScriptedOptions opts) : options(std::move(opts))
{
    if (options.outputs.empty()) throw std::invalid_argument("a scripted compositor needs an output");
    if (options.neverReports) rule = FeedbackRule::withhold;
    wl_log_set_handler_server(dropLog);
    try {
        folder = makeFolder();
        socketPath = folder + "/" + socket;
        display = wl_display_create();
        if (!display) throw std::runtime_error("wl_display_create");
        loop = wl_display_get_event_loop(display);

        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (fd < 0 || socketPath.size() >= sizeof address.sun_path) {
            if (fd >= 0) close(fd);
            throw std::runtime_error("no socket for the scripted compositor");
        }
        std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
            wl_display_add_socket_fd(display, fd) != 0) {
            close(fd);
            throw std::runtime_error("cannot listen on " + socketPath + ": " + std::strerror(errno));
        }

        if (wl_display_init_shm(display) != 0) throw std::runtime_error("wl_display_init_shm");
        if (options.deepFormat) wl_display_add_shm_format(display, WL_SHM_FORMAT_XRGB2101010);
        bindGlobals();

        wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) throw std::runtime_error("eventfd");
        wakeSource = wl_event_loop_add_fd(loop, wakeFd, WL_EVENT_READABLE, wake, this);
        timer = wl_event_loop_add_timer(loop, timerDue, this);
        if (!wakeSource || !timer) throw std::runtime_error("the scripted compositor's event sources");
        clientCreated.server = this;
        clientCreated.listener.notify = clientCame;
        wl_display_add_client_created_listener(display, &clientCreated.listener);
    } catch (...) {
        shutdown();
        throw;
    }
    thread = std::thread([this] { serve(); });
}

Server::~Server()
{
    shutdown();
}

void Server::shutdown()
{
    if (thread.joinable()) {
        stopping = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
        thread.join();
    }
    if (display) {
        // The clients' objects are destroyed here, on this thread, now that the compositor's has ended.
        wl_display_destroy_clients(display);
        if (clientCreated.listener.notify) wl_list_remove(&clientCreated.listener.link);
        if (timer) wl_event_source_remove(timer);
        if (wakeSource) wl_event_source_remove(wakeSource);
        timer = wakeSource = nullptr;
        wl_display_destroy(display);
        display = nullptr;
    }
    if (wakeFd >= 0) close(wakeFd);
    wakeFd = -1;
    if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        folder.clear();
    }
}

void Server::serve()
{
    while (!stopping.load()) {
        wl_event_loop_dispatch(loop, LOOP_SLICE_MS);
        wl_display_flush_clients(display);
    }
}

void Server::run(std::function<void()> task)
{
    std::packaged_task<void()> packaged(std::move(task));
    std::future<void> done = packaged.get_future();
    {
        std::lock_guard lock(taskMutex);
        tasks.push_back(std::move(packaged));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
    done.get();
}

void Server::bindGlobals()
{
    wl_global_create(display, &wl_compositor_interface, COMPOSITOR_VERSION, this, bindCompositor);
    for (std::size_t i = 0; i < options.outputs.size(); ++i) {
        auto output = std::make_unique<OutputGlobal>();
        output->server = this;
        output->index = i;
        output->output = options.outputs[i];
        output->global = wl_global_create(display, &wl_output_interface, OUTPUT_VERSION, output.get(), bindOutput);
        outputs.push_back(std::move(output));
    }
    wl_global_create(display, &zxdg_output_manager_v1_interface, XDG_OUTPUT_VERSION, this, bindXdgOutputManager);
    wl_global_create(display, &xdg_wm_base_interface, WM_BASE_VERSION, this, bindWmBase);
    if (options.presentation) wl_global_create(display, &wp_presentation_interface, 1, this, bindPresentation);
}

std::vector<wl_resource*> Server::outputResources(std::size_t index, wl_client* client) const
{
    std::vector<wl_resource*> found;
    if (index >= outputs.size()) return found;
    for (wl_resource* r : outputs[index]->resources) {
        if (wl_resource_get_client(r) == client) found.push_back(r);
    }
    return found;
}

std::optional<std::size_t> Server::outputIndexOf(wl_resource* output) const
{
    if (!wl_resource_instance_of(output, &wl_output_interface, &OUTPUT_IMPL)) return std::nullopt;
    return static_cast<OutputGlobal*>(wl_resource_get_user_data(output))->index;
}

void Server::commit(Surface& s)
{
    const bool attached = std::exchange(s.attached, false);
    if (attached) {
        wl_resource* buffer = s.pending.resource;
        s.pending.clear();
        // The buffer it replaces is the client's again.
        if (s.current.resource && s.current.resource != buffer) wl_buffer_send_release(s.current.resource);
        s.current.set(buffer);
        wl_shm_buffer* shm = buffer ? wl_shm_buffer_get(buffer) : nullptr;
        s.width = shm ? wl_shm_buffer_get_width(shm) : 0;
        s.height = shm ? wl_shm_buffer_get_height(shm) : 0;
        s.format = shm ? wl_shm_buffer_get_format(shm) : 0;
    }

    XdgSurface* xdg = s.role && s.role->toplevel && s.role == toplevel ? s.role : nullptr;
    int number = 0;
    if (xdg) {
        ScriptedCommit c;
        c.number = number = ++commitCount;
        c.bufferWidth = s.width;
        c.bufferHeight = s.height;
        c.format = s.format;
        c.damage = s.bufferDamage;
        c.wholeDamage = s.width > 0 && (s.surfaceDamage || std::any_of(c.damage.begin(), c.damage.end(), [&](const auto& r) {
                                            return r[0] <= 0 && r[1] <= 0 && std::int64_t(r[0]) + r[2] >= s.width &&
                                                   std::int64_t(r[1]) + r[3] >= s.height;
                                        }));
        c.newBuffer = attached && s.current.resource;
        c.frameCallback = !s.callbacks.empty();
        c.feedback = !s.feedbacks.empty();
        c.afterConfigure = std::exchange(xdg->acked, false);
        {
            std::lock_guard lock(mutex);
            wl_shm_buffer* shm = s.current.resource ? wl_shm_buffer_get(s.current.resource) : nullptr;
            if (attached && !s.current.resource) {
                content.clear();
                contentWidth = contentHeight = 0;
            } else if (shm && (c.wholeDamage || !c.damage.empty())) {
                copyDamage(s, shm, c.wholeDamage);
            }
            commitLog.push_back(std::move(c));
        }
        changed.notify_all();
    }

    // Superseded: what earlier commits of this surface still wait to report is discarded.
    for (Frame& f : frames) {
        if (f.surface == &s && !f.feedbacks.empty() && f.rule != FeedbackRule::withhold) report(f, false);
    }
    Frame frame;
    frame.surface = &s;
    frame.number = number;
    frame.callbacks = std::exchange(s.callbacks, {});
    frame.feedbacks = std::exchange(s.feedbacks, {});
    if (sendFrames) frame.composeAt = Clock::now() + frameDelay;
    if (!frame.feedbacks.empty()) {
        if (onceLeft > 0) {
            --onceLeft;
            frame.rule = onceRule;
            frame.delay = onceDelay;
        } else {
            frame.rule = rule;
            frame.delay = ruleDelay;
        }
    }
    frames.push_back(std::move(frame));
    s.bufferDamage.clear();
    s.surfaceDamage = false;

    if (xdg && !xdg->configured) {
        // The initial commit: the window is made full screen on the output it asked for.
        xdg->configured = true;
        s.output = xdg->fullscreenOutput >= 0 ? std::size_t(xdg->fullscreenOutput) : 0;
        const ScriptedOutput& out = outputs[s.output]->output;
        const int version = wl_resource_get_version(xdg->toplevel);
        if (version >= XDG_TOPLEVEL_CONFIGURE_BOUNDS_SINCE_VERSION) {
            xdg_toplevel_send_configure_bounds(xdg->toplevel, out.width, out.height);
        }
        if (version >= XDG_TOPLEVEL_WM_CAPABILITIES_SINCE_VERSION) {
            wl_array capabilities;
            wl_array_init(&capabilities);
            if (auto* c = static_cast<std::uint32_t*>(wl_array_add(&capabilities, sizeof(std::uint32_t)))) {
                *c = XDG_TOPLEVEL_WM_CAPABILITIES_FULLSCREEN;
            }
            xdg_toplevel_send_wm_capabilities(xdg->toplevel, &capabilities);
            wl_array_release(&capabilities);
        }
        sendConfigure(*xdg, out.width, out.height, true);
    } else if (xdg && attached && s.current.resource && !xdg->entered) {
        xdg->entered = true;
        sendOutputChange(*xdg, s.output, true);
    }
    process();
}

void Server::copyDamage(Surface& s, wl_shm_buffer* shm, bool whole)
{
    const int width = wl_shm_buffer_get_width(shm);
    const int height = wl_shm_buffer_get_height(shm);
    const std::uint32_t format = wl_shm_buffer_get_format(shm);
    const std::int64_t stride = wl_shm_buffer_get_stride(shm);
    // A buffer of another size or format replaces the content whole, as a new texture would.
    if (content.empty() || contentWidth != width || contentHeight != height || contentFormat != format) {
        content.assign(std::size_t(width) * std::size_t(height), 0);
        contentWidth = width;
        contentHeight = height;
        contentFormat = format;
        whole = true;
    }
    const std::vector<std::array<int, 4>> all = {{0, 0, width, height}};
    const auto& rects = whole ? all : s.bufferDamage;
    wl_shm_buffer_begin_access(shm);
    const auto* data = static_cast<const std::uint8_t*>(wl_shm_buffer_get_data(shm));
    for (const auto& r : rects) {
        const int x0 = std::max(0, r[0]), y0 = std::max(0, r[1]);
        const int x1 = int(std::min<std::int64_t>(width, std::int64_t(r[0]) + std::max(0, r[2])));
        const int y1 = int(std::min<std::int64_t>(height, std::int64_t(r[1]) + std::max(0, r[3])));
        for (int y = y0; y < y1; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
            for (int x = x0; x < x1; ++x) content[std::size_t(y) * std::size_t(width) + std::size_t(x)] = rgbOf(row[x], format);
        }
    }
    wl_shm_buffer_end_access(shm);
}

void Server::process()
{
    const auto now = Clock::now();
    for (Frame& f : frames) {
        if (!f.composed && f.composeAt && *f.composeAt <= now) {
            f.composed = true;
            const timespec t = monotonicNow();
            const auto ms = std::uint32_t(std::int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
            for (wl_resource* callback : std::exchange(f.callbacks, {})) {
                wl_callback_send_done(callback, ms);
                wl_resource_destroy(callback);
            }
            if (f.rule != FeedbackRule::withhold) f.reportAt = now + f.delay;
        }
        if (f.composed && f.reportAt && *f.reportAt <= now && !f.feedbacks.empty()) {
            report(f, f.rule == FeedbackRule::present);
        }
    }
    frames.remove_if([](const Frame& f) { return f.callbacks.empty() && f.feedbacks.empty(); });

    std::optional<Clock::time_point> next;
    for (const Frame& f : frames) {
        std::optional<Clock::time_point> due;
        if (!f.composed) {
            due = f.composeAt;
        } else if (!f.feedbacks.empty()) {
            due = f.reportAt;
        }
        if (due && (!next || *due < *next)) next = due;
    }
    int ms = 0;
    if (next) {
        const auto left = std::chrono::ceil<milliseconds>(*next - Clock::now()).count();
        ms = int(std::max<std::int64_t>(1, left));
    }
    wl_event_source_timer_update(timer, ms);
}

void Server::report(Frame& f, bool presented)
{
    timespec t = monotonicNow();
    t.tv_nsec += long(presentedAhead.count()) * 1000000L;
    t.tv_sec += t.tv_nsec / 1000000000L;
    t.tv_nsec %= 1000000000L;
    if (presented) ++sequence;
    const int millihertz = outputs[std::min(f.surface->output, outputs.size() - 1)]->output.refreshMillihertz;
    const auto refresh = millihertz > 0 ? std::uint32_t(1000000000000LL / millihertz) : 0u;
    for (wl_resource* feedback : std::exchange(f.feedbacks, {})) {
        if (presented) {
            for (wl_resource* output : outputResources(f.surface->output, wl_resource_get_client(feedback))) {
                wp_presentation_feedback_send_sync_output(feedback, output);
            }
            const auto seconds = std::uint64_t(t.tv_sec);
            wp_presentation_feedback_send_presented(
                feedback, std::uint32_t(seconds >> 32), std::uint32_t(seconds), std::uint32_t(t.tv_nsec), refresh,
                std::uint32_t(sequence >> 32), std::uint32_t(sequence),
                WP_PRESENTATION_FEEDBACK_KIND_VSYNC | WP_PRESENTATION_FEEDBACK_KIND_HW_CLOCK |
                    WP_PRESENTATION_FEEDBACK_KIND_HW_COMPLETION);
        } else {
            wp_presentation_feedback_send_discarded(feedback);
        }
        wl_resource_destroy(feedback);
    }
    if (f.number > 0) {
        {
            std::lock_guard lock(mutex);
            reportLog.push_back({f.number, presented, presented ? double(t.tv_sec) + double(t.tv_nsec) / 1e9 : 0});
        }
        changed.notify_all();
    }
}

void Server::forget(wl_resource* resource)
{
    for (Surface* s : surfaces) {
        std::erase(s->callbacks, resource);
        std::erase(s->feedbacks, resource);
    }
    for (Frame& f : frames) {
        std::erase(f.callbacks, resource);
        std::erase(f.feedbacks, resource);
    }
}

void Server::forgetSurface(Surface* s)
{
    surfaces.erase(s);
    frames.remove_if([s](const Frame& f) { return f.surface == s; });
    if (s->role) s->role->surface = nullptr;
}

void Server::sendConfigure(XdgSurface& xdg, int width, int height, bool fullscreen)
{
    if (!xdg.toplevel) return;
    wl_array states;
    wl_array_init(&states);
    auto add = [&states](std::uint32_t state) {
        if (auto* at = static_cast<std::uint32_t*>(wl_array_add(&states, sizeof state))) *at = state;
    };
    if (fullscreen) add(XDG_TOPLEVEL_STATE_FULLSCREEN);
    add(XDG_TOPLEVEL_STATE_ACTIVATED);
    xdg_toplevel_send_configure(xdg.toplevel, width, height, &states);
    wl_array_release(&states);
    xdg_surface_send_configure(xdg.resource, wl_display_next_serial(display));
}

void Server::sendOutputChange(XdgSurface& xdg, std::size_t index, bool enter)
{
    if (!xdg.surface) return;
    for (wl_resource* output : outputResources(index, wl_resource_get_client(xdg.surface->resource))) {
        if (enter) {
            wl_surface_send_enter(xdg.surface->resource, output);
        } else {
            wl_surface_send_leave(xdg.surface->resource, output);
        }
    }
}

void Server::answerWithheld()
{
    const auto now = Clock::now();
    for (Frame& f : frames) {
        if (f.rule != FeedbackRule::withhold || f.feedbacks.empty()) continue;
        f.rule = rule;
        f.delay = ruleDelay;
        if (f.composed && rule != FeedbackRule::withhold) f.reportAt = now + ruleDelay;
    }
    process();
}

// --- the test's side ---

ScriptedCompositor::ScriptedCompositor(ScriptedOptions options)
    : server_(std::make_unique<Server>(std::move(options)))
{
}

ScriptedCompositor::~ScriptedCompositor() = default;

std::map<std::string, std::string> ScriptedCompositor::env() const
{
    std::map<std::string, std::string> variables;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "SWAYSOCK", "I3SOCK"}) variables[name] = "";
    variables["WAYLAND_DISPLAY"] = server_->socket;
    variables["XDG_RUNTIME_DIR"] = server_->folder;
    return variables;
}

const std::string& ScriptedCompositor::runtimeDir() const
{
    return server_->folder;
}

const std::string& ScriptedCompositor::socketName() const
{
    return server_->socket;
}

void ScriptedCompositor::setFeedback(FeedbackRule rule, milliseconds delay)
{
    Server& s = *server_;
    s.run([&] {
        s.rule = rule;
        s.ruleDelay = delay;
        s.onceLeft = 0;
        s.answerWithheld();
    });
}

void ScriptedCompositor::setPresentedAhead(milliseconds ahead)
{
    Server& s = *server_;
    s.run([&] { s.presentedAhead = ahead; });
}

void ScriptedCompositor::setFeedbackFor(int commits, FeedbackRule rule, milliseconds delay)
{
    Server& s = *server_;
    s.run([&] {
        s.onceLeft = std::max(0, commits);
        s.onceRule = rule;
        s.onceDelay = delay;
    });
}

void ScriptedCompositor::setFrameCallbacks(bool send, milliseconds delay)
{
    Server& s = *server_;
    s.run([&] {
        s.sendFrames = send;
        s.frameDelay = delay;
        if (send) {
            // What was kept while withheld goes out at once.
            const auto now = Clock::now();
            for (Server::Frame& f : s.frames) {
                if (!f.composed && !f.composeAt) f.composeAt = now;
            }
        }
        s.process();
    });
}

void ScriptedCompositor::setFullscreenAnswered(bool answer)
{
    Server& s = *server_;
    s.run([&] { s.answerFullscreen = answer; });
}

void ScriptedCompositor::configure(int width, int height, bool fullscreen)
{
    Server& s = *server_;
    s.run([&] {
        if (s.toplevel) s.sendConfigure(*s.toplevel, width, height, fullscreen);
    });
}

void ScriptedCompositor::enterOutput(std::size_t index)
{
    Server& s = *server_;
    if (index >= s.options.outputs.size()) throw std::out_of_range("no output " + std::to_string(index));
    s.run([&] {
        if (!s.toplevel) return;
        if (s.toplevel->surface) s.toplevel->surface->output = index;
        s.sendOutputChange(*s.toplevel, index, true);
    });
}

void ScriptedCompositor::leaveOutput(std::size_t index)
{
    Server& s = *server_;
    if (index >= s.options.outputs.size()) throw std::out_of_range("no output " + std::to_string(index));
    s.run([&] {
        if (s.toplevel) s.sendOutputChange(*s.toplevel, index, false);
    });
}

std::vector<ScriptedCommit> ScriptedCompositor::commits() const
{
    std::lock_guard lock(server_->mutex);
    return server_->commitLog;
}

bool ScriptedCompositor::waitFor(const std::function<bool(const std::vector<ScriptedCommit>&)>& predicate,
                                 milliseconds timeout) const
{
    std::unique_lock lock(server_->mutex);
    return server_->changed.wait_for(lock, timeout, [&] { return predicate(server_->commitLog); });
}

std::vector<ScriptedReport> ScriptedCompositor::reports() const
{
    std::lock_guard lock(server_->mutex);
    return server_->reportLog;
}

std::vector<int> ScriptedCompositor::fullscreenRequests() const
{
    std::lock_guard lock(server_->mutex);
    return server_->fullscreenLog;
}

std::array<int, 3> ScriptedCompositor::pixel(int x, int y) const
{
    std::lock_guard lock(server_->mutex);
    const Server& s = *server_;
    if (s.content.empty()) throw std::runtime_error("the scripted compositor holds no content");
    if (x < 0 || y < 0 || x >= s.contentWidth || y >= s.contentHeight) {
        throw std::out_of_range("pixel " + std::to_string(x) + "," + std::to_string(y) + " is outside the content");
    }
    const std::uint32_t rgb = s.content[std::size_t(y) * std::size_t(s.contentWidth) + std::size_t(x)];
    return {int(rgb >> 16), int((rgb >> 8) & 255), int(rgb & 255)};
}

bool ScriptedCompositor::clientConnected() const
{
    std::lock_guard lock(server_->mutex);
    return server_->clients > 0;
}

}  // namespace pp::test
