#include "network/network_road.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "network/frame_splitter.hpp"
#include "network/patch_message.hpp"
#include "network/suite_socket.hpp"
#include "presenter/road_thread.hpp"
#include "presenter/seconds_text.hpp"

namespace pp {
namespace {

constexpr const char* BAD_MESSAGE = "error bad message";

using std::chrono::milliseconds;

bool hungUp(const pollfd& watched)
{
    return (watched.revents & (POLLERR | POLLHUP)) != 0;
}

// Sleeps until `until`, watching `output` for a hang-up; false when it hung up.
bool waitWatching(int output, SuiteLink::Clock::time_point until)
{
    for (;;) {
        const auto left = std::chrono::ceil<milliseconds>(until - SuiteLink::Clock::now());
        if (left.count() <= 0) return true;
        pollfd watch{output, 0, 0};
        if (poll(&watch, 1, static_cast<int>(left.count())) <= 0) continue;
        if (hungUp(watch)) return false;
        if (watch.revents & POLLNVAL) std::this_thread::sleep_until(until);
    }
}

enum class Wait { bytes, timedOut, outputGone };

// Waits until bytes (or the end) can be read from `fd`, at most `timeout` when there is one, watching
// `output` for a hang-up.
Wait waitForBytes(int fd, int output, std::optional<milliseconds> timeout)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {output, 0, 0}};
    int ready;
    do {
        ready = poll(fds, 2, timeout ? static_cast<int>(timeout->count()) : -1);
    } while (ready < 0 && errno == EINTR);
    if (hungUp(fds[1])) return Wait::outputGone;
    return ready == 0 ? Wait::timedOut : Wait::bytes;
}

enum class Ending { connection, loop, output };

// Reads the connection until it ends, showing each message. A message must be whole within
// `link.stall` of the read that brought its first byte, however its bytes trickle in.
Ending serveConnection(int fd, Presenter& presenter, MainLoop& loop, const ProcessHooks& hooks, const SuiteLink& link,
                       const std::function<double()>& clock)
{
    FrameSplitter frames;
    std::optional<SuiteLink::Clock::time_point> deadline;  // by when the unfinished message must be whole
    char buffer[65536];
    for (;;) {
        std::optional<milliseconds> timeout;
        if (deadline) timeout = std::chrono::ceil<milliseconds>(*deadline - link.now());
        if (timeout && timeout->count() <= 0) {
            hooks.write(BAD_MESSAGE);
            return Ending::connection;
        }
        const Wait wait = waitForBytes(fd, link.output, timeout);
        if (wait == Wait::outputGone) return Ending::output;
        if (wait == Wait::timedOut) {
            hooks.write(BAD_MESSAGE);
            return Ending::connection;
        }
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (frames.midFrame()) hooks.write(BAD_MESSAGE);
            return Ending::connection;
        }
        frames.feed({buffer, static_cast<std::size_t>(got)});
        while (auto message = frames.next()) {
            deadline.reset();
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
            if (!ran) return Ending::loop;
            const double now = clock();
            hooks.write("painted " + secondsText(shown ? std::clamp(*shown, asked, now) : now));
        }
        if (frames.broken()) {
            hooks.write(BAD_MESSAGE);
            return Ending::connection;
        }
        if (frames.midFrame() && !deadline) deadline = link.now() + link.stall;
    }
}

}  // namespace

SuiteLink tcpSuiteLink()
{
    SuiteLink link;
    link.connect = connectToSuite;
    link.waitUntil = [](SuiteLink::Clock::time_point until) { return waitWatching(STDOUT_FILENO, until); };
    link.now = [] { return SuiteLink::Clock::now(); };
    link.output = STDOUT_FILENO;
    return link;
}

void runNetworkRoad(const SuiteAddress& address, Presenter& presenter, MainLoop& loop, const ProcessHooks& hooks,
                    const SuiteLink& link, const std::function<double()>& clock)
{
    // A loop that has ended is ending the run with its own reason; the hooks decide what, if anything,
    // this thread adds.
    std::string report;
    if (!loop.runOnMain([&] { report = presenter.report(); })) return endWithLastLine(hooks, DISPLAY_LOST_LINE, 1);
    hooks.write("ready " + report);
    if (!loop.runOnMain([&] { presenter.openEventLines(); })) return endWithLastLine(hooks, DISPLAY_LOST_LINE, 1);
    bool unresolved = false;  // "error no address" has been written for the failure that lasts now
    std::optional<SuiteLink::Clock::time_point> lastAttempt;
    for (;;) {
        // Whatever ended the last attempt (refused, closed at once, a broken frame), the next waits its turn.
        if (lastAttempt && !link.waitUntil(*lastAttempt + ATTEMPT_SPACING)) return hooks.end(1);
        lastAttempt = link.now();
        const SuiteAttempt attempt = link.connect(address);
        if (attempt.noAddress) {
            if (!unresolved) hooks.write("error no address " + address.host);
            unresolved = true;
            continue;
        }
        unresolved = false;
        if (attempt.fd < 0) continue;
        hooks.write("connected " + address.host + " " + std::to_string(address.port));
        const Ending ending = serveConnection(attempt.fd, presenter, loop, hooks, link, clock);
        close(attempt.fd);
        if (ending == Ending::loop) return endWithLastLine(hooks, DISPLAY_LOST_LINE, 1);
        if (ending == Ending::output) return hooks.end(1);
        hooks.write("disconnected");
    }
}

bool startNetworkRoad(const SuiteAddress& address, Presenter& presenter, MainLoop& loop, ProcessHooks hooks)
{
    return startRoadThread([address, &presenter, &loop, hooks = std::move(hooks)] {
        runNetworkRoad(address, presenter, loop, hooks, tcpSuiteLink(), wallClock);
    });
}

}  // namespace pp
