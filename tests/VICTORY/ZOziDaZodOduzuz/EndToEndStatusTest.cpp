// The status socket and pnt-status end to end: one server run driven
// through no data, live, each cause of a loss, a foreign source, an
// invalid solution and a sanitize, with the tool's JSON and exit status in
// each; a switched-off service and the service manager's status line; and
// hostile clients that leave the worker's cycle and the server's output as
// they were. DDS domains 160..162.
#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndSupport.h"
#include "tests/support/NotifySocket.h"
#include "tools/pnt-status/StatusClient.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {

using namespace e2e;
using nlohmann::json;

std::string socketOf(const Rig& rig) { return rig.root->path() + "/run/status.sock"; }

// The server's answer, parsed; null when there is none.
json statusOf(const Rig& rig) {
    std::string error;
    const auto answer = PntStatus::fetchStatus(socketOf(rig), 3s, error);
    return answer ? json::parse(*answer, nullptr, false) : json();
}

// pnt-status run once in the rig's runtime root (it finds the socket with
// no option): its exit status and its standard output.
struct ToolRun {
    std::optional<int> status;
    std::string out;
};
ToolRun runTool(const Rig& rig, std::vector<std::string> args) {
    args.insert(args.begin(), PNT_STATUS_PATH);
    corvane_test::LoggedProcess tool(args, rig.root->environment());
    ToolRun run;
    run.status = tool.finish(10s);
    for (std::size_t i = 0; i < tool.lineCount(); ++i) {
        if (auto line = tool.waitForLine("", 0ms, i)) run.out += *line + "\n";
    }
    return run;
}

// The states of the three services.
std::vector<std::string> states(const json& s) {
    std::vector<std::string> out;
    if (s.is_object() && s["services"].is_array()) {
        for (const json& service : s["services"]) out.push_back(service.value("state", "?"));
    }
    return out;
}

const std::vector<std::string> kAll(const char* state) { return {state, state, state}; }

// Calls `step` (e.g. a send) every 50 ms until the answer satisfies `done`;
// the last answer (null after `timeout`).
json waitForStatus(Rig& rig, const std::function<bool(const json&)>& done, const std::function<void()>& step = {},
                   std::chrono::milliseconds timeout = 10s) {
    for (const auto deadline = Clock::now() + timeout; Clock::now() < deadline;) {
        if (step) step();
        rig.bus.pump(50ms);
        const json s = statusOf(rig);
        if (s.is_object() && done(s)) return s;
    }
    return json();
}

// A stream of samples, each a little later than the last, spoiled as asked.
struct Stream {
    NavSample s;
    bool pva = true, utc = true;
    int sent = 0;
    void send(Peer& peer) {
        if (pva) peer.sendPva(s);
        if (utc) peer.sendUtc(s);
        ++sent;
        s.pvaTovNsec = s.utcTovNsec = (sent % 20) * 50000000;
        if (sent % 20 == 0) ++s.pvaTovSec, ++s.utcTovSec;
    }
};

TEST(EndToEndStatus, EachStateInOneRun) {
    Rig rig(160);
    ASSERT_TRUE(rig.start());

    // No data yet: the socket answers, nothing is told.
    json s = waitForStatus(rig, [](const json& j) { return j["server"]["worker_cycles"].get<int>() > 0; });
    ASSERT_TRUE(s.is_object()) << rig.transcript();
    EXPECT_EQ(s["format"], 1);
    EXPECT_EQ(s["server"]["state"], "started");
    EXPECT_EQ(states(s), kAll("no data yet"));
    EXPECT_TRUE(s["intake"]["navigation"]["waiting"].get<bool>());
    EXPECT_EQ(s["summary"]["line"], "no data yet: waiting for navigator 96");
    ToolRun run = runTool(rig, {"--json"});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_EQ(json::parse(run.out, nullptr, false)["summary"]["state"], "no data yet") << run.out;

    // Live: the values told, the intake counted, the connections matched.
    NavSample good;
    ASSERT_TRUE(rig.streamUntilReported(good)) << rig.transcript();
    s = waitForStatus(
        rig, [](const json& j) { return j["services"][2]["state"] == "live"; }, [&] { rig.peer->sendPair(good); });
    ASSERT_TRUE(s.is_object()) << rig.transcript();
    EXPECT_EQ(states(s), kAll("live"));
    const json& position = s["services"][0]["values"];
    EXPECT_NEAR(position["latitude_deg"].get<double>(), good.latDeg, 1e-9);
    EXPECT_NEAR(position["longitude_deg"].get<double>(), good.lonDeg, 1e-9);
    EXPECT_FALSE(position["mgrs"].get<std::string>().empty());
    EXPECT_NEAR(s["services"][1]["values"]["yaw_deg"].get<double>(), 1.2 * 180 / 3.141592653589793, 1e-6);
    EXPECT_NEAR(s["services"][2]["values"]["speed_mps"].get<double>(), 10.0, 1e-9);
    EXPECT_GT(s["intake"]["pva"]["count"].get<int>(), 0);
    EXPECT_GT(s["intake"]["pairs"]["told"].get<int>(), 0);
    EXPECT_DOUBLE_EQ(s["intake"]["delta_tov_s"]["last"].get<double>(), 0.0);
    EXPECT_LT(s["services"][0]["last_tell_age_s"].get<double>(), 1.0);
    bool pvaMatched = false;
    for (const json& c : s["dds"]["connections"]) {
        pvaMatched = pvaMatched || (c["name"] == "PositionVelocityAttitude" && c["matched"].get<int>() >= 1);
    }
    EXPECT_TRUE(pvaMatched) << s["dds"].dump();
    EXPECT_FALSE(s["dds"]["security"]["enabled"].get<bool>());
    EXPECT_GT(s["events"]["health"]["sent"].get<int>(), 0);
    EXPECT_TRUE(s["fpga"]["counter_rate_hz"].is_number());
    rig.peer->sendPair(good);
    run = runTool(rig, {"--json"});
    EXPECT_EQ(run.status, 0) << run.out;
    run = runTool(rig, {});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.rfind("Server          : ZOziDaZodOduzuz started, up ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("State           : live: "), std::string::npos) << run.out;

    // Each way the pairs stop, and a foreign source: lost, with the cause.
    const struct {
        const char* name;
        bool pva, utc;
        void (*spoil)(NavSample&);
        const char* gap;
    } losses[] = {
        {"navigator silent", false, false, [](NavSample&) {}, "no PVA and no UTC"},
        {"UTC stream missing", true, false, [](NavSample&) {}, "no UTC"},
        {"PVA stream missing", false, true, [](NavSample&) {}, "no PVA"},
        {"UTC lags 1 s", true, true, [](NavSample& n) { n.utcTovSec -= 1; }, "deltaTov too large"},
        {"foreign source", true, true, [](NavSample& n) { n.pvaSource = n.utcSource = 200; }, "source filtered"},
    };
    for (const auto& loss : losses) {
        SCOPED_TRACE(loss.name);
        good = good.later(100);
        ASSERT_TRUE(waitForStatus(
                        rig, [](const json& j) { return j["services"][0]["state"] == "live"; },
                        [&] { rig.peer->sendPair(good); })
                        .is_object());
        const json before = statusOf(rig);
        Stream bad{good, loss.pva, loss.utc};
        loss.spoil(bad.s);
        s = waitForStatus(
            rig, [](const json& j) { return j["intake"]["navigation"]["lost"].get<bool>(); },
            [&] { bad.send(*rig.peer); });
        ASSERT_TRUE(s.is_object()) << rig.transcript();
        EXPECT_EQ(states(s), kAll("lost"));
        EXPECT_EQ(s["intake"]["navigation"]["gap"], loss.gap);
        EXPECT_EQ(s["summary"]["line"].get<std::string>().rfind(std::string("lost (") + loss.gap + "): ", 0), 0u)
            << s["summary"]["line"];
        EXPECT_EQ(s["services"][0]["faults"], json::array({"navigation data lost"}));
        bad.send(*rig.peer);
        EXPECT_EQ(runTool(rig, {"--json"}).status, 1);
        if (std::string(loss.gap) == "deltaTov too large") {
            EXPECT_GT(s["intake"]["pairs"]["refused"]["delta_tov"].get<int>(),
                      before["intake"]["pairs"]["refused"]["delta_tov"].get<int>());
            EXPECT_NEAR(s["intake"]["delta_tov_s"]["max_60s"].get<double>(), 1.0, 1e-6);
        }
        if (std::string(loss.gap) == "source filtered") {
            EXPECT_GT(s["source"]["pva_filtered"].get<int>(), 0);
            EXPECT_GT(s["source"]["utc_filtered"].get<int>(), 0);
            EXPECT_EQ(s["source"]["last_foreign_source"], 200);
            EXPECT_EQ(s["intake"]["pva"]["count"], before["intake"]["pva"]["count"]);
        }
    }

    // An invalid solution: told, but not usable.
    NavSample invalid = good.later(100);
    invalid.variances[0] = 3e7;
    s = waitForStatus(
        rig, [](const json& j) { return j["services"][0]["state"] == "invalid solution"; },
        [&] { rig.peer->sendPair(invalid); });
    ASSERT_TRUE(s.is_object()) << rig.transcript();
    EXPECT_EQ(states(s), kAll("invalid solution"));
    EXPECT_FALSE(s["services"][0]["solution_valid"].get<bool>());
    EXPECT_TRUE(s["services"][0]["values"]["mgrs"].is_null());
    rig.peer->sendPair(invalid);
    EXPECT_EQ(runTool(rig, {"--json"}).status, 1);

    // A sanitize: every service restarted with the long update period.
    good = good.later(200);
    ASSERT_TRUE(
        waitForStatus(
            rig, [](const json& j) { return j["services"][0]["state"] == "live"; }, [&] { rig.peer->sendPair(good); })
            .is_object());
    rig.peer->sendCommand("START_ZEROIZE", 11);
    s = waitForStatus(
        rig, [](const json& j) { return j["output"]["sanitized"].get<bool>(); }, [&] { rig.peer->sendPair(good); });
    ASSERT_TRUE(s.is_object()) << rig.transcript();
    EXPECT_EQ(states(s), kAll("sanitized"));
    run = runTool(rig, {});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("Output          : sanitized (update period 49.7 days)"), std::string::npos) << run.out;

    // Stopped: the socket is gone and the tool says the server cannot be
    // reached.
    ASSERT_TRUE(rig.stopsInOrder());
    EXPECT_NE(::access(socketOf(rig).c_str(), F_OK), 0);
    run = runTool(rig, {});
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_EQ(rig.server->countLines("status socket"), 0u) << rig.transcript();
}

// A service switched off in the configuration does not count for the exit
// status; the service manager's status line follows the state once a
// second.
TEST(EndToEndStatus, SwitchedOffServiceAndServiceManagerLine) {
    corvane_test::NotifySocket notify;
    ::setenv("NOTIFY_SOCKET", notify.path().c_str(), 1);
    Rig rig(161, [](corvane_test::RuntimeRoot::TopLevel& t) { t.server["PARAM_1"] = "false"; });
    const ::testing::AssertionResult started = rig.start();
    ::unsetenv("NOTIFY_SOCKET");
    ASSERT_TRUE(started);
    EXPECT_TRUE(notify.waitFor("STATUS=no data yet: waiting for navigator 96", 5s));

    NavSample good;
    const json s = waitForStatus(
        rig, [](const json& j) { return j["services"][2]["state"] == "live"; }, [&] { rig.peer->sendPair(good); });
    ASSERT_TRUE(s.is_object()) << rig.transcript();
    EXPECT_EQ(states(s), (std::vector<std::string>{"off", "live", "live"}));
    EXPECT_FALSE(s["services"][0]["switched_on"].get<bool>());
    EXPECT_FALSE(s["services"][0]["running"].get<bool>());
    rig.peer->sendPair(good);
    EXPECT_EQ(runTool(rig, {"--json"}).status, 0);

    bool live = false;
    for (const auto deadline = Clock::now() + 5s; !live && Clock::now() < deadline;) {
        rig.peer->sendPair(good);
        const auto message = notify.receive(100ms);
        live = message && message->rfind("STATUS=live: ", 0) == 0 &&
               message->find(" pairs/s from navigator 96, age ") != std::string::npos &&
               message->find(", 0 faults") != std::string::npos;
    }
    EXPECT_TRUE(live);
    ASSERT_TRUE(rig.stopsInOrder());
}

int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// 50 clients polling at once, one sending 1 MB of garbage, one that
// connects and never reads, one that never sends: the worker tells as many
// pairs and completes as many cycles as in the same time without them, the
// server prints nothing more, and a client afterwards gets its answer.
TEST(EndToEndStatus, HostileClientsLeaveTheWorkerAndTheOutputAlone) {
    Rig rig(162);
    ASSERT_TRUE(rig.start());
    NavSample good;
    Stream stream{good};
    ASSERT_TRUE(
        waitForStatus(
            rig, [](const json& j) { return j["services"][0]["state"] == "live"; }, [&] { stream.send(*rig.peer); })
            .is_object())
        << rig.transcript();

    // Pairs told and worker cycles over 3 s of streaming at 20 Hz.
    const auto window = [&] {
        const json a = statusOf(rig);
        for (const auto until = Clock::now() + 3s; Clock::now() < until;) {
            stream.send(*rig.peer);
            rig.bus.pump(50ms);
        }
        const json b = statusOf(rig);
        return std::make_pair(b["intake"]["pairs"]["told"].get<int>() - a["intake"]["pairs"]["told"].get<int>(),
                              b["server"]["worker_cycles"].get<int>() - a["server"]["worker_cycles"].get<int>());
    };
    const auto quiet = window();
    const std::size_t lines = rig.server->lineCount();

    std::atomic<bool> stop{false};
    std::atomic<int> answers{0}, failures{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 50; ++i) {
        clients.emplace_back([&] {
            while (!stop) {
                std::string error;
                (PntStatus::fetchStatus(socketOf(rig), 2s, error) ? answers : failures)++;
            }
        });
    }
    clients.emplace_back([&] {
        const std::string junk(1 << 20, 'G');
        while (!stop) {
            const int fd = connectTo(socketOf(rig));
            for (std::size_t sent = 0; fd >= 0 && sent < junk.size();) {
                const ssize_t n = ::send(fd, junk.data() + sent, junk.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            if (fd >= 0) ::close(fd);
        }
    });
    const int silent = connectTo(socketOf(rig));
    const int neverReads = connectTo(socketOf(rig));
    ASSERT_GE(neverReads, 0);
    EXPECT_EQ(::send(neverReads, "status\n", 7, MSG_NOSIGNAL), 7);

    const auto flooded = window();
    stop = true;
    for (std::thread& t : clients) t.join();
    if (silent >= 0) ::close(silent);
    ::close(neverReads);

    // Each window is 12 worker cycles; a cycle more or less is the edge
    // of the window.
    EXPECT_NEAR(flooded.first, quiet.first, 1)
        << "pairs told: " << quiet.first << " quiet, " << flooded.first << " under the flood";
    EXPECT_NEAR(flooded.second, quiet.second, 1);
    EXPECT_NEAR(quiet.second, 12, 1);
    EXPECT_GT(answers.load(), 50);
    EXPECT_EQ(rig.server->lineCount(), lines) << rig.transcript();
    rig.peer->sendPair(stream.s);
    const ToolRun run = runTool(rig, {"--json"});
    EXPECT_EQ(run.status, 0) << run.out;
    ASSERT_TRUE(rig.stopsInOrder());
}

}  // namespace
