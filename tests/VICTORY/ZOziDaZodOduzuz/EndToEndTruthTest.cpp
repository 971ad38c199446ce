// What a consumer can tell from the bus end to end: a loss of navigation
// data (for each cause) raises the "navigation data lost" fault on every
// service and one health event naming the cause, and its return clears
// them; a usable solution whose latitude is no latitude is never told (the
// grid reference's error is reported every cycle); other non-finite values
// are told as received and flagged once; commands that change the output
// are traced to their sender, and a sanitize command restarts every
// service, a switched-off one too. Each test runs one server on its own DDS
// domain (170..173) and covers several phases in that one run; the last
// one shows that the navigator simulator's phases reach the server.
#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace e2e;
using aspn2_msgs::idl::EventLog;

constexpr const char* kLost = "navigation data lost: no pair published for 2 s: ";
constexpr const char* kRestored = "navigation data restored";
constexpr const char* kException = "ZOziDaZodOduzuz: workerThreadFunction() EXCEPTION: ";
// The services send a data message once a second: what they hold shows on
// the bus up to this much later.
constexpr auto kBusPeriod = 1200ms;

std::function<bool(const EventLog&)> eventWith(const std::string& text) {
    return [text](const EventLog& e) { return e.eventlog().find(text) != std::string::npos; };
}

// Whether the latest message of every service lists the loss fault (or,
// with `present` false, lists no fault at all).
bool lossFaultOnAll(const DataBus& bus, bool present) {
    for (int service = 0; service < 3; ++service) {
        const auto& messages = bus.received(service);
        if (messages.empty()) return false;
        const victory::DataMessage& m = messages.back();
        bool listed = false;
        for (const auto& f : m.faults) {
            listed = listed || (f.description == "navigation data lost" && f.severity == VHLTHC_SEVERITY_ERROR &&
                                f.category == VHLTHC_CATEGORY_UNSPECIFIED && f.action == VHLTHC_ACTION_REPORT);
        }
        if (present ? !(listed && m.faultCount == 1) : m.faultCount != 0) return false;
    }
    return true;
}

// Each way the pairs can stop: the fault appears on all three services with
// one event naming the cause within 2.5 s of the last good pair (the bus
// shows it at its next message), and goes within 0.5 s of the first new
// pair (both windows scaled by CORVANE_TIMEOUT_SCALE).
TEST(EndToEndTruth, NavigationLossAndReturnForEachCause) {
    Rig rig(170);
    ASSERT_TRUE(rig.start());
    const struct {
        const char* name;
        bool pva, utc;  // which streams go on
        void (*spoil)(NavSample&);
        const char* cause;
    } phases[] = {
        {"navigator silent", false, false, [](NavSample&) {}, "no PVA and no UTC (last PVA time of validity "},
        {"UTC stream missing", true, false, [](NavSample&) {}, "no UTC (last UTC time of validity "},
        {"PVA stream missing", false, true, [](NavSample&) {}, "no PVA (last PVA time of validity "},
        {"wrong source", true, true, [](NavSample& s) { s.pvaSource = s.utcSource = 200; },
         "source filtered: PVA from server 200 (unknown ID 200) (accepted: 96 FusionNavigator); UTC from server 200"},
        {"UTC lags 1 s", true, true, [](NavSample& s) { s.utcTovSec -= 1; },
         "deltaTov too large: 1.000 s (pairing window 0.600 s)"},
    };
    NavSample s;
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.name);
        s = s.later(100);
        ASSERT_TRUE(rig.streamUntilReported(s)) << rig.transcript();
        const std::size_t events = rig.peer->events.size();
        // The last good pair is a second later than the stream: too far
        // from any sample of the stream to pair with one (the pairing
        // window is 0.6 s), so the server tells it only once it holds both
        // its PVA and its UTC time, and nothing sent before it is left
        // stored. Its PVA goes more than a worker cycle before its UTC
        // time, the order in which a UTC time of the stream could
        // otherwise pair with the last PVA and leave the last UTC time
        // unpaired. When both streams then stop, nothing is received after
        // the last pair: "no PVA and no UTC", whatever the timing.
        s = s.later(1);
        rig.peer->sendPva(s);
        rig.bus.pump(300ms);
        rig.peer->sendUtc(s);
        const auto lastGood = Clock::now();

        // The faulty streams at 20 Hz, each sample a little later than the
        // last.
        NavSample bad = s;
        phase.spoil(bad);
        int sent = 0;
        const auto sendFaulty = [&] {
            if (phase.pva) rig.peer->sendPva(bad);
            if (phase.utc) rig.peer->sendUtc(bad);
            ++sent;
            bad.pvaTovNsec = bad.utcTovNsec = (sent % 20) * 50000000;
            if (sent % 20 == 0) ++bad.pvaTovSec, ++bad.utcTovSec;
        };
        std::optional<EventLog> lost;
        while (!lost && Clock::now() < lastGood + scaled(2500ms)) {
            sendFaulty();
            lost = rig.peer->events.waitFor(eventWith(kLost), 50ms, events);
        }
        ASSERT_TRUE(lost) << "no loss event within 2.5 s\n" << rig.transcript();
        EXPECT_EQ(lost->event_log_type(), aspn2_msgs::idl::EVENT_LOG_TYPE_FAULT);
        EXPECT_NE(lost->eventlog().find(std::string(kLost) + phase.cause), std::string::npos) << lost->eventlog();
        rig.bus.clear();
        bool shown = false;
        for (const auto until = Clock::now() + kBusPeriod; !shown && Clock::now() < until;) {
            sendFaulty();
            rig.bus.pump(50ms);
            shown = lossFaultOnAll(rig.bus, true);
        }
        EXPECT_TRUE(shown) << rig.transcript();
        EXPECT_EQ(rig.peer->events.count(eventWith(kLost), events), 1u);

        s = s.later(10);
        const auto back = Clock::now();
        std::optional<EventLog> restored;
        while (!restored && Clock::now() < back + scaled(500ms)) {
            rig.peer->sendPair(s);
            restored = rig.peer->events.waitFor(eventWith(kRestored), 50ms, events);
        }
        ASSERT_TRUE(restored) << "no return within 0.5 s of the first new pair\n" << rig.transcript();
        EXPECT_EQ(restored->event_log_type(), aspn2_msgs::idl::EVENT_LOG_TYPE_STATUS);
        rig.bus.clear();
        EXPECT_TRUE(rig.streamUntil(
            s, [&] { return lossFaultOnAll(rig.bus, false); }, kBusPeriod))
            << rig.transcript();
    }
    EXPECT_EQ(rig.server->countLines(kLost), std::size(phases));
    EXPECT_TRUE(rig.bus.errors.empty()) << rig.bus.errors.front();
    EXPECT_TRUE(rig.stopsInOrder());
}

// Whether a Position message tells a MEASURED value that is not finite, or
// the MGRS text of a non-finite position.
bool misleading(const victory::DataMessage& m) {
    for (const auto& v : m.values) {
        if (v.value.basis == VPOSC_BASIS_MEASURED && !std::isfinite(v.value.value)) return true;
    }
    return m.mgrs == std::optional<std::string>("INVALID");
}

// A NaN latitude of a usable solution is never told: the grid reference's
// error is reported in every cycle that tries it. A NaN longitude is told
// with the grid reference GeographicLib gives it ("INVALID"), a non-finite
// altitude or velocity as received; each flagged by one fault event naming
// the field.
TEST(EndToEndTruth, BrokenValuesFollowTheGeodesy) {
    Rig rig(171);
    ASSERT_TRUE(rig.start());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        void (*spoil)(NavSample&, double);
        const char* event;  // the event of the phase
        bool told;
    } phases[] = {
        {"NaN latitude", [](NavSample& s, double n) { s.latDeg = n; },
         "ZOziDaZodOduzuz: workerThreadFunction() EXCEPTION: Latitude nand not in [-90d, 90d]", false},
        {"NaN longitude", [](NavSample& s, double n) { s.lonDeg = n; },
         "ZOziDaZodOduzuz: navigation solution with non-finite longitude (told as received)", true},
        {"NaN altitude", [](NavSample& s, double n) { s.altM = n; },
         "ZOziDaZodOduzuz: navigation solution with non-finite altitude (told as received)", true},
        {"NaN velocity", [](NavSample& s, double n) { s.velocity[1] = n; },
         "ZOziDaZodOduzuz: navigation solution with non-finite velocity (told as received)", true},
    };
    NavSample s;
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.name);
        s = s.later(100);
        ASSERT_TRUE(rig.streamUntilReported(s)) << rig.transcript();
        const std::size_t events = rig.peer->events.size();
        rig.bus.clear();
        // Six worker cycles of broken solutions, each with its own time.
        NavSample bad = s;
        phase.spoil(bad, nan);
        for (int i = 1; i <= 6; ++i) {
            bad = bad.later(1);
            rig.streamUntil(
                bad, [] { return false; }, 250ms);
        }
        ASSERT_TRUE(rig.peer->events.waitFor(eventWith(phase.event), 5s, events)) << rig.transcript();
        if (phase.told) {
            EXPECT_EQ(rig.peer->events.count(eventWith(phase.event), events), 1u);
            EXPECT_EQ(rig.peer->events.count(eventWith(kException), events), 0u);
            rig.bus.pump(kBusPeriod);
            EXPECT_TRUE(rig.bus.reportAt(kPosition, civilTime(bad))) << rig.transcript();
        } else {
            // One per failing cycle: the six broken pairs are tried in at
            // least two of them.
            EXPECT_GE(rig.peer->events.count(eventWith(kException), events), 2u);
            rig.bus.pump(kBusPeriod);
            for (const auto& m : rig.bus.received(kPosition)) EXPECT_FALSE(misleading(m)) << describe(m);
        }
    }
    // A run of exceptions ends with the next pair told (the next phase's
    // good sample), not with idle cycles: one line per untold phase.
    EXPECT_EQ(rig.server->countLines("workerThreadFunction() exceptions stopped after "), 1u) << rig.transcript();
    EXPECT_TRUE(rig.stopsInOrder());
}

// With Position switched off: the wait for a navigator is told once; a
// sanitize and a mode command are traced to their sender, and the sanitize
// restarts all three services, Position included.
TEST(EndToEndTruth, OutputChangingCommandsAreTracedAndSanitizeRestartsEveryService) {
    Rig rig(172, [](corvane_test::RuntimeRoot::TopLevel& t) { t.server["PARAM_1"] = "false"; });
    ASSERT_TRUE(rig.start());
    const std::string waiting = "ZOziDaZodOduzuz: waiting for navigation data from FusionNavigator";
    const auto notice = rig.peer->events.waitFor(eventWith(waiting), 10s);
    ASSERT_TRUE(notice) << rig.transcript();
    EXPECT_EQ(notice->event_log_type(), aspn2_msgs::idl::EVENT_LOG_TYPE_STATUS);
    EXPECT_TRUE(rig.server->waitForLine(waiting, 1s)) << rig.transcript();

    const std::size_t events = rig.peer->events.size();
    const std::string sender = "(system 2 Simulator, server 50 CommandServer, kind 2)";
    rig.peer->sendCommand("START_ZEROIZE", 11);
    const std::string zeroize =
        "ZOziDaZodOduzuz: command \"START_ZEROIZE\" (identifier 11) from device 0x02320200 " + sender;
    ASSERT_TRUE(rig.peer->events.waitFor(eventWith(zeroize), 10s, events)) << rig.transcript();
    EXPECT_TRUE(rig.server->waitForLine(zeroize, 1s)) << rig.transcript();
    for (const char* started : {"VPosServer shared service started", "VorisService shared service started",
                                "VdotsService shared service started"}) {
        EXPECT_TRUE(rig.peer->events.waitFor(eventWith(started), 10s, events)) << started << "\n" << rig.transcript();
    }
    rig.peer->sendCommand("SYSTEM_MODE_SELECT_LIVE", 12);
    ASSERT_TRUE(rig.peer->responseTo(12, 10s)) << rig.transcript();
    EXPECT_TRUE(rig.peer->events.waitFor(
        eventWith("command \"SYSTEM_MODE_SELECT_LIVE\" (identifier 12) from device 0x02320200 " + sender), 5s, events));

    EXPECT_EQ(rig.peer->events.count(eventWith("VPosServer shared service started"), 0), 1u);
    EXPECT_EQ(rig.peer->events.count(eventWith(waiting), 0), 1u);
    EXPECT_TRUE(rig.stopsInOrder());
}

// The navigator simulator's phases reach the server: its silent phase is
// flagged as one loss and its return clears it (the causes themselves are
// the first test's).
TEST(EndToEndTruth, NavigatorSimulatorPhases) {
    Rig rig(173);
    ASSERT_TRUE(rig.start());
    const std::size_t events = rig.peer->events.size();
    corvane_test::LoggedProcess nav(std::vector<std::string>{
        ASPN2_TOOL_PATH, "nav", "--connections", rig.root->connectionsFile(), "--lat", "48.1", "--lon", "11.5",
        "--phase", "5:ok", "--phase", "3.5:silent", "--phase", "2.5:ok", "--seconds", "30"});
    ASSERT_TRUE(nav.waitForLine("nav: phases done", 30s)) << nav.transcript() << rig.transcript();
    EXPECT_TRUE(rig.peer->events.waitFor(eventWith(kRestored), 5s, events)) << rig.transcript();
    EXPECT_EQ(rig.peer->events.count(eventWith(kLost), events), 1u) << rig.transcript();
    EXPECT_EQ(rig.peer->events.count(eventWith(kRestored), events), 1u);
    rig.bus.clear();
    rig.bus.pump(kBusPeriod);
    EXPECT_TRUE(lossFaultOnAll(rig.bus, false));
    nav.signal(SIGTERM);
    EXPECT_EQ(nav.finish(10s), 0);
    EXPECT_TRUE(rig.stopsInOrder());
}

}  // namespace
