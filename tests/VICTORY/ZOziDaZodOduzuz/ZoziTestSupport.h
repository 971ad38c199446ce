// Shared helpers of the server's tests: access to the component's internals,
// console capture, health event draining, key presses on standard input and
// a default navigation sample.
#ifndef TESTS_VICTORY_ZOZIDAZODODUZUZ_ZOZITESTSUPPORT_H
#define TESTS_VICTORY_ZOZIDAZODODUZUZ_ZOZITESTSUPPORT_H

#include "ASPN/HealthReporter.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"
#include "VICTORY/ZOziDaZodOduzuz/kbhit.h"
#include "platform/victory/victory_test.h"

#include <GeographicLib/GeoCoords.hpp>
#include <GeographicLib/Geoid.hpp>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// The component's internals, for tests only (the class names it a friend).
class ZOziDaZodOduzuzTestAccess {
public:
    explicit ZOziDaZodOduzuzTestAccess(ZOziDaZodOduzuz& server) : s(server) {}

    const std::string& name() const { return s.m_name; }
    void setDebug(bool on) { s.m_debug = on; }
    std::atomic<bool>& tellDisabled() { return s.m_tellDisabled; }
    aspn2_msgs::idl::PositionVelocityAttitude& pva() { return s.m_pva; }
    aspn2_msgs::idl::UTCTime& utc() { return s.m_utc; }
    VpossService*& positionService() { return s.m_positionService; }
    VorisService*& orientationService() { return s.m_orientationService; }
    VdotsService*& dotService() { return s.m_dotService; }
    VictoryFaultHelper& faultHelper() { return s.m_faultHelper; }
    std::thread& workerThread() { return s.m_workerThread; }
    std::atomic<bool>& stopWorker() { return s.m_stopWorker; }

    // Settings (Configure) and switches.
    bool debug() const { return s.m_debug; }
    std::string systemName() const { return text(s.m_systemName); }
    std::string configurationName() const { return text(s.m_configurationName); }
    std::string connectionsFile() const { return text(s.m_connectionsFile); }
    std::string ioDevicesFile() const { return text(s.m_ioDevicesFile); }
    std::string geoidModel() const { return text(s.m_geoidModel); }
    bool& processPosition() { return s.m_processPosition; }
    bool& processOrientation() { return s.m_processOrientation; }
    bool& processDirectionOfTravel() { return s.m_processDirectionOfTravel; }
    bool& faultTestEnabled() { return s.m_faultTestEnabled; }
    std::uint8_t& utcSource() { return s.m_utcSourceNavigatorServerId; }
    std::uint8_t& pvaSource() { return s.m_pvaSourceNavigatorServerId; }
    const GeographicLib::Geoid* geoid() const { return s.m_geoid.get(); }
    const GeographicLib::GeoCoords* geoCoords() const { return s.m_geoCoords.get(); }

    // Intake and commands.
    std::atomic<ZOziDaZodOduzuz::ReportedState>& state() { return s.m_state; }
    bool pvaReceived() const { return s.m_pvaReceived; }
    bool utcReceived() const { return s.m_utcReceived; }
    void setReceived(bool pva, bool utc) {
        s.m_pvaReceived = pva;
        s.m_utcReceived = utc;
    }
    std::mutex& dataMutex() { return s.m_dataMutex; }
    void cbPVA(const aspn2_msgs::idl::PositionVelocityAttitude& m) { s.cbPVA(m); }
    void cbUTCTime(const aspn2_msgs::idl::UTCTime& m) { s.cbUTCTime(m); }
    void cbCmd(const aspn2_msgs::idl::CommandResponse& m) { s.cbCmd(m); }
    bool processPosOrDirData() { return s.ProcessPosOrDirData(); }
    bool updateVDMdataRate(unsigned long period) { return s.updateVDMdataRate(period); }
    int logMaintenanceEvent(const char* text, unsigned length) { return s.logMaintenanceEvent(text, length); }
    COutputRedirector& outputRedirector() { return s.m_outputRedirector; }
    long long responseConnectionId() const { return s.m_responseConnectionId; }
    long long maintConnectionId() const { return s.m_maintConnectionId; }
    bool hasTransport() const { return static_cast<bool>(s.m_tss); }
    bool hasTypedTransports() const { return s.m_cmdTS && s.m_pvaTS && s.m_eventLogTS && s.m_utcTS && s.m_maintTS; }

    // What Configure does with the geoid: cubic interpolation, no thread
    // safety, the whole globe cached.
    void loadGeoid(const std::string& model, const std::string& directory) {
        s.m_geoid = std::make_unique<GeographicLib::Geoid>(model, directory, true, false);
        s.m_geoid->CacheAll();
        s.m_geoCoords = std::make_unique<GeographicLib::GeoCoords>();
    }

    void publishPosition() { s.PublishPosition(); }
    void publishOrientation() { s.PublishOrientation(); }
    void publishDirectionOfTravel() { s.PublishDirectionOfTravel(); }

    // The three services by index: 0 position, 1 orientation, 2 direction
    // of travel.
    bool initialize(int service, const char* vcl) {
        return service == 0 ? s.InitializeVictoryPosition(vcl)
                            : service == 1 ? s.InitializeVictoryOrientation(vcl) : s.InitializeVictoryDirectionOfTravel(vcl);
    }
    bool shutdown(int service) {
        return service == 0 ? s.ShutdownVictoryPosition()
                            : service == 1 ? s.ShutdownVictoryOrientation() : s.ShutdownVictoryDirectionOfTravel();
    }
    bool initialized(int service) const {
        return service == 0 ? s.m_positionInitialized : service == 1 ? s.m_orientationInitialized : s.m_dotInitialized;
    }
    void* handle(int service) const {
        return service == 0 ? static_cast<void*>(s.m_positionService)
                            : service == 1 ? static_cast<void*>(s.m_orientationService) : static_cast<void*>(s.m_dotService);
    }
    static int saveVcl(int service, void* user, const char* text) {
        return service == 0 ? ZOziDaZodOduzuz::PositionSaveVclidCallback(user, nullptr, text)
               : service == 1 ? ZOziDaZodOduzuz::OrientationSaveVclidCallback(user, nullptr, text)
                              : ZOziDaZodOduzuz::DOTSaveVclidCallback(user, nullptr, text);
    }

private:
    static std::string text(const FACE::String& t) {
        return t.buffer() == nullptr ? std::string() : std::string(t.buffer(), t.length());
    }
    ZOziDaZodOduzuz& s;
};

namespace zozi_test {

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

// Captures what is written to std::cout while it lives.
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

// Standard input (descriptor 0) replaced by a pipe while it lives; keys
// written to the pipe are what the fault test reads.
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

// Calls `step` until standard input holds nothing more (at most 1000
// times): one key per call, as the worker does once per cycle.
template <typename Step>
void handleAllKeys(Step step) {
    for (int i = 0; i < 1000 && _kbhit() > 0; ++i) step();
}

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

    Services() = default;
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;
    ~Services() {
        vpossDeleteService(position);
        vorisDeleteService(orientation);
        vdotsDeleteService(dot);
        vgpssDeleteService(gps);
        vgensDeleteService(endNode);
        vapntsDeleteService(apnt);
    }
    bool ok() const { return position && orientation && dot && gps && endNode && apnt; }
};

// A service's state through its family's inspection call.
template <typename Get, typename Handle>
VictoryTestState stateOf(Get get, Handle* handle) {
    VictoryTestState s{};
    get(handle, &s);
    return s;
}

// A usable navigation solution: 30N 90W, 100 m above the ellipsoid, moving
// due north at 10 m/s and climbing at 1 m/s, roll 10, pitch -5, yaw 45
// degrees; position variances 4, 9, 16 m^2.
inline aspn2_msgs::idl::PositionVelocityAttitude defaultPva() {
    constexpr double pi = 3.141592653589793;
    aspn2_msgs::idl::PositionVelocityAttitude pva;
    pva.position().latitude(30.0 * pi / 180.0);
    pva.position().longitude(-90.0 * pi / 180.0);
    pva.position().altitude(100.0);
    pva.velocity({10.0, 0.0, -1.0});
    pva.attitude({10.0 * pi / 180.0, -5.0 * pi / 180.0, 45.0 * pi / 180.0});
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

}  // namespace zozi_test

#endif  // TESTS_VICTORY_ZOZIDAZODODUZUZ_ZOZITESTSUPPORT_H
