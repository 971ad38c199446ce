// The server executable as a process: usage and start-up failures (the
// orderly stop on SIGTERM: every end-to-end test). Each server runs from a
// runtime root of its own on its own DDS domain (70..79). Device and FPGA
// faults at start-up are rows of the conformance table.
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

#include "tests/support/LoggedProcess.h"
#include "tests/support/RuntimeRoot.h"

#include <gtest/gtest.h>

#include <functional>

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
        {"missing connection",
         76,
         [](RuntimeRoot& r) {
             r.writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"});
         },
         {"]:INVALID_CONFIG Framework_Connect() failed"},
         {}},
        {"FPGA clock mismatch",
         79,
         [](RuntimeRoot&) {},
         {"FPGA clock rate mismatch, got 58982401, expected 58982400", "]:INVALID_CONFIG Framework_Connect() failed"},
         {"--clock-rate", "58982401"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RuntimeRoot root(rootOptions(c.domain, c.fpgaSimArgs));
        c.spoil(root);
        LoggedProcess server({kServer, root.topLevelFile()}, root.environment());
        EXPECT_EQ(server.finish(30s), kLifecycleFailureStatus) << server.transcript();
        for (const std::string& line : c.lines)
            EXPECT_TRUE(server.waitForLine(line, 0ms)) << line << "\n" << server.transcript();
        EXPECT_EQ(server.lastStdoutLine(), kFailed);
    }
}

}  // namespace
