#include "ASPN/AspnCmdResponse.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

using ASPN2::CmdResponse;
using ASPN2::ResponseType;
using aspn2_msgs::idl::CommandResponse;

// A command as another server (system 1, server 7) would send it.
CommandResponse commandFrom(const std::string& text, std::int32_t identifier = 17) {
    CommandResponse command;
    command.header().device_id(0x01070200);
    command.command_identifier(identifier);
    command.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND);
    command.command_response(text);
    return command;
}

class CmdResponseTest : public ::testing::Test {
protected:
    CmdResponse builder{ASPN2::DeviceIdFactory("no such system", 45)};
};

TEST_F(CmdResponseTest, ResponseTextsFromTheCommandsFirstWord) {
    const std::tuple<std::string, bool, bool, const char*> cases[] = {
        // command, pass, ack form, response
        {"BITSERVER_PING,x,y", true, false, "BITSERVER_PING_PASS"},
        {"BITSERVER_PING,x,y", false, false, "BITSERVER_PING_FAIL"},
        {"SET_BLACKOUT_ENABLED", true, true, "SET_BLACKOUT_ENABLED_ACK"},
        {"SET_BLACKOUT_ENABLED,1", false, true, "SET_BLACKOUT_ENABLED_NACK"},
        {"", true, false, "_PASS"},
        {",lead", false, true, "_NACK"},
        // A NUL ends the word: the transport would cut the text there and
        // the suffix with it.
        {std::string("BI\0TSERVER_PING,x", 17), true, false, "BI_PASS"},
        {std::string("\0BITSERVER_PING", 15), false, true, "_NACK"},
    };
    for (const auto& [text, pass, ack, expected] : cases) {
        const CommandResponse command = commandFrom(text);
        const CommandResponse response =
            ack ? builder.makeResponseAck(command, pass) : builder.makeResponse(command, pass);
        EXPECT_EQ(response.command_response(), expected) << "command '" << text.c_str() << "'";
    }
}

// Commands and responses are numbered separately, concurrent responses
// never share a number, and a reset keeps counting.
TEST_F(CmdResponseTest, SequenceNumbersPerKindDistinctUnderConcurrencyAndKeptOverAReset) {
    const CommandResponse command = commandFrom("BITSERVER_PING");
    const CommandResponse first = builder.makeCommand("REQUEST_CBIT");
    EXPECT_EQ(std::make_tuple(first.header().seq_num(), first.command_identifier(), first.commanded_device_id(),
                              first.command_response_type()),
              std::make_tuple(std::int64_t{0}, 0, 0, aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND));
    constexpr int kPerThread = 10'000;
    std::vector<long long> seen[2];
    std::vector<std::thread> threads;
    for (auto& out : seen) {
        threads.emplace_back([this, &command, &out] {
            for (int i = 0; i < kPerThread; ++i) out.push_back(builder.makeResponse(command, true).header().seq_num());
        });
    }
    for (auto& t : threads) t.join();
    std::set<long long> all(seen[0].begin(), seen[0].end());
    all.insert(seen[1].begin(), seen[1].end());
    EXPECT_EQ(std::make_pair(all.size(), *all.rbegin()),
              std::make_pair(std::size_t{2 * kPerThread}, 2LL * kPerThread - 1));

    // A reset takes the new device id; the topic id is the low byte only.
    builder.reset(ASPN2::DeviceIdFactory(static_cast<unsigned char>(3), 45));
    CommandResponse second = builder.makeCommand("REQUEST_CBIT");
    EXPECT_EQ(std::make_tuple(second.header().device_id(), second.header().seq_num(), second.command_identifier()),
              std::make_tuple(0x032D0200, std::int64_t{1}, 1));
    CmdResponse::setTopicId(second, 0xA5);
    CmdResponse::setTopicId(second, 0x01);
    EXPECT_EQ(second.header().device_id(), 0x032D0201);
}

TEST(ResponseType, FirstSuffixFoundDecides) {
    const std::pair<const char*, ResponseType::eResponseType> cases[] = {
        {"SET_BLACKOUT_ENABLED_NACK", ResponseType::Nack},
        {"SET_BLACKOUT_ENABLED_ACK", ResponseType::Ack},
        {"BITSERVER_PING_PASS", ResponseType::Pass},
        {"BITSERVER_PING_FAIL", ResponseType::Fail},
        {"START_ZEROIZE", ResponseType::None},
        {"X_FAIL_ACK", ResponseType::Ack},  // "_ACK" is looked for first
        {"X_PASS,Y_NACK", ResponseType::Nack},
        {"_pass", ResponseType::None},  // case matters
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ResponseType::GetResponseType(commandFrom(text)), expected) << text;
    }
}

}  // namespace
