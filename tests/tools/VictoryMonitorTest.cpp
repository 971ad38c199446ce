// The data bus monitor program: its lines and the command lines it refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

#include "platform/victory/VictoryDataMessage.h"
#include "tools/victory-monitor/MonitorFormat.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/UdpTestSocket.h"

using namespace std::chrono_literals;
using corvane_test::ChildProcess;
using victory::DataMessage;
using victory::ServiceKind;

namespace {

constexpr double kPi = 3.141592653589793;

DataMessage positionMessage() {
    DataMessage m;
    m.kind = ServiceKind::Position;
    m.source = "1.1.1";
    m.seq = 12;
    m.values = {{"latitude", "rad", {48.5 * kPi / 180, 1e-6 * kPi / 180, VPOSC_BASIS_MEASURED}},
                {"longitude", "rad", {-11.25 * kPi / 180, 2e-6 * kPi / 180, VPOSC_BASIS_MEASURED}},
                {"altitude", "m", {512.25, 3.5, VPOSC_BASIS_MEASURED}}};
    m.mgrs = "32UPU9171832133";
    m.time = VictoryTime{2024, 1, 1, 0, 0, 0, 250000000};
    return m;
}

std::string monitorPath() { return VICTORY_MONITOR_PATH; }

// Starts the monitor on a free port and returns that port, read from its
// "listening on" announcement.
std::uint16_t startedPort(ChildProcess& monitor) {
    const auto line = monitor.readLine(ChildProcess::Stderr, 10s);
    if (!line) return 0;
    const std::size_t colon = line->rfind(':');
    if (line->find("listening on") == std::string::npos || colon == std::string::npos) return 0;
    return static_cast<std::uint16_t>(std::stoi(line->substr(colon + 1)));
}

// The JSON line is diffed against stored files: its text must depend only
// on the values to the printed precision, never on their last bits.
TEST(VictoryMonitorJson, FixedFieldOrderAndNumberFormats) {
    DataMessage m = positionMessage();
    m.told = victory::TellStamp{7, 1733540000, 5};
    m.faultCount = 1;
    m.faults = {{1, "navigation data lost", false, VHLTHC_SEVERITY_ERROR, 22, 1}};
    EXPECT_EQ(
        victory_monitor::formatJson(m, 4000),
        "{\"service\":\"position\",\"source\":\"1.1.1\",\"seq\":12,\"port\":4000,\"values\":{"
        "\"latitude\":{\"value\":0.8464846872,\"uncertainty\":1.74533e-08,\"unit\":\"rad\",\"basis\":\"MEASURED\"},"
        "\"longitude\":{\"value\":-0.1963495408,\"uncertainty\":3.49066e-08,\"unit\":\"rad\",\"basis\":\"MEASURED\"},"
        "\"altitude\":{\"value\":512.2500,\"uncertainty\":3.50000e+00,\"unit\":\"m\",\"basis\":\"MEASURED\"}},"
        "\"mgrs\":\"32UPU9171832133\",\"time\":\"2024-01-01T00:00:00.250000000Z\","
        "\"told\":{\"count\":7,\"realtime\":\"1733540000.000000005\"},\"faultCount\":1,\"faults\":[{\"id\":1,"
        "\"severity\":34,\"category\":22,\"action\":1,\"acknowledged\":false,"
        "\"description\":\"navigation data lost\"}]}");

    struct Case {
        double value;
        const char* unit;
        const char* text;
    };
    const Case cases[] = {
        {512.25 + 1e-12, "m", "512.2500"},  // a last-bit difference does not show
        {-0.0, "m", "0.0000"},
        {-0.00004, "m/s", "0.0000"},  // rounds to zero: no sign
        {-0.00006, "m/s", "-0.0001"},
        {kPi, "rad", "3.1415926536"},
        {-1e-12, "rad", "0.0000000000"},
        {std::nan(""), "m", "null"},
        {HUGE_VAL, "m", "null"},
    };
    for (const Case& c : cases) {
        DataMessage one;
        one.values = {{"altitude", c.unit, {c.value, c.value, VPOSC_BASIS_MEASURED}}};
        const std::string line = victory_monitor::formatJson(one, 1);
        EXPECT_NE(line.find(std::string("\"value\":") + c.text + ","), std::string::npos) << c.value << ": " << line;
    }
    DataMessage untold;
    EXPECT_NE(victory_monitor::formatJson(untold, 1).find(",\"told\":null,"), std::string::npos);
}

TEST(VictoryMonitorProgram, PrintsOneLinePerMessageAndStopsAfterCount) {
    const std::string text = victory::formatDataMessage(positionMessage());
    ChildProcess monitor({monitorPath(), "--until", "2", "0"});
    const std::uint16_t port = startedPort(monitor);
    ASSERT_NE(port, 0);
    corvane_test::sendUdp(port, "not a data message");
    corvane_test::sendUdp(port, text);
    const auto warning = monitor.readLine(ChildProcess::Stderr, 10s);
    EXPECT_NE(warning.value_or("").find("ignored a datagram of 18 bytes"), std::string::npos)
        << warning.value_or("(none)");
    EXPECT_EQ(monitor.readLine(ChildProcess::Stdout, 10s),
              "position #12 src=1.1.1 lat=48.5000000+-1e-06 deg lon=-11.2500000+-2e-06 deg "
              "alt=512.250+-3.5 m basis=MEASURED mgrs=32UPU9171832133 "
              "time=2024-01-01T00:00:00.250000000Z faults=0");
    // The malformed datagram did not count: one more message ends the run.
    EXPECT_FALSE(monitor.wait(100ms).has_value());
    corvane_test::sendUdp(port, text);
    EXPECT_TRUE(monitor.readLine(ChildProcess::Stdout, 10s).has_value());
    EXPECT_EQ(monitor.wait(10s), std::optional<int>(0));
}

// Only this machine can reach the monitor unless another address is asked
// for: a default of every interface would expose it to the network.
TEST(VictoryMonitorProgram, ListensOnLoopbackByDefault) {
    for (const auto& [args, address] : {std::pair<std::vector<std::string>, std::string>{{"0"}, "127.0.0.1"},
                                        {{"--bind", "0.0.0.0", "0"}, "0.0.0.0"}}) {
        std::vector<std::string> argv{monitorPath(), "--seconds", "30"};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess monitor(argv);
        const auto line = monitor.readLine(ChildProcess::Stderr, 10s);
        EXPECT_EQ(line.value_or("").rfind("victory-monitor: listening on " + address + ":", 0), 0u)
            << line.value_or("(none)");
    }
}

TEST(VictoryMonitorProgram, RejectsBadCommandLinesAndABusyPort) {
    corvane_test::UdpReceiver taken;
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{}, 2},
        {{"--count", "0", "1"}, 2},
        {{"--count", "x", "1"}, 2},
        {{"--seconds", "-1", "1"}, 2},
        {{"--bind", "localhost", "1"}, 2},
        {{"70000"}, 2},
        {{"--frobnicate", "1"}, 2},
        {{"--json"}, 2},
        {{"--bind", "127.0.0.1", std::to_string(taken.port())}, 1},
    };
    for (const auto& [args, status] : cases) {
        std::vector<std::string> argv{monitorPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess monitor(argv);
        EXPECT_EQ(monitor.wait(10s), std::optional<int>(status)) << ::testing::PrintToString(args);
    }
}

}  // namespace
