// Every message type's support, as the transport's registry makes it: its
// registered name and limits, the byte-exact wire image of a filled sample,
// and reading back in either byte order.

#include <gtest/gtest.h>

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>

#include "FACE/CV_Topic_Helpers.h"
#include "MessageCases.h"

namespace {

using namespace aspn2_test;

TEST(MessageTypes, NameLimitsAndWireImageOfEveryType) {
    ASSERT_EQ(messageCases().size(), 32u);
    for (const MessageCase& c : messageCases()) {
        SCOPED_TRACE(c.name);
        // The registry of the transport makes a new support on every call.
        const std::unique_ptr<TopicDataType> support(FACE::TSS::Topics::GetPubSubType(c.name + "PubSubType"));
        ASSERT_NE(support, nullptr);
        EXPECT_NE(std::unique_ptr<TopicDataType>(FACE::TSS::Topics::GetPubSubType(c.name + "PubSubType")), support);
        EXPECT_EQ(std::string(support->getName()), "aspn2_msgs::idl::" + c.name);
        // The maximum body, rounded up to whole 4-byte words, plus the
        // encapsulation header.
        EXPECT_EQ(support->m_typeSize, (c.max + 3) / 4 * 4 + 4);
        EXPECT_EQ(support->is_bounded(), c.boundedAndPlain);
        EXPECT_EQ(support->is_plain(), c.boundedAndPlain);
        EXPECT_FALSE(support->m_isGetKeyDefined);

        const Bytes payload = filledPayload(c, *support);
        ASSERT_EQ(payload.size(), 4 + c.bodySize);
        EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 4), (Bytes{0x00, 0x01, 0x00, 0x00})) << "little-endian CDR";
        for (const Field& f : c.fields) {
            ASSERT_LE(f.offset + f.bytes.size(), c.bodySize) << "offset " << f.offset;
            EXPECT_EQ(Bytes(payload.begin() + 4 + f.offset, payload.begin() + 4 + f.offset + f.bytes.size()), f.bytes)
                << "offset " << f.offset;
        }
    }
}

// Element types (their supports exist but are not reachable by name), nested
// types without a support, and near misses of valid names.
TEST(MessageTypes, RegistryKnowsNoOtherName) {
    for (const char* name :
         {"sv_setPubSubType", "lru_comp_setPubSubType", "headerPubSubType", "UTCTime", "utctimepubsubtype",
          "UTCTimePubSubType ", "aspn2_msgs::idl::UTCTimePubSubType", "", "PubSubType"}) {
        EXPECT_EQ(FACE::TSS::Topics::GetPubSubType(name), nullptr) << '"' << name << '"';
    }
}

// The element count is read in the sender's byte order when it is checked
// against the bytes left.
TEST(MessageTypes, BigEndianSender) {
    idl::SVStatus sv, copy;
    sv.header().seq_num(0x0102030405060708);
    sv.svs().resize(3);
    sv.svs()[2].svid(31), sv.svs()[2].rising(true);
    Bytes payload(idl::SVStatus::getCdrSerializedSize(sv) + 4);
    eprosima::fastcdr::FastBuffer fast(reinterpret_cast<char*>(payload.data()), payload.size());
    eprosima::fastcdr::Cdr cdr(fast, eprosima::fastcdr::Cdr::BIG_ENDIANNESS, eprosima::fastcdr::Cdr::DDS_CDR);
    cdr.serialize_encapsulation();
    sv.serialize(cdr);
    idl::SVStatusPubSubType support;
    eprosima::fastrtps::rtps::SerializedPayload_t raw = payloadOf(payload);
    ASSERT_TRUE(support.deserialize(&raw, &copy));
    EXPECT_EQ(raw.encapsulation, CDR_BE);
    EXPECT_TRUE(copy == sv);
}

}  // namespace
