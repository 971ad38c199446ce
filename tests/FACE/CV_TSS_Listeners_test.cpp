// The pieces of a received sample's FACE view: uids and QoS elements.

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
    auto text = [](QoS_Element const& e) { return std::string(e.name.buffer()) + "=" + e.value.buffer(); };
    std::string const durability[] = {"VOLATILE", "TRANSIENT_LOCAL", "TRANSIENT", "PERSISTENT", "UNKNOWN"};
    std::string const liveliness[] = {"AUTOMATIC", "MANUAL_BY_PARTICIPANT", "MANUAL_BY_TOPIC", "UNKNOWN"};
    std::string const reliability[] = {"UNKNOWN", "BEST_EFFORT", "RELIABLE", "UNKNOWN"};
    for (int kind = 0; kind < 5; ++kind) {
        DurabilityQosPolicy d;
        LivelinessQosPolicy l;
        ReliabilityQosPolicy r;
        d.kind = static_cast<DurabilityQosPolicyKind>(kind);
        l.kind = static_cast<LivelinessQosPolicyKind>(kind);
        r.kind = static_cast<ReliabilityQosPolicyKind>(kind);
        EXPECT_EQ(text(Listeners::DurabilityQosPolicyToElement(d)), "DurabilityQosPolicy=" + durability[kind] + "_DURABILITY_QOS");
        if (kind > 3) continue;
        EXPECT_EQ(text(Listeners::LivelinessQosPolicyToElement(l)), "LivelinessQosPolicy=" + liveliness[kind] + "_LIVELINESS_QOS");
        EXPECT_EQ(text(Listeners::ReliabilityQosPolicyToElement(r)), "ReliabilityQosPolicy=" + reliability[kind] + "_RELIABILITY_QOS");
    }
}

}  // namespace
