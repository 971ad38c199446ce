// The pieces of a received sample's FACE view: uids, QoS elements, and the
// counting of matched endpoints.

#include "FACE/CV_TSS_Listeners.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace FACE::TSS;
using eprosima::fastrtps::rtps::GUID_t;

std::string text(FACE::String const& s) { return std::string(s.buffer(), s.length()); }

TEST(TssListeners, UidIsTheEntityIdBigEndian) {
    struct Case {
        std::array<std::uint8_t, 4> entity;
        long long uid;
    } const cases[] = {
        {{0x00, 0x00, 0x01, 0x07}, 263},
        {{0x12, 0x34, 0x56, 0x78}, 0x12345678},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 4294967295LL},
        {{0x00, 0x00, 0x00, 0x00}, 0},
    };
    for (Case const& c : cases) {
        for (std::uint8_t prefixByte : {0x00, 0xAB}) {
            GUID_t guid;
            for (auto& b : guid.guidPrefix.value) b = prefixByte;
            std::copy(c.entity.begin(), c.entity.end(), guid.entityId.value);
            EXPECT_EQ(Listeners::GuidToUid(guid), c.uid);
        }
    }
}

TEST(TssListeners, QosElementsNameThePolicyKinds) {
    using namespace eprosima::fastdds::dds;
    auto durability = [](int kind) {
        DurabilityQosPolicy p;
        p.kind = static_cast<DurabilityQosPolicyKind>(kind);
        return Listeners::DurabilityQosPolicyToElement(p);
    };
    auto liveliness = [](int kind) {
        LivelinessQosPolicy p;
        p.kind = static_cast<LivelinessQosPolicyKind>(kind);
        return Listeners::LivelinessQosPolicyToElement(p);
    };
    auto reliability = [](int kind) {
        ReliabilityQosPolicy p;
        p.kind = static_cast<ReliabilityQosPolicyKind>(kind);
        return Listeners::ReliabilityQosPolicyToElement(p);
    };
    struct Case {
        QoS_Element element;
        char const* name;
        char const* value;
    } const cases[] = {
        {durability(0), "DurabilityQosPolicy", "VOLATILE_DURABILITY_QOS"},
        {durability(1), "DurabilityQosPolicy", "TRANSIENT_LOCAL_DURABILITY_QOS"},
        {durability(2), "DurabilityQosPolicy", "TRANSIENT_DURABILITY_QOS"},
        {durability(3), "DurabilityQosPolicy", "PERSISTENT_DURABILITY_QOS"},
        {durability(4), "DurabilityQosPolicy", "UNKNOWN_DURABILITY_QOS"},
        {liveliness(0), "LivelinessQosPolicy", "AUTOMATIC_LIVELINESS_QOS"},
        {liveliness(1), "LivelinessQosPolicy", "MANUAL_BY_PARTICIPANT_LIVELINESS_QOS"},
        {liveliness(2), "LivelinessQosPolicy", "MANUAL_BY_TOPIC_LIVELINESS_QOS"},
        {liveliness(3), "LivelinessQosPolicy", "UNKNOWN_LIVELINESS_QOS"},
        {reliability(0), "ReliabilityQosPolicy", "UNKNOWN_RELIABILITY_QOS"},
        {reliability(1), "ReliabilityQosPolicy", "BEST_EFFORT_RELIABILITY_QOS"},
        {reliability(2), "ReliabilityQosPolicy", "RELIABLE_RELIABILITY_QOS"},
        {reliability(3), "ReliabilityQosPolicy", "UNKNOWN_RELIABILITY_QOS"},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(text(c.element.name), c.name);
        EXPECT_EQ(text(c.element.value), c.value);
        EXPECT_TRUE(c.element.name.is_managed()) << c.value;
        EXPECT_TRUE(c.element.value.is_managed()) << c.value;
    }
}

TEST(TssListeners, ReaderQosListIsDurabilityLivelinessReliability) {
    eprosima::fastrtps::ReaderQos qos;
    qos.m_durability.kind = eprosima::fastdds::dds::TRANSIENT_LOCAL_DURABILITY_QOS;
    qos.m_liveliness.kind = eprosima::fastdds::dds::MANUAL_BY_TOPIC_LIVELINESS_QOS;
    qos.m_reliability.kind = eprosima::fastdds::dds::BEST_EFFORT_RELIABILITY_QOS;
    FACE::Sequence<QoS_Element> const list = Listeners::ReaderQosToElements(qos);
    ASSERT_EQ(list.length(), 3u);
    EXPECT_TRUE(list.is_managed());
    EXPECT_FALSE(list.is_bounded());
    EXPECT_EQ(text(list[0].value), "TRANSIENT_LOCAL_DURABILITY_QOS");
    EXPECT_EQ(text(list[1].value), "MANUAL_BY_TOPIC_LIVELINESS_QOS");
    EXPECT_EQ(text(list[2].value), "BEST_EFFORT_RELIABILITY_QOS");
}

TEST(TssListeners, MatchedCountFollowsMatchesAndRemovals) {
    using eprosima::fastrtps::rtps::MatchingInfo;
    Listeners::PublisherListenerBase publisher("P");
    Listeners::SubscriberListenerBase subscriber("S");
    EXPECT_EQ(publisher.name(), "P");
    EXPECT_EQ(subscriber.name(), "S");
    MatchingInfo matched(eprosima::fastrtps::rtps::MATCHED_MATCHING, GUID_t());
    MatchingInfo removed(eprosima::fastrtps::rtps::REMOVED_MATCHING, GUID_t());
    for (MatchingInfo* info : {&matched, &matched, &removed, &matched}) {
        publisher.onPublicationMatched(nullptr, *info);
        subscriber.onSubscriptionMatched(nullptr, *info);
    }
    EXPECT_EQ(publisher.matchedCount(), 2);
    EXPECT_EQ(subscriber.matchedCount(), 2);
}

}  // namespace
