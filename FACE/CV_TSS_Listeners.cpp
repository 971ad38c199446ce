#include "FACE/CV_TSS_Listeners.h"

#include <utility>

namespace FACE {
namespace TSS {
namespace Listeners {

namespace {

// A managed copy of `text`: the QoS list outlives every literal view.
FACE::String managed(char const* text) {
    FACE::String::RETURN_CODE rc = FACE::String::NO_ERROR;
    return FACE::String(text, rc);
}

QoS_Element element(char const* name, char const* value) {
    QoS_Element e;
    e.name = managed(name);
    e.value = managed(value);
    return e;
}

}  // namespace

long long GuidToUid(eprosima::fastrtps::rtps::GUID_t const& guid) {
    eprosima::fastrtps::rtps::octet const* id = guid.entityId.value;
    std::uint32_t const uid = (static_cast<std::uint32_t>(id[0]) << 24) | (static_cast<std::uint32_t>(id[1]) << 16) |
                              (static_cast<std::uint32_t>(id[2]) << 8) | static_cast<std::uint32_t>(id[3]);
    return static_cast<long long>(uid);
}

QoS_Element DurabilityQosPolicyToElement(eprosima::fastdds::dds::DurabilityQosPolicy const& policy) {
    char const* value = "UNKNOWN_DURABILITY_QOS";
    switch (static_cast<int>(policy.kind)) {
        case 0:
            value = "VOLATILE_DURABILITY_QOS";
            break;
        case 1:
            value = "TRANSIENT_LOCAL_DURABILITY_QOS";
            break;
        case 2:
            value = "TRANSIENT_DURABILITY_QOS";
            break;
        case 3:
            value = "PERSISTENT_DURABILITY_QOS";
            break;
        default:
            break;
    }
    return element("DurabilityQosPolicy", value);
}

QoS_Element LivelinessQosPolicyToElement(eprosima::fastdds::dds::LivelinessQosPolicy const& policy) {
    char const* value = "UNKNOWN_LIVELINESS_QOS";
    switch (static_cast<int>(policy.kind)) {
        case 0:
            value = "AUTOMATIC_LIVELINESS_QOS";
            break;
        case 1:
            value = "MANUAL_BY_PARTICIPANT_LIVELINESS_QOS";
            break;
        case 2:
            value = "MANUAL_BY_TOPIC_LIVELINESS_QOS";
            break;
        default:
            break;
    }
    return element("LivelinessQosPolicy", value);
}

QoS_Element ReliabilityQosPolicyToElement(eprosima::fastdds::dds::ReliabilityQosPolicy const& policy) {
    char const* value = "UNKNOWN_RELIABILITY_QOS";
    switch (static_cast<int>(policy.kind)) {
        case 1:
            value = "BEST_EFFORT_RELIABILITY_QOS";
            break;
        case 2:
            value = "RELIABLE_RELIABILITY_QOS";
            break;
        default:
            break;
    }
    return element("ReliabilityQosPolicy", value);
}

FACE::Sequence<QoS_Element> ReaderQosToElements(eprosima::fastrtps::ReaderQos const& qos) {
    FACE::Sequence<QoS_Element> list;
    list.append(DurabilityQosPolicyToElement(qos.m_durability));
    list.append(LivelinessQosPolicyToElement(qos.m_liveliness));
    list.append(ReliabilityQosPolicyToElement(qos.m_reliability));
    return list;
}

MatchCounter::MatchCounter(std::string name) : m_name(std::move(name)), m_matched(0) {}

void MatchCounter::count(eprosima::fastrtps::rtps::MatchingInfo const& info) {
    if (info.status == eprosima::fastrtps::rtps::MATCHED_MATCHING) {
        ++m_matched;
    } else {
        --m_matched;
    }
}

PublisherListenerBase::PublisherListenerBase(std::string name) : MatchCounter(std::move(name)) {}

PublisherListenerBase::~PublisherListenerBase() = default;

void PublisherListenerBase::onPublicationMatched(eprosima::fastrtps::Publisher* /*publisher*/,
                                                 eprosima::fastrtps::rtps::MatchingInfo& info) {
    count(info);
}

SubscriberListenerBase::SubscriberListenerBase(std::string name) : MatchCounter(std::move(name)) {}

SubscriberListenerBase::~SubscriberListenerBase() = default;

void SubscriberListenerBase::onSubscriptionMatched(eprosima::fastrtps::Subscriber* /*subscriber*/,
                                                   eprosima::fastrtps::rtps::MatchingInfo& info) {
    count(info);
}

}  // namespace Listeners
}  // namespace TSS
}  // namespace FACE
