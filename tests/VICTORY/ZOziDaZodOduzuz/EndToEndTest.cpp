// The server executable end to end, over loopback DDS, with the FPGA
// simulator and the VICTORY services library: navigation data in, VICTORY
// data messages out; commands and their responses; maintenance events from
// the library's fault texts; and the server surviving bad input. Each test
// runs its own server on its own DDS domain (100..139) and ends it with
// SIGTERM, expecting an orderly stop.
#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndSupport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace e2e;
using corvane_test::LoggedProcess;
using corvane_test::RuntimeRoot;
using aspn2_msgs::idl::CommandResponse;
using aspn2_msgs::idl::EventLog;

constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char* const kPositionLine = "PublishPosition Position data update";
const char* const kOrientationLine = "PublishOrientation Orientation data update";
const char* const kDirectionLine = "PublishDirectionOfTravel DoT data update";

std::function<void(RuntimeRoot::TopLevel&)> withDebug() {
    return [](RuntimeRoot::TopLevel& t) { t.server["Debug"] = "true"; };
}

// The last message of `service` that carries time `t`.
std::optional<victory::DataMessage> reportAt(const DataBus& bus, int service, const VictoryTime& t) {
    std::optional<victory::DataMessage> found;
    for (const auto& r : bus.received(service)) {
        if (hasTime(r.message, t)) found = r.message;
    }
    return found;
}

void expectValues(const victory::DataMessage& m, const std::array<VictoryValue, 3>& expected,
                  const std::array<const char*, 3>& names) {
    SCOPED_TRACE(describe(m));
    ASSERT_EQ(m.values.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const VictoryValue& got = m.values[i].value;
        EXPECT_EQ(m.values[i].name, names[i]);
        EXPECT_NEAR(got.value, expected[i].value, 1e-12 * std::max(1.0, std::fabs(expected[i].value))) << names[i];
        EXPECT_NEAR(got.uncertainty, expected[i].uncertainty, 1e-12 * std::max(1.0, expected[i].uncertainty))
            << names[i];
        EXPECT_EQ(got.basis, expected[i].basis) << names[i];
    }
}

auto asTuple(const VictoryTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.nanosecond);
}

// --- Navigation data to VICTORY reports -----------------------------------------

// Each solution's reports carry exactly the values the test derives from
// it: the sample is identified on the data bus by its sample time.
TEST(EndToEnd, ServicesReportTheValuesOfTheSentSolution) {
    Rig rig(100);
    ASSERT_TRUE(rig.start());

    NavSample north;  // 48.12N 11.5E, due north at 10 m/s, velocity variances 1
    NavSample southWest;
    southWest.latDeg = -33.9;
    southWest.lonDeg = -70.6;
    southWest.altM = 10.0;
    southWest.velocity = {0.1, -0.1, 0.25};
    southWest.gpsTowSec = 3 * 86400 + 3618;
    southWest.utcTodSec = 3600;
    southWest.utcTodNsec = 125000000.0;
    southWest.pvaTovSec = southWest.utcTovSec = 2000;
    NavSample unusable;  // position variances summing to the limit
    unusable.latDeg = 0.5;
    unusable.lonDeg = 179.9;
    unusable.variances = {1e7, 1e7, 5e6, 0.0, 0.0, 0.0, 1e-4, 1e-4, 1e-4};
    unusable.velocity = {3.0, 4.0, 0.0};
    unusable.gpsTowSec = 5;  // GPS Sunday 00:00:05, UTC still Saturday 23:59:47
    unusable.utcTodSec = 86387;
    unusable.utcTodNsec = 0.0;
    unusable.pvaTovSec = unusable.utcTovSec = 3000;

    const struct {
        const char* what;
        NavSample sample;
        double headingUncertainty;
        VictoryTime civil;
    } cases[] = {
        {"usable, due north", north, kPi / 2 - std::atan2(9.0, 1.0), {2024, 1, 2, 12, 0, 0, 250000000}},
        // Velocity sigmas larger than both components: heading unknown.
        {"usable, south-west, slow", southWest, kPi, {2024, 1, 3, 1, 0, 0, 125000000}},
        {"unusable, previous UTC day", unusable, 0.0, {2023, 12, 30, 23, 59, 47, 0}},
    };
    const auto geoid = testGeoid().expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(rig.streamUntilReported(c.sample)) << rig.transcript();
        const ExpectedReports e = expectedReports(c.sample, geoid, c.headingUncertainty);
        EXPECT_EQ(asTuple(e.time), asTuple(c.civil));

        const auto position = reportAt(rig.bus, kPosition, e.time);
        const auto orientation = reportAt(rig.bus, kOrientation, e.time);
        const auto direction = reportAt(rig.bus, kDirectionOfTravel, e.time);
        ASSERT_TRUE(position && orientation && direction);
        expectValues(*position, e.position, {"latitude", "longitude", "altitude"});
        expectValues(*orientation, e.orientation, {"roll", "pitch", "yaw"});
        expectValues(*direction, e.direction, {"heading", "speed", "climb"});
        EXPECT_EQ(position->mgrs, e.mgrs);
    }
    EXPECT_TRUE(rig.bus.errors().empty()) << rig.bus.errors().front();
    EXPECT_TRUE(rig.stopsInOrder());
}

// A fast stream gives at most one report of each kind per worker cycle;
// times of validity 0.6 s apart are not paired, just under 0.6 s are.
TEST(EndToEnd, ReportsFollowTheWorkerCycleAndThePairingWindow) {
    Rig rig(101, withDebug());
    ASSERT_TRUE(rig.start());

    // 100 Hz for 3 s, each pair with its own time of validity.
    const std::size_t first = rig.server->lineCount();
    NavSample s;
    const auto begin = Clock::now();
    constexpr int kPairs = 300;
    for (int i = 0; i < kPairs; ++i) {
        std::this_thread::sleep_until(begin + i * 10ms);
        s.pvaTovSec = s.utcTovSec = 5000 + i / 100;
        s.pvaTovNsec = s.utcTovNsec = (i % 100) * 10000000;
        rig.peer->sendPair(s);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    rig.bus.pump(700ms);  // the last pair is published, or dropped, by now
    const std::size_t positions = rig.server->countLines(kPositionLine, first);
    EXPECT_GE(positions, 6u) << rig.transcript();
    EXPECT_LE(positions, static_cast<std::size_t>(seconds / 0.25) + 2) << "over " << seconds << " s";
    EXPECT_EQ(rig.server->countLines(kOrientationLine, first), positions);
    EXPECT_EQ(rig.server->countLines(kDirectionLine, first), positions);

    // Far from the earlier pairs, so that no mix of old and new pairs up.
    NavSample apart = s.later(4000);
    apart.pvaTovNsec = 0;
    apart.utcTovNsec = 600000000;
    const std::size_t mark = rig.server->lineCount();
    const VictoryTime apartTime = civilTime(apart);
    rig.streamUntil(apart, [] { return false; }, 2s);
    EXPECT_EQ(rig.server->countLines(kPositionLine, mark), 0u) << rig.transcript();
    EXPECT_GT(rig.server->countLines("PVA & UTC Time            deltaTov: 0.6", mark), 0u) << rig.transcript();
    EXPECT_FALSE(reportAt(rig.bus, kPosition, apartTime));

    NavSample near = apart.later(100);
    near.utcTovNsec = 599999999;
    EXPECT_TRUE(rig.streamUntilReported(near)) << rig.transcript();
    EXPECT_TRUE(rig.stopsInOrder());
}

// PARAM_7 0 takes a solution from any source; a set id drops other sources
// while the configured source still gets through.
TEST(EndToEnd, SolutionsAreFilteredBySource) {
    const struct {
        const char* what;
        int domain;
        const char* pvaSourceSetting;
        bool reported;
    } cases[] = {
        {"any source", 102, "0", true},
        {"navigator only", 103, "96", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.domain, [&c](RuntimeRoot::TopLevel& t) {
            t.server["Debug"] = "true";
            t.server["PARAM_7"] = c.pvaSourceSetting;
        });
        ASSERT_TRUE(rig.start());
        NavSample other;
        other.pvaSource = 55;
        if (c.reported) {
            EXPECT_TRUE(rig.streamUntilReported(other)) << rig.transcript();
        } else {
            const std::size_t mark = rig.server->lineCount();
            EXPECT_FALSE(rig.streamUntilReported(other, 2500ms));
            EXPECT_EQ(rig.server->countLines(kPositionLine, mark), 0u) << rig.transcript();
            NavSample navigator = other.later(10);
            navigator.pvaSource = kNavigator;
            EXPECT_TRUE(rig.streamUntilReported(navigator)) << rig.transcript();
        }
        EXPECT_TRUE(rig.stopsInOrder());
    }
}

// --- Commands -------------------------------------------------------------------------

// A ping is answered with the server's name and the command's identifier;
// responses, near misses and other commands get no answer.
TEST(EndToEnd, PingIsAnsweredAndOtherTextsAreIgnored) {
    Rig rig(104);
    ASSERT_TRUE(rig.start());

    for (std::int32_t id : {1, 4711, std::numeric_limits<std::int32_t>::max(), -5}) {
        SCOPED_TRACE(id);
        const std::size_t from = rig.peer->responses.size();
        rig.peer->sendCommand("BITSERVER_PING", id);
        const auto r = rig.peer->responseTo(id, 10s, from);
        ASSERT_TRUE(r) << rig.transcript();
        EXPECT_EQ(r->command_response(), "ZOziDaZodOduzuz");
        EXPECT_EQ(r->command_response_type(), aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
        EXPECT_EQ(r->commanded_device_id(), static_cast<std::int32_t>((2u << 24) | (50u << 16) | (2u << 8)));
        EXPECT_EQ((static_cast<std::uint32_t>(r->header().device_id()) >> 16) & 0xffu, 45u);
    }

    const struct {
        const char* text;
        std::int32_t type;
    } ignored[] = {
        {"BITSERVER_PING", 1},  // a response, not a command
        {"SYSTEM_MODE_SELECT_SIMULATION", 1},
        {"START_DESTROY", 1},
        {"BITSERVER_PING ", 0},
        {" BITSERVER_PING", 0},
        {"bitserver_ping", 0},
        {"BITSERVER_PIN", 0},
        {"BITSERVER_PING,1", 0},
        {"SYSTEM_MODE_SELECT_LIVE,1", 0},
        {"SYSTEM_MODE_SELECT_SIM", 0},
        {"START_ZEROIZE\n", 0},
        {"", 0},
        {"QUERY_VERSIONING", 0},
        {"BITSERVER_PING", 7},
    };
    const std::size_t from = rig.peer->responses.size();
    const std::size_t lines = rig.server->lineCount();
    std::int32_t id = 100;
    for (const auto& c : ignored) rig.peer->sendCommand(c.text, id++, c.type);
    // Commands are handled in order: once this one is answered, the others
    // have been handled too.
    ASSERT_TRUE(rig.peer->ping(999)) << rig.transcript();
    rig.bus.pump(500ms);
    for (const auto& r : rig.peer->responses.from(from)) {
        EXPECT_EQ(r.message.command_identifier(), 999) << "answered: " << r.message.command_response();
    }
    EXPECT_EQ(rig.server->countLines("Updating VDM rate", lines), 0u);
    EXPECT_TRUE(rig.stopsInOrder());
}

// The time mode stamps what the server sends after the switch; the
// sanitize commands restart the three services with an update period that
// silences the data bus, and are not answered.
TEST(EndToEnd, ModeSwitchAndSanitizeCommands) {
    Rig rig(105);
    ASSERT_TRUE(rig.start());
    rig.bus.pump(2500ms);
    for (int service = 0; service < 3; ++service) ASSERT_FALSE(rig.bus.received(service).empty());

    const struct {
        const char* mode;
        std::int32_t timeCode;
        const char* sanitize;
    } steps[] = {
        {"SYSTEM_MODE_SELECT_SIMULATION", 101, "START_ZEROIZE"},
        {"SYSTEM_MODE_SELECT_LIVE", 100, "START_DESTROY"},
    };
    std::int32_t id = 10;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.sanitize);
        const std::int32_t modeId = id++, sanitizeId = id++;
        const std::size_t responses = rig.peer->responses.size();
        const std::size_t events = rig.peer->events.size();
        const std::size_t lines = rig.server->lineCount();

        rig.peer->sendCommand(step.mode, modeId);
        const auto answer = rig.peer->responseTo(modeId, 10s, responses);
        ASSERT_TRUE(answer) << rig.transcript();
        EXPECT_EQ(answer->command_response(), std::string(step.mode) + "_PASS");
        EXPECT_EQ(answer->header().timestamp_valid().time_code(), step.timeCode);

        rig.peer->sendCommand(step.sanitize, sanitizeId);
        ASSERT_TRUE(rig.server->waitForLine("Updating VDM rate to 4294967295 milliseconds.", 10s, lines))
            << rig.transcript();
        // Each service announces its restart.
        for (const char* started : {"VPosServer shared service started", "VorisService shared service started",
                                    "VdotsService shared service started"}) {
            const auto event = rig.peer->events.waitFor(
                [started](const EventLog& e) { return e.eventlog().find(started) != std::string::npos; }, 10s,
                events);
            ASSERT_TRUE(event) << started << "\n" << rig.transcript();
            EXPECT_EQ(event->header().timestamp_valid().time_code(), step.timeCode);
        }
        rig.bus.clear();
        rig.bus.pump(2500ms);
        for (int service = 0; service < 3; ++service) {
            EXPECT_TRUE(rig.bus.received(service).empty()) << describe(rig.bus.received(service).front().message);
        }
        EXPECT_FALSE(rig.peer->responseTo(sanitizeId, 0ms, responses));
    }
    EXPECT_TRUE(rig.stopsInOrder());
}

// --- Fault texts of the VICTORY library ----------------------------------------------

// A fault text the library writes for a bad management request goes out as
// numbered maintenance event pieces; other text the library writes still
// reaches the console.
TEST(EndToEnd, LibraryFaultTextsBecomeMaintenanceEvents) {
    Rig rig(106);
    ASSERT_TRUE(rig.start());

    const std::size_t from = rig.peer->maintenance.size();
    corvane_test::sendUdp(rig.root->managementPort(kPosition), "<no VCL document at all>");
    std::vector<std::string> pieces;
    auto description = [](const aspn2_msgs::idl::MaintenanceEvent& m) {
        return std::string(m.description().data(), ::strnlen(m.description().data(), m.description().size()));
    };
    for (int i = 1;; ++i) {
        const std::string tag = "SOAP_" + std::to_string(i) + ":";
        const auto piece = rig.peer->maintenance.waitFor(
            [&](const aspn2_msgs::idl::MaintenanceEvent& m) { return description(m).rfind(tag, 0) == 0; },
            i == 1 ? 10s : 2s, from);
        if (!piece) break;
        EXPECT_EQ(std::string(piece->identity().data(), ::strnlen(piece->identity().data(), piece->identity().size())),
                  "ZOziDaZodOduzuz");
        pieces.push_back(description(*piece).substr(tag.size()));
    }
    ASSERT_GE(pieces.size(), 2u) << rig.transcript();
    std::string text;
    for (const auto& p : pieces) text += p;
    EXPECT_EQ(text.rfind("SOAP 1.2 fault SOAP-ENV:Sender\n", 0), 0u) << text;

    // The library cannot save the new VCL where a directory stands in the
    // way; its complaint goes to the console, not to the network.
    const std::string vclFile = rig.root->configDir() + "/Position_VCL_1_9.xml";
    const std::string vcl = RuntimeRoot::readFile(vclFile);
    ASSERT_EQ(::unlink(vclFile.c_str()), 0);
    ASSERT_EQ(::mkdir(vclFile.c_str(), 0755), 0);
    const std::size_t lines = rig.server->lineCount();
    const std::size_t events = rig.peer->maintenance.size();
    corvane_test::sendUdp(rig.root->managementPort(kPosition), vcl);
    const auto complaint = rig.server->waitForLine("the new VCL is in force but was not saved", 10s, lines);
    ASSERT_TRUE(complaint) << rig.transcript();
    EXPECT_EQ(complaint->stream, corvane_test::ChildProcess::Stdout);
    ASSERT_TRUE(rig.peer->ping(77));
    EXPECT_EQ(rig.peer->maintenance.size(), events);
    EXPECT_TRUE(rig.stopsInOrder());
}

// --- Robustness ---------------------------------------------------------------------------

// Solutions with non-finite or out-of-range fields: a valid solution at
// latitude 100 degrees is reported as a worker exception; none of them
// stops the server, which reports the next good solution.
TEST(EndToEnd, MalformedSolutionsLeaveTheServerRunning) {
    Rig rig(107);
    ASSERT_TRUE(rig.start());

    const std::size_t events = rig.peer->events.size();
    NavSample beyondPole;
    beyondPole.latDeg = 100.0;
    rig.streamUntil(beyondPole, [] { return false; }, 600ms);
    const auto exception = rig.peer->events.waitFor(
        [](const EventLog& e) {
            return e.eventlog().find("ZOziDaZodOduzuz: workerThreadFunction() EXCEPTION: ") != std::string::npos;
        },
        10s, events);
    ASSERT_TRUE(exception) << rig.transcript();
    EXPECT_EQ(exception->event_log_type(), aspn2_msgs::idl::EVENT_LOG_TYPE_FAULT);

    using Spoil = std::function<void(NavSample&)>;
    const struct {
        const char* what;
        Spoil spoil;
    } cases[] = {
        {"NaN latitude", [](NavSample& s) { s.latDeg = kNaN; }},
        {"infinite longitude", [](NavSample& s) { s.lonDeg = kInf; }},
        {"huge latitude", [](NavSample& s) { s.latDeg = -1e308; }},
        {"longitude far out", [](NavSample& s) { s.lonDeg = 1e6; }},
        {"NaN altitude", [](NavSample& s) { s.altM = kNaN; }},
        {"infinite altitude", [](NavSample& s) { s.altM = -kInf; }},
        {"NaN velocity", [](NavSample& s) { s.velocity = {kNaN, kNaN, kNaN}; }},
        {"infinite attitude", [](NavSample& s) { s.attitude = {kInf, -kInf, kNaN}; }},
        {"NaN covariance", [](NavSample& s) { s.variances.fill(kNaN); }},
        {"negative variances", [](NavSample& s) { s.variances.fill(-1.0); }},
        {"overflowing variances", [](NavSample& s) { s.variances.fill(1e308); }},
        {"negative GPS week", [](NavSample& s) { s.gpsWeek = -1; }},
        {"negative time of week", [](NavSample& s) { s.gpsTowSec = -5; }},
        {"time of day far out", [](NavSample& s) { s.utcTodSec = 1000000000; }},
        {"NaN nanoseconds", [](NavSample& s) { s.utcTodNsec = kNaN; }},
        {"huge nanoseconds", [](NavSample& s) { s.utcTodNsec = -1e300; }},
        {"times of validity at the limits",
         [](NavSample& s) {
             s.pvaTovSec = std::numeric_limits<std::int64_t>::min();
             s.utcTovSec = std::numeric_limits<std::int64_t>::max();
             s.pvaTovNsec = -1;
         }},
        {"nanoseconds of validity far out", [](NavSample& s) { s.pvaTovNsec = s.utcTovNsec = 2000000000; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        NavSample bad;
        c.spoil(bad);
        rig.streamUntil(bad, [] { return false; }, 600ms);  // two worker cycles
        ASSERT_FALSE(rig.server->wait(0ms)) << rig.transcript();
    }
    ASSERT_TRUE(rig.streamUntilReported(NavSample{}.later(600))) << rig.transcript();
    EXPECT_TRUE(rig.peer->ping(1));
    EXPECT_TRUE(rig.stopsInOrder());
}

// Texts for the command fuzz test: near misses of the commands the server
// acts on, other commands, empty and long texts, control and non-ASCII
// bytes. Never one of the acted-on commands exactly.
class CommandTexts {
public:
    explicit CommandTexts(std::uint32_t seed) : m_rng(seed) {}

    std::string next() {
        for (;;) {
            std::string t = candidate();
            if (m_real.count(t) == 0) return t;
        }
    }

private:
    std::string candidate() {
        switch (pick(6)) {
            case 0: return mutate(m_commands[pick(m_commands.size())]);
            case 1: return m_others[pick(m_others.size())];
            case 2: return "";
            case 3: return randomText(255 + pick(800), 32, 126);
            case 4: return randomText(1 + pick(64), 0, 255);
            default: return mutate(m_commands[pick(m_commands.size())] + "," + std::to_string(pick(10)));
        }
    }

    std::string mutate(std::string t) {
        const std::size_t edits = 1 + pick(3);
        for (std::size_t e = 0; e < edits; ++e) {
            const std::size_t at = t.empty() ? 0 : pick(t.size());
            switch (pick(6)) {
                case 0: if (!t.empty()) t.erase(at, 1); break;
                case 1: t.insert(at, 1, static_cast<char>(pick(256))); break;
                case 2: if (!t.empty()) t[at] = static_cast<char>(std::tolower(static_cast<unsigned char>(t[at]))); break;
                case 3: if (!t.empty()) t[at] = static_cast<char>(pick(256)); break;
                case 4: t += pick(2) ? " " : "\n"; break;
                default: t = t.substr(0, at); break;
            }
        }
        return t;
    }

    std::string randomText(std::size_t length, int lo, int hi) {
        std::string t(length, ' ');
        for (char& ch : t) ch = static_cast<char>(lo + static_cast<int>(pick(static_cast<std::size_t>(hi - lo + 1))));
        return t;
    }

    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_rng); }

    std::mt19937 m_rng;
    const std::vector<std::string> m_commands{"SYSTEM_MODE_SELECT_LIVE", "SYSTEM_MODE_SELECT_SIMULATION",
                                              "BITSERVER_PING", "START_ZEROIZE", "START_DESTROY"};
    const std::set<std::string> m_real{m_commands.begin(), m_commands.end()};
    const std::vector<std::string> m_others{"QUERY_VERSIONING", "REQUEST_ZEROIZE", "REQUEST_DESTROY",
                                            "BITSERVER_REPORT_CLEAR", "TORVIK_ZEROIZE", "SERVER_STARTED",
                                            "REQUEST_CBIT", "_PASS"};
};

// 10,000 seeded random command texts: none is answered, the server still
// answers a ping after every 500 and keeps its data bus running.
TEST(EndToEnd, RandomCommandTextsAreIgnored) {
    Rig rig(108);
    ASSERT_TRUE(rig.start());

    CommandTexts texts(20240918);
    const std::size_t from = rig.peer->responses.size();
    const std::size_t lines = rig.server->lineCount();
    constexpr std::int32_t kFirst = 1000000, kBarrier = 2000000;
    for (int i = 0; i < 10000; ++i) {
        rig.peer->sendCommand(texts.next(), kFirst + i);
        // Paced, so that the writer's short history is acknowledged before
        // it overflows: every text reaches the server.
        std::this_thread::sleep_for(200us);
        if ((i + 1) % 500 == 0) {
            ASSERT_TRUE(rig.peer->ping(kBarrier + i)) << "after " << i + 1 << " texts\n" << rig.transcript();
        }
    }
    for (const auto& r : rig.peer->responses.from(from)) {
        EXPECT_GE(r.message.command_identifier(), kBarrier) << "answered: " << r.message.command_response();
    }
    EXPECT_EQ(rig.server->countLines("Updating VDM rate", lines), 0u);
    rig.bus.clear();
    rig.bus.pump(1500ms);
    EXPECT_FALSE(rig.bus.received(kPosition).empty());
    EXPECT_TRUE(rig.stopsInOrder());
}

// The simulated navigator goes away without a word and a new one starts:
// the reports stop and then resume.
TEST(EndToEnd, ReportsResumeWhenTheNavigatorComesBack) {
    Rig rig(109);
    ASSERT_TRUE(rig.start());
    const std::vector<std::string> nav{kToolPath, "nav", "--connections", rig.root->connectionsFile()};

    // Waits for a position report with a sample time after `after`.
    auto reportAfter = [&](const std::optional<VictoryTime>& after, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            rig.bus.pump(100ms);
            for (const auto& r : rig.bus.received(kPosition)) {
                if (r.message.time && (!after || asTuple(*r.message.time) > asTuple(*after))) return r.message.time;
            }
        }
        return std::optional<VictoryTime>{};
    };

    std::optional<VictoryTime> last;
    {
        LoggedProcess first(nav);
        const auto one = reportAfter(std::nullopt, 15s);
        ASSERT_TRUE(one) << first.transcript() << rig.transcript();
        ASSERT_TRUE(reportAfter(one, 5s)) << rig.transcript();
        first.signal(SIGKILL);
        ASSERT_TRUE(first.wait(5s));
    }
    rig.bus.pump(1500ms);  // what was under way
    for (const auto& r : rig.bus.received(kPosition)) {
        if (r.message.time && (!last || asTuple(*r.message.time) > asTuple(*last))) last = r.message.time;
    }
    rig.bus.clear();
    rig.bus.pump(2500ms);
    ASSERT_FALSE(rig.bus.received(kPosition).empty());
    for (const auto& r : rig.bus.received(kPosition)) {
        ASSERT_TRUE(r.message.time);
        EXPECT_EQ(asTuple(*r.message.time), asTuple(*last)) << "a report while no navigator ran";
    }

    LoggedProcess second(nav);
    EXPECT_TRUE(reportAfter(last, 15s)) << second.transcript() << rig.transcript();
    second.signal(SIGTERM);
    EXPECT_EQ(second.finish(10s), 0) << second.transcript();
    EXPECT_FALSE(hasSanitizerReport(second.transcript(100000))) << second.transcript();
    EXPECT_TRUE(rig.peer->ping(1));
    EXPECT_TRUE(rig.stopsInOrder());
}

}  // namespace
