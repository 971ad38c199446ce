// UDP helpers for tests: a receiver bound to an ephemeral loopback port and
// a one-shot sender. Ports for code that must bind one itself come from the
// rig (RuntimeRoot). Header-only; no dependencies beyond POSIX.
#ifndef TESTS_SUPPORT_UDPTESTSOCKET_H
#define TESTS_SUPPORT_UDPTESTSOCKET_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane_test {

// A UDP socket bound to 127.0.0.1 on a port chosen by the kernel, so tests
// running in parallel never collide.
class UdpReceiver {
public:
    UdpReceiver() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) throw std::runtime_error("UdpReceiver: socket failed");
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t length = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
            ::close(m_fd);
            throw std::runtime_error("UdpReceiver: bind failed");
        }
        m_port = ntohs(a.sin_port);
    }
    ~UdpReceiver() { ::close(m_fd); }
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    std::uint16_t port() const { return m_port; }

    // The next datagram, or nothing when none arrives within `timeout`.
    std::optional<std::string> receive(std::chrono::milliseconds timeout) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        std::vector<char> buffer(65536);
        const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer.data(), static_cast<std::size_t>(n));
    }

    // Discards everything queued.
    void drain() {
        while (receive(std::chrono::milliseconds(0))) {
        }
    }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// Sends one datagram to 127.0.0.1:port.
inline void sendUdp(std::uint16_t port, const std::string& data) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("sendUdp: socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const ssize_t n = ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::close(fd);
    if (n != static_cast<ssize_t>(data.size())) throw std::runtime_error("sendUdp: send failed");
}

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_UDPTESTSOCKET_H
