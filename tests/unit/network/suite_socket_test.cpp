// One connection attempt against listeners of the test's own on the loopback addresses.
#include "network/suite_socket.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace pp {
namespace {

// A listener on the loopback address of `family` on a port of the system's choosing; fd -1 when the
// machine has no such address.
struct Listener {
    int fd = -1;
    std::uint16_t port = 0;

    explicit Listener(int family)
    {
        fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t size = 0;
        if (family == AF_INET6) {
            auto* six = reinterpret_cast<sockaddr_in6*>(&address);
            six->sin6_family = AF_INET6;
            six->sin6_addr = in6addr_loopback;
            size = sizeof *six;
        } else {
            auto* four = reinterpret_cast<sockaddr_in*>(&address);
            four->sin_family = AF_INET;
            four->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            size = sizeof *four;
        }
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 4) != 0) {
            if (fd >= 0) close(fd);
            fd = -1;
            return;
        }
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    ~Listener()
    {
        if (fd >= 0) close(fd);
    }
};

// Whether the connection reaches the listener: it writes a byte the accepted end reads.
bool reaches(Listener& listener, int connected)
{
    if (connected < 0) return false;
    const int accepted = accept(listener.fd, nullptr, nullptr);
    const char sent = 'x';
    char got = 0;
    const bool ok = accepted >= 0 && write(connected, &sent, 1) == 1 && read(accepted, &got, 1) == 1 && got == 'x';
    if (accepted >= 0) close(accepted);
    close(connected);
    return ok;
}

TEST(ConnectToSuite, ReachesASuiteByIpv4AddressByNameAndByIpv6Address)
{
    Listener four(AF_INET);
    ASSERT_GE(four.fd, 0);
    EXPECT_TRUE(reaches(four, connectToSuite({"127.0.0.1", four.port}).fd));

    Listener six(AF_INET6);
    if (six.fd < 0) GTEST_SKIP() << "no IPv6 loopback address";
    EXPECT_TRUE(reaches(six, connectToSuite({"::1", six.port}).fd));
    // "localhost" may name ::1 and 127.0.0.1: whichever is listed first must be passed over when it refuses.
    Listener fourAgain(AF_INET);
    ASSERT_GE(fourAgain.fd, 0);
    const int byName = connectToSuite({"localhost", fourAgain.port}).fd;
    EXPECT_TRUE(reaches(fourAgain, byName));
}

TEST(ConnectToSuite, GivesNoSocketWhereNobodyListensAndTellsAHostWithoutAddress)
{
    std::uint16_t port = 0;
    {
        Listener gone(AF_INET);
        ASSERT_GE(gone.fd, 0);
        port = gone.port;
    }
    const SuiteAttempt refused = connectToSuite({"127.0.0.1", port});
    EXPECT_EQ(refused.fd, -1);
    EXPECT_FALSE(refused.noAddress);
    const SuiteAttempt unresolved = connectToSuite({"suite.invalid", port});
    EXPECT_EQ(unresolved.fd, -1);
    EXPECT_TRUE(unresolved.noAddress);
}

}  // namespace
}  // namespace pp
