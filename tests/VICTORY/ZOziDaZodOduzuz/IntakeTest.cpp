// Navigation data intake: source filter, storage, pairing by time of
// validity, and the worker.
#include "VICTORY/ZOziDaZodOduzuz/NavigationIntake.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ServerTestRoot.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <GeographicLib/GeoCoords.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
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

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Device id of a message from `server` of system 1, kind 7, topic 3.
std::int32_t deviceFrom(unsigned server) {
    return static_cast<std::int32_t>((1u << 24) | (server << 16) | (7u << 8) | 3u);
}

aspn2_msgs::idl::PositionVelocityAttitude pvaAt(long long sec, int nsec, unsigned source = 96) {
    auto m = zozi_test::defaultPva();
    m.header().timestamp_valid().sec(sec);
    m.header().timestamp_valid().nsec(nsec);
    m.header().device_id(deviceFrom(source));
    return m;
}

aspn2_msgs::idl::UTCTime utcAt(long long sec, int nsec, unsigned source = 96) {
    auto m = zozi_test::defaultUtc();
    m.header().timestamp_valid().sec(sec);
    m.header().timestamp_valid().nsec(nsec);
    m.header().device_id(deviceFrom(source));
    return m;
}

TEST(NavigationIntakeRules, SourceOfADeviceId) {
    EXPECT_EQ(NavigationIntake::sourceServerId(deviceFrom(96)), 96);
    EXPECT_EQ(NavigationIntake::sourceServerId(static_cast<std::int32_t>(0xFF2D00FFu)), 45);
    EXPECT_EQ(NavigationIntake::sourceServerId(static_cast<std::int32_t>(0x00FF0000u)), 255);
    EXPECT_EQ(NavigationIntake::sourceServerId(0), 0);

    const struct {
        unsigned configured, source;
        bool accepted;
    } filter[] = {{0, 0, true}, {0, 96, true}, {0, 255, true}, {96, 96, true}, {96, 95, false}, {96, 0, false}};
    for (const auto& c : filter) {
        EXPECT_EQ(NavigationIntake::acceptsSource(c.configured, c.source), c.accepted)
            << c.configured << " / " << c.source;
    }

    EXPECT_EQ(NavigationIntake::sourceName(96), "FusionNavigator");
    EXPECT_EQ(NavigationIntake::sourceName(45), "ZOziDaZodOduzuz");
    EXPECT_EQ(NavigationIntake::sourceName(200), "(unknown ID 200)");
}

TEST(NavigationIntakeRules, PairingWindowIsStrict) {
    const struct {
        double delta;
        bool pairable;
    } cases[] = {{0.0, true}, {0.5999999, true}, {-0.5999999, true}, {0.6, false},
                 {-0.6, false}, {1e9, false}, {kNaN, false}, {kInf, false}};
    for (const auto& c : cases) EXPECT_EQ(NavigationIntake::isPairable(c.delta), c.pairable) << c.delta;
}

// A server with the root's synthetic geoid and three services that store
// what they are told (not started). The state is set directly: no worker
// runs unless a test starts one.
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

    // Tells received by position, orientation, direction of travel.
    std::array<std::uint64_t, 3> tells() {
        return {zozi_test::stateOf(vpossTestGetState, services.position).tellCount,
                zozi_test::stateOf(vorisTestGetState, services.orientation).tellCount,
                zozi_test::stateOf(vdotsTestGetState, services.dot).tellCount};
    }
    static std::array<std::uint64_t, 3> each(std::uint64_t n) { return {n, n, n}; }
};

TEST_F(IntakeTest, AMatchingPairIsPublishedOnceAndClearsBothFlags) {
    access.cbPVA(pvaAt(1000, 250000000));
    access.cbUTCTime(utcAt(1000, 250000000));
    EXPECT_TRUE(access.pvaReceived());
    EXPECT_TRUE(access.utcReceived());

    EXPECT_TRUE(access.processPosOrDirData());
    EXPECT_EQ(tells(), each(1));
    EXPECT_FALSE(access.pvaReceived());
    EXPECT_FALSE(access.utcReceived());

    EXPECT_FALSE(access.processPosOrDirData());
    EXPECT_EQ(tells(), each(1));
    // The published values are those of the stored pair.
    const auto position = zozi_test::stateOf(vpossTestGetState, services.position);
    EXPECT_NEAR(position.values[0].value, zozi_test::defaultPva().position().latitude(), 1e-12);
    EXPECT_EQ(position.hasTime, 1);
}

TEST_F(IntakeTest, PairTooFarApartWaitsForANewerMessage) {
    access.cbPVA(pvaAt(50, 700000000));
    access.cbUTCTime(utcAt(51, 300000000));  // 0.6 s apart
    EXPECT_FALSE(access.processPosOrDirData());
    EXPECT_FALSE(access.processPosOrDirData());
    EXPECT_TRUE(access.pvaReceived());
    EXPECT_TRUE(access.utcReceived());
    EXPECT_EQ(tells(), each(0));

    access.cbUTCTime(utcAt(51, 299999999));
    EXPECT_TRUE(access.processPosOrDirData());
    EXPECT_EQ(tells(), each(1));
}

TEST_F(IntakeTest, OneKindAloneIsNeverPublished) {
    for (int i = 0; i < 3; ++i) {
        access.cbPVA(pvaAt(10 + i, 0));
        EXPECT_FALSE(access.processPosOrDirData());
    }
    EXPECT_TRUE(access.pvaReceived());
    access.setReceived(false, false);
    for (int i = 0; i < 3; ++i) {
        access.cbUTCTime(utcAt(10 + i, 0));
        EXPECT_FALSE(access.processPosOrDirData());
    }
    EXPECT_EQ(tells(), each(0));
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
    EXPECT_TRUE(access.pvaReceived());
    EXPECT_FALSE(access.utcReceived());
    access.cbUTCTime(utcAt(5, 0, 96));
    EXPECT_TRUE(access.utcReceived());
    EXPECT_EQ(out.take(),
              "ZOziDaZodOduzuz: cbPVA : Processing Position Velocity Attitude message received from (unknown ID 200), "
              "server ID = 200\n"
              "ZOziDaZodOduzuz: cbUTCTime : Processing UTC Time message received from FusionNavigator, server ID = 96\n");
    EXPECT_TRUE(drainEvents().empty());
}

TEST_F(IntakeTest, NothingIsStoredWhileStoppedAndAStoredPairSurvivesARestart) {
    access.setDebug(true);
    access.state() = STOPPED;
    CoutCapture out;
    access.cbPVA(pvaAt(7, 0));
    access.cbUTCTime(utcAt(7, 0));
    EXPECT_FALSE(access.pvaReceived());
    EXPECT_FALSE(access.utcReceived());
    EXPECT_EQ(out.take(), "");

    access.state() = STARTED;
    access.cbPVA(pvaAt(7, 0));
    access.cbUTCTime(utcAt(7, 0));
    access.state() = STOPPED;
    access.state() = STARTED;
    access.setDebug(false);
    EXPECT_TRUE(access.processPosOrDirData());
    EXPECT_EQ(tells(), each(1));
}

TEST_F(IntakeTest, EachServiceOnlyWhenSwitchedOn) {
    const struct {
        bool position, orientation, dot;
    } cases[] = {{false, false, false}, {true, false, true}};
    std::array<std::uint64_t, 3> expected{0, 0, 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.position << c.orientation << c.dot);
        access.processPosition() = c.position;
        access.processOrientation() = c.orientation;
        access.processDirectionOfTravel() = c.dot;
        access.cbPVA(pvaAt(3, 0));
        access.cbUTCTime(utcAt(3, 0));
        EXPECT_TRUE(access.processPosOrDirData());
        EXPECT_FALSE(access.pvaReceived());
        EXPECT_FALSE(access.utcReceived());
        expected[0] += c.position;
        expected[1] += c.orientation;
        expected[2] += c.dot;
        EXPECT_EQ(tells(), expected);
    }
}

TEST_F(IntakeTest, DebugLinesOfAPairingStep) {
    access.setDebug(true);
    access.processPosition() = false;
    access.processOrientation() = false;
    access.processDirectionOfTravel() = false;
    CoutCapture out;
    access.cbPVA(pvaAt(3, 0));
    access.cbUTCTime(utcAt(3, 250000000));
    out.take();
    EXPECT_TRUE(access.processPosOrDirData());
    EXPECT_EQ(out.take(),
              "ZOziDaZodOduzuz: ProcessPosOrDirData: Messages received: \n"
              "ZOziDaZodOduzuz: ProcessPosOrDirData: PVA & UTC Time            deltaTov: 0.25\n");
}

// The worker publishes within a cycle or two; an exception in a cycle is
// reported and the worker goes on.
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
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         !reported && std::chrono::steady_clock::now() < deadline;) {
        for (const Event& e : drainEvents()) reported = reported || (e.type == 3 && e.info == expected);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(reported);

    // A good pair is published by a later cycle.
    access.cbPVA(pvaAt(21, 0));
    access.cbUTCTime(utcAt(21, 0));
    bool published = false;
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         !published && std::chrono::steady_clock::now() < deadline;) {
        published = tells()[2] >= 1;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(published);

    server.Request_State_Transition(FACE::LCM::Corvane::RequestedState::STOP, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_NE(out.take().find(expected + "\n"), std::string::npos);
}

}  // namespace
