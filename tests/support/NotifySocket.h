// A stand-in for the service manager's notification socket: a unix datagram
// socket bound in a temporary folder, whose path goes into NOTIFY_SOCKET of
// the process under test; receive() returns one datagram (sd_notify sends
// one per call, e.g. "READY=1\nSTATUS=...").
#ifndef TESTS_SUPPORT_NOTIFYSOCKET_H
#define TESTS_SUPPORT_NOTIFYSOCKET_H

#include "tests/support/TempDir.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

namespace corvane_test {

class NotifySocket {
public:
    NotifySocket() : m_dir("notify-socket"), m_path(m_dir.path() + "/notify") {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (m_fd < 0 || m_path.size() >= sizeof address.sun_path) throw std::runtime_error("NotifySocket: socket");
        std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            throw std::runtime_error("NotifySocket: bind " + m_path);
        }
    }
    ~NotifySocket() { ::close(m_fd); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const std::string& path() const { return m_path; }
    std::string environment() const { return "NOTIFY_SOCKET=" + m_path; }

    // The next datagram, or nothing when none arrives within `timeout`.
    std::optional<std::string> receive(std::chrono::milliseconds timeout) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(n));
    }

    // Waits up to `timeout` for a datagram containing `part`; the others
    // received on the way are dropped.
    bool waitFor(const std::string& part, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            const auto message = receive(left);
            if (message && message->find(part) != std::string::npos) return true;
        }
    }

private:
    TempDir m_dir;
    std::string m_path;
    int m_fd = -1;
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_NOTIFYSOCKET_H
