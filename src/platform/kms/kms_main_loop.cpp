#include "platform/kms/kms_main_loop.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <xf86drm.h>

#include <cerrno>

#include "platform/kms/kms_device.hpp"
#include "platform/run_end.hpp"

namespace pp::kms {

namespace {

sigset_t endingSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void blockEndingSignals()
{
    const sigset_t set = endingSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

KmsMainLoop::KmsMainLoop(KmsDevice& device) : device_(device)
{
    const sigset_t set = endingSignals();
    signals_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    masterCheck_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    itimerspec everySecond{};
    everySecond.it_value.tv_sec = 1;
    everySecond.it_interval.tv_sec = 1;
    if (masterCheck_ >= 0) timerfd_settime(masterCheck_, 0, &everySecond, nullptr);
}

KmsMainLoop::~KmsMainLoop()
{
    if (signals_ >= 0) close(signals_);
    if (masterCheck_ >= 0) close(masterCheck_);
}

MainLoopTurns::Events KmsMainLoop::deliverEvents(EventHandler&)
{
    return Events::none;
}

bool KmsMainLoop::wait(EventHandler&)
{
    pollfd fds[4] = {{handOver().wakeupFd(), POLLIN, 0},
                     {device_.fd(), POLLIN, 0},
                     {signals_, POLLIN, 0},
                     {masterCheck_, POLLIN, 0}};
    if (poll(fds, 4, -1) < 0 && errno != EINTR) return false;
    if (fds[0].revents & POLLIN) handOver().drainWakeup();
    if (fds[1].revents & (POLLERR | POLLHUP)) return false;
    if ((fds[1].revents & POLLIN) && onDeviceReadable) onDeviceReadable();
    if (fds[2].revents & POLLIN) {
        signalfd_siginfo info{};
        if (read(signals_, &info, sizeof info) == ssize_t(sizeof info)) {
            runEndHooks();
            _exit(128 + int(info.ssi_signo));
        }
    }
    if (fds[3].revents & POLLIN) {
        std::uint64_t expirations = 0;
        [[maybe_unused]] const auto read = ::read(masterCheck_, &expirations, sizeof expirations);
        if (!drmIsMaster(device_.fd())) endWith(DISPLAY_CONNECTION_LOST);
    }
    return true;
}

}  // namespace pp::kms
