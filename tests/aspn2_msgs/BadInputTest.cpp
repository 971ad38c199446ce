// Malformed payloads: deserialize returns false or produces a value; it
// never throws, crashes, hangs or allocates for counts the payload cannot
// hold. The ASan build of this test also caps single allocations (see
// CMakeLists.txt), so an oversized allocation fails the run.

#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "MessageCases.h"
#include "aspn2_msgs/PayloadReader.h"

namespace {

using namespace aspn2_test;
using eprosima::fastrtps::rtps::SerializedPayload_t;

void put32(Bytes& payload, std::size_t bodyOffset, std::uint32_t v) {
    const Bytes b = u32(v);
    std::copy(b.begin(), b.end(), payload.begin() + 4 + std::ptrdiff_t(bodyOffset));
}

// Deserialises into a fresh sample; a thrown exception fails the test.
bool accepts(TopicDataType& support, const Bytes& payload) {
    Sample sample = makeSample(support);
    bool ok = false;
    EXPECT_NO_THROW(ok = deserialize(support, payload, sample.get()));
    return ok;
}

// The filled payload of `type` with the 32-bit field at `bodyOffset` set to `value`.
bool acceptsChanged(const std::string& type, std::size_t bodyOffset, std::uint32_t value) {
    const MessageCase& c = caseOf(type);
    const auto support = c.make();
    Bytes payload = filledPayload(c, *support);
    put32(payload, bodyOffset, value);
    return accepts(*support, payload);
}

// Where each sequence's element count sits, and the trailing-sequence check of its type.
struct SequenceRow {
    const char* type;
    std::size_t countOffset;
    std::function<bool(const SerializedPayload_t&)> fits;
};

template <class T>
SequenceRow row(const char* type, std::size_t countOffset) {
    return {type, countOffset, [](const SerializedPayload_t& p) { return aspn2_msgs::trailingSequenceFits<T>(p); }};
}

const SequenceRow kSequences[] = {
    row<idl::BitReport>("BitReport", 56),
    row<idl::ChallengedEnvironment>("ChallengedEnvironment", 48),
    row<idl::ChannelStatus>("ChannelStatus", 48),
    row<idl::GNSS>("GNSS", 72),
    row<idl::GNSSSubframe>("GNSSSubframe", 72),
    row<idl::GPSCryptoStatus>("GPSCryptoStatus", 48),
    row<idl::GPSLineOfSight>("GPSLineOfSight", 48),
    row<idl::GSSIP>("GSSIP", 48),
    row<idl::MeasurementIncorporationStatus>("MeasurementIncorporationStatus", 48),
    row<idl::SVStatus>("SVStatus", 48),
};

TEST(BadInput, LengthsAndCountsBeyondThePayload) {
    for (std::uint32_t length : {0x80000000u, 0xFFFFFFFFu, 12u}) {
        EXPECT_FALSE(acceptsChanged("EventLog", 48, length)) << length;
        EXPECT_FALSE(acceptsChanged("CommandResponse", 56, length)) << length;
    }
    EXPECT_FALSE(acceptsChanged("ReceiverStatus", 44, 2)) << "a boolean neither 0 nor 1";

    for (const SequenceRow& row : kSequences) {
        SCOPED_TRACE(row.type);
        for (std::uint32_t count : {1000000000u, 0xFFFFFFFFu})
            EXPECT_FALSE(acceptsChanged(row.type, row.countOffset, count));
        const MessageCase& c = caseOf(row.type);
        const auto support = c.make();
        Bytes payload = filledPayload(c, *support);
        EXPECT_TRUE(row.fits(payloadOf(payload)));

        std::uint32_t count = 0;
        std::memcpy(&count, payload.data() + 4 + row.countOffset, 4);
        const auto left = std::uint32_t(payload.size() - 4 - row.countOffset - 4);
        // One element more than the payload holds.
        put32(payload, row.countOffset, count + 1);
        EXPECT_FALSE(row.fits(payloadOf(payload)));
        // One element per byte left: all a byte-level check would demand.
        // Only octet sequences can be that long.
        put32(payload, row.countOffset, left);
        EXPECT_EQ(row.fits(payloadOf(payload)), row.countOffset + 4 + count == payload.size() - 4);
    }

    // 1 MiB of zero elements announced as one element per byte: read
    // unchecked, this would first make room for about a million 150-byte
    // elements.
    const MessageCase& c = caseOf("GPSLineOfSight");
    const auto support = c.make();
    Bytes payload = filledPayload(c, *support);
    payload.resize(1 << 20, 0);
    put32(payload, 48, std::uint32_t(payload.size() - 4 - 52));
    EXPECT_FALSE(accepts(*support, payload));
}

// Every type: each truncation of a valid payload is refused, and seeded
// random payloads end in true or false without a crash.
TEST(BadInput, TruncatedAndSeededRandomPayloads) {
    for (const MessageCase& c : messageCases()) {
        SCOPED_TRACE(c.name);
        const auto support = c.make();
        const Bytes valid = filledPayload(c, *support);
        for (std::size_t n = 0; n < valid.size(); ++n) {
            EXPECT_FALSE(accepts(*support, Bytes(valid.begin(), valid.begin() + n))) << "length " << n;
        }
        EXPECT_TRUE(accepts(*support, valid));
        std::mt19937 rng(std::uint32_t(std::hash<std::string>{}(c.name)));
        std::uniform_int_distribution<int> byte(0, 255), changes(1, 8);
        std::uniform_int_distribution<std::size_t> length(0, support->m_typeSize + 64), position(0, valid.size() - 1);
        for (int i = 0; i < 3000; ++i) {
            Bytes payload = valid;
            if (i % 2 == 0) {
                // Random bytes of any length up to beyond the maximum, half
                // of them behind a valid encapsulation header.
                payload.resize(length(rng));
                for (auto& b : payload) b = std::uint8_t(byte(rng));
                if (payload.size() >= 2 && i % 4 == 0) payload[0] = 0, payload[1] = 1;
            } else {
                // A valid payload with a few bytes changed, sometimes cut short.
                for (int k = changes(rng); k > 0; --k) payload[position(rng)] = std::uint8_t(byte(rng));
                if (i % 8 == 1) payload.resize(position(rng));
            }
            accepts(*support, payload);
        }
    }
}

}  // namespace
