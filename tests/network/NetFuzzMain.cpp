// The network fuzzer: mutations of real traffic sent to a running server.
//
//   rtps_net_fuzz [--seconds N] [--datagrams N] [--seed N] [--domain N] [--secure]
//                 [--batch N] [--capture-seconds N] [--failure-file PATH]
//                 [--save-seeds DIR] [--replay FILE]
//   rtps_net_fuzz --check FILE...
//
// It lays out a runtime root (DDS domain --domain, default 147), starts the
// FPGA simulator, the server and the navigator simulator (aspn2-tool nav),
// then participants of its own through the transport services: a navigator
// (publishing from source id 97, which the server filters), a commander
// and a listener. A stand-in of the server (the server's six endpoints, a
// recording transport under the datagram guard) captures for
// --capture-seconds what such a participant receives from them: discovery,
// endpoint discovery, data, heartbeats, acknacks, fragments of a large
// command, and with --secure (a demo PKI from scripts/make-pki, each role
// with its own identity, the stand-in with the server's) handshakes and
// protected submessages. The guard of this process must drop none of it.
//
// Then, until --seconds have passed and --datagrams were sent: batches of
// --batch mutated messages (tests/network/Mutator.h; 1 to 3 mutations
// each, seeded by --seed), the stand-in's GUID prefix and entity ids
// rewritten to the server's and the sources' prefixes kept, so that they
// reach the server's matched endpoints, sent by UDP to the server's
// unicast locators learnt from discovery (the port class they were
// captured on) and, one in eight, to the domain's discovery multicast port
// (not those that carry the server's GUID prefix: they go to the server
// alone, see fuzz()).
// After each batch the server must be running, tell a fresh position
// report on the VICTORY bus within 5 s and answer a ping within 5 s. At the
// end it must stop on SIGTERM in order. The reports come from the navigator
// simulator and the pings from a participant made after the capture: no
// mutation carries their GUID prefixes (a HEARTBEAT or GAP from a writer's
// prefix that moves its sequence numbers far ahead makes the server ignore
// that writer's later samples, as RTPS says; that is impersonation, not a
// fault of the server).
//
// Prints the seed, the capture, progress every 10 s and a summary: batches,
// datagrams sent. On a failure the failing batch goes to --failure-file
// (default ./rtps-net-fuzz-failure.txt), the server's thread stacks, taken
// at once with gdb where it is installed, to that name plus ".stacks", and
// the exit status is 1;
// --replay FILE sends such a batch once to a fresh server, with the GUID
// prefixes of the new run. --save-seeds DIR writes a selection of the
// captured messages (the guard's fuzz seeds). --check FILE... only prints
// the guard's verdict on each file (one raw RTPS message each). Exit status 0 when the
// server survived, 1 when it did not, 2 on a bad command line, 3 when the
// set-up failed.

#include "FACE/CV_Config.h"
#include "FACE/CV_TSS.h"
#include "FACE/DatagramGuardStatus.h"
#include "aspn2_msgs/CommandResponse.h"
#include "aspn2_msgs/EventLog.h"
#include "aspn2_msgs/MaintenanceEvent.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "platform/victory/VictoryDataMessage.h"
#include "tests/network/Mutator.h"
#include "tests/network/StandInParticipant.h"
#include "tests/support/LoggedProcess.h"
#include "tests/support/RtpsInjector.h"
#include "tests/support/RuntimeRoot.h"
#include "tests/support/SecurityPki.h"

#include <fastdds/dds/log/Log.hpp>
#include <fastrtps/xmlparser/XMLProfileManager.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace r = corvane_test::rtps;
namespace net = corvane_test::net;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using corvane_test::LoggedProcess;
using RC = FACE::RETURN_CODE_TYPE::Value;

struct Options {
    long seconds = 60;
    long long datagrams = 0;
    std::uint64_t seed = 0;
    bool seedGiven = false;
    unsigned domain = 147;
    bool secure = false;
    std::size_t batch = 1000;
    long captureSeconds = 8;
    std::string failureFile = "rtps-net-fuzz-failure.txt";
    std::string saveSeeds;
    std::string replay;
    std::vector<std::string> check;  // files of raw RTPS messages to check, nothing else
};

void say(std::string const& line) { std::cout << "[fuzz] " << line << std::endl; }

std::string hex(r::Bytes const& b) {
    std::ostringstream out;
    for (std::uint8_t c : b) out << std::hex << std::setw(2) << std::setfill('0') << static_cast<unsigned>(c);
    return out.str();
}
std::optional<r::Bytes> unhex(std::string const& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    r::Bytes out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        std::string const pair = text.substr(i, 2);
        unsigned long const v = std::strtoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}
std::string hex(r::GuidPrefix const& p) { return hex(r::Bytes(p.begin(), p.end())); }

// --- The server and its simulators ------------------------------------------------

// Three sockets of the VICTORY data bus; tells whether a position report
// newer than the last one seen has arrived.
class Bus {
public:
    std::array<std::uint16_t, 3> ports() const {
        return {m_sockets[0].port(), m_sockets[1].port(), m_sockets[2].port()};
    }
    // Waits up to `timeout` for a position message with a tell count above
    // the last one seen.
    bool freshReport(std::chrono::milliseconds timeout) {
        auto const deadline = Clock::now() + timeout;
        bool fresh = false;
        while (!fresh && Clock::now() < deadline) {
            for (int i = 0; i < 3; ++i) {
                while (auto datagram = m_sockets[i].receive(i == 0 ? 20ms : 0ms)) {
                    victory::DataMessage m;
                    std::string error;
                    if (i != 0 || !victory::parseDataMessage(datagram->data(), datagram->size(), m, error)) continue;
                    if (m.told && m.told->count > m_lastTell) {
                        m_lastTell = m.told->count;
                        fresh = true;
                    }
                }
            }
        }
        return fresh;
    }

private:
    std::array<corvane_test::UdpReceiver, 3> m_sockets;
    std::uint64_t m_lastTell = 0;
};

// One of the fuzzer's own participants through the transport services.
class Role {
public:
    Role(std::string const& connections, std::string const& name) {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        m_tss = std::make_shared<FACE::TSS::CV_TSS>(name);
        m_tss->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        m_tss->Initialize(FACE::String(connections.c_str()), rc);
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) throw std::runtime_error("role " + name + ": no transport");
    }
    ~Role() {
        m_pva.reset();
        m_utc.reset();
        m_command.reset();
        m_events.reset();
        m_maintenance.reset();
        m_tss.reset();
    }
    Role(Role const&) = delete;
    Role& operator=(Role const&) = delete;

    r::GuidPrefix prefix() const {
        r::GuidPrefix p{};
        auto const& g = m_tss->participant()->getGuid().guidPrefix;
        std::copy(std::begin(g.value), std::end(g.value), p.begin());
        return p;
    }

    template <typename T>
    std::pair<std::shared_ptr<FACE::TSS::Details::CV_TypedTS<T>>, long long> open(char const* name) {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long id = -1;
        int unused = 0;
        m_tss->Create_Connection(FACE::String(name), -1, id, unused, rc);
        auto typed = std::make_shared<FACE::TSS::Details::CV_TypedTS<T>>();
        typed->Set_Reference("", m_tss, 0, rc);
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) throw std::runtime_error(std::string("no connection ") + name);
        return {typed, id};
    }
    template <typename T>
    static void check(std::shared_ptr<FACE::TSS::Details::CV_TypedTS<T>> const&, RC rc, char const* what) {
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) throw std::runtime_error(std::string("cannot ") + what);
    }

    // Navigator: PVA and UTC senders.
    void navigator() {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        std::tie(m_pva, m_pvaId) = open<aspn2_msgs::idl::PositionVelocityAttitude>("PositionVelocityAttitude");
        m_pva->Register_Sender(m_pvaId, rc);
        check(m_pva, rc, "publish PVA");
        std::tie(m_utc, m_utcId) = open<aspn2_msgs::idl::UTCTime>("UTCTime");
        m_utc->Register_Sender(m_utcId, rc);
        check(m_utc, rc, "publish UTC");
    }
    void sendNavigation(int i) {
        long long t = 0;
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        aspn2_msgs::idl::PositionVelocityAttitude pva;
        pva.header().device_id((1 << 24) | (97 << 16) | (3 << 8));
        pva.header().timestamp_valid().sec(1000 + i / 10);
        pva.position().latitude(0.6);
        pva.position().longitude(0.1);
        pva.position().altitude(200.0 + i);
        for (int k = 0; k < 9; ++k) pva.covariance()[k][k] = 1.0;
        m_pva->Send_Message(m_pvaId, 0, t, pva, rc);
        aspn2_msgs::idl::UTCTime utc;
        utc.header().device_id((1 << 24) | (97 << 16) | (4 << 8));
        utc.header().timestamp_valid().sec(1000 + i / 10);
        m_utc->Send_Message(m_utcId, 0, t, utc, rc);
    }

    // Commander: Command sender, Response reader.
    void commander() {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        std::tie(m_command, m_commandId) = open<aspn2_msgs::idl::CommandResponse>("Command");
        m_command->Register_Sender(m_commandId, rc);
        check(m_command, rc, "publish Command");
        long long responseId = -1;
        std::tie(m_response, responseId) = open<aspn2_msgs::idl::CommandResponse>("Response");
        m_response->Register_Callback(
            responseId,
            [this](long long, long long, aspn2_msgs::idl::CommandResponse const& m, FACE::TSS::HEADER_TYPE const&,
                   FACE::Sequence<FACE::TSS::QoS_Element> const&, RC&) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_answered.insert(m.command_identifier());
                m_changed.notify_all();
            },
            rc);
        check(m_response, rc, "read Response");
    }
    void sendCommand(std::string const& text, std::int32_t identifier) {
        aspn2_msgs::idl::CommandResponse m;
        m.header().device_id((2 << 24) | (50 << 16) | (2 << 8));
        m.command_identifier(identifier);
        m.command_response(text);
        long long t = 0;
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        m_command->Send_Message(m_commandId, 0, t, m, rc);
    }
    bool ping(std::int32_t identifier, std::chrono::milliseconds timeout) {
        sendCommand("BITSERVER_PING", identifier);
        return answered(identifier, timeout);
    }
    bool answered(std::int32_t identifier, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_answered.count(identifier) > 0; });
    }

    // Listener: EventLog and MaintenanceEvent readers (and Response).
    void listener() {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long id = -1;
        std::tie(m_events, id) = open<aspn2_msgs::idl::EventLog>("EventLog");
        m_events->Register_Callback(
            id,
            [](long long, long long, aspn2_msgs::idl::EventLog const&, FACE::TSS::HEADER_TYPE const&,
               FACE::Sequence<FACE::TSS::QoS_Element> const&, RC&) {},
            rc);
        check(m_events, rc, "read EventLog");
        std::tie(m_maintenance, id) = open<aspn2_msgs::idl::MaintenanceEvent>("MaintenanceEvent");
        m_maintenance->Register_Callback(
            id,
            [](long long, long long, aspn2_msgs::idl::MaintenanceEvent const&, FACE::TSS::HEADER_TYPE const&,
               FACE::Sequence<FACE::TSS::QoS_Element> const&, RC&) {},
            rc);
        check(m_maintenance, rc, "read MaintenanceEvent");
        std::tie(m_response, id) = open<aspn2_msgs::idl::CommandResponse>("Response");
        m_response->Register_Callback(
            id,
            [](long long, long long, aspn2_msgs::idl::CommandResponse const&, FACE::TSS::HEADER_TYPE const&,
               FACE::Sequence<FACE::TSS::QoS_Element> const&, RC&) {},
            rc);
        check(m_response, rc, "read Response");
    }

private:
    std::shared_ptr<FACE::TSS::CV_TSS> m_tss;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::PositionVelocityAttitude>> m_pva;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::UTCTime>> m_utc;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::CommandResponse>> m_command, m_response;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::EventLog>> m_events;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::MaintenanceEvent>> m_maintenance;
    long long m_pvaId = -1, m_utcId = -1, m_commandId = -1;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<std::int32_t> m_answered;
};

// Where a captured message arrived, and so where its mutations go.
enum class PortClass : char { kMulticast = 'm', kMetatraffic = 't', kUser = 'u' };

struct Record {
    r::Bytes bytes;
    PortClass port = PortClass::kUser;
};

// Everything of one run: runtime root, processes, roles.
class Rig {
public:
    explicit Rig(Options const& o) : m_options(o) {
        corvane_test::RuntimeRoot::Options ro;
        ro.sourceDir = CORVANE_SOURCE_DIR;
        ro.fpgaSim = FPGA_SIM_PATH;
        ro.domainId = static_cast<int>(o.domain);
        ro.dataBusPorts = bus.ports();
        ro.prefix = "rtps-net-fuzz";
        root = std::make_unique<corvane_test::RuntimeRoot>(ro);
        std::string const plain = root->configDir() + "/connections-plain.xml";
        corvane_test::SecurityPki::write(plain, corvane_test::SecurityPki::read(root->connectionsFile()));
        navigatorFile = commanderFile = listenerFile = plain;
        if (o.secure) {
            pki = std::make_unique<corvane_test::SecurityPki>(CORVANE_SOURCE_DIR);
            corvane_test::SecurityPki::writeSecured(plain, root->connectionsFile(), pki->role("server"));
            navigatorFile = root->configDir() + "/connections-navigator.xml";
            commanderFile = root->configDir() + "/connections-commander.xml";
            listenerFile = root->configDir() + "/connections-listener.xml";
            corvane_test::SecurityPki::writeSecured(plain, navigatorFile, pki->role("navigator"));
            corvane_test::SecurityPki::writeSecured(plain, commanderFile, pki->role("commander"));
            corvane_test::SecurityPki::writeSecured(plain, listenerFile, pki->role("monitor"));
        }
    }

    void startProcesses() {
        fpga = std::make_unique<LoggedProcess>(std::vector<std::string>{FPGA_SIM_PATH, "--memory", root->devmemFile(),
                                                                        "--ready-file", root->path() + "/fpga.ready",
                                                                        root->devicesFile()});
        if (!fpga->waitForLine("fpga-sim: ready", 30s)) throw std::runtime_error("fpga-sim did not get ready");
        server = std::make_unique<LoggedProcess>(std::vector<std::string>{SERVER_PATH, root->topLevelFile()},
                                                 root->environment());
        nav = std::make_unique<LoggedProcess>(
            std::vector<std::string>{ASPN2_TOOL_PATH, "nav", "--connections", navigatorFile, "--lat", "45"});
    }

    std::optional<FACE::TSS::Security::Files> securityOf(std::string const& role) const {
        if (!pki) return std::nullopt;
        auto const f = pki->role(role);
        return FACE::TSS::Security::Files{f.identityCa,    f.certificate, f.privateKey,
                                          f.permissionsCa, f.governance,  f.permissions};
    }

    bool serverRunning() { return server && !server->wait(0ms).has_value(); }

    Options const& m_options;
    Bus bus;
    std::unique_ptr<corvane_test::RuntimeRoot> root;
    std::unique_ptr<corvane_test::SecurityPki> pki;
    std::string navigatorFile, commanderFile, listenerFile;
    std::unique_ptr<LoggedProcess> fpga, server, nav;
};

// --- Options ----------------------------------------------------------------------

bool number(char const* text, long long low, long long high, long long& out) {
    char* end = nullptr;
    errno = 0;
    long long const v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string const a = argv[i];
        bool const hasValue = i + 1 < argc;
        long long v = 0;
        auto value = [&](long long low, long long high) { return hasValue && number(argv[++i], low, high, v); };
        if (a == "--secure") {
            o.secure = true;
        } else if (a == "--seconds" && value(1, 86400)) {
            o.seconds = static_cast<long>(v);
        } else if (a == "--datagrams" && value(0, 1000000000000LL)) {
            o.datagrams = v;
        } else if (a == "--seed" && value(0, 0x7fffffffffffffffLL)) {
            o.seed = static_cast<std::uint64_t>(v);
            o.seedGiven = true;
        } else if (a == "--domain" && value(0, 232)) {
            o.domain = static_cast<unsigned>(v);
        } else if (a == "--batch" && value(1, 100000)) {
            o.batch = static_cast<std::size_t>(v);
        } else if (a == "--capture-seconds" && value(2, 600)) {
            o.captureSeconds = static_cast<long>(v);
        } else if (a == "--failure-file" && hasValue) {
            o.failureFile = argv[++i];
        } else if (a == "--save-seeds" && hasValue) {
            o.saveSeeds = argv[++i];
        } else if (a == "--replay" && hasValue) {
            o.replay = argv[++i];
        } else if (a == "--check") {
            o.check.assign(argv + i + 1, argv + argc);
            if (o.check.empty()) return std::nullopt;
            break;
        } else {
            std::cerr << "rtps_net_fuzz: bad argument: " << a
                      << "\nusage: rtps_net_fuzz [--seconds N] [--datagrams N] [--seed N] [--domain N] [--secure]"
                         " [--batch N] [--capture-seconds N] [--failure-file PATH] [--save-seeds DIR] [--replay FILE]"
                         "\n       rtps_net_fuzz --check FILE..."
                      << std::endl;
            return std::nullopt;
        }
    }
    return o;
}

// --- The run ----------------------------------------------------------------------

struct Run {
    Options options;
    std::unique_ptr<Rig> rig;
    std::unique_ptr<Role> navigator, commander, listener;
    std::unique_ptr<Role> probe;  // pings; made after the capture, so never a mutation's source
    std::unique_ptr<net::StandIn> standIn;
    std::shared_ptr<net::CaptureStore> capture = std::make_shared<net::CaptureStore>();
    net::DiscoveredParticipant server;
    r::GuidPrefix navigatorSimulator{};           // aspn2-tool nav: its traffic is left out of the capture
    std::map<r::EntityId, r::EntityId> entities;  // stand-in's -> server's
    r::GuidPrefix standInPrefix{};
    std::vector<Record> records;
    std::int32_t nextPing = 0x0f000000;

    bool alive(std::string& why) {
        if (!rig->serverRunning()) {
            why = "the server ended";
            return false;
        }
        if (!probe->ping(++nextPing, 5s)) {
            why = "no answer to a ping within 5 s";
            return false;
        }
        if (!rig->bus.freshReport(5s)) {
            why = "no fresh position report within 5 s";
            return false;
        }
        return true;
    }
};

int setUp(Run& run) {
    Options const& o = run.options;
    run.rig = std::make_unique<Rig>(o);
    run.rig->startProcesses();
    run.navigator = std::make_unique<Role>(run.rig->navigatorFile, "FuzzNavigator");
    run.navigator->navigator();
    run.commander = std::make_unique<Role>(run.rig->commanderFile, "FuzzCommander");
    run.commander->commander();
    run.listener = std::make_unique<Role>(run.rig->listenerFile, "FuzzListener");
    run.listener->listener();
    bool answered = false;
    for (auto const deadline = Clock::now() + 90s; !answered && Clock::now() < deadline;) {
        answered = run.commander->ping(++run.nextPing, 1s);
    }
    if (!answered || !run.rig->bus.freshReport(30s)) {
        std::cerr << "rtps_net_fuzz: the server did not start telling\n" << run.rig->server->transcript() << std::endl;
        return 3;
    }
    net::StandIn::Options so;
    so.domain = o.domain;
    so.name = "FuzzStandIn";
    so.security = run.rig->securityOf("server");
    so.capture = run.capture;
    // Recording from the start: discovery and, with DDS Security, the
    // authentication handshakes happen now.
    run.capture->record(true);
    run.standIn = std::make_unique<net::StandIn>(so);
    run.standInPrefix = run.standIn->prefix();
    run.standIn->takeServerEndpoints();
    auto const server = run.standIn->discovery().participant("ZOziDaZodOduzuz", 30s, 6);
    if (!server || server->metatrafficPorts.empty() || server->userPorts.empty()) {
        std::cerr << "rtps_net_fuzz: the server's locators and endpoints were not discovered" << std::endl;
        return 3;
    }
    run.server = *server;
    auto const simulator = run.standIn->discovery().participant("aspn2-tool nav", 30s, 2);
    if (!simulator) {
        std::cerr << "rtps_net_fuzz: the navigator simulator was not discovered" << std::endl;
        return 3;
    }
    run.navigatorSimulator = simulator->prefix;
    for (auto const& e : run.standIn->discovery().endpointsOf(server->prefix)) {
        if (auto own = run.standIn->entityOf(e.topic)) run.entities[*own] = e.entity;
    }
    return 0;
}

void capture(Run& run) {
    auto const end = Clock::now() + std::chrono::seconds(run.options.captureSeconds);
    bool large = false;
    for (int i = 0; Clock::now() < end; ++i) {
        run.navigator->sendNavigation(i);
        if (i % 5 == 0) {
            run.commander->sendCommand("BITSERVER_PING", 0x0e000000 + i);
            run.standIn->writeSample("Response");
            run.standIn->writeSample("EventLog");
            run.standIn->writeSample("MaintenanceEvent");
        }
        if (i == 30) {
            // A burst faster than the readers acknowledge: the writers'
            // keep-last histories drop samples, and GAPs follow.
            for (int k = 0; k < 40; ++k) run.navigator->sendNavigation(i);
        }
        if (!large && i >= 20) {
            // Larger than one UDP datagram (65,500 bytes): DATA_FRAG.
            run.commander->sendCommand(std::string(66000, 'F'), 0x0d000000);
            large = true;
        }
        std::this_thread::sleep_for(100ms);
    }
    run.capture->record(false);
    std::uint32_t const multicastPort = r::discoveryMulticastPort(run.options.domain);
    for (net::Captured const& c : run.capture->all()) {
        // The server's data comes from the simulator and the liveness check
        // counts on it: a mutation from its prefix could move its writer's
        // sequence numbers far ahead, and RTPS then makes the server ignore
        // its later samples. The fuzzer's own participants' prefixes stay.
        if (r::prefixOf(c.bytes) == run.navigatorSimulator) continue;
        Record rec;
        rec.bytes = c.bytes;
        bool const metatraffic = (c.localPort - 7400 - 250 * run.options.domain) % 2 == 0;
        rec.port = c.multicast || c.localPort == multicastPort ? PortClass::kMulticast
                   : metatraffic                               ? PortClass::kMetatraffic
                                                               : PortClass::kUser;
        run.records.push_back(rec);
    }
}

// The message as it goes to the server: the stand-in's prefix and entity
// ids replaced by the server's.
r::Bytes aimed(Run const& run, r::Bytes m) {
    net::replacePrefix(m, run.standInPrefix, run.server.prefix);
    net::remapEntities(m, run.entities);
    return m;
}

// Whether `m` carries the server's GUID prefix anywhere (its header, an
// INFO_SRC, a GUID in a payload).
bool namesServer(Run const& run, r::Bytes const& m) {
    return std::search(m.begin(), m.end(), run.server.prefix.begin(), run.server.prefix.end()) != m.end();
}

bool send(r::Injector& injector, Run const& run, PortClass port, r::Bytes const& m) {
    switch (port) {
        case PortClass::kMulticast:
            return injector.multicast(r::discoveryMulticastPort(run.options.domain), m);
        case PortClass::kMetatraffic:
            return injector.unicast(static_cast<std::uint16_t>(run.server.metatrafficPorts[0]), m);
        case PortClass::kUser:
            return injector.unicast(static_cast<std::uint16_t>(run.server.userPorts[0]), m);
    }
    return false;
}

void writeFailure(Run const& run, std::vector<Record> const& batch, long long index, std::string const& why) {
    std::ofstream out(run.options.failureFile);
    out << "# rtps_net_fuzz failure: " << why << "; seed " << run.options.seed << ", batch " << index << ", "
        << batch.size() << " datagrams" << (run.options.secure ? ", secure" : "") << "\n";
    out << "server " << hex(run.server.prefix) << "\n";
    out << "navigator " << hex(run.navigator->prefix()) << "\n";
    out << "commander " << hex(run.commander->prefix()) << "\n";
    out << "listener " << hex(run.listener->prefix()) << "\n";
    for (Record const& rec : batch) out << "datagram " << static_cast<char>(rec.port) << ' ' << hex(rec.bytes) << "\n";
}

// Writes every thread's stack of process `pid` to `path` with gdb, when
// gdb is installed (a diagnostic aid, not a dependency of the suite).
// Returns what to tell: where the stacks are, or why there are none.
std::string dumpStacks(pid_t pid, std::string const& path) {
    if (std::system("command -v gdb >/dev/null 2>&1") != 0) return "no stacks (gdb is not installed)";
    std::string const command = "gdb -p " + std::to_string(pid) +
                                " -batch -nx -ex 'set pagination off' -ex 'thread apply all bt' >'" + path +
                                "' 2>&1 </dev/null";
    if (std::system(command.c_str()) != 0) return "gdb could not attach to the server (see " + path + ")";
    return "the server's thread stacks are in " + path;
}

void saveSeeds(Run const& run) {
    std::filesystem::create_directories(run.options.saveSeeds);
    // Two of each sequence of submessage kinds, none above 8 KiB (the first
    // fragment of the large command; its last fragment stays).
    std::map<std::string, int> perKind;
    int written = 0;
    for (Record const& rec : run.records) {
        std::string kind = net::describeSubmessages(rec.bytes);
        std::replace(kind.begin(), kind.end(), ',', '-');
        if (kind.size() > 80) kind.resize(80);
        if (rec.bytes.size() > 8192) continue;
        if (perKind[kind]++ >= 2) continue;
        std::string const name =
            std::string(run.options.secure ? "secure-" : "plain-") + kind + "-" + std::to_string(perKind[kind]);
        std::ofstream(std::filesystem::path(run.options.saveSeeds) / name, std::ios::binary)
            .write(reinterpret_cast<char const*>(rec.bytes.data()), static_cast<std::streamsize>(rec.bytes.size()));
        ++written;
    }
    say("wrote " + std::to_string(written) + " seeds to " + run.options.saveSeeds);
}

int fuzz(Run& run) {
    Options const& o = run.options;
    net::Mutator mutator(o.seed);
    r::Injector injector;
    auto const start = Clock::now();
    auto lastProgress = start;
    long long sent = 0, batches = 0;
    std::vector<Record> batch;
    while (Clock::now() - start < std::chrono::seconds(o.seconds) || sent < o.datagrams) {
        batch.clear();
        for (std::size_t i = 0; i < o.batch; ++i) {
            Record const& base = run.records[mutator.random()() % run.records.size()];
            Record const& other = run.records[mutator.random()() % run.records.size()];
            Record m;
            m.bytes = mutator.mutate(aimed(run, base.bytes), aimed(run, other.bytes));
            m.port = mutator.random()() % 8 == 0 ? PortClass::kMulticast : base.port;
            // What speaks as the server or of the server goes to the server
            // alone: sent to everyone it would redirect the server's peers
            // (the simulator, the probe), for good once a sequence number
            // is raised; that is RTPS discovery spoofing, which no peer can
            // tell from the truth without DDS Security, not a fault of the
            // server.
            if (m.port == PortClass::kMulticast && namesServer(run, m.bytes)) m.port = PortClass::kMetatraffic;
            send(injector, run, m.port, m.bytes);
            batch.push_back(std::move(m));
        }
        sent += static_cast<long long>(batch.size());
        ++batches;
        std::string why;
        if (!run.alive(why)) {
            // The threads' stacks first, while whatever holds the server up
            // is still holding it.
            std::string const stacks = dumpStacks(run.rig->server->pid(), o.failureFile + ".stacks");
            // A stuck receive thread is told after 5 s: say whether it was one.
            if (run.rig->server->waitForLine("DDS receive thread stalled", 7s)) {
                why += " (the server reports a stalled receive thread)";
            }
            writeFailure(run, batch, batches, why);
            say("FAIL after " + std::to_string(batches) + " batches, " + std::to_string(sent) + " datagrams: " + why +
                "; seed " + std::to_string(o.seed) + "; the failing batch is in " + o.failureFile + "; " + stacks);
            std::cout << run.rig->server->transcript(60) << std::endl;
            return 1;
        }
        if (Clock::now() - lastProgress >= 10s) {
            lastProgress = Clock::now();
            auto const s = std::chrono::duration_cast<std::chrono::seconds>(lastProgress - start).count();
            say(std::to_string(s) + " s: " + std::to_string(batches) + " batches, " + std::to_string(sent) +
                " datagrams, server alive and telling");
        }
    }
    auto const s = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
    say("sent " + std::to_string(sent) + " datagrams in " + std::to_string(batches) + " batches in " +
        std::to_string(s) + " s (seed " + std::to_string(o.seed) + "); the server stayed alive and telling");
    auto const longest = std::chrono::duration<double, std::milli>(FACE::TSS::DatagramGuard::longestReceive()).count();
    char text[64];
    std::snprintf(text, sizeof text, "%.1f ms", longest);
    say(std::string("longest receive call of this process's participants: ") + text);
    return 0;
}

// The participant whose pings tell whether the server answers.
int startProbe(Run& run) {
    run.probe = std::make_unique<Role>(run.rig->commanderFile, "FuzzProbe");
    run.probe->commander();
    for (auto const deadline = Clock::now() + 30s; Clock::now() < deadline;) {
        if (run.probe->ping(++run.nextPing, 1s)) return 0;
    }
    std::cerr << "rtps_net_fuzz: the probe's pings were not answered" << std::endl;
    return 3;
}

int replay(Run& run) {
    std::ifstream in(run.options.replay);
    if (!in) {
        std::cerr << "rtps_net_fuzz: cannot read " << run.options.replay << std::endl;
        return 2;
    }
    std::map<std::string, r::GuidPrefix> now{{"server", run.server.prefix},
                                             {"navigator", run.navigator->prefix()},
                                             {"commander", run.commander->prefix()},
                                             {"listener", run.listener->prefix()}};
    std::vector<std::pair<r::GuidPrefix, r::GuidPrefix>> prefixes;
    std::vector<Record> batch;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string key, a, b;
        words >> key >> a >> b;
        if (key == "datagram") {
            auto bytes = unhex(b);
            if (!bytes || a.empty()) continue;
            Record rec{*bytes, static_cast<PortClass>(a[0])};
            for (auto const& [from, to] : prefixes) net::replacePrefix(rec.bytes, from, to);
            batch.push_back(rec);
        } else if (now.count(key) != 0) {
            auto bytes = unhex(a);
            if (!bytes || bytes->size() != 12) continue;
            r::GuidPrefix old{};
            std::copy(bytes->begin(), bytes->end(), old.begin());
            prefixes.emplace_back(old, now[key]);
        }
    }
    r::Injector injector;
    for (Record const& rec : batch) send(injector, run, rec.port, rec.bytes);
    std::string why;
    bool const ok = run.alive(why);
    say("replayed " + std::to_string(batch.size()) +
        " datagrams: " + (ok ? "the server stayed alive and telling" : why));
    if (!ok) {
        // Whether the server comes back by itself, and when.
        std::int32_t const unanswered = run.nextPing;
        auto const since = Clock::now();
        std::string again;
        while (Clock::now() - since < 60s && !run.alive(again)) {
        }
        auto const s = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - since).count();
        say(again.empty() ? "alive and telling again " + std::to_string(s) + " s later"
                          : "still not answering " + std::to_string(s) + " s later: " + again);
        say(std::string("the unanswered ping ") +
            (run.probe->answered(unanswered, 0ms) ? "was answered late" : "was never answered"));
        // A new participant's pings tell whether the server or the probe
        // was left unable to talk.
        std::unique_ptr<Role> const old = std::move(run.probe);
        if (startProbe(run) == 0) say("a new probe's ping is answered");
        say(std::string("telling: ") + (run.rig->bus.freshReport(5s) ? "yes" : "no"));
    }
    return ok ? 0 : 1;
}

int stopInOrder(Run& run) {
    run.standIn.reset();
    run.probe.reset();
    run.navigator.reset();
    run.commander.reset();
    run.listener.reset();
    auto& server = *run.rig->server;
    for (auto const deadline = Clock::now() + 10s; !server.catches(SIGTERM) && Clock::now() < deadline;) {
        std::this_thread::sleep_for(5ms);
    }
    server.signal(SIGTERM);
    std::optional<int> const status = server.finish(30s);
    std::string const expected = std::string("!!!!!! ") + SERVER_PATH + " has exited. Signal: 15";
    run.rig->nav->signal(SIGTERM);
    run.rig->nav->finish(15s);
    run.rig->fpga->signal(SIGTERM);
    run.rig->fpga->finish(15s);
    if (status != 0 || server.lastStdoutLine() != expected) {
        say("FAIL: the server did not stop in order (status " + (status ? std::to_string(*status) : "none") + ")");
        std::cout << server.transcript(60) << std::endl;
        return 1;
    }
    say("the server stopped in order; its guard's reports: " +
        std::to_string(server.countLines("warning: DDS datagram guard")) + " lines");
    return 0;
}

}  // namespace

// --check: the guard's verdict on each file (one raw RTPS message each,
// e.g. UDP payloads taken from a capture of another vendor's traffic).
int checkFiles(std::vector<std::string> const& files) {
    int refused = 0;
    for (std::string const& file : files) {
        std::ifstream in(file, std::ios::binary);
        r::Bytes const m((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto const v = FACE::TSS::DatagramGuard::checkDatagram(m.data(), m.size());
        refused += v != FACE::TSS::DatagramGuard::Verdict::kAccept;
        std::cout << file << ": " << FACE::TSS::DatagramGuard::describe(v) << " (" << m.size() << " bytes, "
                  << net::describeSubmessages(m) << ")\n";
    }
    std::cout << files.size() - static_cast<std::size_t>(refused) << " accepted, " << refused << " refused"
              << std::endl;
    return refused == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    std::optional<Options> options = parse(argc, argv);
    if (!options) return 2;
    if (!options->check.empty()) return checkFiles(options->check);
    ::unsetenv("FASTRTPS_DEFAULT_PROFILES_FILE");
    ::signal(SIGPIPE, SIG_IGN);
    if (!options->seedGiven) {
        options->seed = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()) & 0x7fffffffffffffffULL;
    }
    // Participants of this process exchange everything through their
    // transports, as separate processes would.
    eprosima::fastrtps::LibrarySettingsAttributes library;
    library.intraprocess_delivery = eprosima::fastrtps::INTRAPROCESS_OFF;
    eprosima::fastrtps::xmlparser::XMLProfileManager::library_settings(library);
    // The mutations that reach this process's own participants would fill
    // the console with Fast DDS's error lines; the server's go to its log.
    eprosima::fastdds::dds::Log::ClearConsumers();

    Run run;
    run.options = *options;
    say(std::string("seed ") + std::to_string(run.options.seed) + ", domain " + std::to_string(run.options.domain) +
        (run.options.secure ? ", DDS Security" : ", plain"));
    try {
        if (int const rc = setUp(run); rc != 0) return rc;
        if (!run.options.replay.empty()) {
            run.standIn.reset();
            if (int const rc = startProbe(run); rc != 0) return rc;
            int const rc = replay(run);
            return stopInOrder(run) != 0 ? 1 : rc;
        }
        capture(run);
        run.standIn.reset();
        if (int const rc = startProbe(run); rc != 0) return rc;
        std::map<std::string, int> kinds;
        for (Record const& rec : run.records) {
            for (auto const& s : r::split(rec.bytes)) ++kinds[net::submessageName(s.id)];
        }
        std::ostringstream line;
        line << "captured " << run.records.size() << " messages:";
        for (auto const& [k, n] : kinds) line << ' ' << k << ' ' << n;
        say(line.str());
        FACE::TSS::DatagramGuard::DropTotals const drops = FACE::TSS::DatagramGuard::DropCounters::instance().totals();
        if (drops.droppedInAll() != 0 || drops.exceptions != 0) {
            std::string reasons;
            for (std::size_t i = 1; i < FACE::TSS::DatagramGuard::kVerdictCount; ++i) {
                if (drops.dropped[i] == 0) continue;
                reasons += " " + std::to_string(drops.dropped[i]) + " " +
                           FACE::TSS::DatagramGuard::describe(static_cast<FACE::TSS::DatagramGuard::Verdict>(i)) + ";";
            }
            say("FAIL: this process's guard dropped traffic of the capture:" + reasons + " " +
                std::to_string(drops.exceptions) + " exceptions");
            return 1;
        }
        if (run.records.empty()) {
            say("FAIL: nothing captured");
            return 3;
        }
        if (!run.options.saveSeeds.empty()) saveSeeds(run);
        int const rc = fuzz(run);
        if (rc != 0) return rc;
        return stopInOrder(run);
    } catch (std::exception const& e) {
        std::cerr << "rtps_net_fuzz: " << e.what() << std::endl;
        if (run.rig && run.rig->server) std::cerr << run.rig->server->transcript(40) << std::endl;
        return 3;
    }
}
