// The server executable as a process: usage and start-up failures (the
// orderly stop on SIGTERM: every end-to-end test). Each server runs from a
// runtime root of its own on its own DDS domain (70..79; device and FPGA
// faults 160..165).
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

#include "tests/support/LoggedProcess.h"
#include "tests/support/RuntimeRoot.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

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

// Replaces the first `from` in the devices file with `to`.
void editDevices(RuntimeRoot& root, const std::string& from, const std::string& to) {
    std::ifstream in(root.devicesFile());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    std::ofstream(root.devicesFile()) << text;
}

// Bad device addresses and a dead or absent FPGA end the start-up with a
// line naming the block and the value, then the failure lines; before, the
// server died of SIGBUS without a word, or grew to gigabytes.
TEST(ServerProcess, DeviceAndFpgaFaultsEndTheStartUpWithTheirLines) {
    const std::string processor = "<BaseAddress>0x43C00000</BaseAddress>";
    const std::string timestamp = "<BaseAddress>0x43C20000</BaseAddress>";
    const struct {
        int domain;
        std::string from, to;  // in the devices file
        std::vector<std::string> fpgaSimArgs;
        std::string says;
    } rows[] = {
        {160, processor, "<BaseAddress>0x7FFF0000</BaseAddress>", {},
         "CV_Devmem: block Processor_Interface: BaseAddress 0x7FFF0000 (0x7fff0000) with Size 0x1000 (0x1000) ends at "
         "0x7fff1000, beyond the memory device "},
        {161, processor, "<BaseAddress>-1</BaseAddress>", {},
         "error: block \"Processor_Interface\": <BaseAddress> \"-1\" is not a number"},
        {162, timestamp, "<BaseAddress>18446744073709551615</BaseAddress>", {},
         "CV_Devmem: block TimeStamp_Interface: BaseAddress 18446744073709551615 (0xffffffffffffffff) does not fit "
         "32 bits; its low 32 bits 0xffffffff are used"},
        {163, timestamp, "<BaseAddress>0x43C20004</BaseAddress>", {},
         "FpgaFace() TimeStamp_Interface BaseAddress 0x43c20004 is not a multiple of the page size"},
        {164, "", "", {"--unprogrammed"}, "FpgaFace() Processor_Interface reads all ones (firmware identity 0xffffffff)"},
        {165, "", "", {"--absent-block", "TimeStamp_Interface"},
         "FpgaFace() TimeStamp_Interface clock rate reads 0x0 (all zeros)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.says);
        RuntimeRoot root(rootOptions(row.domain, row.fpgaSimArgs));
        if (!row.from.empty()) editDevices(root, row.from, row.to);
        LoggedProcess server({kServer, root.topLevelFile()}, root.environment());
        EXPECT_EQ(server.finish(30s), kLifecycleFailureStatus) << server.transcript();
        EXPECT_TRUE(server.waitForLine(row.says, 0ms)) << server.transcript();
        EXPECT_TRUE(server.waitForLine("]:INVALID_CONFIG Framework_Connect() failed", 0ms)) << server.transcript();
        EXPECT_EQ(server.lastStdoutLine(), kFailed);
    }
}

}  // namespace
