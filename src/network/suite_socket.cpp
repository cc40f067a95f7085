#include "network/suite_socket.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace pp {
namespace {

// How long one address may take to accept before the next is tried.
constexpr int CONNECT_TIMEOUT_MS = 3000;

// Connects `fd` to `address`, waiting at most CONNECT_TIMEOUT_MS; a host that drops packets would
// otherwise hold the attempt for minutes.
bool connectWithin(int fd, const sockaddr* address, socklen_t length)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
    if (connect(fd, address, length) != 0) {
        if (errno != EINPROGRESS) return false;
        pollfd wait{fd, POLLOUT, 0};
        int ready;
        do {
            ready = poll(&wait, 1, CONNECT_TIMEOUT_MS);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) return false;
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return false;
    }
    return fcntl(fd, F_SETFL, flags) == 0;
}

// Whether the socket reached itself: a port nobody listens on, tried from the same port number on the
// same address, makes the kernel join the two ends into one connection.
bool connectedToItself(int fd)
{
    sockaddr_storage local{}, peer{};
    socklen_t localSize = sizeof local, peerSize = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0
        || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) {
        return false;
    }
    return localSize == peerSize && std::memcmp(&local, &peer, localSize) == 0;
}

}  // namespace

SuiteAttempt connectToSuite(const SuiteAddress& address)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found) != 0) return {-1, true};
    int connected = -1;
    for (const addrinfo* a = found; a && connected < 0; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        if (connectWithin(fd, a->ai_addr, a->ai_addrlen) && !connectedToItself(fd)) {
            connected = fd;
        } else {
            close(fd);
        }
    }
    freeaddrinfo(found);
    return {connected, false};
}

}  // namespace pp
