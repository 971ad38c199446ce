// The network fuzzer's mutations do what they are named for, keep the
// source's GUID prefix, repeat with the seed; the rewriting aims a message
// at another participant's prefix and entities.
#include "tests/network/Mutator.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace r = corvane_test::rtps;
namespace net = corvane_test::net;
using net::Mutation;

r::Bytes sample() {
    return r::message({r::infoDst(), r::infoTs(), r::data(3, r::Bytes(33, 7)), r::heartbeat(1, 3), r::gap(2, 3)});
}

std::vector<std::uint8_t> ids(r::Bytes const& m) {
    std::vector<std::uint8_t> out;
    for (auto const& s : r::split(m)) out.push_back(s.id);
    return out;
}

// What each structural mutation changes, whatever the seed.
TEST(Mutator, EachMutationDoesWhatItsNameSays) {
    r::Bytes const m = sample(), other = r::message({r::acknack(5, 64)});
    std::vector<std::uint8_t> const before = ids(m);
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        net::Mutator mutator(seed);
        std::vector<std::uint8_t> const repeated = ids(mutator.apply(Mutation::kRepeat, m, other));
        EXPECT_GT(repeated.size(), before.size());
        std::vector<std::uint8_t> swapped = ids(mutator.apply(Mutation::kReorder, m, other));
        EXPECT_TRUE(std::is_permutation(swapped.begin(), swapped.end(), before.begin(), before.end()));
        std::vector<std::uint8_t> const statistics = ids(mutator.apply(Mutation::kStatistics, m, other));
        auto const at = std::find(statistics.begin(), statistics.end(), r::kStatistics);
        ASSERT_NE(at, statistics.end());
        EXPECT_NE(at + 1, statistics.end()) << "inserted before the last submessage";
        std::vector<std::uint8_t> const spliced = ids(mutator.apply(Mutation::kSplice, m, other));
        EXPECT_EQ(std::count(spliced.begin(), spliced.end(), r::kAckNack), 1);
        EXPECT_LE(mutator.apply(Mutation::kTruncate, m, other).size(), m.size());
        r::Bytes const edged = mutator.apply(Mutation::kFieldEdge, m, other);
        EXPECT_EQ(edged.size(), m.size()) << "fields change in place";
    }
}

// Every mutation keeps the header's GUID prefix (so a mutation still comes
// from a matched participant), and a seed gives the same mutations again.
TEST(Mutator, KeepsTheSourceAndRepeatsWithTheSeed) {
    r::Bytes const m = sample(), other = r::message({r::acknack(5, 64)});
    net::Mutator a(99), b(99), c(100);
    bool differs = false;
    for (int i = 0; i < 300; ++i) {
        r::Bytes const x = a.mutate(m, other);
        EXPECT_EQ(x, b.mutate(m, other)) << i;
        differs = differs || x != c.mutate(m, other);
        ASSERT_GE(x.size(), 20u);
        EXPECT_EQ(r::prefixOf(x), r::prefixOf(m)) << i;
    }
    EXPECT_TRUE(differs);
}

// The stand-in's prefix (header, INFO_DST) and its entities in the reader
// and writer fields become the server's; nothing else moves.
TEST(Mutator, RewritingAimsAtAnotherParticipant) {
    r::GuidPrefix const standIn = r::kPrefix;
    r::GuidPrefix server{};
    server.fill(0x5e);
    r::EntityId const ownReader{0, 0, 0x03, 0x04}, serverReader{0, 0, 0x09, 0x04};
    r::Bytes m =
        r::message({r::infoDst(standIn), r::heartbeat(1, 2, true, r::kWriter, ownReader), r::data(1, r::Bytes(8, 1))});
    r::Bytes const original = m;
    net::replacePrefix(m, standIn, server);
    net::remapEntities(m, {{ownReader, serverReader}});
    EXPECT_EQ(r::prefixOf(m), server);
    r::Bytes const expected = r::message(
        r::header(server),
        {r::infoDst(server), r::heartbeat(1, 2, true, r::kWriter, serverReader), r::data(1, r::Bytes(8, 1))});
    EXPECT_EQ(m, expected);
    EXPECT_EQ(net::describeSubmessages(m), "INFO_DST,HEARTBEAT,DATA");
    EXPECT_EQ(m.size(), original.size());
}

}  // namespace
