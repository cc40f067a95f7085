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

// Profiles may be large; a property is asked for up to 64 MiB in one reply.
constexpr std::uint32_t PROPERTY_LONGS = 16 * 1024 * 1024;

xcb_intern_atom_cookie_t internAtom(xcb_connection_t* c, std::string_view name)
{
    // The atom is made when no client has named it yet, so that it can be kept for the connection.
    return xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data());
}

xcb_atom_t atomOf(xcb_connection_t* c, xcb_intern_atom_cookie_t cookie)
{
    auto r = reply(xcb_intern_atom_reply(c, cookie, nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// A pending read of an output property: nothing was asked when the atom is unknown.
struct OutputPropertyRequest {
    bool sent = false;
    xcb_randr_get_output_property_cookie_t cookie{};
};

OutputPropertyRequest askOutputProperty(xcb_connection_t* c, std::uint32_t output, xcb_atom_t atom)
{
    if (atom == XCB_ATOM_NONE) return {};
    return {true, xcb_randr_get_output_property(c, output, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, PROPERTY_LONGS, 0, 0)};
}

// The property's bytes; empty when it is absent or not made of bytes.
std::vector<std::uint8_t> outputPropertyBytes(xcb_connection_t* c, const OutputPropertyRequest& request)
{
    std::vector<std::uint8_t> bytes;
    if (!request.sent) return bytes;
    auto r = reply(xcb_randr_get_output_property_reply(c, request.cookie, nullptr));
    if (!r || r->format != 8) return bytes;
    const std::uint8_t* data = xcb_randr_get_output_property_data(r.get());
    bytes.assign(data, data + xcb_randr_get_output_property_data_length(r.get()));
    return bytes;
}

struct WindowPropertyRequest {
    bool sent = false;
    xcb_get_property_cookie_t cookie{};
};

WindowPropertyRequest askWindowProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t atom)
{
    if (atom == XCB_ATOM_NONE) return {};
    return {true, xcb_get_property(c, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, PROPERTY_LONGS)};
}

std::vector<std::uint8_t> windowPropertyBytes(xcb_connection_t* c, const WindowPropertyRequest& request)
{
    std::vector<std::uint8_t> bytes;
    if (!request.sent) return bytes;
    auto r = reply(xcb_get_property_reply(c, request.cookie, nullptr));
    if (!r || r->format != 8) return bytes;
    const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(r.get()));
    bytes.assign(data, data + xcb_get_property_value_length(r.get()));
    return bytes;
}

// The ramp of a gamma reply sampled to `capacity`; three empty channels when there is none.
TransferTable transferOf(const xcb_randr_get_crtc_gamma_reply_t* gamma, std::size_t capacity)
{
    TransferTable table;
    if (!gamma || gamma->size == 0) return table;
    table.red = sampledRamp(xcb_randr_get_crtc_gamma_red(gamma), gamma->size, capacity);
    table.green = sampledRamp(xcb_randr_get_crtc_gamma_green(gamma), gamma->size, capacity);
    table.blue = sampledRamp(xcb_randr_get_crtc_gamma_blue(gamma), gamma->size, capacity);
    return table;
}

// The root visual's bits per RGB value: the bits per sample of every screen.
int rootBitsPerSample(const xcb_screen_t* root)
{
    int bitsPerSample = 8;
    for (auto d = xcb_screen_allowed_depths_iterator(root); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == root->root_visual) bitsPerSample = v.data->bits_per_rgb_value;
        }
    }
    return bitsPerSample;
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

void X11Displays::learnServer()
{
    if (learned_) return;
    constexpr std::string_view XWAYLAND = "XWAYLAND";
    const auto edid = internAtom(connection_, "EDID");
    const auto icc = internAtom(connection_, "_ICC_PROFILE");
    const auto extension = xcb_query_extension(connection_, std::uint16_t(XWAYLAND.size()), XWAYLAND.data());
    edidAtom_ = atomOf(connection_, edid);
    iccAtom_ = atomOf(connection_, icc);
    auto present = reply(xcb_query_extension_reply(connection_, extension, nullptr));
    xwayland_ = present && present->present;
    // A broken connection answers nothing: it is asked again next time rather than remembered wrong.
    learned_ = !xcb_connection_has_error(connection_);
}

bool X11Displays::isXWayland()
{
    learnServer();
    return xwayland_;
}

X11Displays::Pass X11Displays::readPass(std::optional<std::uint32_t> asked, std::size_t capacity)
{
    learnServer();
    xcb_connection_t* c = connection_;
    Pass pass;

    // Stage one: what needs nothing but the root window and the asked output's number. The root
    // window's profile is asked for now, though only the main screen may fall back on it, to spare a
    // round trip once the main screen is known.
    const auto resourcesCookie = xcb_randr_get_screen_resources_current(c, root_->root);
    const auto primaryCookie = xcb_randr_get_output_primary(c, root_->root);
    OutputPropertyRequest outputProfile;
    WindowPropertyRequest rootProfile;
    if (asked) {
        outputProfile = askOutputProperty(c, *asked, iccAtom_);
        rootProfile = askWindowProperty(c, root_->root, iccAtom_);
    }
    auto resources = reply(xcb_randr_get_screen_resources_current_reply(c, resourcesCookie, nullptr));
    if (auto primary = reply(xcb_randr_get_output_primary_reply(c, primaryCookie, nullptr))) {
        pass.primary = primary->output;
    }
    pass.outputProfile = outputPropertyBytes(c, outputProfile);
    pass.rootProfile = windowPropertyBytes(c, rootProfile);

    const xcb_randr_output_t* outputs =
        resources ? xcb_randr_get_screen_resources_current_outputs(resources.get()) : nullptr;
    const std::size_t count =
        resources ? static_cast<std::size_t>(xcb_randr_get_screen_resources_current_outputs_length(resources.get()))
                  : 0;
    const xcb_timestamp_t stamp = resources ? resources->config_timestamp : XCB_CURRENT_TIME;

    // Stage two: every output's info, and the asked output's even when the resources do not list it
    // (its CRTC still has a ramp to read).
    std::vector<xcb_randr_get_output_info_cookie_t> infoCookies;
    infoCookies.reserve(count);
    for (std::size_t i = 0; i < count; ++i) infoCookies.push_back(xcb_randr_get_output_info(c, outputs[i], stamp));
    bool askedListed = false;
    for (std::size_t i = 0; i < count && asked; ++i) askedListed = askedListed || outputs[i] == *asked;
    const bool wantRamp = asked && capacity > 0 && !xwayland_;
    xcb_randr_get_output_info_cookie_t askedCookie{};
    if (wantRamp && !askedListed) askedCookie = xcb_randr_get_output_info(c, *asked, XCB_CURRENT_TIME);
    std::vector<Reply<xcb_randr_get_output_info_reply_t>> infos;
    infos.reserve(count);
    for (const auto& cookie : infoCookies) infos.push_back(reply(xcb_randr_get_output_info_reply(c, cookie, nullptr)));
    xcb_randr_crtc_t askedCrtc = XCB_NONE;
    if (wantRamp && !askedListed) {
        if (auto info = reply(xcb_randr_get_output_info_reply(c, askedCookie, nullptr))) askedCrtc = info->crtc;
    }
    for (std::size_t i = 0; i < count && wantRamp && askedListed; ++i) {
        if (outputs[i] == *asked && infos[i]) askedCrtc = infos[i]->crtc;
    }

    // Stage three: the CRTC and EDID of every connected output that has a CRTC, and the asked
    // output's gamma ramp.
    struct Driven {
        std::size_t index;
        xcb_randr_get_crtc_info_cookie_t crtc;
        OutputPropertyRequest edid;
    };
    std::vector<Driven> driven;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& info = infos[i];
        if (!info || info->connection != XCB_RANDR_CONNECTION_CONNECTED || info->crtc == XCB_NONE) continue;
        driven.push_back({i, xcb_randr_get_crtc_info(c, info->crtc, stamp), askOutputProperty(c, outputs[i], edidAtom_)});
    }
    const bool askRamp = askedCrtc != XCB_NONE;
    const auto gammaCookie = askRamp ? xcb_randr_get_crtc_gamma(c, askedCrtc) : xcb_randr_get_crtc_gamma_cookie_t{};

    const int bitsPerSample = rootBitsPerSample(root_);
    for (const auto& d : driven) {
        auto crtc = reply(xcb_randr_get_crtc_info_reply(c, d.crtc, nullptr));
        const std::vector<std::uint8_t> edid = outputPropertyBytes(c, d.edid);
        if (!crtc || crtc->mode == XCB_NONE) continue;
        const auto& info = infos[d.index];

        Screen screen;
        screen.number = outputs[d.index];
        screen.outputName.assign(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
                                 static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get())));
        const std::string monitor = edidMonitorName(edid);
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
        pass.screens.push_back(std::move(screen));
    }
    if (askRamp) pass.transfer = transferOf(reply(xcb_randr_get_crtc_gamma_reply(c, gammaCookie, nullptr)).get(), capacity);
    return pass;
}

std::optional<Screen> X11Displays::mainOf(const Pass& pass)
{
    if (pass.screens.empty()) return std::nullopt;
    for (const auto& screen : pass.screens) {
        if (screen.number == pass.primary) return screen;
    }
    return pass.screens.front();
}

std::vector<std::uint8_t> X11Displays::advertisedOf(const Pass& pass, std::uint32_t number)
{
    if (!pass.outputProfile.empty()) return pass.outputProfile;
    const auto main = mainOf(pass);
    if (main && main->number == number) return pass.rootProfile;
    return {};
}

std::vector<Screen> X11Displays::screens()
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    return readPass(std::nullopt, 0).screens;
}

std::optional<Screen> X11Displays::mainScreen()
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    return mainOf(readPass(std::nullopt, 0));
}

TransferTable X11Displays::transferTable(std::uint32_t number, std::size_t capacity)
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    // XWayland's ramp is its own invention, not the display's: none can be read there.
    if (isXWayland()) return {};
    auto info = reply(xcb_randr_get_output_info_reply(
        connection_, xcb_randr_get_output_info(connection_, number, XCB_CURRENT_TIME), nullptr));
    if (!info || info->crtc == XCB_NONE) return {};
    auto gamma =
        reply(xcb_randr_get_crtc_gamma_reply(connection_, xcb_randr_get_crtc_gamma(connection_, info->crtc), nullptr));
    return transferOf(gamma.get(), capacity);
}

std::vector<std::uint8_t> X11Displays::advertisedProfile(std::uint32_t number)
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    return advertisedOf(readPass(number, 0), number);
}

DisplayReading X11Displays::displayReading(std::uint32_t number, std::size_t capacity)
{
    PP_ONE_AT_A_TIME(oneAtATime_);
    Pass pass = readPass(number, capacity);
    DisplayReading reading;
    for (auto& screen : pass.screens) {
        if (screen.number == number) {
            reading.screen = screen;
            break;
        }
    }
    reading.advertisedProfile = advertisedOf(pass, number);
    reading.transfer = std::move(pass.transfer);
    return reading;
}

}  // namespace pp::x11
