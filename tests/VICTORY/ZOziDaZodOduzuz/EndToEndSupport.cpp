#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndSupport.h"

#include "FACE/CV_Config.h"

#include <GeographicLib/GeoCoords.hpp>
#include <signal.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

const std::string kServerPath = SERVER_PATH;
const std::string kFpgaSimPath = FPGA_SIM_PATH;
const std::string kToolPath = ASPN2_TOOL_PATH;
const std::string kSourceDir = CORVANE_SOURCE_DIR;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kMetresPerDegree = 111132.0;

double radians(double degrees) { return degrees * kPi / 180.0; }

// Device id of a message from server `server` of system 1 (bits 16..23
// carry the server id).
std::int32_t deviceId(std::uint8_t server, std::uint8_t kind) {
    return static_cast<std::int32_t>((1u << 24) | (static_cast<unsigned>(server) << 16) | (unsigned{kind} << 8));
}

void setTimes(aspn2_msgs::idl::header& h, std::int64_t sec, std::int32_t nsec) {
    h.timestamp_valid().sec(sec);
    h.timestamp_valid().nsec(nsec);
    h.timestamp_arrival().sec(sec);
    h.timestamp_arrival().nsec(nsec);
}

template <typename T>
std::shared_ptr<FACE::TSS::Details::CV_TypedTS<T>> typedOver(const std::shared_ptr<FACE::TSS::CV_TSS>& tss) {
    auto typed = std::make_shared<FACE::TSS::Details::CV_TypedTS<T>>();
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    typed->Set_Reference("", tss, 0, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) throw std::runtime_error("peer: typed transport");
    return typed;
}

void check(FACE::RETURN_CODE_TYPE::Value rc, const char* what) {
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) throw std::runtime_error(std::string("peer: ") + what);
}

}  // namespace

// --- Samples ----------------------------------------------------------------------

NavSample NavSample::later(std::int32_t seconds) const {
    NavSample s = *this;
    s.pvaTovSec += seconds;
    s.utcTovSec += seconds;
    s.gpsTowSec += seconds;
    s.utcTodSec += seconds;
    return s;
}

aspn2_msgs::idl::PositionVelocityAttitude makePva(const NavSample& s) {
    aspn2_msgs::idl::PositionVelocityAttitude m;
    m.header().device_id(deviceId(s.pvaSource, 3));
    setTimes(m.header(), s.pvaTovSec, s.pvaTovNsec);
    m.position().latitude(radians(s.latDeg));
    m.position().longitude(radians(s.lonDeg));
    m.position().altitude(s.altM);
    for (int i = 0; i < 3; ++i) {
        m.velocity()[i] = s.velocity[i];
        m.attitude()[i] = s.attitude[i];
    }
    for (int i = 0; i < 9; ++i) m.covariance()[i][i] = s.variances[i];
    return m;
}

aspn2_msgs::idl::UTCTime makeUtc(const NavSample& s) {
    aspn2_msgs::idl::UTCTime m;
    m.header().device_id(deviceId(s.utcSource, 4));
    setTimes(m.header(), s.utcTovSec, s.utcTovNsec);
    m.gps_week(s.gpsWeek);
    m.gps_tow_sec(s.gpsTowSec);
    m.utc_tod_sec(s.utcTodSec);
    m.utc_tod_nsec(s.utcTodNsec);
    return m;
}

VictoryTime civilTime(const NavSample& s) {
    constexpr std::int64_t kGpsEpoch = 315964800;  // 1980-01-06T00:00:00Z in Unix time
    std::int64_t days = std::int64_t{s.gpsWeek} * 7 + s.gpsTowSec / 86400;
    if (s.gpsTowSec % 86400 < s.utcTodSec) --days;
    const std::time_t t = static_cast<std::time_t>(kGpsEpoch + days * 86400 + s.utcTodSec);
    std::tm civil{};
    gmtime_r(&t, &civil);
    return VictoryTime{civil.tm_year + 1900, civil.tm_mon + 1, civil.tm_mday, civil.tm_hour,
                       civil.tm_min,       civil.tm_sec,     static_cast<std::int32_t>(s.utcTodNsec)};
}

ExpectedReports expectedReports(const NavSample& s, const std::function<double(double, double)>& geoidHeight,
                                double headingUncertainty) {
    const auto& v = s.variances;
    const double sum = v[0] + v[1] + v[2];
    const bool valid = std::isfinite(sum) && sum < 25e6;
    const VposcBasis basis = valid ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID;
    const double lat = radians(s.latDeg);
    const double cosLat = std::max(std::cos(lat), std::numeric_limits<double>::epsilon());

    ExpectedReports e;
    e.position = {VictoryValue{lat, radians(std::sqrt(v[0]) / kMetresPerDegree), basis},
                  VictoryValue{radians(s.lonDeg), radians(std::sqrt(v[1]) / (kMetresPerDegree * cosLat)), basis},
                  VictoryValue{s.altM - geoidHeight(s.latDeg, s.lonDeg), std::sqrt(v[2]), basis}};
    e.orientation = {VictoryValue{s.attitude[0], std::sqrt(v[6]), basis},
                     VictoryValue{s.attitude[1], std::sqrt(v[7]), basis},
                     VictoryValue{s.attitude[2], std::sqrt(v[8]), basis}};
    const double vn = s.velocity[0], ve = s.velocity[1], vd = s.velocity[2];
    e.direction = {VictoryValue{std::atan2(ve, vn), headingUncertainty, basis},
                   VictoryValue{std::sqrt(vn * vn + ve * ve), std::sqrt(v[3] + v[4]), basis},
                   VictoryValue{-vd, std::sqrt(v[5]), basis}};
    if (valid) e.mgrs = GeographicLib::GeoCoords(s.latDeg, s.lonDeg).MGRSRepresentation(0);
    e.time = civilTime(s);
    return e;
}

// --- Data bus ------------------------------------------------------------------------

std::array<std::uint16_t, 3> DataBus::ports() const {
    return {m_sockets[0].port(), m_sockets[1].port(), m_sockets[2].port()};
}

void DataBus::pump(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        bool got = false;
        for (int i = 0; i < 3; ++i) {
            while (auto datagram = m_sockets[i].receive(0ms)) {
                got = true;
                Received r{{}, Clock::now()};
                std::string error;
                if (victory::parseDataMessage(datagram->data(), datagram->size(), r.message, error)) {
                    m_received[i].push_back(std::move(r));
                } else {
                    m_errors.push_back(error + ": " + *datagram);
                }
            }
        }
        if (Clock::now() >= deadline) return;
        if (!got) std::this_thread::sleep_for(2ms);
    }
}

void DataBus::clear() {
    for (auto& s : m_sockets) s.drain();
    for (auto& r : m_received) r.clear();
}

bool hasTime(const victory::DataMessage& m, const VictoryTime& t) {
    if (!m.time) return false;
    const VictoryTime& a = *m.time;
    return a.year == t.year && a.month == t.month && a.day == t.day && a.hour == t.hour && a.minute == t.minute &&
           a.second == t.second && a.nanosecond == t.nanosecond;
}

std::string describe(const victory::DataMessage& m) {
    std::ostringstream out;
    out.precision(17);
    out << victory::serviceKindName(m.kind) << " #" << m.seq;
    for (const auto& v : m.values) {
        out << " " << v.name << "=" << v.value.value << "+-" << v.value.uncertainty << "/" << v.value.basis;
    }
    if (m.mgrs) out << " mgrs=" << *m.mgrs;
    if (m.time) {
        const VictoryTime& t = *m.time;
        out << " time=" << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute << ":"
            << t.second << "." << t.nanosecond;
    }
    return out.str();
}

// --- Peer -------------------------------------------------------------------------------

Peer::Peer(const std::string& connectionsFile) {
    ::unsetenv("FASTRTPS_DEFAULT_PROFILES_FILE");
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    m_tss = std::make_shared<FACE::TSS::CV_TSS>("EndToEndPeer");
    m_tss->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    check(rc, "Set_Reference");
    m_tss->Initialize(connectionsFile.c_str(), rc);
    check(rc, "Initialize");
    int unused = 0;
    const std::pair<const char*, long long*> connections[] = {
        {"Command", &m_command}, {"Response", &m_response},  {"PositionVelocityAttitude", &m_pva},
        {"UTCTime", &m_utc},     {"EventLog", &m_eventLog}, {"MaintenanceEvent", &m_maint}};
    for (const auto& [name, id] : connections) {
        m_tss->Create_Connection(name, -1, *id, unused, rc);
        check(rc, name);
    }
    m_cmdTS = typedOver<aspn2_msgs::idl::CommandResponse>(m_tss);
    m_pvaTS = typedOver<aspn2_msgs::idl::PositionVelocityAttitude>(m_tss);
    m_utcTS = typedOver<aspn2_msgs::idl::UTCTime>(m_tss);
    m_eventTS = typedOver<aspn2_msgs::idl::EventLog>(m_tss);
    m_maintTS = typedOver<aspn2_msgs::idl::MaintenanceEvent>(m_tss);
    m_cmdTS->Register_Sender(m_command, rc);
    check(rc, "Command sender");
    m_pvaTS->Register_Sender(m_pva, rc);
    check(rc, "PositionVelocityAttitude sender");
    m_utcTS->Register_Sender(m_utc, rc);
    check(rc, "UTCTime sender");
    m_cmdTS->Register_Callback(m_response, responses.callback(), rc);
    check(rc, "Response callback");
    m_eventTS->Register_Callback(m_eventLog, events.callback(), rc);
    check(rc, "EventLog callback");
    m_maintTS->Register_Callback(m_maint, maintenance.callback(), rc);
    check(rc, "MaintenanceEvent callback");
}

Peer::~Peer() {
    // The participant goes before the inboxes its callbacks fill.
    m_cmdTS.reset();
    m_pvaTS.reset();
    m_utcTS.reset();
    m_eventTS.reset();
    m_maintTS.reset();
    m_tss.reset();
}

void Peer::send(const aspn2_msgs::idl::PositionVelocityAttitude& m) {
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    long long transaction = 0;
    m_pvaTS->Send_Message(m_pva, -1, transaction, m, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
}

void Peer::send(const aspn2_msgs::idl::UTCTime& m) {
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    long long transaction = 0;
    m_utcTS->Send_Message(m_utc, -1, transaction, m, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
}

void Peer::sendPair(const NavSample& s) {
    send(makePva(s));
    send(makeUtc(s));
}

void Peer::sendCommand(const std::string& text, std::int32_t identifier, std::int32_t type) {
    aspn2_msgs::idl::CommandResponse m;
    // The command server of the simulator system.
    m.header().device_id(static_cast<std::int32_t>((2u << 24) | (50u << 16) | (2u << 8)));
    m.command_identifier(identifier);
    m.command_response_type(static_cast<aspn2_msgs::idl::command_response_type_enum>(type));
    m.command_response(text);
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    long long transaction = 0;
    m_cmdTS->Send_Message(m_command, -1, transaction, m, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
}

int Peer::matched(long long connection) const {
    auto& c = m_tss->connectionMap_mutex_at(FACE::TSS::CV_TSS::connectionKey(connection));
    return c.m_publisherListener ? c.m_publisherListener->matchedCount() : 0;
}

bool Peer::waitForServer(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    constexpr std::int32_t kProbe = 0x7e2e0000;
    bool answered = false;
    for (std::int32_t i = 0; !answered && Clock::now() < deadline; ++i) {
        sendCommand("BITSERVER_PING", kProbe + i);
        answered = responses
                       .waitFor([](const aspn2_msgs::idl::CommandResponse& r) {
                           return (r.command_identifier() & 0x7fff0000) == kProbe;
                       },
                                300ms)
                       .has_value();
    }
    while (answered && Clock::now() < deadline) {
        if (matched(m_pva) > 0 && matched(m_utc) > 0) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

std::optional<aspn2_msgs::idl::CommandResponse> Peer::responseTo(std::int32_t identifier,
                                                                std::chrono::milliseconds timeout,
                                                                std::size_t from) {
    return responses.waitFor(
        [identifier](const aspn2_msgs::idl::CommandResponse& r) { return r.command_identifier() == identifier; },
        timeout, from);
}

bool Peer::ping(std::int32_t identifier, std::chrono::milliseconds timeout) {
    const std::size_t from = responses.size();
    sendCommand("BITSERVER_PING", identifier);
    return responseTo(identifier, timeout, from).has_value();
}

// --- Rig ----------------------------------------------------------------------------------

corvane_test::SyntheticGeoid testGeoid() { return corvane_test::SyntheticGeoid::linearInLatitude(30000, 100); }

bool hasSanitizerReport(const std::string& output) {
    for (const char* marker : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                               "runtime error:"}) {
        if (output.find(marker) != std::string::npos) return true;
    }
    return false;
}

Rig::Rig(int domain, const std::function<void(corvane_test::RuntimeRoot::TopLevel&)>& settings) {
    corvane_test::RuntimeRoot::Options o;
    o.sourceDir = kSourceDir;
    o.domainId = domain;
    o.geoid = testGeoid();
    o.geoidName = "e2e";
    o.dataBusPorts = bus.ports();
    o.prefix = "zozi-e2e";
    root = std::make_unique<corvane_test::RuntimeRoot>(o);
    if (settings) {
        corvane_test::RuntimeRoot::TopLevel t = root->defaultTopLevel();
        settings(t);
        root->writeTopLevel(t);
    }
}

Rig::~Rig() {
    // The server first (it would otherwise lose its peer and FPGA under it).
    server.reset();
    peer.reset();
    fpga.reset();
}

::testing::AssertionResult Rig::start() {
    fpga = std::make_unique<corvane_test::LoggedProcess>(std::vector<std::string>{
        kFpgaSimPath, "--memory", root->devmemFile(), "--ready-file", root->path() + "/fpga.ready",
        root->devicesFile()});
    if (!fpga->waitForLine("fpga-sim: ready", 30s)) {
        return ::testing::AssertionFailure() << "the FPGA simulator did not get ready\n" << fpga->transcript();
    }
    peer = std::make_unique<Peer>(root->connectionsFile());
    server = std::make_unique<corvane_test::LoggedProcess>(
        std::vector<std::string>{kServerPath, root->topLevelFile()}, root->environment());
    if (!peer->waitForServer(60s)) {
        return ::testing::AssertionFailure() << "the server did not answer a ping\n" << server->transcript();
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Rig::stopsInOrder() {
    if (!server) return ::testing::AssertionFailure() << "no server";
    // The handler is installed just after the start.
    const auto deadline = Clock::now() + 10s;
    while (!server->catches(SIGTERM) && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    server->signal(SIGTERM);
    const std::optional<int> status = server->finish(20s);
    const std::string exitLine = "!!!!!! " + kServerPath + " has exited. Signal: 15";
    std::string last;
    for (const auto& line : server->lines()) {
        if (line.stream == corvane_test::ChildProcess::Stdout) last = line.text;
    }
    const std::string transcript = server->transcript(100000);
    if (status != 0 || last != exitLine || hasSanitizerReport(transcript)) {
        return ::testing::AssertionFailure() << "the server did not stop in order: status "
                                             << (status ? std::to_string(*status) : "none") << ", last line '"
                                             << last << "'\n"
                                             << server->transcript();
    }
    fpga->signal(SIGTERM);
    const std::optional<int> fpgaStatus = fpga->finish(10s);
    if (fpgaStatus != 0 || hasSanitizerReport(fpga->transcript(100000))) {
        return ::testing::AssertionFailure() << "the FPGA simulator did not stop in order\n" << fpga->transcript();
    }
    return ::testing::AssertionSuccess();
}

bool Rig::streamUntil(const NavSample& s, const std::function<bool()>& done, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds period) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        peer->sendPair(s);
        bus.pump(period);
        if (done()) return true;
    }
    return false;
}

bool Rig::streamUntilReported(const NavSample& s, std::chrono::milliseconds timeout) {
    const VictoryTime t = civilTime(s);
    return streamUntil(
        s,
        [&] {
            for (int service = 0; service < 3; ++service) {
                bool seen = false;
                for (const auto& r : bus.received(service)) seen = seen || hasTime(r.message, t);
                if (!seen) return false;
            }
            return true;
        },
        timeout);
}

std::string Rig::transcript() const { return server ? server->transcript() : std::string("(no server)"); }

}  // namespace e2e
