#include "platform/session/session_bus.hpp"

namespace pp::session {

GDBusConnection* connectToBus(const std::string& address)
{
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_clear_error(&error);
    return connection;
}

}  // namespace pp::session
