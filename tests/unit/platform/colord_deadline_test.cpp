// A colord that never answers: the first query runs out of time, and from then on colord counts as
// absent, so no later query waits again. The "system bus" is a socket that accepts and stays silent.
#include "platform/colord/colord_colour_management.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace pp::colord {
namespace {

// A listening socket that takes every connection and never writes a byte.
class SilentBus {
public:
    SilentBus()
    {
        char folder[] = "/tmp/pp-silent-bus-XXXXXX";
        if (!mkdtemp(folder)) return;
        folder_ = folder;
        path_ = folder_ + "/bus";
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 16) != 0) {
            return;
        }
        acceptor_ = std::thread([this] {
            while (!stop_) {
                pollfd p{listener_, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) accepted_.push_back(fd), ++connections_;
            }
        });
    }
    ~SilentBus()
    {
        stop_ = true;
        if (acceptor_.joinable()) acceptor_.join();
        for (int fd : accepted_) close(fd);
        if (listener_ >= 0) close(listener_);
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }
    std::string address() const { return "unix:path=" + path_; }
    int connections() const { return connections_; }

private:
    std::string folder_, path_;
    int listener_ = -1;
    std::thread acceptor_;
    std::vector<int> accepted_;
    std::atomic<bool> stop_ = false;
    std::atomic<int> connections_ = 0;
};

TEST(ColordDeadline, AServiceThatTimedOutCountsAsAbsentAfterwards)
{
    SilentBus bus;
    ASSERT_EQ(setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1), 0);
    ColordColourManagement colour;
    Screen screen;
    screen.outputName = "DP-1";
    // The first query waits out its time limit on the silent bus and finds no device.
    EXPECT_EQ(colour.displayUUID(screen), std::nullopt);
    const int afterFirst = bus.connections();
    EXPECT_GE(afterFirst, 1);
    // Every later call answers "none" without asking the bus again.
    EXPECT_EQ(colour.displayUUID(screen), std::nullopt);
    EXPECT_EQ(colour.deviceRecord("xrandr-DP-1"), std::nullopt);
    EXPECT_EQ(colour.defaultProfileTitle("xrandr-DP-1"), "");
    EXPECT_FALSE(colour.setCustomProfile("xrandr-DP-1", std::nullopt));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(bus.connections(), afterFirst);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace pp::colord
