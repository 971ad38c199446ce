// Sequence-number jumps within what the datagram guard lets through: a
// HEARTBEAT and a GAP from the navigator's matched writer that move its
// sequence numbers to 2^40. Only a library whose sequence-number loops do
// not depend on the size of the jump passes: our Fast DDS build (version
// 2.9.1+corvane1 and later). DDS domain 146.
#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndGuardSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace guard_e2e;

// Needs our Fast DDS build: with Debian's 2.9.1 the heartbeat makes the
// server's user-data receive thread walk every sequence number up to 2^40
// one by one (hours), pings go unanswered and the stop ends with status 3.
// A heartbeat or gap from a writer's prefix that moves its sequence
// numbers this far makes the server ignore that writer's later samples
// (they count as older), as RTPS says: a new navigator is heard again.
TEST(EndToEndGuardLibrary, SequenceNumberJumpsTheGuardPassesDoNotStallTheServer) {
    Scenario s(146, false);
    ASSERT_TRUE(s.start());
    std::int64_t const jump = std::int64_t{1} << 40;
    auto const reader = s.entity(s.serverInfo().prefix, "PositionVelocityAttitude", false);
    auto const writer = s.entity(s.navigatorPrefix(), "PositionVelocityAttitude", true);
    ASSERT_TRUE(reader && writer);
    s.toServer(s.fromNavigator(r::heartbeat(jump, jump - 1, true, *writer, *reader)));
    s.toServer(s.fromNavigator(r::gap(1, jump, 0, true, *writer, *reader)));
    // Longer than the stall bound: a stuck receive thread would be told.
    EXPECT_FALSE(s.server().waitForLine("DDS receive thread stalled", 7s)) << s.server().transcript();
    s.restartNavigator();
    EXPECT_TRUE(s.aliveAndTelling());
    EXPECT_TRUE(s.stopsInOrder());
}

}  // namespace
