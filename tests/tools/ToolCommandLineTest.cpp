// Every tool's command line: --help prints the usage on standard output
// with status 0; a bad argument gives one line on standard error naming the
// problem and pointing at --help (not the whole usage), with status 2 (3
// for pnt-status, whose status 2 says that the server cannot be reached).
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

using namespace std::chrono_literals;
using corvane_test::ChildProcess;

namespace {

struct Row {
    const char* tool;
    std::vector<std::string> args;
    int status;
    const char* says;  // the first line of stdout (status 0) or the one line of stderr
};

// Every line of `stream` until it ends (bounded).
std::vector<std::string> lines(ChildProcess& child, ChildProcess::Stream stream) {
    std::vector<std::string> out;
    while (auto line = child.readLine(stream, 10s)) out.push_back(*line);
    return out;
}

const Row kRows[] = {
    {FPGA_SIM_PATH, {"--help"}, 0, "usage: fpga-sim [options] DEVICES_FILE"},
    {FPGA_SIM_PATH, {"--bogus"}, 2, "fpga-sim: unknown option --bogus (see --help)"},
    {FPGA_SIM_PATH, {"--uarts", "x", "d.xml"}, 2, "fpga-sim: --uarts: not a number up to 16: x (see --help)"},
    {FPGA_SIM_PATH, {}, 2, "fpga-sim: no devices file (see --help)"},
    {VICTORY_MONITOR_PATH,
     {"--help"},
     0,
     "usage: victory-monitor [--json] [--count N] [--until N] [--seconds S] [--bind ADDRESS] PORT..."},
    {VICTORY_MONITOR_PATH,
     {"--frobnicate", "1"},
     2,
     "victory-monitor: unknown or incomplete option: --frobnicate (see --help)"},
    {VICTORY_MONITOR_PATH, {"70000"}, 2, "victory-monitor: not a port: 70000 (see --help)"},
    {GTX2PGM_PATH,
     {"--help"},
     0,
     "usage: gtx2pgm [--width W] [--height H] [--offset O] [--scale S] [--description TEXT]"},
    {GTX2PGM_PATH, {"--width", "x", "a.gtx", "b.pgm"}, 2, "gtx2pgm: --width needs a number (see --help)"},
    {GTX2PGM_PATH, {"a.gtx"}, 2, "gtx2pgm: no output file given (see --help)"},
    {GTX2PGM_PATH, {"--frobnicate"}, 2, "gtx2pgm: unexpected argument '--frobnicate' (see --help)"},
    {ASPN2_TOOL_PATH, {"--help"}, 0, "usage: aspn2-tool nav     [common] [nav options]"},
    {ASPN2_TOOL_PATH, {"frobnicate"}, 2, "aspn2-tool: "},
    {PNT_STATUS_PATH, {"--help"}, 0, "usage: pnt-status [--json] [--watch] [--socket PATH]"},
    {PNT_STATUS_PATH, {"--frobnicate"}, 3, "pnt-status: unknown argument '--frobnicate' (see --help)"},
    {PNT_STATUS_PATH, {"--json", "--socket"}, 3, "pnt-status: --socket needs a path (see --help)"},
};

class ToolCommandLine : public ::testing::TestWithParam<Row> {};

TEST_P(ToolCommandLine, HelpOrOneLineError) {
    const Row& row = GetParam();
    std::vector<std::string> argv{row.tool};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    ChildProcess child(argv);
    const std::vector<std::string> out = lines(child, ChildProcess::Stdout);
    const std::vector<std::string> err = lines(child, ChildProcess::Stderr);
    EXPECT_EQ(child.wait(10s), std::optional<int>(row.status));
    if (row.status == 0) {
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.front(), row.says);
        EXPECT_GT(out.size(), 2u);  // the whole usage
        EXPECT_TRUE(err.empty()) << err.front();
    } else {
        ASSERT_EQ(err.size(), 1u) << ::testing::PrintToString(err);
        EXPECT_EQ(err.front().rfind(row.says, 0), 0u) << err.front();
        EXPECT_NE(err.front().find("(see --help)"), std::string::npos) << err.front();
        EXPECT_TRUE(out.empty());
    }
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    std::string tool = info.param.tool;
    tool = tool.substr(tool.find_last_of('/') + 1);
    std::string name;
    for (char c : tool + "_" + std::to_string(info.index))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolCommandLine, ::testing::ValuesIn(kRows), rowName);

}  // namespace
