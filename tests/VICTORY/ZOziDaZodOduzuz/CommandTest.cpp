// Commands: recognition, their effects, and the data-rate change of the
// VICTORY services. The server here has no transport, so every answer it
// tries to send ends in its "Could not publish" event; answers over the
// transport are checked end to end.
#include "VICTORY/ZOziDaZodOduzuz/CommandTable.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"

#include "ASPN/AspnHelper.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;
using Action = CommandTable::Action;
using FACE::LCM::Corvane::ReportedState::STARTED;
using FACE::LCM::Corvane::ReportedState::STOPPED;

aspn2_msgs::idl::CommandResponse command(const std::string& text) {
    aspn2_msgs::idl::CommandResponse m;
    m.command_response(text);
    m.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND);
    m.command_identifier(77);
    return m;
}

TEST(CommandTable, OnlyExactCommandTextsAreRecognised) {
    const struct {
        bool isCommand;
        std::string text;
        Action action;
    } cases[] = {
        {true, "SYSTEM_MODE_SELECT_LIVE", Action::SetLiveMode},
        {true, "SYSTEM_MODE_SELECT_SIMULATION", Action::SetSimMode},
        {true, "BITSERVER_PING", Action::Ping},
        {true, "START_ZEROIZE", Action::Sanitize},
        {true, "START_DESTROY", Action::Sanitize},
        {false, "BITSERVER_PING", Action::None},
        {false, "START_ZEROIZE", Action::None},
        {true, "SYSTEM_MODE_SELECT_LIVE,1", Action::None},
        {true, "system_mode_select_simulation", Action::None},
        {true, " BITSERVER_PING", Action::None},
        {true, "BITSERVER_PING ", Action::None},
        {true, "BITSERVER_PING\n", Action::None},
        {true, std::string("BITSERVER_PING\0x", 16), Action::None},
        {true, "START_ZEROIZE_PASS", Action::None},
        {true, "REQUEST_ZEROIZE", Action::None},
        {true, "", Action::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CommandTable::recognize(c.isCommand, c.text), c.action) << c.isCommand << " '" << c.text << "'";
    }
}

// Whether `events` is exactly one "Could not publish" event for `text`.
bool onlyUnsentResponse(const std::vector<Event>& events, const std::string& text) {
    const std::string start = "ZOziDaZodOduzuz: Could not publish CommandResponse for TOV = ";
    const std::string end = ", " + text;
    return events.size() == 1 && events[0].type == 3 && events[0].info.rfind(start, 0) == 0 &&
           events[0].info.size() >= start.size() + end.size() &&
           events[0].info.compare(events[0].info.size() - end.size(), end.size(), end) == 0;
}

class CommandTest : public ::testing::Test {
protected:
    ZOziDaZodOduzuz server;
    ZOziDaZodOduzuzTestAccess access{server};

    void SetUp() override {
        access.state() = STARTED;
        drainEvents();
    }
    void TearDown() override {
        access.state() = STOPPED;
        ASPN2::TimeCodeHelper::Instance().setLiveMode();
        drainEvents();
    }
    static std::int32_t timeCode() { return ASPN2::TimeCodeHelper::Instance().getTimeCode(); }
};

// Mode commands switch the time code and are answered (here: reported as
// unsent); while stopped, commands are ignored.
TEST_F(CommandTest, ModeCommandsAndPingWhileStartedOnly) {
    access.setDebug(true);
    CoutCapture out;
    access.cbCmd(command("SYSTEM_MODE_SELECT_SIMULATION"));
    EXPECT_EQ(timeCode(), ASPN2::TimeCodeHelper::kSimTimeCode);
    EXPECT_TRUE(onlyUnsentResponse(drainEvents(), "SYSTEM_MODE_SELECT_SIMULATION_PASS"));
    const std::string line = out.take();
    EXPECT_EQ(line.rfind("ZOziDaZodOduzuz: cbCmd: TOVsec = ", 0), 0u) << line;
    EXPECT_NE(line.find(", SYSTEM_MODE_SELECT_SIMULATION_PASS\n"), std::string::npos) << line;
    access.cbCmd(command("BITSERVER_PING"));
    EXPECT_TRUE(onlyUnsentResponse(drainEvents(), "ZOziDaZodOduzuz"));
    access.cbCmd(command("SYSTEM_MODE_SELECT_LIVE"));
    EXPECT_EQ(timeCode(), ASPN2::TimeCodeHelper::kLiveTimeCode);
    EXPECT_TRUE(onlyUnsentResponse(drainEvents(), "SYSTEM_MODE_SELECT_LIVE_PASS"));

    access.state() = STOPPED;
    out.take();
    for (const char* text : {"SYSTEM_MODE_SELECT_SIMULATION", "BITSERVER_PING", "START_ZEROIZE"}) {
        access.cbCmd(command(text));
    }
    EXPECT_EQ(timeCode(), ASPN2::TimeCodeHelper::kLiveTimeCode);
    EXPECT_TRUE(drainEvents().empty());
    EXPECT_EQ(out.take(), "");
}

// Data-rate changes restart the three services with a new VCL text, the
// files on disk stay as they are.
class DataRateTest : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        for (int s = 0; s < 3; ++s) ASSERT_TRUE(access.initialize(s, nullptr)) << s;
        drainEvents();
        vclFiles = readVclFiles();
    }
    static std::vector<std::string> readVclFiles() {
        std::vector<std::string> texts;
        for (const char* file : {positionVclFileName, orientationVclFileName, DOTvclFileName}) {
            texts.push_back(corvane_test::RuntimeRoot::readFile(corvanePath(file)));
        }
        return texts;
    }
    std::array<std::uint32_t, 3> periods() {
        std::array<std::uint32_t, 3> p{};
        for (int s = 0; s < 3; ++s) p[s] = zozi_test::Services::state(s, access.handle(s)).updatePeriodMs;
        return p;
    }
    static std::array<std::uint32_t, 3> each(std::uint32_t p) { return {p, p, p}; }
    static std::vector<Event> restartEvents() {
        return {{2, "ZOziDaZodOduzuz: VPosServer shared service exited"},
                {2, "ZOziDaZodOduzuz: VPosServer shared service started"},
                {2, "ZOziDaZodOduzuz : VorisService shared service exited"},
                {2, "ZOziDaZodOduzuz: VorisService shared service started"},
                {2, "ZOziDaZodOduzuz: VdotsService shared service exited"},
                {2, "ZOziDaZodOduzuz: VdotsService shared service started"}};
    }
    std::vector<std::string> vclFiles;
};

TEST_F(DataRateTest, SanitizeCommandsSetTheSlowestRateWithoutAnswer) {
    for (const char* text : {"START_ZEROIZE", "START_DESTROY"}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(access.updateVDMdataRate(1000));
        drainEvents();
        ASSERT_EQ(periods(), each(1000));
        CoutCapture out;
        access.cbCmd(command(text));
        EXPECT_EQ(periods(), each(4294967295u));
        for (int s = 0; s < 3; ++s) EXPECT_EQ(zozi_test::Services::state(s, access.handle(s)).started, 1) << s;
        EXPECT_EQ(drainEvents(), restartEvents());  // and no answer was tried
        EXPECT_NE(out.take().find(" updateVDMdataRate : Updating VDM rate to 4294967295 milliseconds.\n"),
                  std::string::npos);
    }
    EXPECT_EQ(readVclFiles(), vclFiles);
}

// Below one second is refused; the services are restarted whatever their
// switches.
TEST_F(DataRateTest, PeriodsBelowOneSecondAreRefused) {
    access.setServices(false, false, false);
    ASSERT_TRUE(access.shutdown(1));
    drainEvents();
    const struct {
        unsigned long period;
        bool accepted;
    } cases[] = {{3000, true}, {999, false}, {0, false}, {1000, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.period);
        const auto before = periods();
        CoutCapture out;
        EXPECT_EQ(access.updateVDMdataRate(c.period), c.accepted);
        const std::string line = out.take();
        EXPECT_EQ(line.rfind("ZOziDaZodOduzuzCommands.cpp (", 0), 0u) << line;
        EXPECT_NE(line.find(") updateVDMdataRate : Updating VDM rate to " + std::to_string(c.period) +
                            " milliseconds.\n"),
                  std::string::npos)
            << line;
        for (int s = 0; s < 3; ++s) EXPECT_TRUE(access.initialized(s) || !c.accepted) << s;
        EXPECT_EQ(periods(), c.accepted ? each(static_cast<std::uint32_t>(c.period)) : before);
        if (c.accepted && c.period != 3000) {
            EXPECT_EQ(drainEvents(), restartEvents());
        }
        if (!c.accepted) {
            EXPECT_TRUE(drainEvents().empty());
        }
        drainEvents();
    }
    EXPECT_EQ(readVclFiles(), vclFiles);
}

}  // namespace
