// Asking a desktop session not to blank the screen while the presenter shows patches.
#pragma once

namespace pp::session {

// Asks the session's screen saver (org.freedesktop.ScreenSaver on the session bus that
// DBUS_SESSION_BUS_ADDRESS names) to stay off for as long as the process lives. Returns at once: the
// request is made on a thread of its own with a short timeout, and that thread's connection is kept
// open, since the service ends an inhibition when its caller's connection closes. Without a session
// bus address (no bus is ever started for it) or without the service nothing happens. Any thread.
void inhibitSessionScreenSaver();

}  // namespace pp::session
