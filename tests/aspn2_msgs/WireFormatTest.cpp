// Byte-exact serialisation: sizes, member offsets and padding.

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "MessageCases.h"
#include "aspn2_msgs/CommandResponsePubSubTypes.h"
#include "aspn2_msgs/EventLogPubSubTypes.h"

namespace {

using namespace aspn2_test;

const Bytes kLittleEndianCdr = {0x00, 0x01, 0x00, 0x00};

const MessageCase& caseOf(const std::string& name)
{
    for (const MessageCase& c : messageCases())
    {
        if (c.name == name)
        {
            return c;
        }
    }
    throw std::invalid_argument("no test case for " + name);
}

Bytes bodyOf(const Bytes& payload)
{
    return Bytes(payload.begin() + 4, payload.end());
}

TEST(WireFormat, EveryMemberAtItsOffset)
{
    for (const MessageCase& c : messageCases())
    {
        SCOPED_TRACE(c.name);
        const auto support = c.make();
        Sample sample = makeSample(*support);
        c.fill(sample.get());
        const Bytes payload = serialize(*support, sample.get());
        ASSERT_EQ(payload.size(), 4 + c.bodySize);
        EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 4), kLittleEndianCdr);
        const Bytes body = bodyOf(payload);
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
    struct Row
    {
        const char* type;
        Bytes body;
    };
    const Row rows[] = {
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
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.type);
        const auto support = caseOf(row.type).make();
        Sample sample = makeSample(*support);
        const Bytes payload = serialize(*support, sample.get());
        ASSERT_EQ(payload.size(), 4 + row.body.size());
        EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 4), kLittleEndianCdr);
        EXPECT_EQ(bodyOf(payload), row.body);
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

TEST(WireFormat, StringLongerThanTheCountedMaximumStillTravels)
{
    // The maximum size counts 255 characters per string, but nothing limits
    // the text; a longer one needs a larger payload than m_typeSize.
    aspn2_msgs::idl::EventLogPubSubType support;
    aspn2_msgs::idl::EventLog m;
    m.eventlog(std::string(300, 'x'));
    EXPECT_TRUE(serialize(support, &m).empty()) << "does not fit the maximum-size payload";
    const std::uint32_t size = support.getSerializedSizeProvider(&m)();
    EXPECT_EQ(size, 4u + 48 + 4 + 301);
    eprosima::fastrtps::rtps::SerializedPayload_t payload(size);
    ASSERT_TRUE(support.serialize(&m, &payload));
    EXPECT_EQ(payload.length, size);
}

}  // namespace
