#pragma once

#include "ASPN/AspnDeviceIds.h"
#include "aspn2_msgs/CommandResponse.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace ASPN2 {

// Builds the CommandResponse messages a server sends: commands and the
// responses to commands it received.
//
// Every message gets this server's CommandResponse device id (kind 2, topic
// 0), the next sequence number of its own series (commands and responses
// are counted separately, each from 0) and both header time stamps from the
// FPGA system counter at the moment of building (FpgaFace; before the FPGA
// is opened the counter reads 0). The counters are atomic: several threads
// may build messages at once and every message gets its own number.
class CmdResponse {
public:
    // Device id 0, all counters 0.
    CmdResponse() = default;
    // Device id ids.makeDeviceId(2, 0), all counters 0.
    explicit CmdResponse(const DeviceIdFactory& ids);

    CmdResponse(const CmdResponse&) = delete;
    CmdResponse& operator=(const CmdResponse&) = delete;

    // Takes the device id from `ids` (kind 2, topic 0); the counters keep
    // their values.
    void reset(const DeviceIdFactory& ids);

    // A new command: `commanded_device_id` 0, the next command identifier,
    // type 0 (command), `command_response` = text.
    aspn2_msgs::idl::CommandResponse makeCommand(const std::string& text);
    // The same, then the time of arrival is set from `arrivalTicks` (FPGA
    // ticks at 58,982,400 per second).
    aspn2_msgs::idl::CommandResponse makeCommand(std::uint64_t arrivalTicks, const std::string& text);

    // A response to `command`: `commanded_device_id` = the command header's
    // device id, the command's `command_identifier`, type 1 (response),
    // `command_response` = text.
    aspn2_msgs::idl::CommandResponse makeResponse(const aspn2_msgs::idl::CommandResponse& command,
                                                  const std::string& text);
    // The same for a character string. Without it a string literal would
    // convert to bool and pick the pass/fail form below.
    aspn2_msgs::idl::CommandResponse makeResponse(const aspn2_msgs::idl::CommandResponse& command, const char* text) {
        return makeResponse(command, std::string(text ? text : ""));
    }
    // A response whose text is the command's first comma-separated word
    // (ended also by a NUL; empty when the command text is empty) followed
    // by "_PASS" or "_FAIL".
    aspn2_msgs::idl::CommandResponse makeResponse(const aspn2_msgs::idl::CommandResponse& command, bool pass);
    // As above with "_ACK" or "_NACK".
    aspn2_msgs::idl::CommandResponse makeResponseAck(const aspn2_msgs::idl::CommandResponse& command, bool ack);

    // Replaces bits 0..7 of the message header's device id with `topic`.
    static void setTopicId(aspn2_msgs::idl::CommandResponse& message, unsigned char topic);

private:
    std::atomic<std::int32_t> deviceId{0};
    std::atomic<std::uint64_t> commandSeqNum{0};
    std::atomic<std::uint64_t> responseSeqNum{0};
    std::atomic<std::uint32_t> commandIdentifier{0};
};

// Classifies a response text.
struct ResponseType {
    enum eResponseType : int { None = 0, Ack = 1, Nack = 2, Pass = 3, Fail = 4 };

    // Searches the `command_response` text for "_ACK", "_NACK", "_PASS" and
    // "_FAIL", in this order; the first one found anywhere in the text
    // decides. None when no suffix occurs.
    static eResponseType GetResponseType(const aspn2_msgs::idl::CommandResponse& message);
};

}  // namespace ASPN2
