#include "tools/pnt-status/StatusClient.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace PntStatus {

std::optional<std::string> fetchStatus(const std::string& path, std::chrono::milliseconds timeout, std::string& error) {
    constexpr std::size_t kMaxAnswer = 4u << 20;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = path + ": not a usable socket path";
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return std::nullopt;
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const auto fail = [&](const std::string& what) {
        error = path + ": " + what;
        ::close(fd);
        return std::nullopt;
    };
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return fail(std::strerror(errno));
    }
    const char request[] = "status\n";
    std::size_t sent = 0;
    while (sent < sizeof request - 1) {
        const ssize_t n = ::send(fd, request + sent, sizeof request - 1 - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(std::string("sending the request: ") + std::strerror(errno));
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string answer;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(errno == EAGAIN || errno == EWOULDBLOCK ? std::string("no answer in time")
                                                                : std::string(std::strerror(errno)));
        }
        if (n == 0) {
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(n));
        if (answer.size() > kMaxAnswer) {
            return fail("answer too long");
        }
    }
    ::close(fd);
    if (answer.empty() || answer.back() != '\n') {
        error = path + ": incomplete answer";
        return std::nullopt;
    }
    answer.pop_back();
    return answer;
}

}  // namespace PntStatus
