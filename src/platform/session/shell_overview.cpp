#include "platform/session/shell_overview.hpp"

#include <gio/gio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "platform/session/session_bus.hpp"

namespace pp::session {

namespace {

constexpr int CALL_LIMIT_MS = 1000;
// How long follow() waits for the bus thread's first answer.
constexpr auto FIRST_ANSWER_LIMIT = std::chrono::milliseconds(3000);
constexpr const char* SHELL = "org.gnome.Shell";
constexpr const char* SHELL_PATH = "/org/gnome/Shell";
constexpr const char* PROPERTIES = "org.freedesktop.DBus.Properties";
constexpr const char* OVERVIEW_ACTIVE = "OverviewActive";

}  // namespace

// The bus thread's state. `open` and the eventfd are shared with the main thread; the rest is the bus
// thread's own.
struct ShellOverview::Follower {
    std::atomic<bool> open{false};
    int eventFd = -1;
    std::mutex loopMutex;
    GMainLoop* loop = nullptr;  // while the thread serves the bus; guarded by loopMutex
    bool stopped = false;       // the owner has gone (guarded by loopMutex)

    ~Follower()
    {
        if (eventFd >= 0) close(eventFd);
    }

    void changed(bool now)
    {
        if (open.exchange(now) == now) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(eventFd, &one, sizeof one);
    }

    // PropertiesChanged of the shell's object: (interface, changed properties, invalidated names).
    static void propertiesChanged(GDBusConnection*, const char*, const char*, const char*, const char*,
                                  GVariant* parameters, gpointer data)
    {
        GVariant* changedProperties = nullptr;
        const char* interface = nullptr;
        g_variant_get(parameters, "(&s@a{sv}@as)", &interface, &changedProperties, nullptr);
        gboolean active = FALSE;
        if (g_variant_lookup(changedProperties, OVERVIEW_ACTIVE, "b", &active)) {
            static_cast<Follower*>(data)->changed(active != FALSE);
        }
        g_variant_unref(changedProperties);
    }

    // The bus thread: connects, subscribes, reads the property, closes the overview when it is open, says
    // whether the shell is there through `found`, then serves the bus until the owner stops it.
    static void serve(std::shared_ptr<Follower> self, std::string address, std::promise<bool> found)
    {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        GError* error = nullptr;
        GDBusConnection* connection = connectToBus(address);
        bool shell = false;
        guint subscription = 0;
        if (connection) {
            // Subscribed first, so that no change between the read and the subscription is missed.
            subscription = g_dbus_connection_signal_subscribe(connection, nullptr, PROPERTIES, "PropertiesChanged",
                                                              SHELL_PATH, SHELL, G_DBUS_SIGNAL_FLAGS_NONE,
                                                              propertiesChanged, self.get(), nullptr);
            GVariant* reply = g_dbus_connection_call_sync(
                connection, SHELL, SHELL_PATH, PROPERTIES, "Get", g_variant_new("(ss)", SHELL, OVERVIEW_ACTIVE),
                G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, CALL_LIMIT_MS, nullptr, &error);
            g_clear_error(&error);
            if (reply) {
                shell = true;
                GVariant* value = nullptr;
                g_variant_get(reply, "(v)", &value);
                const bool active = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
                g_variant_unref(value);
                g_variant_unref(reply);
                self->open = active;
                if (active) {
                    GVariant* set = g_dbus_connection_call_sync(
                        connection, SHELL, SHELL_PATH, PROPERTIES, "Set",
                        g_variant_new("(ssv)", SHELL, OVERVIEW_ACTIVE, g_variant_new_boolean(FALSE)), nullptr,
                        G_DBUS_CALL_FLAGS_NO_AUTO_START, CALL_LIMIT_MS, nullptr, &error);
                    if (set) g_variant_unref(set);
                    g_clear_error(&error);
                }
            }
        }
        found.set_value(shell);
        if (shell) {
            GMainLoop* loop = g_main_loop_new(context, FALSE);
            bool run = false;
            {
                std::lock_guard lock(self->loopMutex);
                if (!self->stopped) {
                    self->loop = loop;
                    run = true;
                }
            }
            if (run) g_main_loop_run(loop);
            {
                std::lock_guard lock(self->loopMutex);
                self->loop = nullptr;
            }
            g_main_loop_unref(loop);
        }
        if (subscription) g_dbus_connection_signal_unsubscribe(connection, subscription);
        if (connection) g_object_unref(connection);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }
};

ShellOverview::ShellOverview(std::shared_ptr<Follower> follower) : follower_(std::move(follower)) {}

std::unique_ptr<ShellOverview> ShellOverview::follow()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || address[0] == '\0') return nullptr;
    auto follower = std::make_shared<Follower>();
    follower->eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (follower->eventFd < 0) return nullptr;
    std::promise<bool> found;
    std::future<bool> answer = found.get_future();
    std::thread(Follower::serve, follower, std::string(address), std::move(found)).detach();
    if (answer.wait_for(FIRST_ANSWER_LIMIT) != std::future_status::ready || !answer.get()) {
        std::lock_guard lock(follower->loopMutex);
        follower->stopped = true;
        return nullptr;
    }
    return std::unique_ptr<ShellOverview>(new ShellOverview(std::move(follower)));
}

ShellOverview::~ShellOverview()
{
    std::lock_guard lock(follower_->loopMutex);
    follower_->stopped = true;
    if (follower_->loop) g_main_loop_quit(follower_->loop);
}

bool ShellOverview::open() const
{
    return follower_->open;
}

int ShellOverview::changedFd() const
{
    return follower_->eventFd;
}

void ShellOverview::changeSeen()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(follower_->eventFd, &count, sizeof count);
}

}  // namespace pp::session
