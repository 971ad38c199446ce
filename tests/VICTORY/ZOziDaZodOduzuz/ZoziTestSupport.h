// Shared helpers of the server's tests: access to the component's
// internals, console capture, health events, key presses on standard
// input, services that store what they are told, a default navigation
// sample, and the runtime root of a server test process.
#ifndef TESTS_VICTORY_ZOZIDAZODODUZUZ_ZOZITESTSUPPORT_H
#define TESTS_VICTORY_ZOZIDAZODODUZUZ_ZOZITESTSUPPORT_H

#include "ASPN/HealthReporter.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"
#include "VICTORY/ZOziDaZodOduzuz/kbhit.h"
#include "platform/victory/victory_test.h"
#include "tests/support/RuntimeRoot.h"

#include <GeographicLib/GeoCoords.hpp>
#include <gtest/gtest.h>
#include <GeographicLib/Geoid.hpp>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <thread>

// The component's internals, for tests only (the class names it a friend).
class ZOziDaZodOduzuzTestAccess {
public:
    explicit ZOziDaZodOduzuzTestAccess(ZOziDaZodOduzuz& server) : s(server) {}

    void setDebug(bool on) { s.m_debug = on; }
    void setFaultTest(bool on) { s.m_faultTestEnabled = on; }
    std::atomic<bool>& tellDisabled() { return s.m_tellDisabled; }
    aspn2_msgs::idl::PositionVelocityAttitude& pva() { return s.m_pva; }
    aspn2_msgs::idl::UTCTime& utc() { return s.m_utc; }
    VpossService*& positionService() { return s.m_positionService; }
    VorisService*& orientationService() { return s.m_orientationService; }
    VdotsService*& dotService() { return s.m_dotService; }
    VictoryFaultHelper& faultHelper() { return s.m_faultHelper; }
    std::thread& workerThread() { return s.m_workerThread; }
    std::atomic<bool>& stopWorker() { return s.m_stopWorker; }
    void startWorkerThread() { s.Start(); }
    void stopWorkerThread() { s.Stop(); }

    // Settings of Configure.
    std::vector<std::string> files() const {
        return {text(s.m_systemName), text(s.m_configurationName), text(s.m_connectionsFile), text(s.m_ioDevicesFile),
                text(s.m_geoidModel)};
    }
    void setServices(bool position, bool orientation, bool dot) {
        s.m_processPosition = position;
        s.m_processOrientation = orientation;
        s.m_processDirectionOfTravel = dot;
    }
    std::uint8_t& utcSource() { return s.m_utcSourceNavigatorServerId; }
    std::uint8_t& pvaSource() { return s.m_pvaSourceNavigatorServerId; }
    const GeographicLib::Geoid* geoid() const { return s.m_geoCoords ? s.m_geoid.get() : nullptr; }

    // Intake and commands.
    std::atomic<ZOziDaZodOduzuz::ReportedState>& state() { return s.m_state; }
    std::array<bool, 2> received() const { return {s.m_pvaReceived, s.m_utcReceived}; }
    void cbPVA(const aspn2_msgs::idl::PositionVelocityAttitude& m) { s.cbPVA(m); }
    void cbUTCTime(const aspn2_msgs::idl::UTCTime& m) { s.cbUTCTime(m); }
    void cbCmd(const aspn2_msgs::idl::CommandResponse& m) { s.cbCmd(m); }
    bool processPosOrDirData() { return s.ProcessPosOrDirData(); }
    void superviseNavigation(bool published) { s.superviseNavigation(published); }
    bool updateVDMdataRate(unsigned long period) { return s.updateVDMdataRate(period); }
    int logMaintenanceEvent(const char* text, unsigned length) { return s.logMaintenanceEvent(text, length); }
    bool hasTransport() const { return static_cast<bool>(s.m_tss); }
    bool hasTypedTransports() const { return s.m_cmdTS && s.m_pvaTS && s.m_eventLogTS && s.m_utcTS && s.m_maintTS; }

    // What Configure does with the geoid.
    void loadGeoid(const std::string& model, const std::string& directory) {
        s.m_geoid = std::make_unique<GeographicLib::Geoid>(model, directory, true, false);
        s.m_geoid->CacheAll();
        s.m_geoCoords = std::make_unique<GeographicLib::GeoCoords>();
    }
    void publishPosition() { s.PublishPosition(); }
    void publishOrientation() { s.PublishOrientation(); }
    void publishDirectionOfTravel() { s.PublishDirectionOfTravel(); }

    // The services by index: 0 position, 1 orientation, 2 direction of travel.
    bool initialize(int i, const char* vcl) {
        return i == 0   ? s.InitializeVictoryPosition(vcl)
               : i == 1 ? s.InitializeVictoryOrientation(vcl)
                        : s.InitializeVictoryDirectionOfTravel(vcl);
    }
    bool shutdown(int i) {
        return i == 0   ? s.ShutdownVictoryPosition()
               : i == 1 ? s.ShutdownVictoryOrientation()
                        : s.ShutdownVictoryDirectionOfTravel();
    }
    bool initialized(int i) const {
        return i == 0 ? s.m_positionInitialized : i == 1 ? s.m_orientationInitialized : s.m_dotInitialized;
    }
    void* handle(int i) const {
        return i == 0   ? static_cast<void*>(s.m_positionService)
               : i == 1 ? static_cast<void*>(s.m_orientationService)
                        : static_cast<void*>(s.m_dotService);
    }
    static int saveVcl(int i, void* user, const char* text) {
        return i == 0   ? ZOziDaZodOduzuz::PositionSaveVclidCallback(user, nullptr, text)
               : i == 1 ? ZOziDaZodOduzuz::OrientationSaveVclidCallback(user, nullptr, text)
                        : ZOziDaZodOduzuz::DOTSaveVclidCallback(user, nullptr, text);
    }

private:
    static std::string text(const FACE::String& t) {
        return t.buffer() == nullptr ? std::string() : std::string(t.buffer(), t.length());
    }
    ZOziDaZodOduzuz& s;
};

namespace zozi_test {

// The runtime root of a server test process (ServerTestRoot.cpp): made
// before the first test, as CORVANE_ROOT and CORVANE_DEVMEM are read once.
corvane_test::RuntimeRoot& serverRoot();

// Descriptor 1 into a temporary file until restore().
class Fd1Capture {
public:
    Fd1Capture() {
        std::fflush(stdout);
        std::cout.flush();
        char path[] = "/tmp/zozi-fd1-XXXXXX";
        m_fd = ::mkstemp(path);
        m_path = path;
        m_saved = ::dup(1);
        ::dup2(m_fd, 1);
    }
    ~Fd1Capture() {
        restore();
        ::unlink(m_path.c_str());
    }
    void restore() {
        if (m_saved < 0) return;
        std::fflush(stdout);
        std::cout.flush();
        ::dup2(m_saved, 1);
        ::close(m_saved);
        ::close(m_fd);
        m_saved = -1;
    }
    std::string text() const {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    int m_fd = -1;
    int m_saved = -1;
    std::string m_path;
};

// What is written to std::cout while it lives.
class CoutCapture {
public:
    CoutCapture() : m_saved(std::cout.rdbuf(m_text.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(m_saved); }
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;
    // The text so far; clears it.
    std::string take() {
        std::string t = m_text.str();
        m_text.str("");
        return t;
    }

private:
    std::ostringstream m_text;
    std::streambuf* m_saved;
};

struct Event {
    int type;
    std::string info;
    bool operator==(const Event& o) const { return type == o.type && info == o.info; }
};
inline std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << "{" << e.type << ", \"" << e.info << "\"}";
}

// Takes every pending health event of the process-wide reporter.
inline std::vector<Event> drainEvents() {
    std::vector<Event> events;
    int type = 0;
    std::string info;
    while (HealthReporter::Instance().queue().pop_front(type, info, std::chrono::nanoseconds(0))) {
        events.push_back({type, info});
    }
    return events;
}

// Standard input replaced by a pipe while it lives; type() writes keys.
class StdinPipe {
public:
    StdinPipe() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("StdinPipe: pipe failed");
        m_saved = ::dup(0);
        ::dup2(fds[0], 0);
        ::close(fds[0]);
        m_write = fds[1];
        std::clearerr(stdin);
    }
    ~StdinPipe() {
        ::dup2(m_saved, 0);
        ::close(m_saved);
        ::close(m_write);
        std::clearerr(stdin);
    }
    StdinPipe(const StdinPipe&) = delete;
    StdinPipe& operator=(const StdinPipe&) = delete;
    void type(const std::string& keys) {
        if (::write(m_write, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
            throw std::runtime_error("StdinPipe: write failed");
        }
    }

private:
    int m_saved = -1;
    int m_write = -1;
};

// Services of every family, created but not started: tells and faults are
// stored and can be read back; nothing is sent.
struct Services {
    static constexpr const char* kConfig =
        "<VictoryServiceConfig name='test'><DataBus address='127.0.0.1' port='9'/></VictoryServiceConfig>";
    static constexpr const char* kVcl =
        "<vcl:VCL xmlns:vcl='urn:test'><vcl:component type='VICTORY_DATA'>"
        "<vcl:configItem name='updatePeriod' value='1000'/></vcl:component></vcl:VCL>";

    VpossService* position = vpossNewService(1, 1, 1, kConfig, 1.0, kVcl);
    VorisService* orientation = vorisNewService(1, 1, 1, kConfig, 1.0, kVcl);
    VdotsService* dot = vdotsNewService(1, 1, 1, kConfig, 1.0, kVcl);
    VgpssService* gps = vgpssNewService(1, 1, 1, kConfig, 1.0, kVcl);
    VgensService* endNode = vgensNewService(1, 1, 1, kConfig, 1.0, kVcl);
    VapntsService* apnt = vapntsNewService(1, 1, 1, kConfig, 1.0, kVcl);

    ~Services() {
        vpossDeleteService(position);
        vorisDeleteService(orientation);
        vdotsDeleteService(dot);
        vgpssDeleteService(gps);
        vgensDeleteService(endNode);
        vapntsDeleteService(apnt);
    }
    bool ok() const { return position && orientation && dot && gps && endNode && apnt; }

    // State of service 0 (position), 1 (orientation) or 2 (direction of
    // travel) behind handle `h`, or behind this object's handle.
    static VictoryTestState state(int i, void* h) {
        VictoryTestState st{};
        if (i == 0) vpossTestGetState(static_cast<VpossService*>(h), &st);
        if (i == 1) vorisTestGetState(static_cast<VorisService*>(h), &st);
        if (i == 2) vdotsTestGetState(static_cast<VdotsService*>(h), &st);
        return st;
    }
    VictoryTestState state(int i) const {
        return state(i, i == 0   ? static_cast<void*>(position)
                        : i == 1 ? static_cast<void*>(orientation)
                                 : static_cast<void*>(dot));
    }
    std::array<std::uint64_t, 3> tells() const { return {state(0).tellCount, state(1).tellCount, state(2).tellCount}; }
};

// A usable solution: 30N 90W, 100 m above the ellipsoid, due north at
// 10 m/s climbing 1 m/s, roll 10, pitch -5, yaw 45 degrees; position
// variances 4, 9, 16 m^2.
inline aspn2_msgs::idl::PositionVelocityAttitude defaultPva() {
    constexpr double d = 3.141592653589793 / 180.0;
    aspn2_msgs::idl::PositionVelocityAttitude pva;
    pva.position().latitude(30.0 * d);
    pva.position().longitude(-90.0 * d);
    pva.position().altitude(100.0);
    pva.velocity({10.0, 0.0, -1.0});
    pva.attitude({10.0 * d, -5.0 * d, 45.0 * d});
    const double diagonal[9] = {4.0, 9.0, 16.0, 1.0, 1.0, 0.25, 1e-4, 4e-4, 9e-4};
    for (int i = 0; i < 9; ++i) pva.covariance()[i][i] = diagonal[i];
    return pva;
}

// 2024-06-15 12:34:56.5 UTC (GPS week 2318, 18 leap seconds).
inline aspn2_msgs::idl::UTCTime defaultUtc() {
    aspn2_msgs::idl::UTCTime utc;
    utc.gps_week(2318);
    utc.gps_tow_sec(6 * 86400 + 45296 + 18);
    utc.utc_tod_sec(45296);
    utc.utc_tod_nsec(5.0e8);
    return utc;
}

// A test fixture: a server whose three service handles are `services`
// (created, not started, so they store what they are told), with the
// default solution and time, and no pending health events.
class ServerOverServices : public ::testing::Test {
protected:
    Services services;
    ZOziDaZodOduzuz server;  // destroyed before the services
    ZOziDaZodOduzuzTestAccess access{server};

    // With the geoid `model` of `directory`.
    void attach(const std::string& model, const std::string& directory) {
        ASSERT_TRUE(services.ok());
        access.loadGeoid(model, directory);
        access.positionService() = services.position;
        access.orientationService() = services.orientation;
        access.dotService() = services.dot;
        access.pva() = defaultPva();
        access.utc() = defaultUtc();
        drainEvents();
    }
    void TearDown() override { drainEvents(); }
};

}  // namespace zozi_test

#endif  // TESTS_VICTORY_ZOZIDAZODODUZUZ_ZOZITESTSUPPORT_H
