// Seeded mutations of captured RTPS messages, and the rewriting that makes
// a message captured at one participant reach another (GUID prefixes,
// entity ids). Test code only: the network fuzzer and its tests.
#ifndef TESTS_NETWORK_MUTATOR_H
#define TESTS_NETWORK_MUTATOR_H

#include "tests/support/RtpsMessage.h"

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace corvane_test {
namespace net {

using rtps::Bytes;

enum class Mutation : std::uint8_t {
    kBitFlips,    // 1 to 8 bits flipped after the GUID prefix
    kEdgeBytes,   // bytes or aligned 16/32-bit words set to 0, 1, 0x7f.., 0x80.., 0xff..
    kLength,      // a submessage's octetsToNextHeader edited
    kRepeat,      // a submessage repeated (right after itself or at the end)
    kTruncate,    // the message cut, or a submessage's body shortened in place
    kReorder,     // two submessages swapped
    kMove,        // a submessage moved elsewhere
    kStatistics,  // eProsima's statistics submessage inserted before the last submessage
    kFieldEdge,   // a fixed field of a known submessage (sequence numbers, bitmap sizes,
                  // fragment numbers and sizes, octetsToInlineQos) set to an extreme
    kSplice,      // a submessage of another captured message inserted
    kSynthesize,  // a GAP, NACK_FRAG, HEARTBEAT_FRAG, HEARTBEAT, ACKNACK, INFO_SRC, INFO_REPLY
                  // or PAD made up, with the reader and writer of a submessage of the
                  // message, inserted (kinds a short capture may lack)
};
constexpr int kMutationKinds = 11;

char const* mutationName(Mutation m);

class Mutator {
public:
    explicit Mutator(std::uint64_t seed) : m_random(seed) {}

    /// `m` with 1 to 3 mutations applied; `other` feeds kSplice. The GUID
    /// prefix of the header is kept. `used` (optional) gets the kinds.
    Bytes mutate(Bytes const& m, Bytes const& other, std::vector<Mutation>* used = nullptr);

    /// One mutation of kind `kind` (for tests).
    Bytes apply(Mutation kind, Bytes const& m, Bytes const& other);

    std::mt19937_64& random() { return m_random; }

private:
    std::size_t pick(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(m_random() % n); }

    std::mt19937_64 m_random;
};

/// Every 12-byte run of `m` equal to `from` becomes `to`.
void replacePrefix(Bytes& m, rtps::GuidPrefix const& from, rtps::GuidPrefix const& to);

/// The reader and writer entity ids of DATA, DATA_FRAG, HEARTBEAT, GAP,
/// ACKNACK, NACK_FRAG and HEARTBEAT_FRAG submessages, mapped by `map`
/// (others kept).
void remapEntities(Bytes& m, std::map<rtps::EntityId, rtps::EntityId> const& map);

/// "DATA", "HEARTBEAT", ..., or the id in hexadecimal ("0x80").
std::string submessageName(std::uint8_t id);

/// The submessage ids of `m` in order, as text ("DATA,HEARTBEAT,0x80").
std::string describeSubmessages(Bytes const& m);

}  // namespace net
}  // namespace corvane_test

#endif  // TESTS_NETWORK_MUTATOR_H
