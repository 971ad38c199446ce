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
    auto element = [](char policy, int kind) {
        DurabilityQosPolicy d;
        LivelinessQosPolicy l;
        ReliabilityQosPolicy r;
        d.kind = static_cast<DurabilityQosPolicyKind>(kind);
        l.kind = static_cast<LivelinessQosPolicyKind>(kind);
        r.kind = static_cast<ReliabilityQosPolicyKind>(kind);
        QoS_Element const e = policy == 'd'   ? Listeners::DurabilityQosPolicyToElement(d)
                              : policy == 'l' ? Listeners::LivelinessQosPolicyToElement(l)
                                              : Listeners::ReliabilityQosPolicyToElement(r);
        EXPECT_TRUE(e.name.is_managed() && e.value.is_managed());
        return text(e.name) + "=" + text(e.value);
    };
    struct Case {
        char policy;
        int kind;
        char const* expected;
    } const cases[] = {
        {'d', 0, "DurabilityQosPolicy=VOLATILE_DURABILITY_QOS"},
        {'d', 1, "DurabilityQosPolicy=TRANSIENT_LOCAL_DURABILITY_QOS"},
        {'d', 2, "DurabilityQosPolicy=TRANSIENT_DURABILITY_QOS"},
        {'d', 3, "DurabilityQosPolicy=PERSISTENT_DURABILITY_QOS"},
        {'d', 4, "DurabilityQosPolicy=UNKNOWN_DURABILITY_QOS"},
        {'l', 0, "LivelinessQosPolicy=AUTOMATIC_LIVELINESS_QOS"},
        {'l', 1, "LivelinessQosPolicy=MANUAL_BY_PARTICIPANT_LIVELINESS_QOS"},
        {'l', 2, "LivelinessQosPolicy=MANUAL_BY_TOPIC_LIVELINESS_QOS"},
        {'l', 3, "LivelinessQosPolicy=UNKNOWN_LIVELINESS_QOS"},
        {'r', 0, "ReliabilityQosPolicy=UNKNOWN_RELIABILITY_QOS"},
        {'r', 1, "ReliabilityQosPolicy=BEST_EFFORT_RELIABILITY_QOS"},
        {'r', 2, "ReliabilityQosPolicy=RELIABLE_RELIABILITY_QOS"},
        {'r', 3, "ReliabilityQosPolicy=UNKNOWN_RELIABILITY_QOS"},
    };
    for (Case const& c : cases) EXPECT_EQ(element(c.policy, c.kind), c.expected);
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
