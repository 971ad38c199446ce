// The server executable with DDS Security end to end: a demo PKI from
// scripts/make-pki, the server with its own identity, and navigators and
// commanders as aspn2-tool processes, each with the connections file of
// its role. Each test makes its PKI once; DDS domains 185 and 186.
#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndSupport.h"
#include "tests/support/SecurityPki.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace e2e;
using corvane_test::LoggedProcess;
using corvane_test::SecurityPki;

constexpr double kRadToDeg = 180.0 / 3.141592653589793;

std::unique_ptr<LoggedProcess> tool(std::vector<std::string> args) {
    args.insert(args.begin(), ASPN2_TOOL_PATH);
    return std::make_unique<LoggedProcess>(args);
}

// The latitudes (degrees) of the position reports received so far.
std::vector<double> reportedLatitudes(const DataBus& bus) {
    std::vector<double> latitudes;
    for (const auto& m : bus.received(kPosition)) {
        for (const auto& v : m.values) {
            if (v.name == "latitude") latitudes.push_back(v.value.value * kRadToDeg);
        }
    }
    return latitudes;
}

bool near(double latitude, double band) { return std::fabs(latitude - band) < 0.5; }

// Pumps the bus until a position report near `band` arrives (`timeout` scaled).
bool waitForLatitude(DataBus& bus, double band, std::chrono::milliseconds timeout) {
    for (const auto deadline = Clock::now() + scaled(timeout); Clock::now() < deadline;) {
        bus.pump(100ms);
        for (double latitude : reportedLatitudes(bus)) {
            if (near(latitude, band)) return true;
        }
    }
    return false;
}

// Connections files of the roles, next to the server's in the runtime root.
struct Connections {
    Connections(const corvane_test::RuntimeRoot& root, const SecurityPki& pki)
        : plain(root.configDir() + "/connections-plain.xml") {
        SecurityPki::write(plain, SecurityPki::read(root.connectionsFile()));
        SecurityPki::writeSecured(plain, root.connectionsFile(), pki.role("server"));
        int roles = 0;
        for (auto [file, files] : {std::pair{&navigator, pki.role("navigator")},
                                   {&commander, pki.role("commander")},
                                   {&monitor, pki.role("monitor")},
                                   {&intruder, pki.intruder()},
                                   {&forged, pki.forgedMonitor()}}) {
            *file = root.configDir() + "/connections-role" + std::to_string(++roles) + ".xml";
            SecurityPki::writeSecured(plain, *file, files);
        }
    }
    std::string plain, navigator, commander, monitor, intruder, forged;
};

::testing::AssertionResult startServer(Rig& rig) {
    rig.fpga = std::make_unique<LoggedProcess>(
        std::vector<std::string>{FPGA_SIM_PATH, "--memory", rig.root->devmemFile(), "--ready-file",
                                 rig.root->path() + "/fpga.ready", rig.root->devicesFile()});
    if (!rig.fpga->waitForLine("fpga-sim: ready", 30s)) {
        return ::testing::AssertionFailure() << "the FPGA simulator did not get ready\n" << rig.fpga->transcript();
    }
    rig.server = std::make_unique<LoggedProcess>(std::vector<std::string>{SERVER_PATH, rig.root->topLevelFile()},
                                                 rig.root->environment());
    return ::testing::AssertionSuccess();
}

// The navigator and the commander are heard; a navigator without
// security, an intruder with a navigator identity of another CA, the
// monitor (no right to publish) and the monitor with permissions it signed
// itself are not, although all claim the navigator's source id at
// latitudes of their own; the monitor's "START_ZEROIZE" changes nothing
// and gets no answer.
TEST(EndToEndSecurity, OnlyAuthorisedParticipantsReachTheServer) {
    const SecurityPki pki(CORVANE_SOURCE_DIR);
    Rig rig(185);
    const Connections files(*rig.root, pki);
    ASSERT_TRUE(startServer(rig));

    // The tool waits for the server's reader, then for one answer.
    CommandRun const ping = runCommandAllowingOneMissedMatch(
        [&] {
            return tool({"command", "--connections", files.commander, "--timeout", scaledSeconds(60s), "--count", "1",
                         "BITSERVER_PING"});
        },
        70s);
    ASSERT_EQ(ping.status, 0) << ping.transcript << rig.transcript();

    auto navigator = tool({"nav", "--connections", files.navigator, "--lat", "45", "--lon", "7.5"});
    ASSERT_TRUE(waitForLatitude(rig.bus, 45, 30s)) << navigator->transcript() << rig.transcript();

    auto unauthenticated = tool({"nav", "--connections", files.plain, "--lat", "20", "--lon", "7.5"});
    auto intruder = tool({"nav", "--connections", files.intruder, "--lat", "-20", "--lon", "7.5"});
    auto monitor = tool({"nav", "--connections", files.monitor, "--lat", "60", "--lon", "7.5"});
    auto forged = tool({"nav", "--connections", files.forged, "--lat", "-40", "--lon", "7.5"});
    for (auto* p : {unauthenticated.get(), intruder.get(), forged.get()}) {
        ASSERT_TRUE(p->waitForLine("nav: publishing", 30s)) << p->transcript();
    }
    // The monitor's participant refuses to publish where it has no right.
    EXPECT_NE(monitor->finish(30s), 0) << monitor->transcript();
    rig.bus.clear();
    rig.bus.pump(6s);
    const std::vector<double> latitudes = reportedLatitudes(rig.bus);
    EXPECT_GE(latitudes.size(), 4u) << rig.transcript();  // one a second
    for (double latitude : latitudes) ASSERT_TRUE(near(latitude, 45)) << latitude;
    EXPECT_FALSE(unauthenticated->wait(0ms).has_value()) << unauthenticated->transcript();
    EXPECT_FALSE(intruder->wait(0ms).has_value()) << intruder->transcript();
    EXPECT_FALSE(forged->wait(0ms).has_value()) << forged->transcript();

    // The monitor may not command: the VICTORY output keeps going.
    auto zeroize = tool({"command", "--connections", files.monitor, "--timeout", "3", "--count", "1", "START_ZEROIZE"});
    EXPECT_NE(zeroize->finish(30s), 0) << zeroize->transcript();
    rig.bus.clear();
    rig.bus.pump(2500ms);
    EXPECT_FALSE(rig.bus.received(kPosition).empty()) << rig.transcript();
    EXPECT_EQ(rig.server->countLines("Updating VDM rate to 4294967295"), 0u) << rig.transcript();
    CommandRun const again = runCommandAllowingOneMissedMatch(
        [&] {
            return tool({"command", "--connections", files.commander, "--timeout", scaledSeconds(20s), "--count", "1",
                         "BITSERVER_PING"});
        },
        30s);
    EXPECT_EQ(again.status, 0) << again.transcript;

    EXPECT_TRUE(rig.stopsInOrder());
}

// An unusable security file (here a governance document changed after
// signing; the checks of each file are the transport's own tests): the
// server ends at start-up with status 2 and its failure line, after a line
// naming the file and what is wrong.
TEST(EndToEndSecurity, ServerRefusesUnusableSecurityFiles) {
    const SecurityPki pki(CORVANE_SOURCE_DIR);
    Rig rig(186);
    const std::string plain = rig.root->configDir() + "/connections-plain.xml";
    SecurityPki::write(plain, SecurityPki::read(rig.root->connectionsFile()));
    SecurityPki::Files files = pki.role("server");
    std::string text = SecurityPki::read(pki.file("governance.smime"));
    const std::string from = "<allow_unauthenticated_participants>false";
    text.replace(text.find(from), from.size(), "<allow_unauthenticated_participants>true ");
    files.governance = pki.file("changed-governance.smime");
    SecurityPki::write(files.governance, text);
    SecurityPki::writeSecured(plain, rig.root->connectionsFile(), files);

    LoggedProcess server({SERVER_PATH, rig.root->topLevelFile()}, rig.root->environment());
    EXPECT_EQ(server.finish(30s), 2) << server.transcript();
    EXPECT_TRUE(server.waitForLine(files.governance + ": signature does not verify against the permissions CA", 0ms))
        << server.transcript();
    EXPECT_TRUE(server.waitForLine("]:INVALID_CONFIG Framework_Connect() failed", 0ms)) << server.transcript();
    EXPECT_EQ(server.lastStdoutLine(), std::string("!!!!!! ") + SERVER_PATH + " has exited after a failure.");
}

}  // namespace
