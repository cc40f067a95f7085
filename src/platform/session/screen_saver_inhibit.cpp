#include "platform/session/screen_saver_inhibit.hpp"

#include <gio/gio.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/session/session_bus.hpp"

namespace pp::session {

namespace {

constexpr int CALL_LIMIT_MS = 2000;

// Connects to the bus at `address` and asks for the inhibition; the connection is never closed.
void inhibitOn(const std::string& address)
{
    GDBusConnection* connection = connectToBus(address);
    if (!connection) return;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
        "Inhibit", g_variant_new("(ss)", "patch-presenter", "showing measurement patches"), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, CALL_LIMIT_MS, nullptr, &error);
    if (reply) g_variant_unref(reply);
    g_clear_error(&error);
}

}  // namespace

void inhibitSessionScreenSaver()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || address[0] == '\0') return;
    std::thread(inhibitOn, std::string(address)).detach();
}

}  // namespace pp::session
