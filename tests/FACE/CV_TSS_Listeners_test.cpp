// The pieces of a received sample's FACE view: uids, QoS elements, and the
// counting of matched endpoints.

#include "FACE/CV_TSS_Listeners.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace FACE::TSS;
using eprosima::fastrtps::rtps::GUID_t;

TEST(TssListeners, UidIsTheEntityIdBigEndian) {
    std::pair<std::array<std::uint8_t, 4>, long long> const cases[] = {
        {{0x00, 0x00, 0x01, 0x07}, 263}, {{0x12, 0x34, 0x56, 0x78}, 0x12345678}, {{0xFF, 0xFF, 0xFF, 0xFF}, 4294967295LL}};
    for (auto const& [entity, uid] : cases) {
        GUID_t guid;
        for (auto& b : guid.guidPrefix.value) b = 0xAB;  // the prefix plays no part
        std::copy(entity.begin(), entity.end(), guid.entityId.value);
        EXPECT_EQ(Listeners::GuidToUid(guid), uid);
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
        return std::string(e.name.buffer()) + "=" + e.value.buffer();
    };
    std::tuple<char, int, char const*> const cases[] = {
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
    for (auto const& [policy, kind, expected] : cases) EXPECT_EQ(element(policy, kind), expected);
}

TEST(TssListeners, MatchedCountFollowsMatchesAndRemovals) {
    using eprosima::fastrtps::rtps::MatchingInfo;
    Listeners::PublisherListenerBase publisher("P");
    Listeners::SubscriberListenerBase subscriber("S");
    MatchingInfo matched(eprosima::fastrtps::rtps::MATCHED_MATCHING, GUID_t());
    MatchingInfo removed(eprosima::fastrtps::rtps::REMOVED_MATCHING, GUID_t());
    for (MatchingInfo* info : {&matched, &matched, &removed}) {
        publisher.onPublicationMatched(nullptr, *info);
        subscriber.onSubscriptionMatched(nullptr, *info);
    }
    EXPECT_EQ(publisher.matchedCount(), 1);
    EXPECT_EQ(subscriber.matchedCount(), 1);
}

}  // namespace
