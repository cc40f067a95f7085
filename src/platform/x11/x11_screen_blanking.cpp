#include "platform/x11/x11_screen_blanking.hpp"

#include <xcb/dpms.h>
#include <xcb/screensaver.h>

#include <cstdlib>

namespace pp::x11 {

namespace {

bool hasExtension(xcb_connection_t* c, xcb_extension_t* extension)
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data && data->present;
}

}  // namespace

bool keepScreenAwake(xcb_connection_t* c)
{
    bool suspended = false;
    if (hasExtension(c, &xcb_screensaver_id)) {
        // Suspend needs version 1.1; the version must be asked before any other request.
        auto version = xcb_screensaver_query_version_reply(c, xcb_screensaver_query_version(c, 1, 1), nullptr);
        if (version && (version->server_major_version > 1 ||
                        (version->server_major_version == 1 && version->server_minor_version >= 1))) {
            xcb_screensaver_suspend(c, 1);
            suspended = true;
        }
        std::free(version);
    }
    // The suspension stops the timers; a saver or power saving already under way is ended here.
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
    if (hasExtension(c, &xcb_dpms_id)) {
        auto version = xcb_dpms_get_version_reply(c, xcb_dpms_get_version(c, 1, 1), nullptr);
        auto info = xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr);
        if (version && info && info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON) {
            xcb_dpms_force_level(c, XCB_DPMS_DPMS_MODE_ON);
        }
        std::free(info);
        std::free(version);
    }
    xcb_flush(c);
    return suspended;
}

}  // namespace pp::x11
