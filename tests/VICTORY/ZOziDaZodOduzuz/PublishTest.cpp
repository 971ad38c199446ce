// Position, orientation and direction of travel reports as told to the
// services library, and as printed.
#include "VICTORY/ZOziDaZodOduzuz/VictoryReports.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "platform/victory/victory_test.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"
#include "tests/support/SyntheticGeoid.h"
#include "tests/support/TempDir.h"

#include <GeographicLib/Constants.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace {

using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;

constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double radians(double degrees) { return degrees * kPi / 180.0; }

// A server with a synthetic geoid (height linear in latitude) and its three
// services (not started).
class PublishTest : public ::testing::Test {
protected:
    corvane_test::TempDir dir{"zozi-publish"};
    corvane_test::SyntheticGeoid geoid = corvane_test::SyntheticGeoid::linearInLatitude(30000, 50);
    zozi_test::Services services;
    ZOziDaZodOduzuz server;  // destroyed before the services
    ZOziDaZodOduzuzTestAccess access{server};

    void SetUp() override {
        ASSERT_TRUE(services.ok());
        geoid.write(dir.path());
        access.loadGeoid("synthetic", dir.path());
        access.positionService() = services.position;
        access.orientationService() = services.orientation;
        access.dotService() = services.dot;
        access.pva() = zozi_test::defaultPva();
        access.utc() = zozi_test::defaultUtc();
        drainEvents();
    }
    void TearDown() override { drainEvents(); }

    VictoryTestState positionState() { return zozi_test::stateOf(vpossTestGetState, services.position); }
    VictoryTestState orientationState() { return zozi_test::stateOf(vorisTestGetState, services.orientation); }
    VictoryTestState dotState() { return zozi_test::stateOf(vdotsTestGetState, services.dot); }

    void setPosition(double latDeg, double lonDeg) {
        access.pva().position().latitude(radians(latDeg));
        access.pva().position().longitude(radians(lonDeg));
    }
    void setPositionVariances(double n, double e, double d) {
        access.pva().covariance()[0][0] = n;
        access.pva().covariance()[1][1] = e;
        access.pva().covariance()[2][2] = d;
    }
    static std::string mgrsOf(double latDeg, double lonDeg) {
        return GeographicLib::GeoCoords(latDeg, lonDeg).MGRSRepresentation(0);
    }
};

TEST_F(PublishTest, AltitudeIsAboveTheGeoidAndAnglesAreRadians) {
    const struct {
        double lat, lon;
    } points[] = {{30.0, -90.0}, {-45.3, 170.25}, {0.0, 0.0}, {88.5, 10.0}, {-60.0, 359.5}};
    for (const auto& p : points) {
        SCOPED_TRACE(testing::Message() << p.lat << ", " << p.lon);
        setPosition(p.lat, p.lon);
        access.publishPosition();
        const double latDeg = access.pva().position().latitude() * 180.0 / kPi;
        const double lonDeg = access.pva().position().longitude() * 180.0 / kPi;
        const VictoryTestState s = positionState();
        EXPECT_NEAR(s.values[2].value, 100.0 - geoid.expected(latDeg, lonDeg), 1e-9);
        EXPECT_DOUBLE_EQ(s.values[0].value, radians(p.lat));
        EXPECT_DOUBLE_EQ(s.values[1].value, radians(p.lon));
        EXPECT_DOUBLE_EQ(s.values[0].uncertainty, 2.0 / 111132.0 * kPi / 180.0);
        EXPECT_DOUBLE_EQ(s.values[1].uncertainty, 3.0 / (111132.0 * std::cos(radians(p.lat))) * kPi / 180.0);
        EXPECT_DOUBLE_EQ(s.values[2].uncertainty, 4.0);
        EXPECT_EQ(VictoryReports::formatSampleTime(s.time), "6/15/2024 12:34:56 500000000 ns");
    }
}

TEST_F(PublishTest, PreviousUtcDayWhenGpsHasPassedMidnight) {
    access.utc().gps_tow_sec(10);       // Sunday 00:00:10 GPS
    access.utc().utc_tod_sec(86392);  // Saturday 23:59:52 UTC
    access.utc().utc_tod_nsec(0.0);
    access.publishPosition();
    EXPECT_EQ(VictoryReports::formatSampleTime(positionState().time), "6/8/2024 23:59:52 0 ns");
}

TEST_F(PublishTest, MgrsIsToldForUsableSolutionsOnly) {
    const double limit = 25000000.0;
    const struct {
        const char* what;
        double lat, lon, n, e, d;
        bool valid;
    } cases[] = {
        {"mid latitudes", 38.628155, -90.220845, 4.0, 9.0, 16.0, true},
        {"southern hemisphere", -33.86, 151.21, 4.0, 9.0, 16.0, true},
        {"negative variance: usable, NaN uncertainty", -33.86, 151.21, -4.0, 9.0, 16.0, true},
        {"overflowing sum", 10.0, 20.0, 1e308, 1e308, 0.0, false},
        {"near the north pole (UPS)", 89.5, 45.0, 4.0, 9.0, 16.0, true},
        {"near the south pole (UPS)", -85.0, -120.0, 4.0, 9.0, 16.0, true},
        {"just below the variance limit", 10.0, 20.0, std::nextafter(limit, 0.0), 0.0, 0.0, true},
        {"at the variance limit", 10.0, 20.0, limit - 2.0, 1.0, 1.0, false},
        {"infinite variance", 10.0, 20.0, 4.0, kInf, 16.0, false},
        {"NaN variance", 10.0, 20.0, 4.0, 9.0, kNaN, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setPosition(c.lat, c.lon);
        setPositionVariances(c.n, c.e, c.d);
        access.publishPosition();
        const VictoryTestState s = positionState();
        const VposcBasis basis = c.valid ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(s.values[i].basis, basis);
        EXPECT_EQ(s.hasMgrs, c.valid ? 1 : 0);
        const double latDeg = access.pva().position().latitude() * 180.0 / kPi;
        const double lonDeg = access.pva().position().longitude() * 180.0 / kPi;
        EXPECT_EQ(std::string(s.mgrs), c.valid ? mgrsOf(latDeg, lonDeg) : "");
        // An invalid solution is still told, values and all.
        EXPECT_DOUBLE_EQ(s.values[0].value, radians(c.lat));
    }
}

TEST_F(PublishTest, LatitudeBeyondThePoleRaisesOnlyForAUsableSolution) {
    setPosition(100.0, 0.0);
    const auto before = positionState().tellCount;
    EXPECT_THROW(access.publishPosition(), GeographicLib::GeographicErr);
    EXPECT_EQ(positionState().tellCount, before);

    setPositionVariances(kInf, 0.0, 0.0);
    EXPECT_NO_THROW(access.publishPosition());
    EXPECT_EQ(positionState().tellCount, before + 1);
    EXPECT_EQ(positionState().hasMgrs, 0);
}

TEST_F(PublishTest, OrientationAndDirectionAreToldInRadiansWithThePositionsBasis) {
    for (const bool valid : {true, false}) {
        SCOPED_TRACE(valid);
        if (valid) {
            setPositionVariances(4.0, 9.0, 16.0);
        } else {
            setPositionVariances(1.0e7, 1.0e7, 1.0e7);
        }
        access.publishOrientation();
        access.publishDirectionOfTravel();
        const VictoryTestState o = orientationState();
        const VictoryTestState d = dotState();
        EXPECT_DOUBLE_EQ(o.values[0].value, radians(10.0));
        EXPECT_DOUBLE_EQ(o.values[1].value, radians(-5.0));
        EXPECT_DOUBLE_EQ(o.values[2].value, radians(45.0));
        EXPECT_DOUBLE_EQ(o.values[2].uncertainty, 0.03);
        EXPECT_DOUBLE_EQ(d.values[0].value, 0.0);
        EXPECT_NEAR(d.values[0].uncertainty, 0.1107, 5e-5);
        EXPECT_DOUBLE_EQ(d.values[1].value, 10.0);
        EXPECT_DOUBLE_EQ(d.values[1].uncertainty, std::sqrt(2.0));
        EXPECT_DOUBLE_EQ(d.values[2].value, 1.0);
        EXPECT_EQ(o.time.day, 15);
        EXPECT_EQ(d.time.second, 56);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(o.values[i].basis, valid ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID);
            EXPECT_EQ(d.values[i].basis, valid ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID);
        }
    }
}

TEST_F(PublishTest, DebugLinesShowDegreesAndTheSampleTime) {
    access.setDebug(true);
    CoutCapture out;
    access.publishPosition();
    const std::string position = out.take();
    access.publishOrientation();
    const std::string orientation = out.take();
    access.publishDirectionOfTravel();
    const std::string direction = out.take();

    // Geoid at 30N: -108 + 0.003 * (30000 + 50 * 30) = -13.5 m.
    EXPECT_EQ(position,
              "ZOziDaZodOduzuz: PublishPosition Position data update :   lat = 30, lat uncert = 1.79966e-05, "
              "lat basis = VPOSC_BASIS_MEASURED, lon = -90, lon uncert = 3.11711e-05, lon basis = "
              "VPOSC_BASIS_MEASURED, alt = 113.5, alt uncert = 4, alt basis = VPOSC_BASIS_MEASURED, estPosVar = "
              "29, solutionValid = 1, covariance()[0][0] = 4, covariance()[1][1] = 9, covariance()[2][2] = 16, "
              "sample time = 6/15/2024 12:34:56 500000000 ns\n\n");
    EXPECT_EQ(orientation,
              "ZOziDaZodOduzuz: PublishOrientation Orientation data update : roll = 10, roll uncert = 0.572958, "
              "pitch = -5, pitch uncert= 1.14592, yaw = 45, yaw uncert= 1.71887, sample time = 6/15/2024 "
              "12:34:56 500000000 ns\n\n");
    EXPECT_EQ(direction,
              "ZOziDaZodOduzuz: PublishDirectionOfTravel DoT data update :  heading = 0 heading uncert = 6.34019, "
              "speed = 10, speed uncert = 1.41421, climb = 1, climb uncert = 0.5, sample time = 6/15/2024 "
              "12:34:56 500000000 ns\n\n");
}

struct Publisher {
    const char* name;
    std::function<void(ZOziDaZodOduzuzTestAccess&)> publish;
    std::function<void(ZOziDaZodOduzuzTestAccess&)> dropHandle;
    const char* missingText;
};

const Publisher kPublishers[] = {
    {"position", [](ZOziDaZodOduzuzTestAccess& a) { a.publishPosition(); },
     [](ZOziDaZodOduzuzTestAccess& a) { a.positionService() = nullptr; }, ": m_VPosService object was invalid"},
    {"orientation", [](ZOziDaZodOduzuzTestAccess& a) { a.publishOrientation(); },
     [](ZOziDaZodOduzuzTestAccess& a) { a.orientationService() = nullptr; }, ": m_VOrService object was invalid"},
    {"direction of travel", [](ZOziDaZodOduzuzTestAccess& a) { a.publishDirectionOfTravel(); },
     [](ZOziDaZodOduzuzTestAccess& a) { a.dotService() = nullptr; }, ": m_VDirService object was invalid"},
};

TEST_F(PublishTest, MissingServiceIsReportedOnEveryCall) {
    for (const Publisher& p : kPublishers) {
        SCOPED_TRACE(p.name);
        p.dropHandle(access);
        const std::string text = std::string("ZOziDaZodOduzuz") + p.missingText;
        CoutCapture out;
        for (int i = 0; i < 3; ++i) p.publish(access);
        EXPECT_EQ(out.take(), text + "\n" + text + "\n" + text + "\n");
        EXPECT_EQ(drainEvents(), (std::vector<Event>{{3, text}, {3, text}, {3, text}}));
    }
}

TEST_F(PublishTest, NothingAtAllWhileTellIsDisabled) {
    access.setDebug(true);
    access.tellDisabled() = true;
    const auto positionTells = positionState().tellCount;
    const auto orientationTells = orientationState().tellCount;
    const auto dotTells = dotState().tellCount;
    {
        CoutCapture out;
        for (const Publisher& p : kPublishers) p.publish(access);
        EXPECT_EQ(out.take(), "");
        // Not even the missing handle is reported.
        for (const Publisher& p : kPublishers) p.dropHandle(access);
        for (const Publisher& p : kPublishers) p.publish(access);
        EXPECT_EQ(out.take(), "");
    }
    EXPECT_TRUE(drainEvents().empty());
    EXPECT_EQ(positionState().tellCount, positionTells);
    EXPECT_EQ(orientationState().tellCount, orientationTells);
    EXPECT_EQ(dotState().tellCount, dotTells);
}

TEST(Publish, WithoutAGeoidPositionIsRefused) {
    ZOziDaZodOduzuz bare;
    EXPECT_THROW(ZOziDaZodOduzuzTestAccess(bare).publishPosition(), std::logic_error);
}

}  // namespace
