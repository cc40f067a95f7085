// The calibration suite's side of the network road for tests: a TCP listener on 127.0.0.1 on a port of
// the system's choosing, one accepted connection at a time, and the frames it sends.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "pixels.hpp"

namespace pp::test {

// A colour's attributes in a suite's message: red, green, blue and, when given, bits.
inline std::string attributes(int r, int g, int b, std::optional<int> bits)
{
    std::string text = "red=\"" + std::to_string(r) + "\" green=\"" + std::to_string(g) + "\" blue=\"" +
                       std::to_string(b) + "\"";
    if (bits) text += " bits=\"" + std::to_string(*bits) + "\"";
    return text;
}

// The message with 8-bit colours on black: a rectangle of shapes.
inline std::string formA(int r, int g, int b, const std::string& geometry)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><calibration><shapes><rectangle><color " +
           attributes(r, g, b, std::nullopt) + " /><geometry " + geometry +
           " /></rectangle></shapes></calibration>";
}

// The message with a colour and a background of `bits` bits each.
inline std::string formB(Rgb colour, Rgb background, int bits, const std::string& geometry)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><calibration><color " +
           attributes(colour.r, colour.g, colour.b, bits) + "/><background " +
           attributes(background.r, background.g, background.b, bits) + "/><geometry " + geometry +
           "/></calibration>";
}

// The 4-byte big-endian length `length` followed by `body`.
inline std::string suiteFrame(const std::string& body, std::uint32_t length)
{
    std::string bytes{char(length >> 24), char(length >> 16 & 255), char(length >> 8 & 255), char(length & 255)};
    return bytes + body;
}

inline std::string suiteFrame(const std::string& body)
{
    return suiteFrame(body, static_cast<std::uint32_t>(body.size()));
}

class SuiteListener {
public:
    // Listens on 127.0.0.1:`port`; 0 lets the system choose a free port.
    explicit SuiteListener(std::uint16_t port = 0)
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = loopback(port);
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || listen(listener_, 4) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        socklen_t size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    // Stops listening before it hangs up, so a presenter that reconnects at once finds nobody.
    ~SuiteListener()
    {
        close(listener_);
        hangUp();
    }
    SuiteListener(const SuiteListener&) = delete;
    SuiteListener& operator=(const SuiteListener&) = delete;

    // A port that was free a moment ago and that nothing listens on now.
    static std::uint16_t freePort()
    {
        SuiteListener probe;
        return probe.port();
    }

    std::uint16_t port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Waits for the presenter to connect; false on time-out. Segments leave as soon as they are written.
    bool accept(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        hangUp();
        pollfd wait{listener_, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(timeout.count())) != 1) return false;
        connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int on = 1;
        setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return connection_ >= 0;
    }

    // Writes the bytes in one write (false when the connection refused them).
    bool send(const std::string& bytes)
    {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(connection_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Writes the bytes one at a time, each in a segment of its own.
    bool sendByteByByte(const std::string& bytes)
    {
        for (char byte : bytes) {
            if (!send(std::string(1, byte))) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

    // Closes the accepted connection, if any.
    void hangUp()
    {
        if (connection_ >= 0) close(connection_);
        connection_ = -1;
    }

private:
    static sockaddr_in loopback(std::uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    int listener_ = -1;
    int connection_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace pp::test
