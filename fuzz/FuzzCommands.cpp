// Command texts as the server's command callback takes them: the command
// table, the logged description of output-changing commands, the response
// texts (pass/fail, ack/nack, the server's name) and their classification,
// and the response as the transport would encode and a receiver decode it.
//
// Input: byte 0 bit 0 = message type (1 command, 0 response), bytes 1..4 the
// command identifier, bytes 5..8 the sender's device id (little-endian),
// the rest the text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fastdds/rtps/common/SerializedPayload.h>

#include "ASPN/AspnCmdResponse.h"
#include "VICTORY/ZOziDaZodOduzuz/CommandTable.h"
#include "aspn2_msgs/CommandResponsePubSubTypes.h"

namespace {

std::int32_t readInt32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    std::int32_t out;
    std::memcpy(&out, &v, sizeof out);
    return out;
}

[[noreturn]] void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "%s: \"%s\"\n", what, text.c_str());
    std::abort();
}

// A response as a receiver sees it after the transport: encoded, decoded.
void checkTransported(const aspn2_msgs::idl::CommandResponse& response) {
    static aspn2_msgs::idl::CommandResponsePubSubType type;
    aspn2_msgs::idl::CommandResponse copy = response;
    eprosima::fastrtps::rtps::SerializedPayload_t payload(type.getSerializedSizeProvider(&copy)());
    if (!type.serialize(&copy, &payload)) {
        fail("a response does not encode", response.command_response());
    }
    aspn2_msgs::idl::CommandResponse received;
    if (!type.deserialize(&payload, &received) || received.command_response() != response.command_response() ||
        received.command_identifier() != response.command_identifier()) {
        fail("a response does not arrive as sent", response.command_response());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) {
        return 0;
    }
    static ASPN2::CmdResponse builder;
    const std::string text(reinterpret_cast<const char*>(data + 9), size - 9);

    aspn2_msgs::idl::CommandResponse command = builder.makeCommand(text);
    const bool isCommand = (data[0] & 1) != 0;
    command.command_response_type(isCommand ? aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND
                                            : aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
    command.command_identifier(readInt32(data + 1));
    command.header().device_id(readInt32(data + 5));

    const CommandTable::Action action = CommandTable::recognize(isCommand, command.command_response());
    const std::string description = CommandTable::describeCommand(
        command.command_response(), command.command_identifier(), command.header().device_id());
    for (const char c : description) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            fail("a command description holds a control character", description);
        }
    }
    (void)CommandTable::changesOutput(action);
    (void)ASPN2::ResponseType::GetResponseType(command);

    for (int form = 0; form < 5; ++form) {
        aspn2_msgs::idl::CommandResponse response;
        switch (form) {
            case 0:
                response = builder.makeResponse(command, true);
                break;
            case 1:
                response = builder.makeResponse(command, false);
                break;
            case 2:
                response = builder.makeResponseAck(command, true);
                break;
            case 3:
                response = builder.makeResponseAck(command, false);
                break;
            default:
                response = builder.makeResponse(command, "ZOziDaZodOduzuz");
                break;
        }
        static const ASPN2::ResponseType::eResponseType expected[] = {
            ASPN2::ResponseType::Pass, ASPN2::ResponseType::Fail, ASPN2::ResponseType::Ack, ASPN2::ResponseType::Nack,
            ASPN2::ResponseType::None};
        // The suffix the builder appends must be the one a receiver finds,
        // whatever the command's first word holds.
        if (form < 4 && ASPN2::ResponseType::GetResponseType(response) != expected[form] &&
            command.command_response().find_first_of('_') == std::string::npos) {
            fail("a response is classified other than it was built", response.command_response());
        }
        if (response.command_identifier() != command.command_identifier()) {
            fail("a response carries another identifier", response.command_response());
        }
        checkTransported(response);
    }
    return 0;
}
