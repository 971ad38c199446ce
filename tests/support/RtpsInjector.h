// Sends raw RTPS messages to participants on this machine: UDP unicast to
// 127.0.0.1 and multicast to the discovery group 239.255.0.1 through the
// loopback interface, as the participants' own traffic goes. The port
// numbers are Fast DDS's defaults (port base 7400, domain gain 250,
// participant gain 2). Test code only.
#ifndef TESTS_SUPPORT_RTPSINJECTOR_H
#define TESTS_SUPPORT_RTPSINJECTOR_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace corvane_test {
namespace rtps {

inline std::uint16_t discoveryMulticastPort(unsigned domain) { return static_cast<std::uint16_t>(7400 + 250 * domain); }
inline std::uint16_t metatrafficUnicastPort(unsigned domain, int participant) {
    return static_cast<std::uint16_t>(7400 + 250 * domain + 10 + 2 * participant);
}
inline std::uint16_t userUnicastPort(unsigned domain, int participant) {
    return static_cast<std::uint16_t>(7400 + 250 * domain + 11 + 2 * participant);
}

class Injector {
public:
    Injector() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) throw std::runtime_error("Injector: socket");
        in_addr loopback{};
        loopback.s_addr = htonl(INADDR_LOOPBACK);
        unsigned char const ttl = 1, loop = 1;
        // Bound to 127.0.0.1, multicast leaves through the loopback interface
        // even where IP_MULTICAST_IF is not honoured (qemu-user answers
        // ENOPROTOOPT to it); without the bind it would follow the default
        // route and never reach participants listening on loopback.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr = loopback;
        if (::bind(m_fd, reinterpret_cast<sockaddr const*>(&local), sizeof local) != 0) {
            ::close(m_fd);
            throw std::runtime_error("Injector: bind to 127.0.0.1");
        }
        ::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
        ::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
        ::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    }
    ~Injector() { ::close(m_fd); }
    Injector(Injector const&) = delete;
    Injector& operator=(Injector const&) = delete;

    /// To 127.0.0.1:port. False when the kernel refuses the datagram.
    bool unicast(std::uint16_t port, std::vector<std::uint8_t> const& m) { return send(INADDR_LOOPBACK, port, m); }
    /// To 239.255.0.1:port through the loopback interface.
    bool multicast(std::uint16_t port, std::vector<std::uint8_t> const& m) { return send(0xefff0001u, port, m); }

private:
    bool send(std::uint32_t address, std::uint16_t port, std::vector<std::uint8_t> const& m) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(address);
        to.sin_port = htons(port);
        ssize_t const n = ::sendto(m_fd, m.data(), m.size(), 0, reinterpret_cast<sockaddr const*>(&to), sizeof to);
        return n == static_cast<ssize_t>(m.size());
    }

    int m_fd = -1;
};

}  // namespace rtps
}  // namespace corvane_test

#endif  // TESTS_SUPPORT_RTPSINJECTOR_H
