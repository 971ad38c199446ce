// The server executable end to end over loopback DDS, with the FPGA
// simulator and the VICTORY services library: navigation data in, VICTORY
// data messages out; commands and their answers; maintenance events from
// the library's fault texts; bad input survived. Each test runs its own
// server on its own DDS domain (100..109) and ends it with SIGTERM,
// expecting an orderly stop.
#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace e2e;
using aspn2_msgs::idl::EventLog;

constexpr double kDeg = 3.141592653589793 / 180.0;
const char* const kPositionLine = "PublishPosition Position data update";

// A solution from another source than the configured navigator is dropped;
// the navigator's reaches all three services with its values and time.
TEST(EndToEnd, SolutionsFromTheConfiguredSourceReachTheDataBus) {
    Rig rig(100);
    ASSERT_TRUE(rig.start());
    NavSample other;
    other.pvaSource = 55;
    EXPECT_FALSE(rig.streamUntilReported(other, 2500ms));

    const NavSample s = other.later(10);
    NavSample navigator = s;
    navigator.pvaSource = kNavigator;
    ASSERT_TRUE(rig.streamUntilReported(navigator)) << rig.transcript();
    const VictoryTime t{2024, 1, 2, 12, 0, 10, 250000000};
    const auto position = rig.bus.reportAt(kPosition, t);
    const auto orientation = rig.bus.reportAt(kOrientation, t);
    const auto direction = rig.bus.reportAt(kDirectionOfTravel, t);
    ASSERT_TRUE(position && orientation && direction);
    const struct {
        const victory::DataMessage& m;
        std::array<const char*, 3> names;
        std::array<double, 3> values;
        std::array<double, 3> uncertainties;
    } reports[] = {
        {*position,
         {"latitude", "longitude", "altitude"},
         {48.1234567 * kDeg, 11.5 * kDeg, 515.81296299},
         {2.0 / 111132.0 * kDeg, 3.0 / (111132.0 * std::cos(48.1234567 * kDeg)) * kDeg, 4.0}},
        {*orientation, {"roll", "pitch", "yaw"}, {0.01, -0.02, 1.2}, {0.01, 0.02, 0.03}},
        {*direction, {"heading", "speed", "climb"}, {0.0, 10.0, 0.5}, {0.11065722117389565, std::sqrt(2.0), 0.3}},
    };
    for (const auto& r : reports) {
        SCOPED_TRACE(describe(r.m));
        ASSERT_EQ(r.m.values.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(r.m.values[i].name, r.names[i]);
            EXPECT_NEAR(r.m.values[i].value.value, r.values[i], 1e-9) << r.names[i];
            EXPECT_NEAR(r.m.values[i].value.uncertainty, r.uncertainties[i], 1e-12) << r.names[i];
            EXPECT_EQ(r.m.values[i].value.basis, VPOSC_BASIS_MEASURED) << r.names[i];
        }
    }
    EXPECT_EQ(position->mgrs, std::optional<std::string>("32UPU8603733045"));
    EXPECT_TRUE(rig.bus.errors.empty()) << rig.bus.errors.front();
    EXPECT_TRUE(rig.stopsInOrder());
}

// A fast stream gives at most one report of each kind per worker cycle;
// times of validity 0.6 s apart are not paired, just under 0.6 s are.
TEST(EndToEnd, ReportsFollowTheWorkerCycleAndThePairingWindow) {
    Rig rig(101, [](corvane_test::RuntimeRoot::TopLevel& t) { t.server["Debug"] = "true"; });
    ASSERT_TRUE(rig.start());

    // 100 Hz for 3 s, each pair with its own time of validity.
    const std::size_t first = rig.server->lineCount();
    NavSample s;
    const auto begin = Clock::now();
    for (int i = 0; i < 300; ++i) {
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
    EXPECT_EQ(rig.server->countLines("PublishOrientation Orientation data update", first), positions);
    EXPECT_EQ(rig.server->countLines("PublishDirectionOfTravel DoT data update", first), positions);

    // Far from the earlier pairs, so that no mix of old and new pairs up.
    NavSample apart = s.later(4000);
    apart.pvaTovNsec = 0;
    apart.utcTovNsec = 600000000;
    const std::size_t mark = rig.server->lineCount();
    rig.streamUntil(
        apart, [] { return false; }, 2s);
    EXPECT_EQ(rig.server->countLines(kPositionLine, mark), 0u) << rig.transcript();
    EXPECT_GT(rig.server->countLines("PVA & UTC Time            deltaTov: 0.6", mark), 0u) << rig.transcript();
    EXPECT_FALSE(rig.bus.reportAt(kPosition, civilTime(apart)));

    NavSample near = apart.later(100);
    near.utcTovNsec = 599999999;
    EXPECT_TRUE(rig.streamUntilReported(near)) << rig.transcript();
    EXPECT_TRUE(rig.stopsInOrder());
}

// A ping is answered with the server's name and the command's identifier;
// responses and near misses get no answer; the library's fault texts go
// out as maintenance events; a mode command is answered and stamps what
// follows; a sanitize command restarts the services with a period that
// silences the data bus, and is not answered.
TEST(EndToEnd, CommandsAndTheirAnswers) {
    Rig rig(104);
    ASSERT_TRUE(rig.start());
    for (std::int32_t id : {4711, std::numeric_limits<std::int32_t>::max(), -5}) {
        SCOPED_TRACE(id);
        const std::size_t from = rig.peer->responses.size();
        rig.peer->sendCommand("BITSERVER_PING", id);
        const auto r = rig.peer->responseTo(id, 10s, from);
        ASSERT_TRUE(r) << rig.transcript();
        EXPECT_EQ(r->command_response(), "ZOziDaZodOduzuz");
        EXPECT_EQ(r->command_response_type(), aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
        EXPECT_EQ(r->commanded_device_id(), deviceId(2, kCommander, 2));
        EXPECT_EQ(r->header().device_id(), deviceId(1, 45, 2));
        EXPECT_EQ(r->header().timestamp_valid().time_code(), 100);
    }

    const std::size_t from = rig.peer->responses.size();
    std::int32_t id = 100;
    for (const char* text : {"BITSERVER_PING ", "bitserver_ping", "BITSERVER_PING,1", "START_ZEROIZE\n", ""}) {
        rig.peer->sendCommand(text, id++);
    }
    rig.peer->sendCommand("BITSERVER_PING", id++, 1);  // a response, not a command
    rig.peer->sendCommand("START_DESTROY", id++, 1);
    // Commands are handled in order: once this one is answered, the others
    // have been handled too.
    ASSERT_TRUE(rig.peer->ping(999)) << rig.transcript();
    const auto answered =
        rig.peer->responses.waitFor([](const auto& r) { return r.command_identifier() != 999; }, 0ms, from);
    EXPECT_FALSE(answered) << answered->command_response();

    // A fault text the library writes for a bad management request goes out
    // as numbered maintenance event pieces of this server.
    const std::size_t maintenance = rig.peer->maintenance.size();
    corvane_test::sendUdp(rig.root->managementPort(kPosition), "<no VCL document at all>");
    auto text = [](const auto& field) { return std::string(field.data(), ::strnlen(field.data(), field.size())); };
    std::string fault;
    for (int i = 1;; ++i) {
        const std::string tag = "SOAP_" + std::to_string(i) + ":";
        const auto piece = rig.peer->maintenance.waitFor(
            [&](const auto& m) { return text(m.description()).rfind(tag, 0) == 0; }, i == 1 ? 10s : 2s, maintenance);
        if (!piece) {
            EXPECT_GE(i, 3) << rig.transcript();
            break;
        }
        SCOPED_TRACE(tag);
        EXPECT_EQ(text(piece->identity()), "ZOziDaZodOduzuz");
        EXPECT_EQ(std::make_tuple(piece->criticality_id(), piece->outcome_id(), piece->location_id(),
                                  piece->category_id(), piece->fault_sources()[0].lru_id(),
                                  piece->fault_sources()[0].component_id(), piece->fault_sources()[1].lru_id()),
                  std::make_tuple(3, 3, 45, 11, 1, 1, 0));
        EXPECT_EQ(piece->header().device_id(), deviceId(1, 45, 59));
        fault += text(piece->description()).substr(tag.size());
    }
    EXPECT_EQ(fault.rfind("SOAP 1.2 fault SOAP-ENV:Sender\n", 0), 0u) << fault;

    rig.bus.pump(1500ms);
    ASSERT_FALSE(rig.bus.received(kPosition).empty());
    const std::size_t responses = rig.peer->responses.size(), events = rig.peer->events.size();
    const std::size_t lines = rig.server->lineCount();
    EXPECT_EQ(rig.server->countLines("Updating VDM rate"), 0u);
    rig.peer->sendCommand("SYSTEM_MODE_SELECT_SIMULATION", 10);
    const auto answer = rig.peer->responseTo(10, 10s, responses);
    ASSERT_TRUE(answer) << rig.transcript();
    EXPECT_EQ(answer->command_response(), "SYSTEM_MODE_SELECT_SIMULATION_PASS");
    EXPECT_EQ(answer->header().timestamp_valid().time_code(), 101);

    rig.peer->sendCommand("START_ZEROIZE", 11);
    ASSERT_TRUE(rig.server->waitForLine("Updating VDM rate to 4294967295 milliseconds.", 10s, lines))
        << rig.transcript();
    for (const char* started : {"VPosServer shared service started", "VorisService shared service started",
                                "VdotsService shared service started"}) {
        const auto event = rig.peer->events.waitFor(
            [started](const EventLog& e) { return e.eventlog().find(started) != std::string::npos; }, 10s, events);
        ASSERT_TRUE(event) << started << "\n" << rig.transcript();
        EXPECT_EQ(event->header().timestamp_valid().time_code(), 101);
    }
    rig.bus.clear();
    rig.bus.pump(2500ms);
    for (int service = 0; service < 3; ++service) {
        EXPECT_TRUE(rig.bus.received(service).empty()) << describe(rig.bus.received(service).front());
    }
    EXPECT_FALSE(rig.peer->responseTo(11, 0ms, responses));
    EXPECT_TRUE(rig.stopsInOrder());
}

// Seeded random command texts: near misses of the commands the server acts
// on (never one exactly), other commands, long texts, any bytes.
std::vector<std::string> randomCommandTexts(std::uint32_t seed, int count) {
    const std::vector<std::string> commands{"SYSTEM_MODE_SELECT_LIVE", "SYSTEM_MODE_SELECT_SIMULATION",
                                            "BITSERVER_PING", "START_ZEROIZE", "START_DESTROY"};
    std::mt19937 rng(seed);
    auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    std::vector<std::string> texts;
    while (static_cast<int>(texts.size()) < count) {
        std::string t = commands[pick(commands.size())] + (pick(3) == 0 ? "," + std::to_string(pick(10)) : "");
        if (pick(4) == 0) {  // long printable text, or a short one of any bytes
            const bool printable = pick(2) == 0;
            t.assign(printable ? 255 + pick(800) : 1 + pick(64), ' ');
            for (char& c : t) c = static_cast<char>(printable ? 32 + pick(95) : pick(256));
        }
        for (std::size_t e = 1 + pick(3); e > 0 && !t.empty(); --e) {
            const std::size_t at = pick(t.size());
            switch (pick(4)) {
                case 0:
                    t.erase(at, 1);
                    break;
                case 1:
                    t.insert(at, 1, static_cast<char>(pick(256)));
                    break;
                case 2:
                    t[at] = static_cast<char>(std::tolower(static_cast<unsigned char>(t[at])));
                    break;
                default:
                    t.resize(at);
                    break;
            }
        }
        if (std::find(commands.begin(), commands.end(), t) == commands.end()) texts.push_back(t);
    }
    return texts;
}

// Solutions with non-finite or out-of-range fields and random command
// texts: a solution beyond the pole is reported as a worker exception, no
// text is answered, and the server goes on reporting and answering.
TEST(EndToEnd, MalformedInputLeavesTheServerRunning) {
    Rig rig(107);
    ASSERT_TRUE(rig.start());
    const std::size_t events = rig.peer->events.size();
    NavSample beyondPole;
    beyondPole.latDeg = 100.0;
    rig.streamUntil(
        beyondPole, [] { return false; }, 600ms);
    const auto exception = rig.peer->events.waitFor(
        [](const EventLog& e) {
            return e.eventlog().find("ZOziDaZodOduzuz: workerThreadFunction() EXCEPTION: ") != std::string::npos;
        },
        10s, events);
    ASSERT_TRUE(exception) << rig.transcript();
    EXPECT_EQ(exception->event_log_type(), aspn2_msgs::idl::EVENT_LOG_TYPE_FAULT);

    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const std::function<void(NavSample&)> spoils[] = {
        [&](NavSample& s) { s.latDeg = nan; },
        [&](NavSample& s) { s.lonDeg = inf; },
        [&](NavSample& s) { s.latDeg = -1e308; },
        [&](NavSample& s) { s.altM = nan; },
        [&](NavSample& s) {
            s.velocity = {nan, inf, -inf};
        },
        [&](NavSample& s) {
            s.attitude = {inf, -inf, nan};
        },
        [&](NavSample& s) { s.variances.fill(nan); },
        [&](NavSample& s) { s.variances.fill(-1.0); },
        [&](NavSample& s) {
            s.gpsWeek = -1;
            s.gpsTowSec = -5;
        },
        [&](NavSample& s) {
            s.utcTodSec = 1000000000;
            s.utcTodNsec = -1e300;
        },
        [&](NavSample& s) {
            s.pvaTovSec = std::numeric_limits<std::int64_t>::min();
            s.utcTovSec = std::numeric_limits<std::int64_t>::max();
            s.pvaTovNsec = 2000000000;
        },
    };
    for (std::size_t i = 0; i < std::size(spoils); ++i) {
        SCOPED_TRACE(i);
        NavSample bad;
        spoils[i](bad);
        rig.streamUntil(
            bad, [] { return false; }, 600ms);  // two worker cycles
        ASSERT_FALSE(rig.server->wait(0ms)) << rig.transcript();
    }

    const std::size_t from = rig.peer->responses.size();
    const std::vector<std::string> texts = randomCommandTexts(20240918, 10000);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        rig.peer->sendCommand(texts[i], 1000000 + static_cast<std::int32_t>(i));
        // Paced, so that the writer's short history is acknowledged before
        // it overflows: every text reaches the server.
        std::this_thread::sleep_for(200us);
        if ((i + 1) % 500 == 0) {
            ASSERT_TRUE(rig.peer->ping(2000000 + static_cast<std::int32_t>(i))) << i + 1 << " texts\n"
                                                                                << rig.transcript();
        }
    }
    const auto answered =
        rig.peer->responses.waitFor([](const auto& r) { return r.command_identifier() < 2000000; }, 0ms, from);
    EXPECT_FALSE(answered) << answered->command_response();
    EXPECT_EQ(rig.server->countLines("Updating VDM rate"), 0u);
    EXPECT_TRUE(rig.streamUntilReported(NavSample{}.later(600))) << rig.transcript();
    EXPECT_TRUE(rig.stopsInOrder());
}

}  // namespace
