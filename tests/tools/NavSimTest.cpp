// The navigator simulator's pure logic: time fields, route, covariance,
// faults and the sample builder.

#include "ASPN/AspnDeviceIds.h"
#include "ASPN/AspnHelper.h"
#include "aspn2_msgs/header.h"
#include "tools/aspn2-tool/NavSimulator.h"
#include "utilities/GpsDateTime.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <random>

namespace {

using namespace nav_sim;
using aspn2_msgs::idl::PositionVelocityAttitude;
using aspn2_msgs::idl::UTCTime;

constexpr double kPi = 3.141592653589793;
constexpr std::int64_t kNs = 1000000000;

std::int64_t unixNsOf(int year, int month, int day, int hour, int minute, int second, std::int64_t nsec = 0) {
    std::tm tm{second, minute, hour, day, month - 1, year - 1900, 0, 0, 0, 0, nullptr};
    return static_cast<std::int64_t>(::timegm(&tm)) * kNs + nsec;
}

// --- Time fields ---------------------------------------------------------

// For random instants the fields agree with the C library's calendar, and
// the server's way of reading them (GpsDateTime from week, time of week and
// UTC time of day, then ToCivilTime without leap seconds) gives back the
// UTC date and time. Instants in the last 18 s of a UTC day, where GPS has
// already passed midnight (and maybe the week), are drawn on purpose.
TEST(GpsUtcFields, AgreeWithTheCalendarAndGpsDateTime) {
    std::mt19937_64 random(20240101);
    std::uniform_int_distribution<std::int64_t> second(unixNsOf(1990, 1, 1, 0, 0, 0) / kNs,
                                                       unixNsOf(2099, 12, 31, 0, 0, 0) / kNs);
    std::uniform_int_distribution<std::int64_t> fraction(0, kNs - 1);
    std::uniform_int_distribution<int> lastSeconds(0, 17);
    for (int i = 0; i < 4000; ++i) {
        std::int64_t sec = second(random);
        if (i % 4 == 0) sec = sec - sec % 86400 + 86399 - lastSeconds(random);  // near UTC midnight
        std::int64_t const ns = sec * kNs + fraction(random);
        GpsUtcFields const f = gpsUtcFromUnixNs(ns);

        std::time_t const t = static_cast<std::time_t>(sec);
        std::tm utc{};
        ::gmtime_r(&t, &utc);
        SCOPED_TRACE(std::to_string(ns));
        ASSERT_EQ(f.utcTodSec, utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec);
        ASSERT_EQ(static_cast<std::int64_t>(f.gpsWeek) * 604800 + f.gpsTowSec, sec - kGpsEpochUnixSeconds + 18);
        ASSERT_EQ(std::make_pair(f.utcTodNsec, f.gpsTowNsec), std::make_pair(1.0 * (ns % kNs), 1.0 * (ns % kNs)));

        GpsDateTime g(f.gpsWeek, f.gpsTowSec, f.utcTodSec, f.utcTodNsec);
        GpsDateTime::CivilTimeStruct civil;
        g.ToCivilTime(&civil, 0);
        ASSERT_EQ(std::make_tuple(civil.year, civil.month, civil.day, civil.hour, civil.minute),
                  std::make_tuple(utc.tm_year + 1900u, utc.tm_mon + 1u, static_cast<unsigned>(utc.tm_mday),
                                  utc.tm_hour, utc.tm_min));
        ASSERT_NEAR(civil.seconds, utc.tm_sec + static_cast<double>(ns % kNs) * 1e-9, 1e-6);
    }
}

// --- Route ---------------------------------------------------------------

struct RouteCase {
    char const* what;
    double lat, lon, alt, speed;
    RouteShape shape;
};

RouteCase const kRoutes[] = {
    {"default lap", 45.0, 7.5, 300.0, 10.0, RouteShape()},
    {"fast, tight corners, steep hill", -33.9, 151.2, 20.0, 30.0, RouteShape{120.0, 80.0, 10.0, 15.0}},
    {"across the antimeridian", 10.0, 180.0, 0.0, 25.0, RouteShape{500.0, 400.0, 50.0, 0.0}},
    {"near the pole", 89.9, -45.0, 2000.0, 15.0, RouteShape()},
};

// Consecutive samples lie speed * dt apart along the direction of travel,
// the altitude changes at the rate of the down velocity, and the lap closes
// on itself. Yaw is the direction of the velocity, pitch the slope of the
// road, and the body leans out of right turns (negative roll) and stands
// upright on the straights.
TEST(NavRoute, MotionAndAttitudeMatchTheReportedVelocity) {
    GeographicLib::Geodesic const& wgs84 = GeographicLib::Geodesic::WGS84();
    double const dt = 0.01;
    for (RouteCase const& c : kRoutes) {
        SCOPED_TRACE(c.what);
        NavRoute const route(c.lat, c.lon, c.alt, c.speed, c.shape);
        double const lapTime = route.lapLengthM() / c.speed;
        Kinematics previous = route.at(0.0);
        int turning = 0, straight = 0;
        for (double t = dt; t <= 1.2 * lapTime; t += dt) {
            Kinematics const k = route.at(t);
            Kinematics const mid = route.at(t - dt / 2);
            double distance = 0.0, azimuth1 = 0.0, azimuth2 = 0.0;
            wgs84.Inverse(previous.latitudeRad * 180 / kPi, previous.longitudeRad * 180 / kPi,
                          k.latitudeRad * 180 / kPi, k.longitudeRad * 180 / kPi, distance, azimuth1, azimuth2);
            ASSERT_NEAR(distance, c.speed * dt, 0.002 * c.speed * dt + 0.002) << "t=" << t;
            ASSERT_LT(std::fabs(std::remainder(azimuth1 * kPi / 180 - mid.yaw, 2 * kPi)), 0.01) << "t=" << t;
            ASSERT_NEAR((k.altitudeM - previous.altitudeM) / dt, -mid.velocityDown, 0.01 * c.speed + 1e-3) << t;
            previous = k;

            // The plane of the lap tilts against the local horizontal away
            // from the start: a hill's climb shows a little in the horizontal.
            double const speed = std::hypot(k.velocityNorth, k.velocityEast);
            ASSERT_NEAR(speed, c.speed, 1e-4 * c.speed);
            ASSERT_NEAR(std::remainder(k.yaw - std::atan2(k.velocityEast, k.velocityNorth), 2 * kPi), 0.0, 1e-12);
            ASSERT_TRUE(k.yaw > -kPi && k.yaw <= kPi);
            ASSERT_NEAR(k.pitch, std::atan2(-k.velocityDown, speed), 1e-12);
            double const curvature = route.localAt(c.speed * t).curvature;
            ASSERT_NEAR(k.roll, -NavRoute::kRollPerLateralAcceleration * c.speed * c.speed * curvature, 1e-12);
            ++(curvature > 0 ? turning : straight);
        }
        EXPECT_TRUE(turning > 0 && straight > 0);
        Kinematics const start = route.at(0.0), again = route.at(lapTime);
        EXPECT_NEAR(again.latitudeRad, start.latitudeRad, 1e-9);
        EXPECT_NEAR(std::remainder(again.longitudeRad - start.longitudeRad, 2 * kPi), 0.0, 1e-9);
        EXPECT_NEAR(again.altitudeM, start.altitudeM, 1e-3);
    }
}

// --- Faults --------------------------------------------------------------

// Every scalar of a message that a fault may touch, the device id last.
std::vector<double> scalars(PositionVelocityAttitude const& m) {
    std::vector<double> v = {m.position().latitude(), m.position().longitude(), m.position().altitude()};
    v.insert(v.end(), m.velocity().begin(), m.velocity().end());
    v.insert(v.end(), m.attitude().begin(), m.attitude().end());
    for (auto const& row : m.covariance()) v.insert(v.end(), row.begin(), row.end());
    v.push_back(m.header().device_id());
    return v;
}

// Each fault changes its own fields (to NaN where it says so) and nothing else.
TEST(Faults, EachChangesExactlyItsFields) {
    auto nan = [](NanField f) {
        FaultInjection faults;
        faults.nanFields = {f};
        return faults;
    };
    FaultInjection wrongSource, latitude;
    wrongSource.wrongSourceId = 7;
    latitude.overrideLatitude = true;
    latitude.latitudeOverrideDeg = 100.0;
    std::tuple<FaultInjection, std::size_t, std::size_t, double> const cases[] = {  // fields first..last, new value
        {nan(NanField::Latitude), 0, 0, NAN},    {nan(NanField::Longitude), 1, 1, NAN},
        {nan(NanField::Altitude), 2, 2, NAN},    {nan(NanField::Velocity), 3, 5, NAN},
        {nan(NanField::Attitude), 6, 8, NAN},    {nan(NanField::Covariance), 9, 89, NAN},
        {wrongSource, 90, 90, 0x02070000},       {latitude, 0, 0, 100.0 * kPi / 180},
    };
    PositionVelocityAttitude const clean =
        makePva(NavRoute(45.0, 7.5, 300.0, 10.0).at(12.3), CovarianceModel().at(12.3), 1700000000 * kNs + 5, 7, 0x02600000);
    std::vector<double> const before = scalars(clean);
    for (auto const& [faults, first, last, value] : cases) {
        PositionVelocityAttitude faulty = clean;
        applyFaults(faults, faulty);
        std::vector<double> const after = scalars(faulty);
        for (std::size_t i = 0; i < after.size(); ++i) {
            double const expected = i >= first && i <= last ? value : before[i];
            ASSERT_TRUE(std::isnan(expected) ? std::isnan(after[i]) : std::fabs(after[i] - expected) <= 1e-12) << first << " " << i;
        }
        EXPECT_EQ(faulty.header().timestamp_valid(), clean.header().timestamp_valid());
    }
    EXPECT_TRUE(isUsableSolution(clean.covariance()));
}

// --- The sample stream -----------------------------------------------------

TEST(NavSimulator, StreamsShareTheTimeOfValidityCountOnTheirOwnAndUtcMayLag) {
    std::int64_t const start = unixNsOf(2024, 6, 1, 12, 0, 0);
    ASPN2::DeviceIdFactory const ids("Simulator", 96);
    NavSimulator sim(NavRoute(45.0, 7.5, 300.0, 10.0), CovarianceModel(), FaultInjection(), ids.makeDeviceId(0, 0),
                     start);
    for (int k = 0; k < 3; ++k) {
        std::int64_t const now = start + k * 100000000;
        PositionVelocityAttitude const pva = sim.nextPva(now);
        UTCTime const utc = sim.nextUtc(now);
        auto const& tov = pva.header().timestamp_valid();
        EXPECT_EQ(std::make_tuple(pva.header().seq_num(), utc.header().seq_num(), utc.utc_tod_sec()),
                  std::make_tuple(std::int64_t{k}, std::int64_t{k}, 12 * 3600));
        EXPECT_EQ(ASPN2::deltaTov(pva.header(), utc.header()), 0.0);
        EXPECT_EQ(tov, pva.header().timestamp_arrival());
        EXPECT_EQ(std::make_tuple(tov.sec(), tov.nsec(), tov.time_code()),
                  std::make_tuple(now / kNs, static_cast<std::int32_t>(now % kNs),
                                  ASPN2::TimeCodeHelper::kLiveTimeCode));
        EXPECT_EQ(std::make_pair(pva.header().device_id(), utc.header().device_id()),
                  std::make_pair(0x02600000, 0x02600000));
    }
    EXPECT_EQ(sim.nextPva(start).header().seq_num(), 3);

    // A lagging UTC stream describes an earlier instant: 23:59:59.55 of 31 May.
    std::int64_t const midnight = unixNsOf(2024, 6, 1, 0, 0, 0, 300000000);
    FaultInjection faults;
    faults.utcLagS = 0.75;
    faults.wrongSourceId = 3;
    NavSimulator lagging(NavRoute(45.0, 7.5, 300.0, 10.0), CovarianceModel(), faults, 0x02600000, midnight);
    PositionVelocityAttitude const pva = lagging.nextPva(midnight);
    UTCTime const utc = lagging.nextUtc(midnight);
    EXPECT_NEAR(ASPN2::deltaTov(pva.header(), utc.header()), 0.75, 1e-9);
    EXPECT_EQ(utc, makeUtc(midnight - 750000000, 0, 0x02030000));
    EXPECT_EQ(std::make_pair(utc.utc_tod_sec(), utc.utc_tod_nsec()), std::make_pair(86399, 550000000.0));
    EXPECT_EQ(static_cast<std::uint32_t>(pva.header().device_id()), 0x02030000u);
}

}  // namespace
