// Keeping an X display from blanking while the presenter shows patches on it.
#pragma once

#include <xcb/xcb.h>

namespace pp::x11 {

// Suspends the screen saver and the DPMS timeouts for as long as `connection` stays open
// (MIT-SCREEN-SAVER Suspend: the server keeps the suspension per client and drops it by itself when
// the client's connection closes, however the process ends, so the server's own settings are never
// changed and there is nothing to give back). A display already blanked or powered down is woken.
// False when the server offers neither extension. Main thread.
bool keepScreenAwake(xcb_connection_t* connection);

}  // namespace pp::x11
