#include "network/network_road.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "network/frame_splitter.hpp"
#include "network/patch_message.hpp"
#include "network/suite_socket.hpp"
#include "protocol/seconds_text.hpp"

namespace pp {
namespace {

constexpr const char* BAD_MESSAGE = "error bad message";

// Whether bytes (or the end) arrive within `timeout`.
bool readable(int fd, std::chrono::milliseconds timeout)
{
    pollfd wait{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&wait, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

// Reads the connection until it ends, showing each message; false when the main loop has ended.
bool serveConnection(int fd, Presenter& presenter, MainLoop& loop, const ProcessHooks& hooks,
                     const std::chrono::milliseconds stall, const std::function<double()>& clock)
{
    FrameSplitter frames;
    char buffer[65536];
    for (;;) {
        if (frames.midFrame() && !readable(fd, stall)) {
            hooks.write(BAD_MESSAGE);
            return true;
        }
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (frames.midFrame()) hooks.write(BAD_MESSAGE);
            return true;
        }
        frames.feed({buffer, static_cast<std::size_t>(got)});
        while (auto message = frames.next()) {
            const auto picture = pictureFromMessage(*message);
            if (!picture) {
                hooks.write(BAD_MESSAGE);
                continue;
            }
            // The moment the window system says the picture was shown, kept between the message and the reply.
            const double asked = clock();
            std::optional<double> shown;
            const bool ran = loop.runOnMain([&] {
                presenter.showPicture(*picture);
                shown = presenter.presentedAt();
            });
            if (!ran) return false;
            const double now = clock();
            hooks.write("painted " + secondsText(shown ? std::clamp(*shown, asked, now) : now));
        }
        if (frames.broken()) {
            hooks.write(BAD_MESSAGE);
            return true;
        }
    }
}

}  // namespace

SuiteLink tcpSuiteLink()
{
    return {connectToSuite, [] { std::this_thread::sleep_for(std::chrono::seconds(1)); }, std::chrono::seconds(10)};
}

void runNetworkRoad(const SuiteAddress& address, Presenter& presenter, MainLoop& loop, const ProcessHooks& hooks,
                    const SuiteLink& link, const std::function<double()>& clock)
{
    std::string report;
    if (!loop.runOnMain([&] { report = presenter.report(); })) return;
    hooks.write("ready " + report);
    if (!loop.runOnMain([&] { presenter.openEventLines(); })) return;
    for (;;) {
        const int fd = link.connect(address);
        if (fd < 0) {
            link.pause();
            continue;
        }
        hooks.write("connected " + address.host + " " + std::to_string(address.port));
        const bool loopRuns = serveConnection(fd, presenter, loop, hooks, link.stall, clock);
        close(fd);
        if (!loopRuns) return;
        hooks.write("disconnected");
    }
}

bool startNetworkRoad(const SuiteAddress& address, Presenter& presenter, MainLoop& loop, ProcessHooks hooks)
{
    try {
        std::thread([address, &presenter, &loop, hooks = std::move(hooks)] {
            runNetworkRoad(address, presenter, loop, hooks, tcpSuiteLink(), wallClock);
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace pp
