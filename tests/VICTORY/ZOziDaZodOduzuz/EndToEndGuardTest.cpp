// Single hostile datagrams against the real server, plain and with DDS
// Security: the server's own discovery announcement with eProsima's
// statistics submessage repeated so that it stands in the middle (the
// message that aborted every Fast DDS participant), truncated, lengthened
// and moved; a HEARTBEAT (firstSN 2^62, lastSN one less) and a GAP (from 1
// to 2^62) from the navigator's matched writer. Afterwards the server
// still tells, answers a ping and stops in order. DDS domains 144 (plain),
// 145 (DDS Security).
#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndGuardSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace guard_e2e;
constexpr std::int64_t k2to62 = std::int64_t{1} << 62;

class EndToEndGuard : public ::testing::TestWithParam<bool> {};

TEST_P(EndToEndGuard, HostileDatagramsLeaveTheServerTellingAndStoppable) {
    bool const secure = GetParam();
#ifdef CORVANE_TEST_EMULATOR
    // Under emulation the library's secure discovery between the server and
    // a joining navigator now and then never completes (about one run in
    // five; docs/deliberate-differences.md), which no retry of the test's
    // own participants can mend. The guard is the same with and without
    // DDS Security: the plain variant runs here, the secure one natively.
    if (secure) GTEST_SKIP() << "DDS Security discovery under emulation stalls now and then; runs natively";
#endif
    Scenario s(secure ? 145 : 144, secure);
    ASSERT_TRUE(s.start());

    std::optional<r::Bytes> const announcement = s.serverAnnouncement();
    ASSERT_TRUE(announcement.has_value()) << "the server's announcement was not recorded";
    for (auto const& [what, m] : announcementVariants(*announcement)) {
        SCOPED_TRACE(what);
        s.toDiscovery(m);
    }
    // The first drop is told at once; the others are counted until a
    // minute has passed.
    EXPECT_TRUE(s.server().waitForLine(
        "warning: DDS datagram guard dropped 1 RTPS message (1 statistics submessage misplaced)", 10s))
        << s.server().transcript();
    auto const firstLine = Clock::now();
    auto const reader = s.entity(s.serverInfo().prefix, "PositionVelocityAttitude", false);
    auto const writer = s.entity(s.navigatorPrefix(), "PositionVelocityAttitude", true);
    ASSERT_TRUE(reader && writer);
    s.toServer(s.fromNavigator(r::heartbeat(k2to62, k2to62 - 1, true, *writer, *reader)));
    s.toServer(s.fromNavigator(r::heartbeat(k2to62, k2to62 - 1, true, *writer, r::kUnknownEntity)));
    s.toServer(s.fromNavigator(r::gap(1, k2to62, 0, true, *writer, *reader)));

    EXPECT_TRUE(s.aliveAndTelling());
    // One line, and a second only once a minute has passed (a slow run
    // under emulation can take that long).
    std::size_t const lines = s.server().countLines("warning: DDS datagram guard");
    bool const minutePassed = Clock::now() - firstLine >= 60s;
    EXPECT_TRUE(lines == 1u || (minutePassed && lines == 2u)) << lines << " lines\n" << s.server().transcript();
    EXPECT_EQ(s.server().countLines("DDS receive thread stalled"), 0u) << s.server().transcript();
    EXPECT_TRUE(s.stopsInOrder());
}

INSTANTIATE_TEST_SUITE_P(Modes, EndToEndGuard, ::testing::Values(false, true),
                         [](::testing::TestParamInfo<bool> const& info) { return info.param ? "Secure" : "Plain"; });

}  // namespace
