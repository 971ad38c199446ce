// The report values, computed without any service or geoid.
#include "VICTORY/ZOziDaZodOduzuz/VictoryReports.h"

#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace VictoryReports;
using zozi_test::defaultPva;
using zozi_test::defaultUtc;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

aspn2_msgs::idl::PositionVelocityAttitude withPositionVariances(double n, double e, double d) {
    auto pva = defaultPva();
    pva.covariance()[0][0] = n;
    pva.covariance()[1][1] = e;
    pva.covariance()[2][2] = d;
    return pva;
}

TEST(VictoryReports, ValidityFollowsTheSummedPositionVariance) {
    const double justBelow = std::nextafter(kVarianceLimit, 0.0);
    const struct {
        double n, e, d;
        bool valid;
    } cases[] = {
        {4.0, 9.0, 16.0, true},
        {kVarianceLimit, 0.0, 0.0, false},
        {10000000.0, 10000000.0, 5000000.0, false},  // sums to the limit exactly
        {justBelow, 0.0, 0.0, true},
        {kInf, 0.0, 0.0, false},
        {kNaN, 0.0, 0.0, false},
        {0.0, 0.0, -kInf, false},
        {1e308, 1e308, 0.0, false},  // the sum overflows to infinity
        {-4.0, 0.0, 0.0, true},      // usable, but its uncertainty is NaN
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " + " << c.e << " + " << c.d);
        const auto pva = withPositionVariances(c.n, c.e, c.d);
        const VposcBasis basis = c.valid ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID;
        const auto p = makePositionReport(pva, 0.0);
        EXPECT_EQ(p.valid, c.valid);
        EXPECT_EQ(p.latitude.basis, basis);
        EXPECT_EQ(p.longitude.basis, basis);
        EXPECT_EQ(p.altitudeValue.basis, basis);
        // Orientation and direction of travel share the position's verdict,
        // whatever their own variances.
        EXPECT_EQ(makeOrientationReport(pva).valid, c.valid);
        EXPECT_EQ(makeOrientationReport(pva).yaw.basis, basis);
        EXPECT_EQ(makeDirectionReport(pva).valid, c.valid);
        EXPECT_EQ(makeDirectionReport(pva).climb.basis, basis);
    }
    EXPECT_TRUE(std::isnan(makePositionReport(withPositionVariances(-4.0, 0.0, 0.0), 0.0).latitude.uncertainty));
}

TEST(VictoryReports, PositionValuesAndUncertainties) {
    const auto pva = defaultPva();  // 30N 90W, variances 4, 9, 16
    const auto r = makePositionReport(pva, 25.5);
    EXPECT_NEAR(r.latDeg, 30.0, 1e-12);
    EXPECT_NEAR(r.lonDeg, -90.0, 1e-12);
    EXPECT_DOUBLE_EQ(r.altitude, 100.0 - 25.5);
    EXPECT_DOUBLE_EQ(r.estPosVar, 29.0);
    EXPECT_DOUBLE_EQ(r.latUncDeg, 2.0 / 111132.0);
    EXPECT_DOUBLE_EQ(r.lonUncDeg, 3.0 / (111132.0 * std::cos(30.0 * kPi / 180.0)));
    EXPECT_DOUBLE_EQ(r.altUnc, 4.0);
    // Told: radians for the angles, metres for the altitude.
    EXPECT_DOUBLE_EQ(r.latitude.value, pva.position().latitude());
    EXPECT_DOUBLE_EQ(r.longitude.value, pva.position().longitude());
    EXPECT_DOUBLE_EQ(r.latitude.uncertainty, 2.0 / 111132.0 * kPi / 180.0);
    EXPECT_DOUBLE_EQ(r.longitude.uncertainty, r.lonUncDeg * kPi / 180.0);
    EXPECT_DOUBLE_EQ(r.altitudeValue.value, 74.5);
    EXPECT_DOUBLE_EQ(r.altitudeValue.uncertainty, 4.0);
}

TEST(VictoryReports, LongitudeUncertaintyIsBoundedAtThePoles) {
    const double clamped = 3.0 / (111132.0 * kSmallestCosine);
    for (const double lat : {kPi / 2, -kPi / 2, std::nextafter(kPi / 2, 0.0), 2.0}) {
        SCOPED_TRACE(lat);
        auto pva = defaultPva();
        pva.position().latitude(lat);
        const double c = std::cos(lat);
        const double expected = c < kSmallestCosine ? clamped : 3.0 / (111132.0 * c);
        const auto r = makePositionReport(pva, 0.0);
        EXPECT_DOUBLE_EQ(r.lonUncDeg, expected);
        EXPECT_TRUE(std::isfinite(r.lonUncDeg));
    }
}

TEST(VictoryReports, DirectionUncertainty) {
    const struct {
        const char* what;
        double a, varA, b, varB, expected;
    } cases[] = {
        // Due north at 10 m/s, both variances 1: pi/2 - atan2(9, 1), the
        // larger of the two corner distances (the other is about 0.0907).
        {"due north 10 m/s", 10.0, 1.0, 0.0, 1.0, kPi / 2 - std::atan2(9.0, 1.0)},
        {"box holds the origin", 0.5, 1.0, -0.5, 1.0, kPi},
        {"standstill, exact", 0.0, 0.0, 0.0, 0.0, 0.0},
        {"standstill, sigma on one axis only", 0.0, 1.0, 0.0, 0.0, kPi / 2},
        {"sigma equal to the speed is not inside", 1.0, 1.0, 1.0, 1.0, std::atan2(2.0, 0.0) - kPi / 4},
        {"signs do not matter", -10.0, 1.0, -0.0, 1.0, kPi / 2 - std::atan2(9.0, 1.0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(directionUncertainty(c.a, c.varA, c.b, c.varB), c.expected, 1e-15);
    }
    EXPECT_NEAR(directionUncertainty(10.0, 1.0, 0.0, 1.0), 0.1107, 5e-5);
    EXPECT_TRUE(std::isnan(directionUncertainty(1.0, -1.0, 1.0, 1.0)));
}

TEST(VictoryReports, DirectionUncertaintyStaysWithinZeroAndPi) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> speed(-50.0, 50.0);
    std::uniform_real_distribution<double> var(0.0, 100.0);
    for (int i = 0; i < 10000; ++i) {
        const double a = speed(rng), b = speed(rng), va = var(rng), vb = var(rng);
        const double u = directionUncertainty(a, va, b, vb);
        ASSERT_GE(u, 0.0) << a << " " << va << " " << b << " " << vb;
        ASSERT_LE(u, kPi) << a << " " << va << " " << b << " " << vb;
        // The sign of a component plays no part.
        ASSERT_DOUBLE_EQ(u, directionUncertainty(-a, va, -b, vb));
    }
}

TEST(VictoryReports, OrientationAndDirectionOfTravel) {
    auto pva = defaultPva();  // north 10 m/s, down -1 m/s
    const auto o = makeOrientationReport(pva);
    EXPECT_DOUBLE_EQ(o.roll.value, pva.attitude()[0]);
    EXPECT_DOUBLE_EQ(o.pitch.value, pva.attitude()[1]);
    EXPECT_DOUBLE_EQ(o.yaw.value, pva.attitude()[2]);
    EXPECT_DOUBLE_EQ(o.roll.uncertainty, 0.01);
    EXPECT_DOUBLE_EQ(o.pitch.uncertainty, 0.02);
    EXPECT_DOUBLE_EQ(o.yaw.uncertainty, 0.03);

    const auto d = makeDirectionReport(pva);
    EXPECT_DOUBLE_EQ(d.heading.value, 0.0);
    EXPECT_NEAR(d.heading.uncertainty, 0.1107, 5e-5);
    EXPECT_DOUBLE_EQ(d.speed.value, 10.0);
    EXPECT_DOUBLE_EQ(d.speed.uncertainty, std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(d.climb.value, 1.0);
    EXPECT_DOUBLE_EQ(d.climb.uncertainty, 0.5);

    const struct {
        double vN, vE, heading;
    } headings[] = {{0.0, 5.0, kPi / 2}, {-5.0, 0.0, kPi}, {0.0, -5.0, -kPi / 2}, {3.0, 3.0, kPi / 4}};
    for (const auto& h : headings) {
        pva.velocity()[0] = h.vN;
        pva.velocity()[1] = h.vE;
        EXPECT_DOUBLE_EQ(makeDirectionReport(pva).heading.value, h.heading) << h.vN << ", " << h.vE;
        EXPECT_DOUBLE_EQ(makeDirectionReport(pva).speed.value, std::hypot(h.vN, h.vE));
    }
}

TEST(VictoryReports, StandstillGivesZeroHeadingAndZeroUncertainty) {
    auto pva = defaultPva();
    pva.velocity({0.0, 0.0, 0.0});
    for (int i = 3; i < 6; ++i) pva.covariance()[i][i] = 0.0;
    const auto d = makeDirectionReport(pva);
    EXPECT_EQ(d.heading.value, 0.0);
    EXPECT_EQ(d.heading.uncertainty, 0.0);
    EXPECT_EQ(d.speed.value, 0.0);
    EXPECT_EQ(d.speed.uncertainty, 0.0);
    EXPECT_EQ(d.climb.value, 0.0);
}

TEST(VictoryReports, SampleTime) {
    const struct {
        const char* what;
        int week, gpsTow, utcTod;
        double nsec;
        VictoryTime expected;
    } cases[] = {
        {"same day", 2318, 6 * 86400 + 45296 + 18, 45296, 5.0e8, {2024, 6, 15, 12, 34, 56, 500000000}},
        // GPS has passed Sunday midnight, UTC has not: Saturday, and the
        // week before.
        {"previous day", 2318, 10, 86392, 0.0, {2024, 6, 8, 23, 59, 52, 0}},
        {"last nanosecond of a second", 2318, 45296 + 18, 45296, 999999999.0, {2024, 6, 9, 12, 34, 56, 999999999}},
        {"previous day across the new year", 2347, 3 * 86400 + 17, 86399, 0.0, {2024, 12, 31, 23, 59, 59, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        aspn2_msgs::idl::UTCTime utc;
        utc.gps_week(c.week);
        utc.gps_tow_sec(c.gpsTow);
        utc.utc_tod_sec(c.utcTod);
        utc.utc_tod_nsec(c.nsec);
        const VictoryTime t = sampleTime(utc);
        EXPECT_EQ(t.year, c.expected.year);
        EXPECT_EQ(t.month, c.expected.month);
        EXPECT_EQ(t.day, c.expected.day);
        EXPECT_EQ(t.hour, c.expected.hour);
        EXPECT_EQ(t.minute, c.expected.minute);
        EXPECT_EQ(t.second, c.expected.second);
        // The fraction passes through binary floating point: truncation may
        // land one nanosecond low.
        EXPECT_NEAR(t.nanosecond, c.expected.nanosecond, 1);
        EXPECT_GE(t.nanosecond, 0);
        EXPECT_LT(t.nanosecond, 1000000000);
    }
    EXPECT_EQ(formatSampleTime(sampleTime(defaultUtc())), "6/15/2024 12:34:56 500000000 ns");
}

TEST(VictoryReports, BasisNames) {
    EXPECT_STREQ(basisName(VPOSC_BASIS_INVALID), "VPOSC_BASIS_INVALID");
    EXPECT_STREQ(basisName(VPOSC_BASIS_ESTIMATED), "VPOSC_BASIS_ESTIMATED");
    EXPECT_STREQ(basisName(VPOSC_BASIS_MEASURED), "VPOSC_BASIS_MEASURED");
    EXPECT_STREQ(basisName(3), "unknown");
    EXPECT_STREQ(basisName(-1), "unknown");
}

}  // namespace
