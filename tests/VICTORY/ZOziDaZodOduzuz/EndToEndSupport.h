// The pieces of an end-to-end test of the server executable: the server
// process with a runtime root of its own, the FPGA simulator keeping the
// counter running, the VICTORY data bus as three UDP sockets of the test,
// and a DDS peer of the test that publishes navigation data and commands
// and collects responses, health and maintenance events. Also the samples
// the tests send and the reports they expect from them, computed here from
// first principles (GeographicLib for MGRS, the calendar for times).
//
// Every process is owned by an object that kills it when it goes away, so
// a failed assertion leaves nothing running.
#ifndef TESTS_VICTORY_ZOZIDAZODODUZUZ_ENDTOENDSUPPORT_H
#define TESTS_VICTORY_ZOZIDAZODODUZUZ_ENDTOENDSUPPORT_H

#include "FACE/CV_TSS.h"
#include "aspn2_msgs/CommandResponse.h"
#include "aspn2_msgs/EventLog.h"
#include "aspn2_msgs/MaintenanceEvent.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "platform/victory/VictoryDataMessage.h"
#include "tests/support/LoggedProcess.h"
#include "tests/support/RuntimeRoot.h"
#include "tests/support/UdpTestSocket.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Indices of the three services, as RuntimeRoot numbers them.
enum Service : int { kPosition = 0, kOrientation = 1, kDirectionOfTravel = 2 };

// Server id of the fusion navigator, the server's default source.
constexpr std::uint8_t kNavigator = 96;

// --- Samples and expected reports ------------------------------------------

// One navigation solution with its UTC time, in the units a test thinks in.
struct NavSample {
    double latDeg = 48.1234567;
    double lonDeg = 11.5;
    double altM = 512.25;                                  // above the ellipsoid
    std::array<double, 3> velocity{10.0, 0.0, -0.5};       // north, east, down, m/s
    std::array<double, 3> attitude{0.01, -0.02, 1.2};      // roll, pitch, yaw, rad
    std::array<double, 9> variances{4.0, 9.0, 16.0,        // north, east, down position, m^2
                                    1.0, 1.0, 0.09,        // velocity, (m/s)^2
                                    1e-4, 4e-4, 9e-4};     // attitude, rad^2
    // UTC time on the GPS week grid.
    std::int32_t gpsWeek = 2295;                 // starts Sunday 2023-12-31
    std::int32_t gpsTowSec = 2 * 86400 + 43218;  // Tuesday 12:00:18 GPS
    std::int32_t utcTodSec = 43200;              // 12:00:00 UTC
    double utcTodNsec = 250000000.0;
    // Times of validity of the two messages.
    std::int64_t pvaTovSec = 1000;
    std::int32_t pvaTovNsec = 0;
    std::int64_t utcTovSec = 1000;
    std::int32_t utcTovNsec = 0;
    std::uint8_t pvaSource = kNavigator;
    std::uint8_t utcSource = kNavigator;

    // The same solution `seconds` later on every clock (times of validity,
    // GPS and UTC time), the position unchanged.
    NavSample later(std::int32_t seconds) const;
};

aspn2_msgs::idl::PositionVelocityAttitude makePva(const NavSample& s);
aspn2_msgs::idl::UTCTime makeUtc(const NavSample& s);

// The civil UTC time that the sample's GPS week, time of week and UTC time
// of day name (the date of the GPS time, one day earlier when GPS has
// passed midnight and UTC has not).
VictoryTime civilTime(const NavSample& s);

// What the three services must report for `s` over a geoid whose height
// at (latitude, longitude) in degrees is `geoidHeight`.
struct ExpectedReports {
    std::array<VictoryValue, 3> position;  // latitude, longitude (rad), altitude (m)
    std::array<VictoryValue, 3> orientation;
    std::array<VictoryValue, 3> direction;  // heading uncertainty: see headingUncertainty
    std::optional<std::string> mgrs;
    VictoryTime time{};
};
ExpectedReports expectedReports(const NavSample& s, const std::function<double(double, double)>& geoidHeight,
                                double headingUncertainty);

// --- VICTORY data bus --------------------------------------------------------

// Three UDP sockets of the test on which the services' data messages
// arrive; their ports go into the runtime root.
class DataBus {
public:
    struct Received {
        victory::DataMessage message;
        Clock::time_point at;
    };

    std::array<std::uint16_t, 3> ports() const;

    // Reads what has arrived; waits up to `timeout` when nothing has.
    void pump(std::chrono::milliseconds timeout = 0ms);
    const std::vector<Received>& received(int service) const { return m_received.at(service); }
    // Drops everything received and queued so far.
    void clear();
    // Datagrams that were not data messages.
    const std::vector<std::string>& errors() const { return m_errors; }

private:
    std::array<corvane_test::UdpReceiver, 3> m_sockets;
    std::array<std::vector<Received>, 3> m_received;
    std::vector<std::string> m_errors;
};

// Whether `m` carries time `t`.
bool hasTime(const victory::DataMessage& m, const VictoryTime& t);
std::string describe(const victory::DataMessage& m);

// --- DDS peer ------------------------------------------------------------------

// Messages of one kind received by the peer, with their arrival times, in
// order; read by index so that a test can look at what came after a point.
template <typename T>
class Inbox {
public:
    struct Entry {
        T message;
        Clock::time_point at;
    };

    FACE::TSS::Read_Callback<T> callback() {
        return [this](long long, long long, const T& m, const FACE::TSS::HEADER_TYPE&,
                      const FACE::Sequence<FACE::TSS::QoS_Element>&, FACE::RETURN_CODE_TYPE::Value&) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_entries.push_back({m, Clock::now()});
            m_arrived.notify_all();
        };
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries.size();
    }
    std::vector<Entry> from(std::size_t index) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= m_entries.size()) return {};
        return std::vector<Entry>(m_entries.begin() + static_cast<std::ptrdiff_t>(index), m_entries.end());
    }
    // The first message from `index` on that satisfies `match`, waiting up
    // to `timeout` for it.
    std::optional<T> waitFor(const std::function<bool(const T&)>& match, std::chrono::milliseconds timeout,
                             std::size_t index = 0) {
        const auto deadline = Clock::now() + timeout;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            for (; index < m_entries.size(); ++index) {
                if (match(m_entries[index].message)) return m_entries[index].message;
            }
            if (m_arrived.wait_until(lock, deadline) == std::cv_status::timeout && index == m_entries.size()) {
                return std::nullopt;
            }
        }
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Entry> m_entries;
};

// The other end of the server's six connections, in the test process.
class Peer {
public:
    // Throws std::runtime_error when the transport cannot be set up.
    explicit Peer(const std::string& connectionsFile);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void send(const aspn2_msgs::idl::PositionVelocityAttitude& m);
    void send(const aspn2_msgs::idl::UTCTime& m);
    void sendPair(const NavSample& s);
    // A command (type 0) or response (type 1) with `text` and `identifier`.
    void sendCommand(const std::string& text, std::int32_t identifier, std::int32_t type = 0);

    // Pings until an answer comes (the server runs and both sides have
    // discovered each other), then waits until the server reads the
    // navigation connections. False after `timeout`.
    bool waitForServer(std::chrono::milliseconds timeout = 30s);
    // The response to command `identifier` from index `from` on, within
    // `timeout`.
    std::optional<aspn2_msgs::idl::CommandResponse> responseTo(std::int32_t identifier,
                                                              std::chrono::milliseconds timeout,
                                                              std::size_t from = 0);
    // Sends a ping with `identifier` and waits for its answer.
    bool ping(std::int32_t identifier, std::chrono::milliseconds timeout = 10s);

    Inbox<aspn2_msgs::idl::CommandResponse> responses;
    Inbox<aspn2_msgs::idl::EventLog> events;
    Inbox<aspn2_msgs::idl::MaintenanceEvent> maintenance;

private:
    int matched(long long connection) const;

    std::shared_ptr<FACE::TSS::CV_TSS> m_tss;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::CommandResponse>> m_cmdTS;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::PositionVelocityAttitude>> m_pvaTS;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::UTCTime>> m_utcTS;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::EventLog>> m_eventTS;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::MaintenanceEvent>> m_maintTS;
    long long m_command = -1, m_response = -1, m_pva = -1, m_utc = -1, m_eventLog = -1, m_maint = -1;
};

// --- The whole set-up -----------------------------------------------------------

// Height of the tests' geoid: linear in latitude, -18 m at the equator,
// +0.3 m per degree north, reproduced exactly by the geoid library.
corvane_test::SyntheticGeoid testGeoid();

// A runtime root on DDS domain `domain`, the FPGA simulator, the peer and
// the server, started in that order by start().
class Rig {
public:
    // `settings` may change the top-level file's keys before the start.
    explicit Rig(int domain, const std::function<void(corvane_test::RuntimeRoot::TopLevel&)>& settings = {});
    ~Rig();

    // Starts the simulator and the server and waits until the server
    // answers the peer.
    ::testing::AssertionResult start();
    // SIGTERM: the server stops within 10 s with status 0 and its exit
    // line last, without a sanitizer report; then the simulator stops.
    ::testing::AssertionResult stopsInOrder();

    // Sends the pair every `period` until `done()` holds (the bus is
    // pumped in between); false after `timeout`.
    bool streamUntil(const NavSample& s, const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s,
                     std::chrono::milliseconds period = 50ms);
    // Streams `s` until each service has sent a data message with its
    // sample time.
    bool streamUntilReported(const NavSample& s, std::chrono::milliseconds timeout = 10s);

    // The server's output so far, for failure messages.
    std::string transcript() const;

    DataBus bus;
    std::unique_ptr<corvane_test::RuntimeRoot> root;
    std::unique_ptr<corvane_test::LoggedProcess> fpga;
    std::unique_ptr<Peer> peer;
    std::unique_ptr<corvane_test::LoggedProcess> server;
};

// The path of an executable or data file named by the build.
extern const std::string kServerPath;
extern const std::string kFpgaSimPath;
extern const std::string kToolPath;
extern const std::string kSourceDir;

// Whether `output` holds a report of a sanitizer.
bool hasSanitizerReport(const std::string& output);

}  // namespace e2e

#endif  // TESTS_VICTORY_ZOZIDAZODODUZUZ_ENDTOENDSUPPORT_H
