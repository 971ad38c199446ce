// Command lines the tool refuses, with the reason it gives.

#include "tools/aspn2-tool/ToolOptions.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(ToolOptions, RejectedCommandLines) {
    std::pair<char const*, char const*> const cases[] = {
        // command line, part of the error
        {"", "a mode is required"},
        {"fly", "unknown mode \"fly\""},
        {"nav --bogus", "unknown option --bogus"},
        {"nav --rate", "--rate needs a value"},
        {"nav --rate fast", "--rate needs a rate 0..1000 Hz, not \"fast\""},
        {"nav --rate nan", "--rate needs"},
        {"nav --rate 10x", "--rate needs"},
        {"nav --domain 233", "--domain needs"},
        {"nav --nan speed", "--nan needs"},
        {"nav --rate 0 --utc-rate 0", "cannot both be 0"},
        {"nav --all", "option --all does not apply to nav"},
        {"command", "command needs the command TEXT"},
        {"command A B", "unexpected argument \"B\""},
        {"command A --type -1", "--type needs"},
        {"listen --source-id 5", "does not apply to listen"},
        {"nav --phase 3", "--phase needs SECONDS:ITEM"},
        {"nav --phase 0:ok", "--phase needs"},
        {"nav --phase 2:pause", "--phase needs"},
        {"nav --phase 2:ok,wrong-source=256", "--phase needs"},
        {"nav --phase 2:nan=speed", "--phase needs"},
        {"command A --phase 2:ok", "option --phase does not apply to command"},
        {"nav --phase 2:sigma=0", "--phase needs"},
        {"record", "record needs the recorded-samples FILE"},
        {"replay", "replay needs the recorded-samples FILE"},
        {"dump --domain 5 f", "option --domain does not apply to dump"},
        {"record --topics UTCTime,EventLog f", "--topics needs"},
        {"record --topics , f", "--topics needs"},
        {"replay --speed -1 f", "--speed needs"},
        {"replay --speed 0.0001 f", "--speed needs"},
        {"replay a b", "unexpected argument \"b\""},
        {"replay --topics UTCTime f", "option --topics does not apply to replay"},
        {"listen --loop", "option --loop does not apply to listen"},
        {"command A --texts f.txt", "a TEXT or --texts FILE, not both"},
        {"command --texts f.txt A", "unexpected argument \"A\""},
        {"command --texts f.txt --pace 0", "--pace needs"},
        {"nav --pace 5", "option --pace does not apply to nav"},
    };
    for (auto const& [line, expected] : cases) {
        std::istringstream in(line);
        aspn2_tool::ToolOptions o;
        std::string error;
        std::vector<std::string> const words{std::istream_iterator<std::string>(in),
                                             std::istream_iterator<std::string>()};
        EXPECT_FALSE(aspn2_tool::parseToolOptions(words, o, error)) << line;
        EXPECT_NE(error.find(expected), std::string::npos) << line << " -> " << error;
    }
}

// Phases run back to back, each with its own streams and faults; the
// command line's faults come back after the last.
TEST(ToolOptions, PhasesInOrder) {
    aspn2_tool::ToolOptions o;
    std::string error;
    ASSERT_TRUE(aspn2_tool::parseToolOptions(
        {"nav", "--wrong-source", "7", "--phase", "2:ok", "--phase", "1.5:silent", "--phase", "3:no-utc,nan=latitude",
         "--phase", "1:utc-lag=-1.5,no-pva", "--phase", "2:wrong-source=200"},
        o, error))
        << error;
    ASSERT_EQ(o.nav.phases.size(), 5u);
    std::vector<std::string> described;
    for (auto const& p : o.nav.phases) described.push_back(aspn2_tool::describePhase(p));
    EXPECT_EQ(described, (std::vector<std::string>{"2 s ok", "1.5 s silent", "3 s no-utc nan=latitude",
                                                   "1 s no-pva utc-lag=-1.5s", "2 s wrong-source=200"}));
    EXPECT_EQ(o.nav.faults.wrongSourceId, 7);  // after the phases
    const struct {
        double elapsed;
        int phase;
    } at[] = {{0.0, 0}, {1.999, 0}, {2.0, 1}, {3.49, 1}, {3.5, 2}, {6.5, 3}, {7.5, 4}, {9.49, 4}, {9.5, -1}, {1e9, -1}};
    for (auto const& c : at) EXPECT_EQ(aspn2_tool::phaseAt(o.nav.phases, c.elapsed), c.phase) << c.elapsed;
    EXPECT_DOUBLE_EQ(aspn2_tool::phaseEnd(o.nav.phases, 2), 6.5);
    EXPECT_EQ(aspn2_tool::phaseAt({}, 0.0), -1);
}

}  // namespace

// --speed means the vehicle's speed to nav and the time scale to replay.
TEST(ToolOptions, RecordReplayAndSpeed) {
    aspn2_tool::ToolOptions o;
    std::string error;
    ASSERT_TRUE(aspn2_tool::parseToolOptions({"replay", "--speed", "0", "--loop", "d.rec"}, o, error)) << error;
    EXPECT_EQ(o.mode, aspn2_tool::ToolMode::Replay);
    EXPECT_EQ(o.replay.speed, 0.0);
    EXPECT_TRUE(o.replay.loop);
    EXPECT_EQ(o.record.path, "d.rec");
    EXPECT_EQ(o.nav.speedMps, 10.0);

    ASSERT_TRUE(aspn2_tool::parseToolOptions({"nav", "--speed", "0", "--record", "n.rec"}, o, error)) << error;
    EXPECT_EQ(o.nav.speedMps, 0.0);
    EXPECT_EQ(o.replay.speed, 1.0);
    EXPECT_EQ(o.nav.recordPath, "n.rec");

    ASSERT_TRUE(aspn2_tool::parseToolOptions({"record", "--topics", "Command,UTCTime,Command", "r.rec"}, o, error))
        << error;
    EXPECT_EQ(o.record.topics, (std::vector<std::string>{"Command", "UTCTime"}));

    ASSERT_TRUE(aspn2_tool::parseToolOptions({"nav", "--phase", "2:sigma=3000"}, o, error)) << error;
    EXPECT_EQ(o.nav.phases.at(0).faults.positionSigmaM, 3000.0);
}
