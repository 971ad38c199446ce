// Position, orientation and direction of travel reports: the values told
// to the services library, against values worked out by hand, and what is
// printed.
#include "VICTORY/ZOziDaZodOduzuz/VictoryReports.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;
using zozi_test::Services;

constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLimit = 25000000.0;

double radians(double degrees) { return degrees * kPi / 180.0; }

void expectClose(double got, double expected, const char* what) {
    const bool close = std::isnan(expected)   ? std::isnan(got)
                       : std::isinf(expected) ? got == expected
                                              : std::fabs(got - expected) <= 1e-9 * std::max(1.0, std::fabs(expected));
    EXPECT_TRUE(close) << what << ": " << got << ", expected " << expected;
}

// A server with a geoid of -18 m + 0.15 m per degree north and three
// services that store what they are told.
class PublishTest : public zozi_test::ServerOverServices {
protected:
    corvane_test::TempDir dir{"zozi-publish"};

    void SetUp() override {
        corvane_test::SyntheticGeoid::linearInLatitude(30000, 50).write(dir.path());
        attach("synthetic", dir.path());
    }

    void setPosition(double latDeg, double lonDeg, std::array<double, 3> variances) {
        access.pva().position().latitude(radians(latDeg));
        access.pva().position().longitude(radians(lonDeg));
        for (int i = 0; i < 3; ++i) access.pva().covariance()[i][i] = variances[i];
    }
};

TEST_F(PublishTest, PositionReports) {
    const double lonUnc30 = 5.44037530214585e-07, latUnc = 3.141002145186498e-07;  // 2 m and 3 m in radians
    const struct {
        double lat, lon;
        std::array<double, 3> variances;
        double altitude, latUnc, lonUnc, altUnc;  // uncertainty 0: not checked
        const char* mgrs;                         // empty: not usable, told without MGRS
    } cases[] = {
        {30.0, -90.0, {4, 9, 16}, 113.5, latUnc, lonUnc30, 4.0, "16RBU1059022575"},
        {-45.3, 170.25, {4, 9, 16}, 124.795, latUnc, 6.698235285188147e-07, 4.0, "59GMK4119783448"},
        {88.5, 10.0, {4, 9, 16}, 104.725, latUnc, 1.7998672581565538e-05, 4.0, "ZAF2892035985"},
        {-85.0, -120.0, {4, 9, 16}, 130.75, latUnc, 5.4058436876855645e-06, 4.0, "ATK1895922271"},
        // cos(latitude) is bounded at the pole.
        {90.0, 0.0, {4, 9, 16}, 104.5, latUnc, 2121872413.5947764, 4.0, "ZAH0000000000"},
        {-33.86, 151.21, {-4, 9, 16}, 100.0 + 18.0 + 0.15 * 33.86, kNaN, 0.0, 4.0, "56HLH3441651925"},
        {10.0, 20.0, {std::nextafter(kLimit, 0.0), 0, 0}, 116.5, 0.0, 0.0, 0.0, "34PCS9039905578"},
        {10.0, 20.0, {kLimit - 2.0, 1, 1}, 116.5, 0.0, 0.0, 1.0, ""},
        {10.0, 20.0, {4, kInf, 16}, 116.5, latUnc, kInf, 4.0, ""},
        {10.0, 20.0, {4, 9, kNaN}, 116.5, latUnc, 0.0, kNaN, ""},
        {10.0, 20.0, {1e308, 1e308, 0}, 116.5, 0.0, 0.0, 0.0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lat << ", " << c.lon << ", " << c.variances[0]);
        setPosition(c.lat, c.lon, c.variances);
        access.publishPosition();
        const VictoryTestState s = services.state(0);
        const bool usable = *c.mgrs != '\0';
        expectClose(s.values[0].value, radians(c.lat), "latitude");
        expectClose(s.values[1].value, radians(c.lon), "longitude");
        expectClose(s.values[2].value, c.altitude, "altitude");
        if (c.latUnc != 0.0) expectClose(s.values[0].uncertainty, c.latUnc, "latitude uncertainty");
        if (c.lonUnc != 0.0) expectClose(s.values[1].uncertainty, c.lonUnc, "longitude uncertainty");
        if (c.altUnc != 0.0) expectClose(s.values[2].uncertainty, c.altUnc, "altitude uncertainty");
        for (int i = 0; i < 3; ++i) EXPECT_EQ(s.values[i].basis, usable ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID);
        EXPECT_EQ(s.hasMgrs, usable ? 1 : 0);
        EXPECT_EQ(std::string(s.mgrs), c.mgrs);
    }
}

// The geodesy refuses a latitude beyond the pole: a usable solution is
// then not told at all, an unusable one is (it needs no MGRS).
TEST_F(PublishTest, LatitudeBeyondThePole) {
    setPosition(100.0, 0.0, {4, 9, 16});
    EXPECT_THROW(access.publishPosition(), GeographicLib::GeographicErr);
    EXPECT_EQ(services.tells()[0], 0u);
    setPosition(100.0, 0.0, {kInf, 0, 0});
    EXPECT_NO_THROW(access.publishPosition());
    EXPECT_EQ(services.tells()[0], 1u);
    ZOziDaZodOduzuz bare;
    EXPECT_THROW(ZOziDaZodOduzuzTestAccess(bare).publishPosition(), std::logic_error);
}

// Orientation passes the attitude through; direction of travel derives
// heading, speed and climb; both take the basis of the position.
TEST_F(PublishTest, OrientationAndDirectionReports) {
    const double dueNorth = 0.11065722117389565;
    const struct {
        std::array<double, 3> velocity;
        std::array<double, 3> variances;                     // north, east, down velocity
        double heading, headingUnc, speed, speedUnc, climb;  // speedUnc 0: not checked
        bool usable;
    } cases[] = {
        {{10, 0, -1}, {1, 1, 0.25}, 0.0, dueNorth, 10.0, std::sqrt(2.0), 1.0, true},
        {{-10, -0.0, 2}, {1, 1, 0.25}, kPi, dueNorth, 10.0, std::sqrt(2.0), -2.0, false},
        {{0.5, -0.5, 0}, {1, 1, 0}, -kPi / 4, kPi, std::sqrt(0.5), std::sqrt(2.0), 0.0, true},  // sigma box holds 0
        {{1, 1, 0}, {1, 1, 0}, kPi / 4, kPi / 4, std::sqrt(2.0), std::sqrt(2.0), 0.0, true},
        {{0, 0, 0}, {0, 0, 0}, 0.0, 0.0, 0.0, 0.0, 0.0, true},  // standstill heads north
        {{0, 0, 0}, {1, 0, 0}, 0.0, kPi / 2, 0.0, 1.0, 0.0, true},
        {{3, 4, 0}, {0, 0, 0}, std::atan2(4.0, 3.0), 0.0, 5.0, 0.0, 0.0, true},
        {{3, 4, 0}, {-1, 1, 0}, std::atan2(4.0, 3.0), kNaN, 5.0, 0.0, 0.0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.velocity[0] << ", " << c.velocity[1] << ", " << c.variances[0]);
        access.pva().velocity(c.velocity);
        for (int i = 0; i < 3; ++i) access.pva().covariance()[3 + i][3 + i] = c.variances[i];
        setPosition(30.0, -90.0, c.usable ? std::array<double, 3>{4, 9, 16} : std::array<double, 3>{1e7, 1e7, 1e7});
        access.publishOrientation();
        access.publishDirectionOfTravel();
        const VictoryTestState o = services.state(1);
        const VictoryTestState d = services.state(2);
        expectClose(o.values[0].value, radians(10.0), "roll");
        expectClose(o.values[1].value, radians(-5.0), "pitch");
        expectClose(o.values[2].value, radians(45.0), "yaw");
        expectClose(o.values[2].uncertainty, 0.03, "yaw uncertainty");
        expectClose(d.values[0].value, c.heading, "heading");
        expectClose(d.values[0].uncertainty, c.headingUnc, "heading uncertainty");
        expectClose(d.values[1].value, c.speed, "speed");
        if (c.speedUnc != 0.0) expectClose(d.values[1].uncertainty, c.speedUnc, "speed uncertainty");
        expectClose(d.values[2].value, c.climb, "climb");
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(o.values[i].basis, c.usable ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID);
            EXPECT_EQ(d.values[i].basis, c.usable ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID);
        }
    }
}

// Headings lie in (-pi, pi]: due south is pi whatever the sign of a zero
// east component, and a vehicle at rest heads +0 whatever the signs.
TEST(VictoryReports, HeadingRangeIgnoresSignedZeros) {
    const double z = 0.0, nz = -0.0;
    const struct {
        double vN, vE, heading;
    } cases[] = {
        {-10, nz, kPi}, {-10, z, kPi},      {z, z, 0.0},
        {nz, nz, 0.0},  {nz, z, 0.0},       {z, nz, 0.0},
        {10, nz, 0.0},  {nz, -3, -kPi / 2}, {-1e-300, -1e-300, -3 * kPi / 4},
    };
    for (const auto& c : cases) {
        const double h = VictoryReports::heading(c.vN, c.vE);
        EXPECT_DOUBLE_EQ(h, c.heading) << c.vN << ", " << c.vE;
        EXPECT_FALSE(std::signbit(h) && h == 0.0) << c.vN << ", " << c.vE;
        EXPECT_GT(h, -kPi);
    }
    EXPECT_TRUE(std::isnan(VictoryReports::heading(kNaN, 1.0)));
}

TEST(VictoryReports, DirectionUncertaintyStaysWithinHalfACircle) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> speed(-50.0, 50.0), var(0.0, 100.0);
    for (int i = 0; i < 10000; ++i) {
        const double a = speed(rng), b = speed(rng), va = var(rng), vb = var(rng);
        const double u = VictoryReports::directionUncertainty(a, va, b, vb);
        ASSERT_TRUE(u >= 0.0 && u <= kPi) << a << " " << va << " " << b << " " << vb;
    }
}

TEST_F(PublishTest, DebugLinesShowDegreesAndTheSampleTime) {
    access.setDebug(true);
    CoutCapture out;
    access.publishPosition();
    access.publishOrientation();
    access.publishDirectionOfTravel();
    EXPECT_EQ(out.take(),
              "ZOziDaZodOduzuz: PublishPosition Position data update :   lat = 30, lat uncert = 1.79966e-05, "
              "lat basis = VPOSC_BASIS_MEASURED, lon = -90, lon uncert = 3.11711e-05, lon basis = "
              "VPOSC_BASIS_MEASURED, alt = 113.5, alt uncert = 4, alt basis = VPOSC_BASIS_MEASURED, estPosVar = "
              "29, solutionValid = 1, covariance()[0][0] = 4, covariance()[1][1] = 9, covariance()[2][2] = 16, "
              "sample time = 6/15/2024 12:34:56 500000000 ns\n\n"
              "ZOziDaZodOduzuz: PublishOrientation Orientation data update : roll = 10, roll uncert = 0.572958, "
              "pitch = -5, pitch uncert= 1.14592, yaw = 45, yaw uncert= 1.71887, sample time = 6/15/2024 "
              "12:34:56 500000000 ns\n\n"
              "ZOziDaZodOduzuz: PublishDirectionOfTravel DoT data update :  heading = 0 heading uncert = 6.34019, "
              "speed = 10, speed uncert = 1.41421, climb = 1, climb uncert = 0.5, sample time = 6/15/2024 "
              "12:34:56 500000000 ns\n\n");
}

// A missing service is reported on every call; with tell disabled nothing
// is told, printed or reported at all.
TEST_F(PublishTest, MissingServiceAndDisabledTell) {
    auto publishAll = [this] {
        access.publishPosition();
        access.publishOrientation();
        access.publishDirectionOfTravel();
    };
    access.setDebug(true);
    access.tellDisabled() = true;
    CoutCapture out;
    publishAll();
    access.positionService() = nullptr;
    access.orientationService() = nullptr;
    access.dotService() = nullptr;
    publishAll();
    EXPECT_EQ(out.take(), "");
    EXPECT_TRUE(drainEvents().empty());
    EXPECT_EQ(services.tells(), (std::array<std::uint64_t, 3>{0, 0, 0}));

    access.setDebug(false);
    access.tellDisabled() = false;
    std::string expectedText;
    std::vector<Event> expectedEvents;
    for (const char* name : {"m_VPosService", "m_VOrService", "m_VDirService", "m_VPosService"}) {
        expectedText += "ZOziDaZodOduzuz: " + std::string(name) + " object was invalid\n";
        expectedEvents.push_back({3, "ZOziDaZodOduzuz: " + std::string(name) + " object was invalid"});
    }
    publishAll();
    access.publishPosition();
    EXPECT_EQ(out.take(), expectedText);
    EXPECT_EQ(drainEvents(), expectedEvents);
}

}  // namespace
