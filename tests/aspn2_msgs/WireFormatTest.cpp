// Byte-exact serialisation: sizes, member offsets and padding.

#include <string>

#include <gtest/gtest.h>

#include "MessageCases.h"
#include "aspn2_msgs/CommandResponsePubSubTypes.h"

namespace {

using namespace aspn2_test;

const Bytes kLittleEndianCdr = {0x00, 0x01, 0x00, 0x00};

// The body of a payload whose 4-byte header must be little-endian CDR.
Bytes bodyOf(const Bytes& payload)
{
    if (payload.size() < 4)
    {
        ADD_FAILURE() << "not serialised";
        return {};
    }
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 4), kLittleEndianCdr);
    return Bytes(payload.begin() + 4, payload.end());
}

TEST(WireFormat, EveryCheckedMemberAtItsOffset)
{
    for (const MessageCase& c : messageCases())
    {
        SCOPED_TRACE(c.name);
        const auto support = c.make();
        Sample sample = makeSample(*support);
        c.fill(sample.get());
        const Bytes body = bodyOf(serialize(*support, sample.get()));
        ASSERT_EQ(body.size(), c.bodySize);
        for (const Field& f : c.fields)
        {
            ASSERT_LE(f.offset + f.bytes.size(), body.size()) << "offset " << f.offset;
            EXPECT_EQ(Bytes(body.begin() + f.offset, body.begin() + f.offset + f.bytes.size()), f.bytes)
                << "offset " << f.offset;
        }
    }
}

TEST(WireFormat, DefaultSamples)
{
    const std::pair<const char*, Bytes> rows[] = {
        // Fixed-size types: every byte zero.
        {"UTCTime", Bytes(112, 0)},
        {"PositionVelocityAttitude", Bytes(768, 0)},
        {"MaintenanceEvent", Bytes(168, 0)},
        // Sequences: an element count of 0.
        {"SVStatus", Bytes(52, 0)},
        {"GNSSSubframe", Bytes(76, 0)},
        {"BitReport", Bytes(60, 0)},
        // Strings: length 1 (the NUL alone), then the NUL.
        {"EventLog", Bytes(48, 0) + u32(1) + u8(0)},
        {"CommandResponse", Bytes(56, 0) + u32(1) + u8(0)},
    };
    for (const auto& [type, body] : rows)
    {
        const auto support = caseOf(type).make();
        Sample sample = makeSample(*support);
        EXPECT_EQ(bodyOf(serialize(*support, sample.get())), body) << type;
    }
}

TEST(WireFormat, StringLengthCountsTheNul)
{
    aspn2_msgs::idl::CommandResponsePubSubType support;
    aspn2_msgs::idl::CommandResponse m;
    m.command_response("0123456789");
    const Bytes body = bodyOf(serialize(support, &m));
    ASSERT_EQ(body.size(), 71u);
    EXPECT_EQ(Bytes(body.begin() + 56, body.end()), cdrString("0123456789"));
}

}  // namespace
