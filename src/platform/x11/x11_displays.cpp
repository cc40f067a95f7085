#include "platform/x11/x11_displays.hpp"

#include <xcb/randr.h>

#include <string_view>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace pp::x11 {

namespace {

// Replies from XCB are malloc'd; this releases them with free.
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T* pointer)
{
    return Reply<T>(pointer, &std::free);
}

xcb_atom_t atom(xcb_connection_t* c, const char* name, bool onlyIfExists = true)
{
    auto r = reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, onlyIfExists, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace

xcb_connection_t* connectToServer(const char* name)
{
    xcb_connection_t* connection = xcb_connect(name, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return connection;
}

std::string edidMonitorName(const std::vector<std::uint8_t>& edid)
{
    if (edid.size() < 128) return "";
    for (std::size_t offset = 54; offset + 18 <= 126; offset += 18) {
        const std::uint8_t* d = edid.data() + offset;
        if (d[0] != 0 || d[1] != 0 || d[3] != 0xFC) continue;
        std::string name;
        for (int i = 5; i < 18 && d[i] != 0x0A && d[i] != 0; ++i) name += static_cast<char>(d[i]);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        return name;
    }
    return "";
}

std::vector<float> sampledRamp(const std::uint16_t* ramp, std::size_t size, std::size_t capacity)
{
    std::vector<float> out;
    if (size == 0 || capacity == 0) return out;
    const std::size_t count = std::min(size, capacity);
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        // Entry i of count spans the ramp from its first to its last entry.
        const std::size_t index = count == 1 ? 0 : (i * (size - 1) + (count - 1) / 2) / (count - 1);
        out.push_back(static_cast<float>(ramp[index] / 65535.0));
    }
    return out;
}

X11Displays::X11Displays(xcb_connection_t* connection)
    : connection_(connection), root_(xcb_setup_roots_iterator(xcb_get_setup(connection)).data)
{
}

std::vector<Screen> X11Displays::screens()
{
    std::vector<Screen> list;
    auto resources = reply(xcb_randr_get_screen_resources_current_reply(
        connection_, xcb_randr_get_screen_resources_current(connection_, root_->root), nullptr));
    if (!resources) return list;

    // The root visual gives the depth and the bits per sample of every screen.
    int bitsPerSample = 8;
    for (auto d = xcb_screen_allowed_depths_iterator(root_); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == root_->root_visual) bitsPerSample = v.data->bits_per_rgb_value;
        }
    }

    const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_current_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    const xcb_timestamp_t stamp = resources->config_timestamp;
    for (int i = 0; i < count; ++i) {
        auto info = reply(xcb_randr_get_output_info_reply(
            connection_, xcb_randr_get_output_info(connection_, outputs[i], stamp), nullptr));
        if (!info || info->connection != XCB_RANDR_CONNECTION_CONNECTED || info->crtc == XCB_NONE) continue;
        auto crtc = reply(xcb_randr_get_crtc_info_reply(
            connection_, xcb_randr_get_crtc_info(connection_, info->crtc, stamp), nullptr));
        if (!crtc || crtc->mode == XCB_NONE) continue;

        Screen screen;
        screen.number = outputs[i];
        screen.outputName.assign(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
                                 static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get())));
        const std::string monitor = edidMonitorName(property(outputs[i], true, "EDID"));
        screen.name = monitor.empty() ? screen.outputName : monitor;
        screen.frame = {double(crtc->x), double(crtc->y), double(crtc->width), double(crtc->height)};
        screen.mm = {double(info->mm_width), double(info->mm_height)};
        screen.pixelsWide = crtc->width;
        screen.pixelsHigh = crtc->height;
        // The current mode's size, unrotated, is the pixel size the display is driven at.
        const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_current_modes(resources.get());
        const int modeCount = xcb_randr_get_screen_resources_current_modes_length(resources.get());
        for (int m = 0; m < modeCount; ++m) {
            if (modes[m].id == crtc->mode) {
                screen.pixelsWide = modes[m].width;
                screen.pixelsHigh = modes[m].height;
            }
        }
        screen.depth = root_->root_depth;
        screen.bitsPerSample = bitsPerSample;
        list.push_back(std::move(screen));
    }
    return list;
}

std::optional<Screen> X11Displays::mainScreen()
{
    auto list = screens();
    if (list.empty()) return std::nullopt;
    auto primary = reply(xcb_randr_get_output_primary_reply(
        connection_, xcb_randr_get_output_primary(connection_, root_->root), nullptr));
    if (primary) {
        for (auto& screen : list) {
            if (screen.number == primary->output) return screen;
        }
    }
    return list.front();
}

std::uint32_t X11Displays::crtcOf(std::uint32_t output)
{
    auto info = reply(xcb_randr_get_output_info_reply(
        connection_, xcb_randr_get_output_info(connection_, output, XCB_CURRENT_TIME), nullptr));
    return info ? info->crtc : XCB_NONE;
}

TransferTable X11Displays::transferTable(std::uint32_t number, std::size_t capacity)
{
    TransferTable table;
    // XWayland's ramp is its own invention, not the display's: none can be read there.
    if (isXWayland()) return table;
    const std::uint32_t crtc = crtcOf(number);
    if (crtc == XCB_NONE) return table;
    auto gamma = reply(xcb_randr_get_crtc_gamma_reply(connection_, xcb_randr_get_crtc_gamma(connection_, crtc), nullptr));
    if (!gamma || gamma->size == 0) return table;
    table.red = sampledRamp(xcb_randr_get_crtc_gamma_red(gamma.get()), gamma->size, capacity);
    table.green = sampledRamp(xcb_randr_get_crtc_gamma_green(gamma.get()), gamma->size, capacity);
    table.blue = sampledRamp(xcb_randr_get_crtc_gamma_blue(gamma.get()), gamma->size, capacity);
    return table;
}

bool X11Displays::isXWayland()
{
    constexpr std::string_view NAME = "XWAYLAND";
    auto r = reply(xcb_query_extension_reply(
        connection_, xcb_query_extension(connection_, std::uint16_t(NAME.size()), NAME.data()), nullptr));
    return r && r->present;
}

std::vector<std::uint8_t> X11Displays::property(std::uint32_t window, bool output, const char* name)
{
    std::vector<std::uint8_t> bytes;
    const xcb_atom_t name_atom = atom(connection_, name);
    if (name_atom == XCB_ATOM_NONE) return bytes;
    // Profiles may be large; ask for up to 64 MiB in one reply.
    constexpr std::uint32_t LONGS = 16 * 1024 * 1024;
    if (output) {
        auto r = reply(xcb_randr_get_output_property_reply(
            connection_,
            xcb_randr_get_output_property(connection_, window, name_atom, XCB_GET_PROPERTY_TYPE_ANY, 0, LONGS, 0, 0),
            nullptr));
        if (!r || r->format != 8) return bytes;
        const std::uint8_t* data = xcb_randr_get_output_property_data(r.get());
        bytes.assign(data, data + xcb_randr_get_output_property_data_length(r.get()));
    } else {
        auto r = reply(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, name_atom, XCB_GET_PROPERTY_TYPE_ANY, 0, LONGS),
            nullptr));
        if (!r || r->format != 8) return bytes;
        const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(r.get()));
        bytes.assign(data, data + xcb_get_property_value_length(r.get()));
    }
    return bytes;
}

std::vector<std::uint8_t> X11Displays::advertisedProfile(std::uint32_t number)
{
    auto bytes = property(number, true, "_ICC_PROFILE");
    if (!bytes.empty()) return bytes;
    auto main = mainScreen();
    if (main && main->number == number) return property(root_->root, false, "_ICC_PROFILE");
    return bytes;
}

}  // namespace pp::x11
