#include "ASPN/AspnCmdResponse.h"

#include "ASPN/AspnHelper.h"
#include "ASPN/CmdResponseStrings.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

using aspn2_msgs::idl::CommandResponse;
using ASPN2::CmdResponse;
using ASPN2::ResponseType;

// A command as another server (system 1, server 7) would send it.
CommandResponse commandFrom(const std::string& text, std::int32_t identifier = 17)
{
    CommandResponse command;
    command.header().device_id(0x01070200);
    command.command_identifier(identifier);
    command.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND);
    command.command_response(text);
    return command;
}

ASPN2::DeviceIdFactory thisServer()
{
    return ASPN2::DeviceIdFactory("no such system", 45);
}

TEST(CmdResponse, ResponseTextsFromTheCommandsFirstWord)
{
    struct Case {
        const char* command;
        bool pass;
        bool ackForm;
        const char* expected;
    } const cases[] = {
        {"BITSERVER_PING,x,y", true, false, "BITSERVER_PING_PASS"},
        {"BITSERVER_PING,x,y", false, false, "BITSERVER_PING_FAIL"},
        {"SET_BLACKOUT_ENABLED", true, true, "SET_BLACKOUT_ENABLED_ACK"},
        {"SET_BLACKOUT_ENABLED,1", false, true, "SET_BLACKOUT_ENABLED_NACK"},
        {"", true, false, "_PASS"},
        {"", false, true, "_NACK"},
        {",lead", true, false, "_PASS"},
    };
    CmdResponse builder(thisServer());
    for (const Case& c : cases) {
        const CommandResponse command = commandFrom(c.command);
        const CommandResponse response =
            c.ackForm ? builder.makeResponseAck(command, c.pass) : builder.makeResponse(command, c.pass);
        EXPECT_EQ(response.command_response(), c.expected) << "command '" << c.command << "'";
    }
}

TEST(CmdResponse, ResponseAddressesTheCommand)
{
    CmdResponse builder(thisServer());
    const CommandResponse command = commandFrom(Sys::CommandString::BitServerPing, 4242);
    const CommandResponse response = builder.makeResponse(command, "ZOziDaZodOduzuz");

    EXPECT_EQ(response.header().device_id(), 0x2D0200);
    EXPECT_EQ(response.commanded_device_id(), 0x01070200);
    EXPECT_EQ(response.command_identifier(), 4242);
    EXPECT_EQ(response.command_response_type(), aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
    EXPECT_EQ(response.command_response(), "ZOziDaZodOduzuz");
}

TEST(CmdResponse, HeaderTimesComeFromTheFpgaCounter)
{
    // The FPGA is not opened in this test program, so its counter reads 0:
    // 0 ticks are -8 ns.
    ASPN2::TimeCodeHelper::Instance().setSimMode();
    CmdResponse builder(thisServer());
    const CommandResponse response = builder.makeResponse(commandFrom("X"), true);
    ASPN2::TimeCodeHelper::Instance().setLiveMode();

    for (const auto* stamp : {&response.header().timestamp_valid(), &response.header().timestamp_arrival()}) {
        EXPECT_EQ(stamp->sec(), 0);
        EXPECT_EQ(stamp->nsec(), -8);
        EXPECT_EQ(stamp->time_code(), 101);
    }

    const CommandResponse command = builder.makeCommand(58'982'400u, "QUERY_VERSIONING");
    EXPECT_EQ(command.header().timestamp_valid().nsec(), -8);
    EXPECT_EQ(command.header().timestamp_arrival().sec(), 0);
    EXPECT_EQ(command.header().timestamp_arrival().nsec(), 999'999'992);
}

TEST(CmdResponse, CommandsAndResponsesAreCountedSeparately)
{
    CmdResponse builder(thisServer());
    const CommandResponse command = commandFrom("X");

    EXPECT_EQ(builder.makeResponse(command, true).header().seq_num(), 0);
    const CommandResponse first = builder.makeCommand("REQUEST_CBIT");
    EXPECT_EQ(builder.makeResponse(command, true).header().seq_num(), 1);
    const CommandResponse second = builder.makeCommand("REQUEST_CBIT");

    EXPECT_EQ(first.header().seq_num(), 0);
    EXPECT_EQ(second.header().seq_num(), 1);
    EXPECT_EQ(first.command_identifier(), 0);
    EXPECT_EQ(second.command_identifier(), 1);
    EXPECT_EQ(first.commanded_device_id(), 0);
    EXPECT_EQ(first.command_response_type(), aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND);

    // A reset takes the new device id and keeps counting.
    builder.reset(ASPN2::DeviceIdFactory(static_cast<unsigned char>(3), 45));
    const CommandResponse third = builder.makeCommand("REQUEST_CBIT");
    EXPECT_EQ(third.header().device_id(), 0x032D0200);
    EXPECT_EQ(third.header().seq_num(), 2);
}

TEST(CmdResponse, SetTopicIdReplacesTheLowByteOnly)
{
    CmdResponse builder(thisServer());
    CommandResponse message = builder.makeCommand("X");
    CmdResponse::setTopicId(message, 0xA5);
    EXPECT_EQ(message.header().device_id(), 0x2D02A5);
    CmdResponse::setTopicId(message, 0x01);
    EXPECT_EQ(message.header().device_id(), 0x2D0201);
}

TEST(CmdResponse, ConcurrentResponsesGetDistinctSequenceNumbers)
{
    CmdResponse builder(thisServer());
    const CommandResponse command = commandFrom("BITSERVER_PING");
    constexpr int kPerThread = 10'000;
    std::vector<long long> seen[2];
    std::vector<std::thread> threads;
    for (auto& out : seen) {
        threads.emplace_back([&builder, &command, &out] {
            out.reserve(kPerThread);
            for (int i = 0; i < kPerThread; ++i) {
                out.push_back(builder.makeResponse(command, true).header().seq_num());
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<long long> all(seen[0].begin(), seen[0].end());
    all.insert(seen[1].begin(), seen[1].end());
    EXPECT_EQ(all.size(), 2u * kPerThread);
    EXPECT_EQ(*all.begin(), 0);
    EXPECT_EQ(*all.rbegin(), 2 * kPerThread - 1);
}

TEST(ResponseType, FirstSuffixFoundDecides)
{
    struct Case {
        const char* text;
        ResponseType::eResponseType expected;
    } const cases[] = {
        {"SET_BLACKOUT_ENABLED_NACK", ResponseType::Nack},
        {"SET_BLACKOUT_ENABLED_ACK", ResponseType::Ack},
        {"BITSERVER_PING_PASS", ResponseType::Pass},
        {"BITSERVER_PING_FAIL", ResponseType::Fail},
        {"START_ZEROIZE", ResponseType::None},
        {"", ResponseType::None},
        {"X_FAIL_ACK", ResponseType::Ack},   // "_ACK" is looked for first
        {"X_PASS,Y_NACK", ResponseType::Nack},
        {"_pass", ResponseType::None},       // case matters
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResponseType::GetResponseType(commandFrom(c.text)), c.expected) << c.text;
    }
}

}  // namespace
