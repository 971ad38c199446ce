// Malformed payloads: deserialize returns false or produces a value; it
// never throws, crashes, hangs or allocates for counts the payload cannot
// hold. The ASan build of this test also caps single allocations (see
// CMakeLists.txt), so an oversized allocation fails the run.

#include <cstring>
#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "MessageCases.h"
#include "aspn2_msgs/PayloadReader.h"

namespace {

using namespace aspn2_test;
namespace idl = aspn2_msgs::idl;
using eprosima::fastrtps::rtps::SerializedPayload_t;

Bytes filledPayload(const MessageCase& c, eprosima::fastdds::dds::TopicDataType& support)
{
    Sample sample = makeSample(support);
    c.fill(sample.get());
    return serialize(support, sample.get());
}

void put32(Bytes& payload, std::size_t bodyOffset, std::uint32_t v)
{
    const Bytes b = u32(v);
    std::copy(b.begin(), b.end(), payload.begin() + 4 + static_cast<std::ptrdiff_t>(bodyOffset));
}

// Deserialises into a fresh sample; a thrown exception fails the test.
bool accepts(eprosima::fastdds::dds::TopicDataType& support, const Bytes& payload)
{
    Sample sample = makeSample(support);
    bool ok = false;
    EXPECT_NO_THROW(ok = deserialize(support, payload, sample.get()));
    return ok;
}

// The filled payload of `type` with the 32-bit field at `bodyOffset` set to
// `value`, or one byte there set when `byteOnly`.
bool acceptsChanged(const std::string& type, std::size_t bodyOffset, std::uint32_t value, bool byteOnly = false)
{
    const MessageCase& c = caseOf(type);
    const auto support = c.make();
    Bytes payload = filledPayload(c, *support);
    if (byteOnly)
    {
        payload[4 + bodyOffset] = static_cast<std::uint8_t>(value);
    }
    else
    {
        put32(payload, bodyOffset, value);
    }
    return accepts(*support, payload);
}

TEST(BadInput, TruncatedAtEveryLength)
{
    for (const MessageCase& c : messageCases())
    {
        SCOPED_TRACE(c.name);
        const auto support = c.make();
        const Bytes full = filledPayload(c, *support);
        for (std::size_t n = 0; n < full.size(); ++n)
        {
            EXPECT_FALSE(accepts(*support, Bytes(full.begin(), full.begin() + n))) << "length " << n;
        }
        EXPECT_TRUE(accepts(*support, full));
    }
}

// Where each sequence's element count sits, and the trailing-sequence check
// of its type.
struct SequenceRow
{
    const char* type;
    std::size_t countOffset;
    std::function<bool(const SerializedPayload_t&)> fits;
};

template <class T>
std::function<bool(const SerializedPayload_t&)> fitsOf()
{
    return [](const SerializedPayload_t& p) { return aspn2_msgs::trailingSequenceFits<T>(p); };
}

const SequenceRow kSequences[] = {
    {"BitReport", 56, fitsOf<idl::BitReport>()},
    {"ChallengedEnvironment", 48, fitsOf<idl::ChallengedEnvironment>()},
    {"ChannelStatus", 48, fitsOf<idl::ChannelStatus>()},
    {"GNSS", 72, fitsOf<idl::GNSS>()},
    {"GNSSSubframe", 72, fitsOf<idl::GNSSSubframe>()},
    {"GPSCryptoStatus", 48, fitsOf<idl::GPSCryptoStatus>()},
    {"GPSLineOfSight", 48, fitsOf<idl::GPSLineOfSight>()},
    {"GSSIP", 48, fitsOf<idl::GSSIP>()},
    {"MeasurementIncorporationStatus", 48, fitsOf<idl::MeasurementIncorporationStatus>()},
    {"SVStatus", 48, fitsOf<idl::SVStatus>()},
};

TEST(BadInput, LengthsAndCountsBeyondThePayload)
{
    for (std::uint32_t length : {0x80000000u, 0xFFFFFFFFu, 12u})
    {
        EXPECT_FALSE(acceptsChanged("EventLog", 48, length)) << length;
        EXPECT_FALSE(acceptsChanged("CommandResponse", 56, length)) << length;
    }
    for (const SequenceRow& row : kSequences)
    {
        for (std::uint32_t count : {1000000000u, 0xFFFFFFFFu})
        {
            EXPECT_FALSE(acceptsChanged(row.type, row.countOffset, count)) << row.type << " " << count;
        }
    }
    EXPECT_FALSE(acceptsChanged("ReceiverStatus", 44, 2, true)) << "a boolean neither 0 nor 1";
}

TEST(BadInput, SequenceCountCheckedAgainstElementSize)
{
    for (const SequenceRow& row : kSequences)
    {
        SCOPED_TRACE(row.type);
        const MessageCase& c = caseOf(row.type);
        const auto support = c.make();
        Bytes payload = filledPayload(c, *support);
        EXPECT_TRUE(row.fits(payloadOf(payload)));

        std::uint32_t count = 0;
        std::memcpy(&count, payload.data() + 4 + row.countOffset, 4);
        const auto left = static_cast<std::uint32_t>(payload.size() - 4 - row.countOffset - 4);

        // One element more than the payload holds.
        put32(payload, row.countOffset, count + 1);
        EXPECT_FALSE(row.fits(payloadOf(payload)));
        // One element per byte left: all the byte-level check would demand.
        // Only octet sequences can be that long.
        put32(payload, row.countOffset, left);
        const bool octets = row.countOffset + 4 + count == payload.size() - 4;
        EXPECT_EQ(row.fits(payloadOf(payload)), octets);
    }

    // 1 MiB of zero elements announced as one element per byte: read
    // unchecked, this would first make room for about a million 150-byte
    // elements.
    const MessageCase& c = caseOf("GPSLineOfSight");
    const auto support = c.make();
    Bytes payload = filledPayload(c, *support);
    payload.resize(1 << 20, 0);
    put32(payload, 48, static_cast<std::uint32_t>(payload.size() - 4 - 52));
    EXPECT_FALSE(accepts(*support, payload));
}

TEST(BadInput, SeededRandomPayloads)
{
    constexpr int kRandomPerType = 1500;
    constexpr int kMutatedPerType = 1500;
    for (const MessageCase& c : messageCases())
    {
        SCOPED_TRACE(c.name);
        const auto support = c.make();
        const Bytes valid = filledPayload(c, *support);
        std::mt19937 rng(static_cast<std::uint32_t>(std::hash<std::string>{}(c.name)));
        std::uniform_int_distribution<int> byte(0, 255);

        // Random bytes of any length up to beyond the maximum, half of them
        // behind a valid encapsulation header.
        std::uniform_int_distribution<std::size_t> length(0, support->m_typeSize + 64);
        for (int i = 0; i < kRandomPerType; ++i)
        {
            Bytes payload(length(rng));
            for (auto& b : payload)
            {
                b = static_cast<std::uint8_t>(byte(rng));
            }
            if (payload.size() >= 2 && i % 2 == 0)
            {
                payload[0] = 0;
                payload[1] = 1;
            }
            accepts(*support, payload);
        }

        // A valid payload with a few bytes changed, sometimes cut short.
        std::uniform_int_distribution<std::size_t> position(0, valid.size() - 1);
        std::uniform_int_distribution<int> changes(1, 8);
        for (int i = 0; i < kMutatedPerType; ++i)
        {
            Bytes payload = valid;
            for (int k = changes(rng); k > 0; --k)
            {
                payload[position(rng)] = static_cast<std::uint8_t>(byte(rng));
            }
            if (i % 4 == 0)
            {
                payload.resize(position(rng));
            }
            accepts(*support, payload);
        }
    }
}

}  // namespace
