#include "VICTORY/ZOziDaZodOduzuz/StatusServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

constexpr int StatusServer::kMaxClients;
constexpr std::size_t StatusServer::kMaxRequest;
constexpr std::size_t StatusServer::kMaxReply;
constexpr std::chrono::milliseconds StatusServer::kClientTimeout;
constexpr std::chrono::milliseconds StatusServer::kTickPeriod;

namespace {

using Clock = std::chrono::steady_clock;

std::string errorText(int error) { return std::strerror(error); }

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);  // not retried on EINTR: on Linux the descriptor is gone anyway
        fd = -1;
    }
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Whether a server accepts connections at `path` now.
bool answersAt(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    ::close(fd);
    return rc == 0;
}

// One connection being served.
struct Client {
    int fd = -1;
    Clock::time_point deadline;
    std::array<char, StatusServer::kMaxRequest> request{};
    std::size_t received = 0;
    bool replying = false;
    std::string reply;
    std::size_t sent = 0;
};

}  // namespace

StatusServer::StatusServer(std::function<std::string()> reply, std::function<void()> tick)
    : m_reply(std::move(reply)), m_tick(std::move(tick)) {}

StatusServer::~StatusServer() { stop(); }

std::string StatusServer::start(const std::string& path) {
    std::string why;
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return "cannot make the wake-up pipe: " + errorText(errno);
    }
    sockaddr_un address;
    if (path.empty()) {
        why = "no path";
    } else if (!fillAddress(path, address)) {
        why = path + ": path too long for a Unix socket";
    } else {
        // The directory: made here when missing (its parent must exist).
        const std::string::size_type slash = path.rfind('/');
        const std::string dir = slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
        struct stat info {};
        if (!dir.empty() && ::stat(dir.c_str(), &info) != 0 && ::mkdir(dir.c_str(), 0750) != 0 && errno != EEXIST) {
            why = "cannot create " + dir + ": " + errorText(errno);
        } else if (::lstat(path.c_str(), &info) == 0) {
            if (!S_ISSOCK(info.st_mode)) {
                why = path + " exists and is not a socket";
            } else if (answersAt(address)) {
                why = "another server answers on " + path;
            } else if (::unlink(path.c_str()) != 0) {
                why = "cannot remove the stale " + path + ": " + errorText(errno);
            }
        }
    }
    if (why.empty()) {
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_listen < 0) {
            why = "socket: " + errorText(errno);
        } else if (::bind(m_listen, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            why = "cannot bind " + path + ": " + errorText(errno);
            closeFd(m_listen);
        } else {
            m_path = path;
            // The service's group may connect, nobody else (the umask of
            // the service would leave the owner alone).
            if (::chmod(path.c_str(), 0660) != 0 || ::listen(m_listen, kMaxClients) != 0) {
                why = "cannot open " + path + " to its group: " + errorText(errno);
                closeFd(m_listen);
                ::unlink(path.c_str());
                m_path.clear();
            }
        }
    }
    m_thread = std::thread(&StatusServer::run, this);
    return why;
}

void StatusServer::stop() {
    if (m_thread.joinable()) {
        const char byte = 0;
        ssize_t rc;
        do {
            rc = ::write(m_wake[1], &byte, 1);
        } while (rc < 0 && errno == EINTR);
        m_thread.join();
    }
    closeFd(m_listen);
    closeFd(m_wake[0]);
    closeFd(m_wake[1]);
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
}

void StatusServer::run() {
    // Never a real-time thread: a flood of clients must not take the
    // processor from the worker.
    sched_param normal{};
    normal.sched_priority = 0;
    ::pthread_setschedparam(::pthread_self(), SCHED_OTHER, &normal);

    std::vector<Client> clients;
    clients.reserve(kMaxClients);
    std::vector<pollfd> fds;
    fds.reserve(kMaxClients + 2);
    Clock::time_point nextTick = Clock::now() + kTickPeriod;

    const auto drop = [this](Client& c) {
        closeFd(c.fd);
        ++m_dropped;
    };

    for (;;) {
        fds.clear();
        fds.push_back({m_wake[0], POLLIN, 0});
        // While every slot is taken, further connections wait in the
        // listen backlog (poll ignores -1).
        const bool full = static_cast<int>(clients.size()) >= kMaxClients;
        fds.push_back({full ? -1 : m_listen, POLLIN, 0});
        Clock::time_point wakeAt = nextTick;
        for (const Client& c : clients) {
            fds.push_back({c.fd, static_cast<short>(c.replying ? POLLOUT : POLLIN), 0});
            wakeAt = std::min(wakeAt, c.deadline);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - Clock::now()).count();
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, wait + 1)));
        if (ready < 0 && errno != EINTR) {
            // Nothing sensible to do but wait a little and try again.
            ::usleep(100000);
            continue;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            break;
        }
        const Clock::time_point now = Clock::now();
        if (now >= nextTick) {
            nextTick = now + kTickPeriod;
            if (m_tick) {
                try {
                    m_tick();
                } catch (...) {
                }
            }
        }
        if (ready <= 0) {
            // Time-outs only.
        } else {
            // Each client's events, by position (clients is not resized yet).
            for (std::size_t i = 0; i < clients.size(); ++i) {
                Client& c = clients[i];
                const short events = fds[i + 2].revents;
                if (events == 0) {
                    continue;
                }
                if (!c.replying) {
                    const ssize_t n = ::recv(c.fd, c.request.data() + c.received, c.request.size() - c.received, 0);
                    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
                        continue;
                    }
                    if (n <= 0) {
                        drop(c);  // gone or failed before its request
                        continue;
                    }
                    const char* begin = c.request.data();
                    const char* end = static_cast<const char*>(std::memchr(begin + c.received, '\n', n));
                    c.received += static_cast<std::size_t>(n);
                    if (end == nullptr) {
                        if (c.received >= c.request.size()) {
                            drop(c);  // no line within the bound
                        }
                        continue;
                    }
                    std::string line(begin, end);
                    if (!line.empty() && line.back() == '\r') {
                        line.pop_back();
                    }
                    try {
                        c.reply = line == "status" && m_reply ? m_reply() : "{\"error\":\"unknown request\"}";
                    } catch (...) {
                        c.reply = "{\"error\":\"status not available\"}";
                    }
                    if (c.reply.size() > kMaxReply) {
                        c.reply.resize(kMaxReply);
                    }
                    c.reply.push_back('\n');
                    c.replying = true;
                } else if ((events & (POLLOUT | POLLERR | POLLHUP)) != 0) {
                    const ssize_t n = ::send(c.fd, c.reply.data() + c.sent, c.reply.size() - c.sent, MSG_NOSIGNAL);
                    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
                        continue;
                    }
                    if (n < 0) {
                        drop(c);
                        continue;
                    }
                    c.sent += static_cast<std::size_t>(n);
                    if (c.sent == c.reply.size()) {
                        closeFd(c.fd);
                        ++m_answered;
                    }
                }
            }
            // New connections, up to the bound.
            if ((fds[1].revents & POLLIN) != 0) {
                while (static_cast<int>(clients.size()) < kMaxClients) {
                    const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (fd < 0) {
                        if (errno == EINTR || errno == ECONNABORTED) {
                            continue;
                        }
                        break;  // EAGAIN, or out of descriptors: the rest wait
                    }
                    Client c;
                    c.fd = fd;
                    c.deadline = now + kClientTimeout;
                    clients.push_back(std::move(c));
                }
            }
        }
        for (Client& c : clients) {
            if (c.fd >= 0 && now >= c.deadline) {
                drop(c);  // too slow: never sent its request or never read the reply
            }
        }
        clients.erase(std::remove_if(clients.begin(), clients.end(), [](const Client& c) { return c.fd < 0; }),
                      clients.end());
    }
    for (Client& c : clients) {
        closeFd(c.fd);
    }
}
