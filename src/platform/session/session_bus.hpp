// A connection of the program's own to the desktop session's bus.
#pragma once

#include <gio/gio.h>

#include <string>

namespace pp::session {

// A new connection to the message bus at `address` (DBUS_SESSION_BUS_ADDRESS), authenticated; null when
// it cannot be made. The caller unrefs it. Blocks while the bus answers: call it off the main thread.
GDBusConnection* connectToBus(const std::string& address);

}  // namespace pp::session
