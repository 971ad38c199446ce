// The running server in this process: navigation data intake (source
// filter, storage, pairing by time of validity) and commands (recognition,
// effects, the data-rate change of the VICTORY services). The server here
// has no transport, so every answer it tries to send ends in its "Could not
// publish" event; answers over the transport are checked end to end.
#include "VICTORY/ZOziDaZodOduzuz/CommandTable.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "VICTORY/ZOziDaZodOduzuz/NavigationIntake.h"

#include "ASPN/AspnHelper.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;
using Action = CommandTable::Action;
using FACE::LCM::Corvane::ReportedState::STARTED;
using FACE::LCM::Corvane::ReportedState::STOPPED;

// Device id of a message from `server` of system 1, kind 7, topic 3.
std::int32_t deviceFrom(unsigned server) {
    return static_cast<std::int32_t>((1u << 24) | (server << 16) | (7u << 8) | 3u);
}

template <typename T>
T stamped(T m, long long sec, int nsec, unsigned source) {
    m.header().timestamp_valid().sec(sec);
    m.header().timestamp_valid().nsec(nsec);
    m.header().device_id(deviceFrom(source));
    return m;
}
auto pvaAt(long long sec, int nsec, unsigned source = 96) {
    return stamped(zozi_test::defaultPva(), sec, nsec, source);
}
auto utcAt(long long sec, int nsec, unsigned source = 96) {
    return stamped(zozi_test::defaultUtc(), sec, nsec, source);
}

TEST(NavigationIntakeRules, SourceFilterAndPairingWindow) {
    EXPECT_EQ(NavigationIntake::sourceServerId(deviceFrom(96)), 96);
    EXPECT_EQ(NavigationIntake::sourceServerId(static_cast<std::int32_t>(0xFF2D00FFu)), 45);
    EXPECT_EQ(NavigationIntake::sourceServerId(static_cast<std::int32_t>(0x00FF0000u)), 255);
    const struct {
        unsigned configured, source;
        bool accepted;
    } filter[] = {{0, 0, true}, {0, 96, true}, {0, 255, true}, {96, 96, true}, {96, 95, false}, {96, 0, false}};
    for (const auto& c : filter) {
        EXPECT_EQ(NavigationIntake::acceptsSource(c.configured, c.source), c.accepted)
            << c.configured << "/" << c.source;
    }
    EXPECT_EQ(NavigationIntake::sourceName(96), "FusionNavigator");
    EXPECT_EQ(NavigationIntake::sourceName(45), "ZOziDaZodOduzuz");
    EXPECT_EQ(NavigationIntake::sourceName(200), "(unknown ID 200)");

    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        double delta;
        bool pairable;
    } window[] = {{0.0, true},   {0.5999999, true}, {-0.5999999, true}, {0.6, false},
                  {-0.6, false}, {1e9, false},      {nan, false},       {inf, false}};
    for (const auto& c : window) EXPECT_EQ(NavigationIntake::isPairable(c.delta), c.pairable) << c.delta;
}

// A server with the root's geoid and three services that store what they
// are told. The state is set directly: no worker runs unless a test starts
// one.
class IntakeTest : public zozi_test::ServerOverServices {
protected:
    void SetUp() override {
        attach(zozi_test::serverRoot().geoidName(), zozi_test::serverRoot().geoidDir());
        access.state() = STARTED;
    }
    void TearDown() override {
        access.state() = STOPPED;
        drainEvents();
    }
    static std::array<std::uint64_t, 3> each(std::uint64_t n) { return {n, n, n}; }
    static std::array<bool, 2> both(bool b) { return {b, b}; }
};

// A pair is published once, from the stored messages, and clears both
// flags; a pair 0.6 s apart waits for a newer message; one kind alone is
// never published.
TEST_F(IntakeTest, PairingSteps) {
    access.cbPVA(pvaAt(1000, 250000000));
    access.cbUTCTime(utcAt(1000, 250000000));
    EXPECT_EQ(access.received(), both(true));
    EXPECT_TRUE(access.processPosOrDirData());
    EXPECT_EQ(services.tells(), each(1));
    EXPECT_EQ(access.received(), both(false));
    EXPECT_FALSE(access.processPosOrDirData());
    EXPECT_EQ(services.tells(), each(1));
    EXPECT_NEAR(services.state(0).values[0].value, zozi_test::defaultPva().position().latitude(), 1e-12);
    EXPECT_EQ(services.state(0).hasTime, 1);

    access.cbPVA(pvaAt(1050, 700000000));
    access.cbUTCTime(utcAt(1051, 300000000));
    EXPECT_FALSE(access.processPosOrDirData());
    EXPECT_EQ(access.received(), both(true));  // kept for a newer message
    access.cbUTCTime(utcAt(1051, 299999999));
    EXPECT_TRUE(access.processPosOrDirData());
    EXPECT_EQ(services.tells(), each(2));

    for (int i = 0; i < 3; ++i) {
        access.cbPVA(pvaAt(1100 + i, 0));
        EXPECT_FALSE(access.processPosOrDirData());
    }
    EXPECT_EQ(services.tells(), each(2));
}

// Each stream has its own filter; a taken message is traced with its
// source's name.
TEST_F(IntakeTest, SourceFilterOfEachStream) {
    access.setDebug(true);
    access.pvaSource() = 0;
    access.utcSource() = 96;
    CoutCapture out;
    access.cbPVA(pvaAt(5, 0, 200));
    access.cbUTCTime(utcAt(5, 0, 200));
    EXPECT_EQ(access.received(), (std::array<bool, 2>{true, false}));
    access.cbUTCTime(utcAt(5, 0, 96));
    EXPECT_EQ(access.received(), both(true));
    EXPECT_EQ(
        out.take(),
        "ZOziDaZodOduzuz: cbPVA : Processing Position Velocity Attitude message received from (unknown ID 200), "
        "server ID = 200\n"
        "ZOziDaZodOduzuz: cbUTCTime : Processing UTC Time message received from FusionNavigator, server ID = 96\n");
    EXPECT_TRUE(drainEvents().empty());
}

// Nothing is stored while stopped; a stored pair survives a restart.
TEST_F(IntakeTest, NothingIsStoredWhileStopped) {
    access.setDebug(true);
    access.state() = STOPPED;
    CoutCapture out;
    access.cbPVA(pvaAt(7, 0));
    access.cbUTCTime(utcAt(7, 0));
    EXPECT_EQ(access.received(), both(false));
    EXPECT_EQ(out.take(), "");
    access.state() = STARTED;
    access.cbPVA(pvaAt(7, 0));
    access.cbUTCTime(utcAt(7, 0));
    access.state() = STOPPED;
    access.state() = STARTED;
    access.setDebug(false);
    EXPECT_TRUE(access.processPosOrDirData());
    EXPECT_EQ(services.tells(), each(1));
}

// A pair is taken whatever the switches; each service is told only when
// switched on; the pairing step is traced.
TEST_F(IntakeTest, EachServiceOnlyWhenSwitchedOn) {
    const std::string pairing =
        "ZOziDaZodOduzuz: ProcessPosOrDirData: Messages received: \n"
        "ZOziDaZodOduzuz: ProcessPosOrDirData: PVA & UTC Time            deltaTov: 0.25\n";
    const struct { bool position, orientation, dot; } cases[] = {{false, false, false}, {true, false, true}};
    std::array<std::uint64_t, 3> expected{0, 0, 0};
    access.setDebug(true);
    CoutCapture out;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.position << c.orientation << c.dot);
        access.setServices(c.position, c.orientation, c.dot);
        access.cbPVA(pvaAt(3, 0));
        access.cbUTCTime(utcAt(3, 250000000));
        out.take();
        EXPECT_TRUE(access.processPosOrDirData());
        EXPECT_EQ(access.received(), both(false));
        expected[0] += c.position;
        expected[1] += c.orientation;
        expected[2] += c.dot;
        EXPECT_EQ(services.tells(), expected);
        const std::string text = out.take();
        EXPECT_EQ(text.substr(0, pairing.size()), pairing);
        EXPECT_EQ(text.size() == pairing.size(), !c.position) << text;
    }
}

// The simulator system's command server.
constexpr std::int32_t kCommanderDevice = static_cast<std::int32_t>(0x02320200u);

aspn2_msgs::idl::CommandResponse command(const std::string& text) {
    aspn2_msgs::idl::CommandResponse m;
    m.command_response(text);
    m.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND);
    m.command_identifier(77);
    m.header().device_id(kCommanderDevice);
    return m;
}

// The status event that logs a command changing the output.
Event commandLogged(const std::string& text) {
    return {2, "ZOziDaZodOduzuz: command \"" + text +
                   "\" (identifier 77) from device 0x02320200 (system 2 Simulator, server 50 CommandServer, kind 2)"};
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

// A command the server acts on is answered (here the answer cannot go out,
// which is reported); while stopped, commands are ignored.
TEST_F(CommandTest, AnswersWhileStartedOnly) {
    access.setDebug(true);
    CoutCapture out;
    access.cbCmd(command("SYSTEM_MODE_SELECT_SIMULATION"));
    EXPECT_EQ(timeCode(), ASPN2::TimeCodeHelper::kSimTimeCode);
    std::vector<Event> events = drainEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), commandLogged("SYSTEM_MODE_SELECT_SIMULATION"));
    events.erase(events.begin());
    EXPECT_TRUE(onlyUnsentResponse(events, "SYSTEM_MODE_SELECT_SIMULATION_PASS"));
    const std::string line = out.take();
    const std::string logged = commandLogged("SYSTEM_MODE_SELECT_SIMULATION").info + "\n";
    EXPECT_EQ(line.rfind(logged + "ZOziDaZodOduzuz: cbCmd: TOVsec = ", 0), 0u) << line;
    EXPECT_NE(line.find(", SYSTEM_MODE_SELECT_SIMULATION_PASS\n"), std::string::npos) << line;
    access.cbCmd(command("BITSERVER_PING"));
    EXPECT_TRUE(onlyUnsentResponse(drainEvents(), "ZOziDaZodOduzuz"));

    access.state() = STOPPED;
    out.take();
    for (const char* text : {"SYSTEM_MODE_SELECT_LIVE", "BITSERVER_PING", "START_ZEROIZE"}) access.cbCmd(command(text));
    EXPECT_EQ(timeCode(), ASPN2::TimeCodeHelper::kSimTimeCode);
    EXPECT_TRUE(drainEvents().empty());
    EXPECT_EQ(out.take(), "");
}

// A data-rate change restarts the services that are switched on with a new
// VCL text and leaves the files on disk as they are; below one second is
// refused; the sanitize commands set the slowest rate, unanswered, and are
// logged with their sender.
TEST_F(CommandTest, DataRateChanges) {
    for (int s = 0; s < 3; ++s) ASSERT_TRUE(access.initialize(s, nullptr)) << s;
    ASSERT_TRUE(access.shutdown(1));
    access.setServices(true, true, true);
    std::vector<std::string> vclFiles;
    for (const char* file : {positionVclFileName, orientationVclFileName, DOTvclFileName}) {
        vclFiles.push_back(corvane_test::RuntimeRoot::readFile(corvanePath(file)));
    }
    drainEvents();
    const std::vector<Event> restart = {{2, "ZOziDaZodOduzuz: VPosServer shared service exited"},
                                        {2, "ZOziDaZodOduzuz: VPosServer shared service started"},
                                        {2, "ZOziDaZodOduzuz : VorisService shared service exited"},
                                        {2, "ZOziDaZodOduzuz: VorisService shared service started"},
                                        {2, "ZOziDaZodOduzuz: VdotsService shared service exited"},
                                        {2, "ZOziDaZodOduzuz: VdotsService shared service started"}};
    const struct {
        const char* command;  // or nullptr: the period is set directly
        unsigned long period;
        bool accepted;
    } cases[] = {{nullptr, 3000, true},
                 {nullptr, 999, false},
                 {nullptr, 0, false},
                 {nullptr, 1000, true},
                 {"START_ZEROIZE", 4294967295u, true},
                 {nullptr, 1000, true},
                 {"START_DESTROY", 4294967295u, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.command ? c.command : "") << " " << c.period);
        std::array<std::uint32_t, 3> before{}, after{};
        for (int s = 0; s < 3; ++s) before[s] = zozi_test::Services::state(s, access.handle(s)).updatePeriodMs;
        drainEvents();
        CoutCapture out;
        if (c.command) {
            access.cbCmd(command(c.command));
        } else {
            EXPECT_EQ(access.updateVDMdataRate(c.period), c.accepted);
        }
        const std::string line = out.take();
        const std::string logged = c.command ? commandLogged(c.command).info + "\n" : "";
        EXPECT_EQ(line.rfind(logged + "ZOziDaZodOduzuzCommands.cpp (", 0), 0u) << line;
        EXPECT_NE(
            line.find(") updateVDMdataRate : Updating VDM rate to " + std::to_string(c.period) + " milliseconds.\n"),
            std::string::npos)
            << line;
        for (int s = 0; s < 3; ++s) {
            const VictoryTestState st = zozi_test::Services::state(s, access.handle(s));
            after[s] = st.updatePeriodMs;
            EXPECT_TRUE(!c.accepted || (access.initialized(s) && st.started == 1)) << s;
        }
        const std::uint32_t p = static_cast<std::uint32_t>(c.period);
        EXPECT_EQ(after, (c.accepted ? std::array<std::uint32_t, 3>{p, p, p} : before));
        std::vector<Event> events = drainEvents();
        if (c.command) {
            ASSERT_FALSE(events.empty());
            EXPECT_EQ(events.front(), commandLogged(c.command));
            events.erase(events.begin());
        }
        if (c.period != 3000) {
            EXPECT_EQ(events, c.accepted ? restart : std::vector<Event>{});  // no answer tried either
        }
    }

    int i = 0;
    for (const char* file : {positionVclFileName, orientationVclFileName, DOTvclFileName}) {
        EXPECT_EQ(corvane_test::RuntimeRoot::readFile(corvanePath(file)), vclFiles[i++]) << file;  // files untouched
    }
}

// The loss fault goes on every running service once per loss, is raised
// again on services a data-rate change replaced, and goes with the first
// pair.
TEST_F(CommandTest, NavigationLossFaultFollowsTheServices) {
    for (int s = 0; s < 3; ++s) ASSERT_TRUE(access.initialize(s, nullptr)) << s;
    access.setServices(true, true, true);
    const auto faults = [&] {
        std::array<int, 3> n{};
        n[0] = vpossTestGetFaults(static_cast<VpossService*>(access.handle(0)), nullptr, 0);
        n[1] = vorisTestGetFaults(static_cast<VorisService*>(access.handle(1)), nullptr, 0);
        n[2] = vdotsTestGetFaults(static_cast<VdotsService*>(access.handle(2)), nullptr, 0);
        return n;
    };
    CoutCapture out;
    access.superviseNavigation(true);
    for (int cycle = 0; cycle < 7; ++cycle) access.superviseNavigation(false);
    EXPECT_EQ(faults(), (std::array<int, 3>{0, 0, 0}));
    drainEvents();
    access.superviseNavigation(false);
    EXPECT_EQ(faults(), (std::array<int, 3>{1, 1, 1}));
    std::vector<Event> events = drainEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, 3);
    EXPECT_NE(events[0].info.find("ZOziDaZodOduzuz: navigation data lost: no pair published for 2 s: "),
              std::string::npos)
        << events[0].info;
    for (int cycle = 0; cycle < 20; ++cycle) access.superviseNavigation(false);
    EXPECT_TRUE(drainEvents().empty());

    ASSERT_TRUE(access.updateVDMdataRate(2000));
    EXPECT_EQ(faults(), (std::array<int, 3>{1, 1, 1}));
    drainEvents();
    access.superviseNavigation(true);
    EXPECT_EQ(faults(), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(drainEvents(),
              (std::vector<Event>{{2, "ZOziDaZodOduzuz: navigation data restored: pairs published again"}}));
    EXPECT_NE(out.take().find("ZOziDaZodOduzuz: navigation data restored: pairs published again\n"), std::string::npos);
}

}  // namespace
