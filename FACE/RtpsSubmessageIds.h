// Submessage ids of RTPS 2.5 and DDS Security 1.1, and eProsima's
// statistics submessage (a vendor id, 0x80).
#ifndef FACE_RTPSSUBMESSAGEIDS_H
#define FACE_RTPSSUBMESSAGEIDS_H

#include <cstdint>

namespace FACE {
namespace TSS {
namespace Rtps {

enum SubmessageId : std::uint8_t {
    kPad = 0x01,
    kAckNack = 0x06,
    kHeartbeat = 0x07,
    kGap = 0x08,
    kInfoTs = 0x09,
    kInfoSrc = 0x0c,
    kInfoReplyIp4 = 0x0d,
    kInfoDst = 0x0e,
    kInfoReply = 0x0f,
    kNackFrag = 0x12,
    kHeartbeatFrag = 0x13,
    kData = 0x15,
    kDataFrag = 0x16,
    kSecBody = 0x30,
    kSecPrefix = 0x31,
    kSecPostfix = 0x32,
    kSrtpsPrefix = 0x33,
    kSrtpsPostfix = 0x34,
    kStatistics = 0x80,
};

}  // namespace Rtps
}  // namespace TSS
}  // namespace FACE

#endif
