#include "ASPN/AspnCmdResponse.h"

#include "ASPN/AspnHelper.h"
#include "ASPN/CmdResponseStrings.h"
#include "platform/FPGA.h"
#include "utilities/StringUtils.h"

namespace ASPN2 {

namespace {

using aspn2_msgs::idl::CommandResponse;

// A message carrying the sender's device id, the given sequence number and
// both header time stamps from the FPGA system counter now.
CommandResponse stampedMessage(std::int32_t deviceId, std::uint64_t seqNum) {
    CommandResponse message;
    message.header().device_id(deviceId);
    message.header().seq_num(static_cast<long long>(seqNum));
    setToVandToA_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount(), message.header());
    return message;
}

// The text up to its first comma. A NUL ends it too: the transport encodes
// a string only up to its first NUL, which would drop the suffix that is
// appended to the word.
std::string firstWord(const std::string& text) {
    const std::vector<std::string> words = StringUtils::split(text.substr(0, text.find('\0')), ',');
    return words.empty() ? std::string() : words.front();
}

}  // namespace

CmdResponse::CmdResponse(const DeviceIdFactory& ids) { reset(ids); }

void CmdResponse::reset(const DeviceIdFactory& ids) {
    deviceId = static_cast<std::int32_t>(ids.makeDeviceId(kCommandResponseKind, 0));
}

CommandResponse CmdResponse::makeCommand(const std::string& text) {
    CommandResponse command = stampedMessage(deviceId.load(), commandSeqNum.fetch_add(1));
    command.commanded_device_id(0);
    command.command_identifier(static_cast<std::int32_t>(commandIdentifier.fetch_add(1)));
    command.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND);
    command.command_response(text);
    return command;
}

CommandResponse CmdResponse::makeCommand(std::uint64_t arrivalTicks, const std::string& text) {
    CommandResponse command = makeCommand(text);
    setToA_fromFpgaTicks(arrivalTicks, command.header());
    return command;
}

CommandResponse CmdResponse::makeResponse(const CommandResponse& command, const std::string& text) {
    CommandResponse response = stampedMessage(deviceId.load(), responseSeqNum.fetch_add(1));
    response.commanded_device_id(command.header().device_id());
    response.command_identifier(command.command_identifier());
    response.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
    response.command_response(text);
    return response;
}

CommandResponse CmdResponse::makeResponse(const CommandResponse& command, bool pass) {
    return makeResponse(command, firstWord(command.command_response()) +
                                     (pass ? Sys::ResponseString::Pass : Sys::ResponseString::Fail));
}

CommandResponse CmdResponse::makeResponseAck(const CommandResponse& command, bool ack) {
    return makeResponse(
        command, firstWord(command.command_response()) + (ack ? Sys::ResponseString::Ack : Sys::ResponseString::Nack));
}

void CmdResponse::setTopicId(CommandResponse& message, unsigned char topic) {
    const auto id = static_cast<std::uint32_t>(message.header().device_id());
    message.header().device_id(static_cast<std::int32_t>((id & ~0xFFu) | topic));
}

ResponseType::eResponseType ResponseType::GetResponseType(const CommandResponse& message) {
    static constexpr struct {
        const char* suffix;
        eResponseType type;
    } kOrder[] = {
        {Sys::ResponseString::Ack, Ack},
        {Sys::ResponseString::Nack, Nack},
        {Sys::ResponseString::Pass, Pass},
        {Sys::ResponseString::Fail, Fail},
    };
    const std::string& text = message.command_response();
    for (const auto& entry : kOrder) {
        if (text.find(entry.suffix) != std::string::npos) {
            return entry.type;
        }
    }
    return None;
}

}  // namespace ASPN2
