#include "platform/wayland/wayland_connection.hpp"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <utility>

#ifdef PP_COLOUR_MANAGEMENT
#include "color-management-v1-client-protocol.h"
#endif

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "presentation-time-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace pp::wayland {

namespace {

// libwayland's own messages would go to standard error; the program reports through its lines.
void dropLog(const char*, va_list) {}

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface, std::uint32_t offered,
        std::uint32_t wanted)
{
    return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

void setText(std::string& into, const char* text)
{
    into = text ? text : "";
}

const wl_shm_listener SHM_LISTENER = {
    [](void* data, wl_shm*, std::uint32_t format) { static_cast<std::set<std::uint32_t>*>(data)->insert(format); },
};

const xdg_wm_base_listener WM_BASE_LISTENER = {
    [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

const wp_presentation_listener PRESENTATION_LISTENER = {
    [](void* data, wp_presentation*, std::uint32_t clock) { *static_cast<clockid_t*>(data) = clockid_t(clock); },
};

}  // namespace

// The listeners reach the connection through their data pointer; they live in the class's scope so
// that they may call its private members.
struct Listeners {
    static void global(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version)
    {
        static_cast<WaylandConnection*>(data)->addGlobal(name, interface, version);
    }
    static void globalRemove(void* data, wl_registry*, std::uint32_t name)
    {
        static_cast<WaylandConnection*>(data)->removeGlobal(name);
    }
    static constexpr wl_registry_listener REGISTRY = {global, globalRemove};

    static void capabilities(void* data, wl_seat*, std::uint32_t capabilities)
    {
        auto* c = static_cast<WaylandConnection*>(data);
        c->seatCapabilities_ = capabilities;
        if (c->onSeatChanged) c->onSeatChanged();
    }
    static void seatName(void*, wl_seat*, const char*) {}
    static constexpr wl_seat_listener SEAT = {capabilities, seatName};

    static void outputDone(Output& output) { output.owner->outputDone(output); }

#ifdef PP_COLOUR_MANAGEMENT
    static void supportedIntent(void* data, wp_color_manager_v1*, std::uint32_t intent)
    {
        if (intent == WP_COLOR_MANAGER_V1_RENDER_INTENT_PERCEPTUAL) static_cast<WaylandConnection*>(data)->perceptual_ = true;
    }
    static void supportedOther(void*, wp_color_manager_v1*, std::uint32_t) {}
    static void managerDone(void*, wp_color_manager_v1*) {}
    static constexpr wp_color_manager_v1_listener MANAGER = {supportedIntent, supportedOther, supportedOther,
                                                             supportedOther, managerDone};

    // The output's encoding changed (HDR switched on, another profile): what it expects is asked again,
    // and whoever follows the output is told.
    static void encodingChanged(void* data, wp_color_management_output_v1*)
    {
        Output& output = *static_cast<Output*>(data);
        output.owner->describeOutput(output);
        if (output.state.done && output.owner->onOutputChanged) output.owner->onOutputChanged(output.state.registryName);
    }
    static constexpr wp_color_management_output_v1_listener COLOUR_OUTPUT = {encodingChanged};

    static void descriptionFailed(void* data, wp_image_description_v1*, std::uint32_t, const char*)
    {
        static_cast<Output*>(data)->owner->forgetDescription(*static_cast<Output*>(data));
    }
    static void descriptionReady(void* data, wp_image_description_v1* description)
    {
        Output& output = *static_cast<Output*>(data);
        output.descriptionReady = true;
        output.arriving = {};
        output.information = wp_image_description_v1_get_information(description);
        wp_image_description_info_v1_add_listener(output.information, &INFORMATION, &output);
    }
    static void ready(void* data, wp_image_description_v1* description, std::uint32_t)
    {
        descriptionReady(data, description);
    }
    static void ready2(void* data, wp_image_description_v1* description, std::uint32_t, std::uint32_t)
    {
        descriptionReady(data, description);
    }
    static constexpr wp_image_description_v1_listener DESCRIPTION = {descriptionFailed, ready, ready2};

    static OutputColour& arriving(void* data) { return static_cast<Output*>(data)->arriving; }
    static void informationDone(void* data, wp_image_description_info_v1* information)
    {
        Output& output = *static_cast<Output*>(data);
        wp_image_description_info_v1_destroy(information);
        output.information = nullptr;
        output.colour = std::make_shared<const OutputColour>(std::move(output.arriving));
        output.arriving = {};
    }
    // The ICC profile comes as a file to map; a size no profile has is not read.
    static void iccFile(void* data, wp_image_description_info_v1*, std::int32_t fd, std::uint32_t size)
    {
        constexpr std::uint32_t MOST_ICC_BYTES = 64u << 20;
        if (size > 0 && size <= MOST_ICC_BYTES) {
            void* bytes = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (bytes != MAP_FAILED) {
                const auto* first = static_cast<const std::uint8_t*>(bytes);
                arriving(data).icc.assign(first, first + size);
                munmap(bytes, size);
            }
        }
        close(fd);
    }
    static void primaries(void* data, wp_image_description_info_v1*, std::int32_t rx, std::int32_t ry, std::int32_t gx,
                          std::int32_t gy, std::int32_t bx, std::int32_t by, std::int32_t wx, std::int32_t wy)
    {
        arriving(data).primaryValues.clear();
        for (std::int32_t v : {rx, ry, gx, gy, bx, by, wx, wy}) arriving(data).primaryValues.push_back(v / 1e6);
    }
    static void primariesNamed(void* data, wp_image_description_info_v1*, std::uint32_t named)
    {
        arriving(data).primaries = primariesName(named);
    }
    static void tfPower(void* data, wp_image_description_info_v1*, std::uint32_t exponent)
    {
        // A named transfer function, sent as well, says more.
        if (arriving(data).transfer.empty()) arriving(data).transfer = powerTransferName(exponent);
    }
    static void tfNamed(void* data, wp_image_description_info_v1*, std::uint32_t named)
    {
        arriving(data).transfer = transferName(named);
    }
    static void luminances(void* data, wp_image_description_info_v1*, std::uint32_t minimum, std::uint32_t maximum,
                           std::uint32_t reference)
    {
        arriving(data).luminance = {minimum / 1e4, double(maximum), double(reference)};
    }
    static void targetPrimaries(void*, wp_image_description_info_v1*, std::int32_t, std::int32_t, std::int32_t,
                                std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t)
    {
    }
    static void targetLuminance(void*, wp_image_description_info_v1*, std::uint32_t, std::uint32_t) {}
    static void targetLevel(void*, wp_image_description_info_v1*, std::uint32_t) {}
    static constexpr wp_image_description_info_v1_listener INFORMATION = {
        informationDone, iccFile, primaries, primariesNamed, tfPower, tfNamed, luminances, targetPrimaries,
        targetLuminance, targetLevel, targetLevel};
#endif
};

namespace {

OutputState& stateOf(void* data)
{
    return static_cast<Output*>(data)->state;
}

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::connect()
{
    wl_log_set_handler_client(dropLog);
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    std::unique_ptr<WaylandConnection> c(new WaylandConnection());
    c->display_ = display;
    c->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(c->registry_, &Listeners::REGISTRY, c.get());
    if (wl_display_roundtrip(display) < 0) return nullptr;
    // A manager announced after some outputs: give those their xdg-output now.
    for (auto& output : c->outputs_) c->watchOutput(*output);
    // The outputs' descriptions, the seat, the formats; then what the xdg-outputs add.
    if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) return nullptr;
    // A compositor that manages colour has sent the outputs' descriptions by now, and their information
    // with the last round trip; one slower to answer gets a few more.
    for (int more = 0; more < 4 && c->descriptionsPending(); ++more) {
        if (wl_display_roundtrip(display) < 0) return nullptr;
    }
    return c;
}

WaylandConnection::~WaylandConnection()
{
    for (auto& output : outputs_) {
        stopDescribing(*output);
        if (output->xdg) zxdg_output_v1_destroy(output->xdg);
        if (output->proxy) wl_output_destroy(output->proxy);
    }
    if (seat_) wl_seat_destroy(seat_);
#ifdef PP_COLOUR_MANAGEMENT
    if (colourManager_) wp_color_manager_v1_destroy(colourManager_);
#endif
    if (idleInhibitManager_) zwp_idle_inhibit_manager_v1_destroy(idleInhibitManager_);
    if (xdgOutputManager_) zxdg_output_manager_v1_destroy(xdgOutputManager_);
    if (viewporter_) wp_viewporter_destroy(viewporter_);
    if (presentation_) wp_presentation_destroy(presentation_);
    if (wmBase_) xdg_wm_base_destroy(wmBase_);
    if (shm_) wl_shm_destroy(shm_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (registry_) wl_registry_destroy(registry_);
    if (display_) wl_display_disconnect(display_);
}

bool WaylandConnection::takesDeepFrames(std::uint32_t registryName) const
{
    const Output* described = output(registryName);
    return described && described->colour && taggingDescription(registryName) &&
           offersFormat(WL_SHM_FORMAT_XRGB2101010);
}

std::vector<const Output*> WaylandConnection::outputs() const
{
    std::vector<const Output*> described;
    for (const auto& output : outputs_) {
        if (output->state.done) described.push_back(output.get());
    }
    return described;
}

const Output* WaylandConnection::output(std::uint32_t registryName) const
{
    for (const auto& output : outputs_) {
        if (output->state.registryName == registryName) return output.get();
    }
    return nullptr;
}

void WaylandConnection::addGlobal(std::uint32_t name, const char* interface, std::uint32_t version)
{
    const std::string_view kind(interface);
    if (kind == wl_compositor_interface.name) {
        compositor_ = bind<wl_compositor>(registry_, name, &wl_compositor_interface, version, 4);
    } else if (kind == wl_shm_interface.name) {
        shm_ = bind<wl_shm>(registry_, name, &wl_shm_interface, version, 1);
        wl_shm_add_listener(shm_, &SHM_LISTENER, &shmFormats_);
    } else if (kind == xdg_wm_base_interface.name) {
        wmBase_ = bind<xdg_wm_base>(registry_, name, &xdg_wm_base_interface, version, 2);
        xdg_wm_base_add_listener(wmBase_, &WM_BASE_LISTENER, nullptr);
    } else if (kind == wp_presentation_interface.name) {
        presentation_ = bind<wp_presentation>(registry_, name, &wp_presentation_interface, version, 1);
        wp_presentation_add_listener(presentation_, &PRESENTATION_LISTENER, &presentationClock_);
    } else if (kind == wp_viewporter_interface.name) {
        viewporter_ = bind<wp_viewporter>(registry_, name, &wp_viewporter_interface, version, 1);
    } else if (kind == zxdg_output_manager_v1_interface.name) {
        xdgOutputManager_ = bind<zxdg_output_manager_v1>(registry_, name, &zxdg_output_manager_v1_interface,
                                                         version, 3);
    } else if (kind == zwp_idle_inhibit_manager_v1_interface.name) {
        idleInhibitManager_ = bind<zwp_idle_inhibit_manager_v1>(registry_, name,
                                                                &zwp_idle_inhibit_manager_v1_interface, version, 1);
#ifdef PP_COLOUR_MANAGEMENT
    } else if (kind == wp_color_manager_v1_interface.name) {
        colourManager_ = bind<wp_color_manager_v1>(registry_, name, &wp_color_manager_v1_interface, version, 2);
        wp_color_manager_v1_add_listener(colourManager_, &Listeners::MANAGER, this);
#endif
    } else if (kind == wl_seat_interface.name && !seat_) {
        seat_ = bind<wl_seat>(registry_, name, &wl_seat_interface, version, 5);
        seatName_ = name;
        wl_seat_add_listener(seat_, &Listeners::SEAT, this);
    } else if (kind == wl_output_interface.name) {
        auto output = std::make_unique<Output>();
        output->state.registryName = name;
        output->proxy = bind<wl_output>(registry_, name, &wl_output_interface, version, 4);
        watchOutput(*output);
        outputs_.push_back(std::move(output));
    }
}

void WaylandConnection::removeGlobal(std::uint32_t name)
{
    auto found = std::find_if(outputs_.begin(), outputs_.end(),
                              [name](const auto& output) { return output->state.registryName == name; });
    if (found != outputs_.end()) {
        const bool described = (*found)->state.done;
        stopDescribing(**found);
        if ((*found)->xdg) zxdg_output_v1_destroy((*found)->xdg);
        if (wl_output_get_version((*found)->proxy) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
            wl_output_release((*found)->proxy);
        } else {
            wl_output_destroy((*found)->proxy);
        }
        outputs_.erase(found);
        if (described && onOutputChanged) onOutputChanged(name);
        return;
    }
    if (seat_ && name == seatName_) {
        wl_seat_destroy(seat_);
        seat_ = nullptr;
        seatCapabilities_ = 0;
        if (onSeatChanged) onSeatChanged();
    }
}

namespace {

// Each output's listeners get its Output as their data.
struct OutputListeners {
    static void geometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t mmWidth,
                         std::int32_t mmHeight, std::int32_t, const char* make, const char* model,
                         std::int32_t transform)
    {
        OutputState& s = stateOf(data);
        s.x = x;
        s.y = y;
        s.mmWidth = mmWidth;
        s.mmHeight = mmHeight;
        setText(s.make, make);
        setText(s.model, model);
        s.transform = transform;
    }
    static void mode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
                     std::int32_t refresh)
    {
        if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
        stateOf(data).modeWidth = width;
        stateOf(data).modeHeight = height;
        stateOf(data).refreshMillihertz = refresh;
    }
    static void scale(void* data, wl_output*, std::int32_t factor) { stateOf(data).scale = factor; }
    static void name(void* data, wl_output*, const char* name) { setText(stateOf(data).name, name); }
    static void description(void* data, wl_output*, const char* text) { setText(stateOf(data).description, text); }

    static void logicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y)
    {
        stateOf(data).logicalX = x;
        stateOf(data).logicalY = y;
        stateOf(data).haveLogical = true;
    }
    static void logicalSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height)
    {
        stateOf(data).logicalWidth = width;
        stateOf(data).logicalHeight = height;
        stateOf(data).haveLogical = true;
    }
    static void xdgName(void* data, zxdg_output_v1*, const char* name) { setText(stateOf(data).xdgName, name); }
    static void xdgDescription(void* data, zxdg_output_v1*, const char* text)
    {
        setText(stateOf(data).xdgDescription, text);
    }
};

}  // namespace

void WaylandConnection::watchOutput(Output& output)
{
    if (!output.owner) {
        output.owner = this;
        static const wl_output_listener listener = {
            OutputListeners::geometry,
            OutputListeners::mode,
            [](void* data, wl_output*) { Listeners::outputDone(*static_cast<Output*>(data)); },
            OutputListeners::scale,
            OutputListeners::name,
            OutputListeners::description,
        };
        wl_output_add_listener(output.proxy, &listener, &output);
    }
    if (xdgOutputManager_ && !output.xdg) {
        static const zxdg_output_v1_listener listener = {
            OutputListeners::logicalPosition,
            OutputListeners::logicalSize,
            [](void* data, zxdg_output_v1* xdg) {
                // Before version 3 the xdg-output closes its own batch of events.
                if (zxdg_output_v1_get_version(xdg) >= 3) return;
                Listeners::outputDone(*static_cast<Output*>(data));
            },
            OutputListeners::xdgName,
            OutputListeners::xdgDescription,
        };
        output.xdg = zxdg_output_manager_v1_get_xdg_output(xdgOutputManager_, output.proxy);
        zxdg_output_v1_add_listener(output.xdg, &listener, &output);
    }
#ifdef PP_COLOUR_MANAGEMENT
    if (colourManager_ && !output.colourOutput) {
        output.colourOutput = wp_color_manager_v1_get_output(colourManager_, output.proxy);
        wp_color_management_output_v1_add_listener(output.colourOutput, &Listeners::COLOUR_OUTPUT, &output);
        describeOutput(output);
    }
#endif
}

void WaylandConnection::describeOutput([[maybe_unused]] Output& output)
{
    forgetDescription(output);
#ifdef PP_COLOUR_MANAGEMENT
    output.description = wp_color_management_output_v1_get_image_description(output.colourOutput);
    wp_image_description_v1_add_listener(output.description, &Listeners::DESCRIPTION, &output);
#endif
}

void WaylandConnection::forgetDescription([[maybe_unused]] Output& output)
{
#ifdef PP_COLOUR_MANAGEMENT
    if (output.information) wp_image_description_info_v1_destroy(output.information);
    if (output.description) wp_image_description_v1_destroy(output.description);
#endif
    output.information = nullptr;
    output.description = nullptr;
    output.descriptionReady = false;
    output.arriving = {};
    output.colour.reset();
}

void WaylandConnection::stopDescribing(Output& output)
{
    forgetDescription(output);
#ifdef PP_COLOUR_MANAGEMENT
    if (output.colourOutput) wp_color_management_output_v1_destroy(output.colourOutput);
#endif
    output.colourOutput = nullptr;
}

bool WaylandConnection::descriptionsPending() const
{
    return std::any_of(outputs_.begin(), outputs_.end(), [](const auto& output) {
        return output->description && (!output->descriptionReady || output->information);
    });
}

wp_image_description_v1* WaylandConnection::taggingDescription(std::uint32_t registryName) const
{
    const Output* found = output(registryName);
    if (!found || !perceptual_ || !found->descriptionReady) return nullptr;
    return found->description;
}

void WaylandConnection::outputDone(Output& output)
{
    const Screen now = screenOf(output.state);
    output.state.done = true;
    const std::optional<Screen> before = std::exchange(output.announced, now);
    if (!before) return;
    const bool changed = before->frame != now.frame || before->pixelsWide != now.pixelsWide ||
                         before->pixelsHigh != now.pixelsHigh || before->scale != now.scale;
    if (changed && onOutputChanged) onOutputChanged(output.state.registryName);
}

}  // namespace pp::wayland
