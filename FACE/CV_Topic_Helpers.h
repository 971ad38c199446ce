#pragma once

// Topic type registry: turns the name of a message type support, as a
// connection names it, into a new type support object.

#include <string>

#include <fastdds/dds/topic/TopicDataType.hpp>

namespace FACE {
namespace TSS {
namespace Topics {

// Returns a new type support object of the class aspn2_msgs::idl::<name>
// for the 32 message type supports, from "AltitudePubSubType" to
// "ForwardReverseStatusPubSubType" (for example "UTCTimePubSubType"). The
// match is exact and case-sensitive; any other name, including those of
// the element types' supports (such as "lru_comp_setPubSubType"), gives
// null. The caller owns the object. Throws std::bad_alloc only.
eprosima::fastdds::dds::TopicDataType* GetPubSubType(std::string const& name);

}  // namespace Topics
}  // namespace TSS
}  // namespace FACE
