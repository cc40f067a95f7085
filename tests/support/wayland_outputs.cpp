#include "wayland_outputs.hpp"

#include <poll.h>

#include <wayland-client.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace pp::test {

namespace {

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

}  // namespace

std::optional<std::vector<CompositorOutput>> protocolOutputs(const std::string& socketPath,
                                                            std::chrono::milliseconds timeout)
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

bool matches(const std::vector<CompositorOutput>& outputs, const std::vector<CompositorOutput>& expected)
{
    if (outputs.size() != expected.size()) return false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& want = expected[i];
        if (want.pixelWidth == 0) continue;
        const auto found = want.name.empty() ? outputs.begin() + static_cast<std::ptrdiff_t>(i)
                                             : std::find_if(outputs.begin(), outputs.end(),
                                                            [&](const auto& o) { return o.name == want.name; });
        if (found == outputs.end() || found->pixelWidth != want.pixelWidth || found->pixelHeight != want.pixelHeight ||
            found->scale != want.scale) {
            return false;
        }
    }
    return true;
}

}  // namespace pp::test
