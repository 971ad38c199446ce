// victory-monitor: prints every VICTORY data message that arrives on the
// given UDP ports, one line each.
//
//   victory-monitor [--json] [--count N | --until N] [--seconds S] [--bind ADDRESS] PORT...
//
// Port 0 lets the system choose; every bound address is announced on stderr
// as "victory-monitor: listening on ADDRESS:PORT". Malformed datagrams are
// reported on stderr and skipped. Ends with status 0 after N messages, after
// S seconds, or on SIGINT / SIGTERM; 1 when a port cannot be opened; 2 on a
// bad command line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/victory/VictoryDataMessage.h"
#include "tools/victory-monitor/MonitorFormat.h"

namespace {

struct Options {
    bool json = false;
    long long count = -1;                   // -1: unlimited
    double seconds = -1;                    // < 0: unlimited
    std::string bindAddress = "127.0.0.1";  // this machine only, unless asked
    std::vector<std::uint16_t> ports;
};

struct Listener {
    int fd = -1;
    std::uint16_t port = 0;
};

constexpr const char* kUsage =
    "usage: victory-monitor [--json] [--count N] [--until N] [--seconds S] [--bind ADDRESS] PORT...\n"
    "  Prints each VICTORY data message received on the UDP ports, one line each.\n"
    "  --json        one JSON object per line instead of a readable line (fields in\n"
    "                a fixed order, numbers in fixed formats)\n"
    "  --count N     stop after N messages (N >= 1)\n"
    "  --until N     the same as --count N\n"
    "  --seconds S   stop after S seconds (S > 0)\n"
    "  --bind A      IPv4 address to listen on (default 127.0.0.1; 0.0.0.0 for\n"
    "                every interface)\n"
    "  PORT          UDP port 0..65535 (0: any free port)\n";

bool parseOptions(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        char* end = nullptr;
        if (arg == "--json") {
            o.json = true;
        } else if ((arg == "--count" || arg == "--until") && hasValue) {
            errno = 0;
            o.count = std::strtoll(argv[++i], &end, 10);
            if (*end != '\0' || errno != 0 || o.count < 1) {
                error = arg + " needs a whole number >= 1";
                return false;
            }
        } else if (arg == "--seconds" && hasValue) {
            o.seconds = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(o.seconds > 0) || !std::isfinite(o.seconds)) {
                error = "--seconds needs a number > 0";
                return false;
            }
        } else if (arg == "--bind" && hasValue) {
            o.bindAddress = argv[++i];
            in_addr a{};
            if (inet_pton(AF_INET, o.bindAddress.c_str(), &a) != 1) {
                error = "--bind needs a dotted IPv4 address";
                return false;
            }
        } else if (arg == "-h" || arg == "--help") {
            error.clear();
            return false;
        } else if (!arg.empty() && arg[0] != '-') {
            errno = 0;
            const unsigned long port = std::strtoul(arg.c_str(), &end, 10);
            if (*end != '\0' || errno != 0 || port > 65535) {
                error = "not a port: " + arg;
                return false;
            }
            o.ports.push_back(static_cast<std::uint16_t>(port));
        } else {
            error = "unknown or incomplete option: " + arg;
            return false;
        }
    }
    if (o.ports.empty()) {
        error = "no port given";
        return false;
    }
    return true;
}

bool openListener(const std::string& address, std::uint16_t port, Listener& l) {
    l.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (l.fd < 0) {
        std::fprintf(stderr, "victory-monitor: socket: %s\n", std::strerror(errno));
        return false;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    socklen_t length = sizeof a;
    if (::bind(l.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(l.fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        std::fprintf(stderr, "victory-monitor: cannot listen on %s:%u: %s\n", address.c_str(),
                     static_cast<unsigned>(port), std::strerror(errno));
        ::close(l.fd);
        l.fd = -1;
        return false;
    }
    l.port = ntohs(a.sin_port);
    std::fprintf(stderr, "victory-monitor: listening on %s:%u\n", address.c_str(), static_cast<unsigned>(l.port));
    return true;
}

std::string endpoint(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

int run(const Options& options) {
    // Signals arrive through a descriptor, so the wait below sees them
    // without races.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return 1;
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::fprintf(stderr, "victory-monitor: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    std::vector<Listener> listeners;
    std::vector<pollfd> fds{{signalFd, POLLIN, 0}};
    int status = 0;
    for (const std::uint16_t port : options.ports) {
        Listener l;
        if (!openListener(options.bindAddress, port, l)) {
            status = 1;
            break;
        }
        listeners.push_back(l);
        fds.push_back({l.fd, POLLIN, 0});
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline =
        options.seconds > 0
            ? Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds))
            : Clock::time_point::max();
    long long printed = 0;
    std::vector<char> buffer(65536);
    bool done = status != 0;
    while (!done) {
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            timeout = static_cast<int>(std::min<long long>(left + 1, 1 << 30));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "victory-monitor: poll: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (fds[0].revents != 0) break;  // SIGINT or SIGTERM
        for (std::size_t i = 1; i < fds.size() && !done; ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            const Listener& l = listeners[i - 1];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(l.fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) continue;
            victory::DataMessage message;
            std::string error;
            if (!victory::parseDataMessage(buffer.data(), static_cast<std::size_t>(n), message, error)) {
                std::fprintf(stderr, "victory-monitor: port %u: ignored a datagram of %zd bytes from %s: %s\n",
                             static_cast<unsigned>(l.port), n, endpoint(from).c_str(), error.c_str());
                continue;
            }
            const std::string line =
                options.json ? victory_monitor::formatJson(message, l.port) : victory_monitor::formatHuman(message);
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
            done = options.count > 0 && ++printed >= options.count;
        }
    }
    for (const Listener& l : listeners) ::close(l.fd);
    ::close(signalFd);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        if (error.empty()) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "victory-monitor: %s (see --help)\n", error.c_str());
        return 2;
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "victory-monitor: %s\n", e.what());
        return 1;
    }
}
