// aspn2-tool as a separate process against this test over loopback DDS: the
// navigator's streams. Each test uses its own DDS domain (90..99).

#include "ASPN/AspnHelper.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "tests/FACE/TssTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tools/aspn2-tool/ConnectionsFile.h"
#include "tools/aspn2-tool/NavTime.h"
#include "tools/aspn2-tool/ToolTransport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace {

using aspn2_tool::ToolTransport;
using corvane_test::ChildProcess;
using std::chrono::milliseconds;
using std::chrono::seconds;
using PVA = aspn2_msgs::idl::PositionVelocityAttitude;
using UTC = aspn2_msgs::idl::UTCTime;

std::string const kSample = std::string(ASPN2_TOOL_SAMPLE_CONFIG_DIR) + "/connections-udp.xml";

// Messages received on a reception thread, copied out under a lock.
template <typename T>
class Inbox {
public:
    std::function<void(T const&)> callback() {
        return [this](T const& m) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_items.push_back(m);
        };
    }
    std::vector<T> all() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_items;
    }

private:
    std::mutex m_mutex;
    std::vector<T> m_items;
};

// The tool with `args` on the sample connections file moved to `domain`.
std::vector<std::string> tool(std::vector<std::string> const& args, unsigned domain) {
    std::vector<std::string> argv = {ASPN2_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--connections", kSample, "--domain", std::to_string(domain)});
    return argv;
}

// Everything the child still writes to `stream` until it closes it or
// stays quiet for half a second.
std::string rest(ChildProcess& child, ChildProcess::Stream stream) {
    std::string text;
    while (std::optional<std::string> line = child.readLine(stream, milliseconds(500))) text += *line + "\n";
    return text;
}

// This test's own end of the bus, on the sample connections of `domain`.
struct Bus {
    explicit Bus(unsigned domain) : transport(writeFile(dir, domain), "aspn2-tool test") {}
    static std::string writeFile(corvane_test::TempDir const& dir, unsigned domain) {
        std::ofstream(dir.file("connections.xml")) << aspn2_tool::connectionsWithDomain(kSample, domain);
        return dir.file("connections.xml");
    }
    corvane_test::TempDir dir;
    ToolTransport transport;
};

unsigned serverOf(std::int32_t deviceId) { return (static_cast<std::uint32_t>(deviceId) >> 16) & 0xFF; }

std::int64_t tovNs(aspn2_msgs::idl::header const& h) {
    return ASPN2::nsec_fromSecNsec(h.timestamp_valid().sec(), h.timestamp_valid().nsec());
}

TEST(Aspn2ToolProcess, NavPublishesPairedStreamsFromTheFusionNavigator) {
    Inbox<PVA> pvas;
    Inbox<UTC> utcs;
    Bus bus(90);
    bus.transport.receiver<PVA>("PositionVelocityAttitude", pvas.callback());
    bus.transport.receiver<UTC>("UTCTime", utcs.callback());

    ChildProcess nav(tool({"nav", "--json", "--seconds", "30"}, 90));
    ASSERT_TRUE(tss_test::waitFor([&] { return pvas.all().size() >= 15 && utcs.all().size() >= 15; }, seconds(20)))
        << rest(nav, ChildProcess::Stderr);
    nav.signal(SIGTERM);
    EXPECT_EQ(nav.wait(seconds(10)), std::optional<int>(0)) << rest(nav, ChildProcess::Stderr);
    std::string const out = rest(nav, ChildProcess::Stdout);
    EXPECT_NE(out.find("{\"msg\":\"nav\",\"t\":1.0,"), std::string::npos) << out;
    EXPECT_NE(out.find("{\"msg\":\"nav_done\","), std::string::npos) << out;

    std::vector<PVA> const p = pvas.all();
    std::vector<UTC> const u = utcs.all();
    std::int64_t const now = aspn2_tool::realtimeNowNs();
    for (std::size_t i = 0; i < p.size(); ++i) {
        ASSERT_EQ(serverOf(p[i].header().device_id()), 96u) << i;
        ASSERT_LT(std::llabs(tovNs(p[i].header()) - now), 60LL * 1000000000) << i;
        ASSERT_TRUE(i == 0 || p[i].header().seq_num() == p[i - 1].header().seq_num() + 1) << i;
        // Equal rates: the UTC sample of the same number shares the time of validity.
        auto const partner = std::find_if(
            u.begin(), u.end(), [&](UTC const& x) { return x.header().seq_num() == p[i].header().seq_num(); });
        ASSERT_TRUE(partner == u.end() || ASPN2::deltaTov(p[i].header(), partner->header()) == 0.0) << i;
    }
    for (UTC const& x : u) ASSERT_EQ(serverOf(x.header().device_id()), 96u);
    double const rate = static_cast<double>(p.size() - 1) /
                        (static_cast<double>(tovNs(p.back().header()) - tovNs(p.front().header())) * 1e-9);
    EXPECT_TRUE(rate > 6.0 && rate < 14.0) << rate;
}

}  // namespace
