// Every type survives serialisation and deserialisation through its type
// support, in either byte order.

#include <gtest/gtest.h>

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>

#include "MessageCases.h"
#include "aspn2_msgs/EventLogPubSubTypes.h"
#include "aspn2_msgs/SVStatusPubSubTypes.h"
#include "aspn2_msgs/UTCTimePubSubTypes.h"

namespace {

using namespace aspn2_test;
namespace idl = aspn2_msgs::idl;

TEST(RoundTrip, EveryTypeWithNonDefaultValues)
{
    for (const MessageCase& c : messageCases())
    {
        SCOPED_TRACE(c.name);
        const auto support = c.make();
        Sample original = makeSample(*support);
        c.fill(original.get());
        const Bytes payload = serialize(*support, original.get());

        Sample copy = makeSample(*support);
        ASSERT_FALSE(c.equal(original.get(), copy.get()));
        ASSERT_TRUE(deserialize(*support, payload, copy.get()));
        EXPECT_TRUE(c.equal(original.get(), copy.get()));
    }
}

TEST(RoundTrip, DeserialisingReplacesStringsAndSequences)
{
    for (const MessageCase& c : messageCases())
    {
        SCOPED_TRACE(c.name);
        const auto support = c.make();
        Sample empty = makeSample(*support);
        const Bytes payload = serialize(*support, empty.get());

        Sample target = makeSample(*support);
        c.fill(target.get());
        ASSERT_TRUE(deserialize(*support, payload, target.get()));
        EXPECT_TRUE(c.equal(empty.get(), target.get()));
    }
}

// A payload written by a big-endian sender: encapsulation 00 00.
template <class T>
Bytes bigEndianPayload(const T& value)
{
    Bytes buffer(T::getCdrSerializedSize(value) + 4);
    eprosima::fastcdr::FastBuffer fast(reinterpret_cast<char*>(buffer.data()), buffer.size());
    eprosima::fastcdr::Cdr cdr(fast, eprosima::fastcdr::Cdr::BIG_ENDIANNESS,
                               eprosima::fastcdr::Cdr::DDS_CDR);
    cdr.serialize_encapsulation();
    value.serialize(cdr);
    buffer.resize(cdr.getSerializedDataLength());
    return buffer;
}

template <class PS>
void expectBigEndianRoundTrip(const typename PS::type& value)
{
    const Bytes payload = bigEndianPayload(value);
    ASSERT_EQ(payload[1], 0x00);
    PS support;
    typename PS::type copy;
    eprosima::fastrtps::rtps::SerializedPayload_t raw(static_cast<std::uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), raw.data);
    raw.length = static_cast<std::uint32_t>(payload.size());
    ASSERT_TRUE(support.deserialize(&raw, &copy));
    EXPECT_EQ(raw.encapsulation, CDR_BE);
    EXPECT_TRUE(copy == value);
}

TEST(RoundTrip, BigEndianSender)
{
    idl::UTCTime utc;
    utc.header().seq_num(0x0102030405060708);
    utc.gps_week(2300);
    utc.utc_tod_nsec(0.125);
    expectBigEndianRoundTrip<idl::UTCTimePubSubType>(utc);

    idl::EventLog log;
    log.event_log_type(idl::EVENT_LOG_TYPE_FAULT);
    log.eventlog("big-endian text");
    expectBigEndianRoundTrip<idl::EventLogPubSubType>(log);

    // The element count is read in the sender's byte order when it is
    // checked against the bytes left.
    idl::SVStatus sv;
    sv.num_svs(3);
    sv.svs().resize(3);
    sv.svs()[2].svid(31);
    sv.svs()[2].rising(true);
    expectBigEndianRoundTrip<idl::SVStatusPubSubType>(sv);
}

}  // namespace
