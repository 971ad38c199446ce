// Commands: recognition, their effects, and the data-rate change of the
// VICTORY services. Responses over the transport are checked in
// ConnectTest.cpp; here the server has no transport, so every answer it
// tries to send ends in its "Could not publish" event.
#include "VICTORY/ZOziDaZodOduzuz/CommandTable.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/AspnHelper.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ServerTestRoot.h"
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

aspn2_msgs::idl::CommandResponse message(const std::string& text, bool command = true) {
    aspn2_msgs::idl::CommandResponse m;
    m.command_response(text);
    m.command_response_type(command ? aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND
                                    : aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
    m.command_identifier(77);
    return m;
}

TEST(CommandTable, OnlyExactCommandTextsAreRecognised) {
    const struct {
        bool isCommand;
        const char* text;
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
        {true, "START_ZEROIZE_PASS", Action::None},
        {true, "REQUEST_ZEROIZE", Action::None},
        {true, "", Action::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CommandTable::recognize(c.isCommand, c.text), c.action) << c.isCommand << " '" << c.text << "'";
    }
    // Texts with an embedded NUL are not the command either.
    EXPECT_EQ(CommandTable::recognize(true, std::string("BITSERVER_PING\0x", 16)), Action::None);
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

// Without a transport every answer fails to go out, which is reported.
TEST_F(CommandTest, AnswerThatCannotBeSentIsReported) {
    access.setDebug(true);
    CoutCapture out;
    access.cbCmd(message("SYSTEM_MODE_SELECT_SIMULATION"));
    EXPECT_EQ(timeCode(), ASPN2::TimeCodeHelper::kSimTimeCode);
    EXPECT_TRUE(onlyUnsentResponse(drainEvents(), "SYSTEM_MODE_SELECT_SIMULATION_PASS"));
    const std::string line = out.take();
    EXPECT_EQ(line.rfind("ZOziDaZodOduzuz: cbCmd: TOVsec = ", 0), 0u) << line;
    EXPECT_NE(line.find(", SYSTEM_MODE_SELECT_SIMULATION_PASS\n"), std::string::npos) << line;

    access.cbCmd(message("BITSERVER_PING"));
    EXPECT_TRUE(onlyUnsentResponse(drainEvents(), "ZOziDaZodOduzuz"));
}

// Data-rate changes restart the three services with a new VCL text.
class DataRateTest : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        for (int s = 0; s < 3; ++s) ASSERT_TRUE(access.initialize(s, nullptr)) << s;
        drainEvents();
        for (const char* file : {positionVclFileName, orientationVclFileName, DOTvclFileName}) {
            vclFiles.push_back(corvane_test::RuntimeRoot::readFile(corvanePath(file)));
        }
    }

    std::array<std::uint32_t, 3> periods() {
        return {zozi_test::stateOf(vpossTestGetState, access.positionService()).updatePeriodMs,
                zozi_test::stateOf(vorisTestGetState, access.orientationService()).updatePeriodMs,
                zozi_test::stateOf(vdotsTestGetState, access.dotService()).updatePeriodMs};
    }
    static std::vector<Event> restartEvents() {
        return {{2, "ZOziDaZodOduzuz: VPosServer shared service exited"},
                {2, "ZOziDaZodOduzuz: VPosServer shared service started"},
                {2, "ZOziDaZodOduzuz : VorisService shared service exited"},
                {2, "ZOziDaZodOduzuz: VorisService shared service started"},
                {2, "ZOziDaZodOduzuz: VdotsService shared service exited"},
                {2, "ZOziDaZodOduzuz: VdotsService shared service started"}};
    }
    void expectVclFilesUnchanged() {
        int i = 0;
        for (const char* file : {positionVclFileName, orientationVclFileName, DOTvclFileName}) {
            EXPECT_EQ(corvane_test::RuntimeRoot::readFile(corvanePath(file)), vclFiles[i++]) << file;
        }
    }

    std::vector<std::string> vclFiles;
};

TEST_F(DataRateTest, SanitizeCommandsSetTheSlowestRateWithoutAnswer) {
    for (const char* command : {"START_ZEROIZE", "START_DESTROY"}) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(access.updateVDMdataRate(1000));
        drainEvents();
        ASSERT_EQ(periods(), (std::array<std::uint32_t, 3>{1000, 1000, 1000}));
        CoutCapture out;
        access.cbCmd(message(command));
        EXPECT_EQ(periods(), (std::array<std::uint32_t, 3>{4294967295u, 4294967295u, 4294967295u}));
        EXPECT_EQ(zozi_test::stateOf(vpossTestGetState, access.positionService()).started, 1);
        EXPECT_EQ(zozi_test::stateOf(vorisTestGetState, access.orientationService()).started, 1);
        EXPECT_EQ(zozi_test::stateOf(vdotsTestGetState, access.dotService()).started, 1);
        EXPECT_EQ(drainEvents(), restartEvents());  // and no response was tried
        const std::string line = out.take();
        EXPECT_NE(line.find(" updateVDMdataRate : Updating VDM rate to 4294967295 milliseconds.\n"), std::string::npos)
            << line;
        expectVclFilesUnchanged();
    }
}

TEST_F(DataRateTest, PeriodsBelowOneSecondAreRefused) {
    const struct {
        unsigned long period;
        bool accepted;
    } cases[] = {{999, false}, {0, false}, {1000, true}, {2500, true}};
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
        if (c.accepted) {
            EXPECT_EQ(periods(), (std::array<std::uint32_t, 3>{std::uint32_t(c.period), std::uint32_t(c.period),
                                                               std::uint32_t(c.period)}));
            EXPECT_EQ(drainEvents(), restartEvents());
        } else {
            EXPECT_EQ(periods(), before);
            EXPECT_TRUE(drainEvents().empty());
        }
    }
    expectVclFilesUnchanged();
}

TEST_F(DataRateTest, ServicesAreRestartedWhateverTheirSwitches) {
    access.processPosition() = false;
    access.processOrientation() = false;
    access.processDirectionOfTravel() = false;
    ASSERT_TRUE(access.shutdown(1));
    drainEvents();
    EXPECT_TRUE(access.updateVDMdataRate(3000));
    for (int s = 0; s < 3; ++s) EXPECT_TRUE(access.initialized(s)) << s;
    EXPECT_EQ(periods(), (std::array<std::uint32_t, 3>{3000, 3000, 3000}));
}

}  // namespace
