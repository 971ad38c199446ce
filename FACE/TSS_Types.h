#ifndef FACE_TSS_TYPES_H
#define FACE_TSS_TYPES_H

// Value types of the Transport Services interfaces: the header and the QoS
// list that come with every received message, and the receive callback.

#include "FACE/FACE_Common.h"

#include <functional>

namespace FACE {
namespace TSS {

/// What the transport knows about one received message.
struct HEADER_TYPE {
    /// Uid of the DDS writer that sent the message: its entity id read as a
    /// big-endian 32-bit number (see Listeners::GuidToUid); 0..2^32-1.
    long long sender_id = 0;
    /// Uid of the DDS reader that received it, formed the same way.
    long long receiver_id = 0;
    /// The writer's source time stamp of the message, in nanoseconds since
    /// the Unix epoch.
    long long source_time = 0;
};

/// One QoS policy of the receiving reader: policy name and the name of its
/// kind, e.g. ("ReliabilityQosPolicy", "RELIABLE_RELIABILITY_QOS").
struct QoS_Element {
    FACE::String name;
    FACE::String value;
};

/// Receive callback of a typed transport. Arguments, in order: connection
/// id, transaction id (the DDS sequence number of the sample, 1 for a
/// writer's first sample), the message, its header, the reader's QoS list
/// (durability, liveliness, reliability) and a return code that the
/// transport initialises to NO_ERROR and does not look at afterwards.
/// Runs on a transport reception thread while the reader is locked: keep
/// it short (copy under a lock of your own and return).
template <typename T>
using Read_Callback = std::function<void(long long, long long, T const&, HEADER_TYPE const&,
                                         FACE::Sequence<QoS_Element> const&, FACE::RETURN_CODE_TYPE::Value&)>;

}  // namespace TSS
}  // namespace FACE

#endif  // FACE_TSS_TYPES_H
