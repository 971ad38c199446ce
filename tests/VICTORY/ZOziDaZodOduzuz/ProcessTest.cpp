// The server executable as a process: usage, start-up failures and the
// orderly stop on a termination signal. Each server runs from a runtime
// root of its own on its own DDS domain (70..79).
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

#include "tests/support/LoggedProcess.h"
#include "tests/support/RuntimeRoot.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using corvane_test::LoggedProcess;
using corvane_test::RuntimeRoot;

const std::string kServer = SERVER_PATH;
const std::string kFailed = "!!!!!! " + kServer + " has exited after a failure.";

RuntimeRoot::Options rootOptions(int domainId, std::vector<std::string> fpgaSimArgs = {}) {
    RuntimeRoot::Options o;
    o.sourceDir = CORVANE_SOURCE_DIR;
    o.fpgaSim = FPGA_SIM_PATH;
    o.domainId = domainId;
    o.fpgaSimArgs = std::move(fpgaSimArgs);
    o.prefix = "zozi-process";
    return o;
}

TEST(ServerProcess, WrongArgumentsPrintTheUsageOrStopTheStartUp) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.xml", "b.xml"}}) {
        SCOPED_TRACE(args.size());
        std::vector<std::string> argv{kServer};
        argv.insert(argv.end(), args.begin(), args.end());
        LoggedProcess server(argv);
        EXPECT_EQ(server.finish(20s), 1) << server.transcript();
        EXPECT_EQ(server.lineCount(), 1u) << server.transcript();
        EXPECT_EQ(server.lastStdoutLine(), "Usage: " + kServer + " <top-level-config-file> ");
    }
    LoggedProcess server({kServer, "/nonexistent/ZOziDaZodOduzuz.xml"});
    EXPECT_EQ(server.finish(20s), kLifecycleFailureStatus) << server.transcript();
    EXPECT_TRUE(server.waitForLine("ZOziDaZodOduzuz: configuration parameters: ", 0ms));
    EXPECT_TRUE(server.waitForLine("VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuzMain[", 0ms)) << server.transcript();
    EXPECT_TRUE(server.waitForLine("]:INVALID_CONFIG Configure() failed", 0ms)) << server.transcript();
    EXPECT_EQ(server.lastStdoutLine(), kFailed);
}

// A failure of either start-up step ends the process with its lines and the
// failure status: no hang, no crash.
TEST(ServerProcess, StartUpFailuresEndTheProcess) {
    const struct {
        const char* what;
        int domain;
        std::function<void(RuntimeRoot&)> spoil;
        std::vector<std::string> lines;
        std::vector<std::string> fpgaSimArgs;
    } cases[] = {
        {"missing key", 72,
         [](RuntimeRoot& r) {
             RuntimeRoot::TopLevel s = r.defaultTopLevel();
             s.server.erase("PARAM_4");
             r.writeTopLevel(s);
         },
         {"GetConfigParameters : error or could not find setting, PARAM_4 (fault test enabled flag) in "
          "configuration file!",
          "]:INVALID_CONFIG Configure() failed"},
         {}},
        {"missing connection", 76,
         [](RuntimeRoot& r) {
             r.writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"});
         },
         {"]:INVALID_CONFIG Framework_Connect() failed"},
         {}},
        {"FPGA clock mismatch", 79, [](RuntimeRoot&) {},
         {"FPGA clock rate mismatch, got 58982401, expected 58982400", "]:INVALID_CONFIG Framework_Connect() failed"},
         {"--clock-rate", "58982401"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RuntimeRoot root(rootOptions(c.domain, c.fpgaSimArgs));
        c.spoil(root);
        LoggedProcess server({kServer, root.topLevelFile()}, root.environment());
        EXPECT_EQ(server.finish(30s), kLifecycleFailureStatus) << server.transcript();
        for (const std::string& line : c.lines) EXPECT_TRUE(server.waitForLine(line, 0ms)) << line << "\n" << server.transcript();
        EXPECT_EQ(server.lastStdoutLine(), kFailed);
    }
}

// SIGINT ends a running server in order: stopped, disconnected, the exit
// line last, status 0 (SIGTERM: every end-to-end test).
TEST(ServerProcess, InterruptStopsTheServerInOrder) {
    RuntimeRoot root(rootOptions(71));
    LoggedProcess server({kServer, root.topLevelFile()}, root.environment());
    ASSERT_TRUE(server.waitForLine("ZOziDaZodOduzuz CPN: 415-2290-771C  ", 30s)) << server.transcript();
    // The handler is installed once the server runs.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!server.catches(SIGINT) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(server.catches(SIGINT)) << server.transcript();
    const auto sent = std::chrono::steady_clock::now();
    server.signal(SIGINT);
    const std::string exitLine = "!!!!!! " + kServer + " has exited. Signal: 2";
    ASSERT_TRUE(server.waitForLine(exitLine, 10s)) << server.transcript();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 3s);
    EXPECT_EQ(server.finish(10s), 0) << server.transcript();
    EXPECT_EQ(server.lastStdoutLine(), exitLine) << server.transcript();
}

}  // namespace
