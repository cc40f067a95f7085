#include "platform/x11/x11_compositing.hpp"

#include <xcb/composite.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace pp::x11 {

namespace {

xcb_atom_t atomNamed(xcb_connection_t* c, const std::string& name)
{
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The index of the connection's first screen, which names its compositing-manager selection.
constexpr int SCREEN_INDEX = 0;

}  // namespace

void askCompositorsToStayAway(xcb_connection_t* c, xcb_window_t window)
{
    const xcb_atom_t bypass = atomNamed(c, "_NET_WM_BYPASS_COMPOSITOR");
    const xcb_atom_t state = atomNamed(c, "_NET_WM_STATE");
    const xcb_atom_t fullscreen = atomNamed(c, "_NET_WM_STATE_FULLSCREEN");
    if (bypass != XCB_ATOM_NONE) {
        const std::uint32_t one = 1;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, bypass, XCB_ATOM_CARDINAL, 32, 1, &one);
    }
    if (state != XCB_ATOM_NONE && fullscreen != XCB_ATOM_NONE) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32, 1, &fullscreen);
    }
}

CompositorWatch::CompositorWatch(xcb_connection_t* c, xcb_window_t window)
    : connection_(c), window_(window), root_(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root)
{
    selection_ = atomNamed(c, "_NET_WM_CM_S" + std::to_string(SCREEN_INDEX));
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_composite_id);
    if (extension && extension->present) {
        auto* version = xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr);
        composite_ = version && (version->major_version > 0 || version->minor_version >= 2);
        std::free(version);
    }
}

void CompositorWatch::watchOwner()
{
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection_, &xcb_xfixes_id);
    if (selection_ == XCB_ATOM_NONE || !xfixes || !xfixes->present) return;
    xcb_xfixes_select_selection_input(connection_, root_, selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xfixesEvents_ = xfixes->first_event;
    watching_ = true;
}

bool CompositorWatch::ownerEvent(const xcb_generic_event_t& event)
{
    if (!watching_ || (event.response_type & 0x7F) != xfixesEvents_ + XCB_XFIXES_SELECTION_NOTIFY) return false;
    managed_.reset();
    return true;
}

void CompositorWatch::ask()
{
    if (selection_ != XCB_ATOM_NONE && !asked_ && !knownUnmanaged()) {
        asked_ = xcb_get_selection_owner(connection_, selection_);
    }
}

bool CompositorWatch::redirected()
{
    ask();
    if (!asked_) return false;
    auto* owner = xcb_get_selection_owner_reply(connection_, *asked_, nullptr);
    asked_.reset();
    const bool managed = owner && owner->owner != XCB_NONE;
    std::free(owner);
    // The selection was watched before it was asked: a change after the answer is reported.
    if (watching_) managed_ = managed;
    if (!managed) return false;
    // Without Composite there is nothing to ask; a manager is running, so count the window as redirected.
    if (!composite_) return true;
    // Naming the window's off-screen pixmap succeeds exactly when the window is redirected.
    const xcb_pixmap_t pixmap = xcb_generate_id(connection_);
    xcb_generic_error_t* error =
        xcb_request_check(connection_, xcb_composite_name_window_pixmap_checked(connection_, window_, pixmap));
    const bool isRedirected = error == nullptr && !xcb_connection_has_error(connection_);
    std::free(error);
    if (isRedirected) xcb_free_pixmap(connection_, pixmap);
    return isRedirected;
}

bool CompositorWatch::waitUntilShown(int x, int y, int width, int height, const std::uint32_t* pixels, int stride,
                                     std::uint32_t mask, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto* image = xcb_get_image_reply(connection_,
                                          xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, std::int16_t(x),
                                                        std::int16_t(y), std::uint16_t(width),
                                                        std::uint16_t(height), ~0u),
                                          nullptr);
        if (!image) return false;
        bool same = std::size_t(xcb_get_image_data_length(image)) >= std::size_t(width) * std::size_t(height) * 4;
        const auto* shown = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(image));
        for (int row = 0; same && row < height; ++row) {
            const std::uint32_t* want = pixels + std::size_t(row) * std::size_t(stride);
            const std::uint32_t* have = shown + std::size_t(row) * std::size_t(width);
            for (int column = 0; column < width; ++column) {
                if ((want[column] ^ have[column]) & mask) {
                    same = false;
                    break;
                }
            }
        }
        std::free(image);
        if (same) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace pp::x11
