// The server with the navigator simulator, plain or with DDS Security, and
// a participant of the test that watches discovery: it learns the
// server's and the navigator's GUID prefixes, entities and locators and
// records the server's announcement, so that a test can send the server
// single crafted datagrams as a neighbour on the network would.
#ifndef TESTS_VICTORY_ZOZIDAZODODUZUZ_ENDTOENDGUARDSUPPORT_H
#define TESTS_VICTORY_ZOZIDAZODODUZUZ_ENDTOENDGUARDSUPPORT_H

#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndSupport.h"
#include "tests/network/StandInParticipant.h"
#include "tests/support/RtpsInjector.h"
#include "tests/support/RtpsMessage.h"
#include "tests/support/SecurityPki.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace guard_e2e {

using namespace e2e;
namespace r = corvane_test::rtps;
namespace net = corvane_test::net;
using corvane_test::LoggedProcess;
using corvane_test::SecurityPki;

constexpr char kServerName[] = "ZOziDaZodOduzuz";
constexpr char kNavigatorName[] = "aspn2-tool nav";

inline std::unique_ptr<LoggedProcess> tool(std::vector<std::string> args) {
    args.insert(args.begin(), ASPN2_TOOL_PATH);
    return std::make_unique<LoggedProcess>(args);
}

// The server with the navigator simulator, plain or secure, and a
// participant of the test that watches discovery.
class Scenario {
public:
    Scenario(int domain, bool secure) : m_domain(static_cast<unsigned>(domain)), m_rig(domain) {
        m_plain = m_rig.root->configDir() + "/connections-plain.xml";
        SecurityPki::write(m_plain, SecurityPki::read(m_rig.root->connectionsFile()));
        m_navigator = m_commander = m_plain;
        if (secure) {
            m_pki = std::make_unique<SecurityPki>(CORVANE_SOURCE_DIR);
            SecurityPki::writeSecured(m_plain, m_rig.root->connectionsFile(), m_pki->role("server"));
            m_navigator = m_rig.root->configDir() + "/connections-navigator.xml";
            m_commander = m_rig.root->configDir() + "/connections-commander.xml";
            SecurityPki::writeSecured(m_plain, m_navigator, m_pki->role("navigator"));
            SecurityPki::writeSecured(m_plain, m_commander, m_pki->role("commander"));
        }
    }
    ~Scenario() {
        m_watch.reset();
        m_nav.reset();
    }

    ::testing::AssertionResult start() {
        m_rig.fpga = std::make_unique<LoggedProcess>(
            std::vector<std::string>{FPGA_SIM_PATH, "--memory", m_rig.root->devmemFile(), "--ready-file",
                                     m_rig.root->path() + "/fpga.ready", m_rig.root->devicesFile()});
        if (!m_rig.fpga->waitForLine("fpga-sim: ready", 30s)) {
            return ::testing::AssertionFailure() << "fpga-sim did not get ready";
        }
        net::StandIn::Options o;
        o.domain = m_domain;
        o.name = "GuardTestWatch";
        o.capture = m_capture;
        if (m_pki) {
            auto const f = m_pki->role("monitor");
            o.security = FACE::TSS::Security::Files{f.identityCa,    f.certificate, f.privateKey,
                                                    f.permissionsCa, f.governance,  f.permissions};
        }
        m_watch = std::make_unique<net::StandIn>(o);
        m_rig.server = std::make_unique<LoggedProcess>(
            std::vector<std::string>{SERVER_PATH, m_rig.root->topLevelFile()}, m_rig.root->environment());
        m_nav = tool({"nav", "--connections", m_navigator, "--lat", "45", "--lon", "7.5"});
        auto const server = m_watch->discovery().participant(kServerName, scaled(60s), 6);
        auto const nav = m_watch->discovery().participant(kNavigatorName, scaled(60s), 2);
        if (!server || !nav || server->userPorts.empty()) {
            return ::testing::AssertionFailure()
                   << "discovery incomplete: " << discoveryState(server, nav)
                   << (server && server->userPorts.empty() ? ", the server announced no user port" : "") << "\n"
                   << m_rig.transcript() << (m_nav ? m_nav->transcript() : std::string());
        }
        m_server = *server;
        m_navPrefix = nav->prefix;
        if (!aliveAndTelling())
            return ::testing::AssertionFailure() << "the server does not tell\n" << m_rig.transcript();
        return ::testing::AssertionSuccess();
    }

    // What the watch has discovered of the server and the navigator.
    std::string discoveryState(std::optional<net::DiscoveredParticipant> const& server,
                               std::optional<net::DiscoveredParticipant> const& nav) {
        return std::string(server ? "server seen" : "server with 6 endpoints not seen") + endpointsSeen(kServerName) +
               ", " + (nav ? "navigator seen" : "navigator with 2 endpoints not seen") + endpointsSeen(kNavigatorName);
    }

    // How far the watch's discovery of participant `name` got.
    std::string endpointsSeen(std::string const& name) {
        auto const p = m_watch->discovery().participant(name, std::chrono::milliseconds(0));
        if (!p) return " (no announcement of it received)";
        return " (its announcement received, " + std::to_string(m_watch->discovery().endpointsOf(p->prefix).size()) +
               " endpoints)";
    }

    // A ping answered and a position report told after the call.
    ::testing::AssertionResult aliveAndTelling() {
        CommandRun const ping = runCommandAllowingOneMissedMatch(
            [&] {
                return tool({"command", "--connections", m_commander, "--timeout", scaledSeconds(30s), "--count", "1",
                             "BITSERVER_PING"});
            },
            60s);
        if (ping.status != 0) {
            return ::testing::AssertionFailure() << "no answer to a ping\n" << ping.transcript << m_rig.transcript();
        }
        std::uint64_t const before = m_lastTell;
        for (auto const deadline = Clock::now() + scaled(10s); Clock::now() < deadline && m_lastTell <= before;) {
            m_rig.bus.pump(100ms);
            for (auto const& m : m_rig.bus.received(kPosition)) {
                if (m.told && m.told->count > m_lastTell) m_lastTell = m.told->count;
            }
            m_rig.bus.clear();
        }
        if (m_lastTell <= before)
            return ::testing::AssertionFailure() << "no fresh position report\n" << m_rig.transcript();
        return ::testing::AssertionSuccess();
    }

    // The server's own announcement as the watch received it.
    std::optional<r::Bytes> serverAnnouncement() {
        for (auto const deadline = Clock::now() + 10s; Clock::now() < deadline; std::this_thread::sleep_for(100ms)) {
            for (net::Captured const& c : m_capture->all()) {
                if (!c.multicast || r::prefixOf(c.bytes) != m_server.prefix) continue;
                for (auto const& s : r::split(c.bytes)) {
                    if (s.id == r::kData) return c.bytes;
                }
            }
        }
        return std::nullopt;
    }

    std::optional<r::EntityId> entity(r::GuidPrefix const& prefix, std::string const& topic, bool writer) const {
        for (auto const& e : m_watch->discovery().endpointsOf(prefix)) {
            if (e.topic == topic && e.writer == writer) return e.entity;
        }
        return std::nullopt;
    }

    // A message from the navigator's participant to the server's PVA
    // reader, carrying `submessage`.
    r::Bytes fromNavigator(r::Submessage submessage) const {
        return r::message(r::header(m_navPrefix), {r::infoDst(m_server.prefix), submessage});
    }

    void toDiscovery(r::Bytes const& m) { ASSERT_TRUE(m_injector.multicast(r::discoveryMulticastPort(m_domain), m)); }
    void toServer(r::Bytes const& m) {
        ASSERT_TRUE(m_injector.unicast(static_cast<std::uint16_t>(m_server.userPorts[0]), m));
    }

    // A new navigator process (a writer the server has not heard yet).
    void restartNavigator() {
        m_nav->signal(SIGTERM);
        m_nav->finish(15s);
        m_nav = tool({"nav", "--connections", m_navigator, "--lat", "45", "--lon", "7.5"});
    }

    ::testing::AssertionResult stopsInOrder() {
        m_nav->signal(SIGTERM);
        m_nav->finish(15s);
        m_watch.reset();
        return m_rig.stopsInOrder();
    }

    LoggedProcess& server() { return *m_rig.server; }
    net::DiscoveredParticipant const& serverInfo() const { return m_server; }
    r::GuidPrefix navigatorPrefix() const { return m_navPrefix; }

private:
    unsigned m_domain;
    Rig m_rig;
    std::unique_ptr<SecurityPki> m_pki;
    std::string m_plain, m_navigator, m_commander;
    std::shared_ptr<net::CaptureStore> m_capture = std::make_shared<net::CaptureStore>();
    std::unique_ptr<net::StandIn> m_watch;
    std::unique_ptr<LoggedProcess> m_nav;
    net::DiscoveredParticipant m_server;
    r::GuidPrefix m_navPrefix{};
    std::uint64_t m_lastTell = 0;
    r::Injector m_injector;
};

// The pieces (each with its padding) of a message's submessages.
inline std::vector<r::Bytes> pieces(r::Bytes const& m) {
    std::vector<r::Bytes> out;
    for (auto const& s : r::split(m)) {
        out.emplace_back(m.begin() + static_cast<std::ptrdiff_t>(s.start),
                         m.begin() + static_cast<std::ptrdiff_t>(std::min(s.next, m.size())));
        out.back().resize((out.back().size() + 3) & ~std::size_t{3}, 0);
    }
    return out;
}

inline r::Bytes join(r::Bytes const& m, std::vector<r::Bytes> const& parts) {
    r::Bytes out(m.begin(), m.begin() + 20);
    for (auto const& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// eProsima's statistics submessage of `length` data bytes.
inline r::Bytes statistics(std::uint16_t length) {
    r::Bytes s{0x80, 0x01, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)};
    s.resize(4 + length, 0x3c);
    return s;
}

// The announcement's variants: its submessages repeated so that the
// statistics submessage stands in the middle (a Debian-built server ends
// every message with it; another gets one added first), the statistics
// submessage truncated to 40, lengthened to 64, and moved in front.
inline std::vector<std::pair<std::string, r::Bytes>> announcementVariants(r::Bytes const& announcement) {
    std::vector<r::Bytes> parts = pieces(announcement);
    if (parts.empty() || parts.back()[0] != 0x80) parts.push_back(statistics(56));
    std::vector<r::Bytes> body(parts.begin(), parts.end() - 1);
    std::vector<r::Bytes> twice = parts;
    twice.insert(twice.end(), parts.begin(), parts.end());
    std::vector<r::Bytes> truncated = body, lengthened = body, moved = body;
    truncated.push_back(statistics(40));
    lengthened.push_back(statistics(64));
    moved.insert(moved.begin(), statistics(56));
    return {{"repeated", join(announcement, twice)},
            {"statistics truncated", join(announcement, truncated)},
            {"statistics lengthened", join(announcement, lengthened)},
            {"statistics in the middle", join(announcement, moved)}};
}

}  // namespace guard_e2e

#endif  // TESTS_VICTORY_ZOZIDAZODODUZUZ_ENDTOENDGUARDSUPPORT_H
