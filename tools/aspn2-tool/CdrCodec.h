#ifndef TOOLS_ASPN2_TOOL_CDRCODEC_H
#define TOOLS_ASPN2_TOOL_CDRCODEC_H

// A message's CDR bytes (as the transport puts them on the wire, with the
// 4-byte encapsulation header) through its generated type support, and
// back. The topics a recording may hold and their types.

#include "aspn2_msgs/CommandResponsePubSubTypes.h"
#include "aspn2_msgs/PositionVelocityAttitudePubSubTypes.h"
#include "aspn2_msgs/UTCTimePubSubTypes.h"

#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace aspn2_tool {

/// The type support of each message type a recording carries.
template <typename T>
struct CdrType;
template <>
struct CdrType<aspn2_msgs::idl::PositionVelocityAttitude> {
    using Support = aspn2_msgs::idl::PositionVelocityAttitudePubSubType;
};
template <>
struct CdrType<aspn2_msgs::idl::UTCTime> {
    using Support = aspn2_msgs::idl::UTCTimePubSubType;
};
template <>
struct CdrType<aspn2_msgs::idl::CommandResponse> {
    using Support = aspn2_msgs::idl::CommandResponsePubSubType;
};

/// The CDR bytes of `message`; empty when the type support refuses it.
template <typename T>
std::vector<std::uint8_t> toCdr(T const& message) {
    typename CdrType<T>::Support support;
    T copy = message;  // the type support takes a non-const pointer
    eprosima::fastrtps::rtps::SerializedPayload_t payload(support.getSerializedSizeProvider(&copy)());
    if (!support.serialize(&copy, &payload)) return {};
    return std::vector<std::uint8_t>(payload.data, payload.data + payload.length);
}

/// Reads `bytes` into `message`; false when they are not a valid
/// serialisation of T (too short, a sequence longer than the bytes, ...).
template <typename T>
bool fromCdr(std::vector<std::uint8_t> const& bytes, T& message) {
    if (bytes.size() < 4) return false;
    typename CdrType<T>::Support support;
    eprosima::fastrtps::rtps::SerializedPayload_t payload(static_cast<std::uint32_t>(bytes.size()));
    std::memcpy(payload.data, bytes.data(), bytes.size());
    payload.length = static_cast<std::uint32_t>(bytes.size());
    try {
        return support.deserialize(&payload, &message);
    } catch (...) {
        return false;  // the CDR reader throws on bytes that end too early
    }
}

/// Connections a recording may hold, by name, in the default order.
constexpr char kPvaTopic[] = "PositionVelocityAttitude";
constexpr char kUtcTopic[] = "UTCTime";
constexpr char kCommandTopic[] = "Command";

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_CDRCODEC_H
