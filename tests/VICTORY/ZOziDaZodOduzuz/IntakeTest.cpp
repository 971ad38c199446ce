// Navigation data intake: source filter, storage, pairing by time of
// validity, and the worker.
#include "VICTORY/ZOziDaZodOduzuz/NavigationIntake.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;
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
auto pvaAt(long long sec, int nsec, unsigned source = 96) { return stamped(zozi_test::defaultPva(), sec, nsec, source); }
auto utcAt(long long sec, int nsec, unsigned source = 96) { return stamped(zozi_test::defaultUtc(), sec, nsec, source); }

TEST(NavigationIntakeRules, SourceFilterAndPairingWindow) {
    EXPECT_EQ(NavigationIntake::sourceServerId(deviceFrom(96)), 96);
    EXPECT_EQ(NavigationIntake::sourceServerId(static_cast<std::int32_t>(0xFF2D00FFu)), 45);
    EXPECT_EQ(NavigationIntake::sourceServerId(static_cast<std::int32_t>(0x00FF0000u)), 255);
    const struct {
        unsigned configured, source;
        bool accepted;
    } filter[] = {{0, 0, true}, {0, 96, true}, {0, 255, true}, {96, 96, true}, {96, 95, false}, {96, 0, false}};
    for (const auto& c : filter) {
        EXPECT_EQ(NavigationIntake::acceptsSource(c.configured, c.source), c.accepted) << c.configured << "/" << c.source;
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
class IntakeTest : public ::testing::Test {
protected:
    zozi_test::Services services;
    ZOziDaZodOduzuz server;
    ZOziDaZodOduzuzTestAccess access{server};

    void SetUp() override {
        ASSERT_TRUE(services.ok());
        access.loadGeoid(zozi_test::serverRoot().geoidName(), zozi_test::serverRoot().geoidDir());
        access.positionService() = services.position;
        access.orientationService() = services.orientation;
        access.dotService() = services.dot;
        access.state() = STARTED;
        drainEvents();
    }
    void TearDown() override {
        access.state() = STOPPED;
        access.positionService() = nullptr;
        access.orientationService() = nullptr;
        access.dotService() = nullptr;
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
    EXPECT_FALSE(access.processPosOrDirData());
    EXPECT_EQ(access.received(), both(true));
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
    EXPECT_EQ(out.take(),
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
    const std::string pairing = "ZOziDaZodOduzuz: ProcessPosOrDirData: Messages received: \n"
                                "ZOziDaZodOduzuz: ProcessPosOrDirData: PVA & UTC Time            deltaTov: 0.25\n";
    const struct {
        bool position, orientation, dot;
    } cases[] = {{false, false, false}, {true, false, true}};
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

// The worker publishes within a cycle or two; an exception in a cycle is
// reported as a fault event and the worker goes on.
TEST_F(IntakeTest, WorkerPublishesAndSurvivesAnException) {
    std::string geodesyError;
    try {
        GeographicLib::GeoCoords(100.0, 10.0);
    } catch (const std::exception& e) {
        geodesyError = e.what();
    }
    ASSERT_FALSE(geodesyError.empty());
    access.state() = STOPPED;
    CoutCapture out;  // read only after the worker is joined
    FACE::RETURN_CODE_TYPE::Value rc;
    server.Request_State_Transition(FACE::LCM::Corvane::RequestedState::START, rc);
    ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);

    auto bad = pvaAt(20, 0);
    bad.position().latitude(100.0 * 3.141592653589793 / 180.0);
    access.cbPVA(bad);
    access.cbUTCTime(utcAt(20, 0));
    const std::string expected = "ZOziDaZodOduzuz: workerThreadFunction() EXCEPTION: " + geodesyError;
    bool reported = false;
    for (auto deadline = std::chrono::steady_clock::now() + 5s; !reported && std::chrono::steady_clock::now() < deadline;) {
        for (const Event& e : drainEvents()) reported = reported || (e.type == 3 && e.info == expected);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(reported);

    access.cbPVA(pvaAt(21, 0));
    access.cbUTCTime(utcAt(21, 0));
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         services.tells()[2] == 0 && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GE(services.tells()[2], 1u);
    server.Request_State_Transition(FACE::LCM::Corvane::RequestedState::STOP, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_NE(out.take().find(expected + "\n"), std::string::npos);
}

}  // namespace
