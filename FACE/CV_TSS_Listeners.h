#ifndef FACE_CV_TSS_LISTENERS_H
#define FACE_CV_TSS_LISTENERS_H

// DDS listeners of the transport: the publisher and subscriber listeners
// that count matched remote endpoints, the typed subscriber listener that
// hands every received sample with its FACE header and QoS list to a
// Read_Callback, and the helpers that build those.
//
// All listener operations run on the transport's reception threads. The
// typed listener calls the callback synchronously there, while the reader
// is locked, so a slow callback delays every reader of the participant.

#include "FACE/FACE_Common.h"
#include "FACE/TSS_Types.h"

#include <fastdds/dds/core/policy/QosPolicies.hpp>
#include <fastdds/rtps/common/Guid.h>
#include <fastdds/rtps/common/MatchingInfo.h>
#include <fastrtps/attributes/SubscriberAttributes.h>
#include <fastrtps/publisher/PublisherListener.h>
#include <fastrtps/subscriber/SampleInfo.h>
#include <fastrtps/subscriber/Subscriber.h>
#include <fastrtps/subscriber/SubscriberListener.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>

namespace FACE {
namespace TSS {
namespace Listeners {

/// The entity id of `guid` (its last four bytes) read as a big-endian
/// unsigned 32-bit number; the participant prefix plays no part. Entity id
/// 00 00 01 07 gives 263. Range 0..4294967295.
long long GuidToUid(eprosima::fastrtps::rtps::GUID_t const& guid);

/// ("DurabilityQosPolicy", "VOLATILE_DURABILITY_QOS" | "TRANSIENT_LOCAL_DURABILITY_QOS" |
/// "TRANSIENT_DURABILITY_QOS" | "PERSISTENT_DURABILITY_QOS" | "UNKNOWN_DURABILITY_QOS"),
/// both managed copies.
QoS_Element DurabilityQosPolicyToElement(eprosima::fastdds::dds::DurabilityQosPolicy const& policy);

/// ("LivelinessQosPolicy", "AUTOMATIC_LIVELINESS_QOS" | "MANUAL_BY_PARTICIPANT_LIVELINESS_QOS" |
/// "MANUAL_BY_TOPIC_LIVELINESS_QOS" | "UNKNOWN_LIVELINESS_QOS"), both managed copies.
QoS_Element LivelinessQosPolicyToElement(eprosima::fastdds::dds::LivelinessQosPolicy const& policy);

/// ("ReliabilityQosPolicy", "BEST_EFFORT_RELIABILITY_QOS" | "RELIABLE_RELIABILITY_QOS" |
/// "UNKNOWN_RELIABILITY_QOS"), both managed copies.
QoS_Element ReliabilityQosPolicyToElement(eprosima::fastdds::dds::ReliabilityQosPolicy const& policy);

/// The QoS list handed to a receive callback: durability, liveliness and
/// reliability of `qos`, in this order, in a default (managed, unbounded)
/// sequence.
FACE::Sequence<QoS_Element> ReaderQosToElements(eprosima::fastrtps::ReaderQos const& qos);

/// The participant name (for messages) and the count of matched remote
/// endpoints that both listener bases keep.
class MatchCounter {
public:
    std::string const& name() const { return m_name; }
    /// Currently matched remote endpoints (may be read from any thread).
    std::int32_t matchedCount() const { return m_matched.load(); }

protected:
    explicit MatchCounter(std::string name);
    /// +1 for a new match, -1 for a removed one.
    void count(eprosima::fastrtps::rtps::MatchingInfo const& info);

private:
    std::string m_name;
    std::atomic<std::int32_t> m_matched;
};

/// Counts the subscribers matched with one publisher.
class PublisherListenerBase : public eprosima::fastrtps::PublisherListener, public MatchCounter {
public:
    /// `name`: the participant name, for messages.
    explicit PublisherListenerBase(std::string name);
    ~PublisherListenerBase() override;

    void onPublicationMatched(eprosima::fastrtps::Publisher* publisher,
                              eprosima::fastrtps::rtps::MatchingInfo& info) override;
};

/// Counts the publishers matched with one subscriber.
class SubscriberListenerBase : public eprosima::fastrtps::SubscriberListener, public MatchCounter {
public:
    /// `name`: the participant name, for messages.
    explicit SubscriberListenerBase(std::string name);
    ~SubscriberListenerBase() override;

    void onSubscriptionMatched(eprosima::fastrtps::Subscriber* subscriber,
                               eprosima::fastrtps::rtps::MatchingInfo& info) override;
};

/// Hands each sample of type T arriving at its subscriber to a callback.
template <typename T>
class SubscriberListenerTyped : public SubscriberListenerBase {
public:
    /// `name`: participant name; `connection_id`: passed to every callback
    /// call; `callback`: called once per received sample, must not be empty.
    SubscriberListenerTyped(std::string name, long long connection_id, Read_Callback<T> callback)
        : SubscriberListenerBase(std::move(name)), m_connectionId(connection_id), m_callback(std::move(callback)) {}

    /// Takes every sample waiting in the subscriber (normally the one that
    /// caused the call) and calls the callback for each live one with its
    /// header, the reader's QoS list and its transaction id (the DDS
    /// sequence number). Disposal notices and samples that cannot be taken
    /// are skipped. An exception from the callback is reported on standard
    /// error and goes no further: this runs on a reception thread.
    void onNewDataMessage(eprosima::fastrtps::Subscriber* subscriber) override {
        T sample;
        eprosima::fastrtps::SampleInfo_t info;
        while (subscriber->takeNextData(&sample, &info)) {
            if (info.sampleKind != eprosima::fastrtps::rtps::ALIVE) {
                continue;
            }
            HEADER_TYPE header;
            header.sender_id = GuidToUid(info.sample_identity.writer_guid());
            header.receiver_id = GuidToUid(subscriber->getGuid());
            header.source_time = info.sourceTimestamp.to_ns();
            FACE::Sequence<QoS_Element> const qos = ReaderQosToElements(subscriber->getAttributes().qos);
            eprosima::fastrtps::rtps::SequenceNumber_t const& sn = info.sample_identity.sequence_number();
            long long const transaction_id = static_cast<long long>(
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(sn.high)) << 32) + sn.low);
            FACE::RETURN_CODE_TYPE::Value return_code = FACE::RETURN_CODE_TYPE::NO_ERROR;
            try {
                m_callback(m_connectionId, transaction_id, sample, header, qos, return_code);
            } catch (std::exception const& e) {
                std::cerr << "CV_TSS_Listeners: callback of connection " << m_connectionId << " threw: " << e.what()
                          << std::endl;
            } catch (...) {
                std::cerr << "CV_TSS_Listeners: callback of connection " << m_connectionId
                          << " threw an unknown exception" << std::endl;
            }
        }
    }

    long long connectionId() const { return m_connectionId; }

private:
    long long m_connectionId;
    Read_Callback<T> m_callback;
};

}  // namespace Listeners
}  // namespace TSS
}  // namespace FACE

#endif  // FACE_CV_TSS_LISTENERS_H
