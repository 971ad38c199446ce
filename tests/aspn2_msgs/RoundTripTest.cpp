// Every type survives serialisation and deserialisation through its type
// support, in either byte order.

#include <gtest/gtest.h>

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>

#include "MessageCases.h"
#include "aspn2_msgs/SVStatusPubSubTypes.h"

namespace {

using namespace aspn2_test;
namespace idl = aspn2_msgs::idl;

TEST(RoundTrip, EveryTypeWithNonDefaultValuesAndBackToDefault)
{
    for (const MessageCase& c : messageCases())
    {
        SCOPED_TRACE(c.name);
        const auto support = c.make();
        Sample original = makeSample(*support);
        c.fill(original.get());
        Sample copy = makeSample(*support);
        ASSERT_FALSE(c.equal(original.get(), copy.get()));
        ASSERT_TRUE(deserialize(*support, serialize(*support, original.get()), copy.get()));
        EXPECT_TRUE(c.equal(original.get(), copy.get()));

        // Samples are reused by readers: strings and sequences are replaced, not extended.
        Sample empty = makeSample(*support);
        ASSERT_TRUE(deserialize(*support, serialize(*support, empty.get()), copy.get()));
        EXPECT_TRUE(c.equal(empty.get(), copy.get()));
    }
}

// The element count is read in the sender's byte order when it is checked
// against the bytes left.
TEST(RoundTrip, BigEndianSender)
{
    idl::SVStatus sv;
    sv.header().seq_num(0x0102030405060708);
    sv.num_svs(3);
    sv.svs().resize(3);
    sv.svs()[2].svid(31);
    sv.svs()[2].rising(true);

    Bytes payload(idl::SVStatus::getCdrSerializedSize(sv) + 4);
    eprosima::fastcdr::FastBuffer fast(reinterpret_cast<char*>(payload.data()), payload.size());
    eprosima::fastcdr::Cdr cdr(fast, eprosima::fastcdr::Cdr::BIG_ENDIANNESS, eprosima::fastcdr::Cdr::DDS_CDR);
    cdr.serialize_encapsulation();
    sv.serialize(cdr);
    ASSERT_EQ(payload[1], 0x00);

    idl::SVStatusPubSubType support;
    idl::SVStatus copy;
    payload.resize(cdr.getSerializedDataLength());
    eprosima::fastrtps::rtps::SerializedPayload_t raw = payloadOf(payload);
    ASSERT_TRUE(support.deserialize(&raw, &copy));
    EXPECT_EQ(raw.encapsulation, CDR_BE);
    EXPECT_TRUE(copy == sv);
}

}  // namespace
