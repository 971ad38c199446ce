#include "utilities/GpsDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <tuple>

namespace {

using Civil = GpsDateTime::CivilTimeStruct;
using Fields = std::tuple<unsigned, unsigned, unsigned, unsigned>;  // rollover, week, ms of week, ps of ms

Fields fields(const GpsDateTime& t) { return {t.rollover, t.week, t.msOfWeek, t.psOfMs}; }

// A time with exactly these fields, not normalised.
GpsDateTime at(unsigned rollover, unsigned week, unsigned ms, unsigned ps = 0) {
    GpsDateTime t;
    std::tie(t.rollover, t.week, t.msOfWeek, t.psOfMs) = std::tie(rollover, week, ms, ps);
    return t;
}

// "YYYY-MM-DD hh:mm:ss.mmm" of ToCivilTime on a copy of t.
std::string civil(GpsDateTime t, unsigned leapSeconds = 0) {
    Civil c{};
    t.ToCivilTime(&c, leapSeconds);
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02d:%02d:%06.3f", c.year, c.month, c.day, c.hour, c.minute,
                  c.seconds);
    return text;
}

TEST(GpsDateTimeFields, SetTimeAndNormalizeCarryUpwardsAndUtcStopsAtTheEpoch) {
    // Back from week 0: the previous epoch, or the GPS epoch when there is none.
    GpsDateTime t;
    t.SetUtcTime(0, 5.0, 86390.0);
    EXPECT_EQ(fields(t), Fields(0, 1023, (6u * 86400u + 86390u) * 1000u, 0));
    EXPECT_EQ(fields(GpsDateTime(0, 5, 86390, 0.0)), Fields(0, 0, 0, 0));
    EXPECT_EQ(GpsDateTime(-3, 5, 5, 0.0), GpsDateTime(0, 5, 5, 0.0));
    t = GpsDateTime();
    t.SetTime(3, -5.5);  // the sign is dropped
    EXPECT_EQ(fields(t), Fields(1, 3, 5500, 0));
    t.SetTime(1023, 604800.001);
    EXPECT_EQ(fields(t), Fields(2, 0, 1, 0));
    t = at(0, 2047, 604799999, 3999999999u);
    t.Normalize();
    EXPECT_EQ(fields(t), Fields(2, 0, 2, 999999999));
    t.SetTime(1, std::nan(""));
    EXPECT_EQ(fields(t), Fields(2, 1, 0, 0));
}

TEST(GpsDateTimeArithmetic, SumDifferenceGoingBackAndOrderAreConsistent) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<unsigned> u(0, 4000000000u);
    for (int i = 0; i < 2000; ++i) {
        const GpsDateTime a = at(1 + u(rng) % 3, u(rng) % 1024, u(rng) % 604800000, u(rng) % 1000000000);
        const GpsDateTime d = at(1, u(rng) % 300, u(rng) % 604800000, u(rng) % 1000000000);
        const GpsDateTime sum = a + d;
        ASSERT_TRUE(sum >= a && a <= sum && (d == GpsDateTime() || (sum > a && a < sum && sum != a)));
        ASSERT_EQ(GpsDateTime::TimeDifference(sum, a), d);
        ASSERT_EQ(GpsDateTime::TimeDifference(a, sum), d);
        ASSERT_EQ(GpsDateTime::GoBackInTime(sum, d), a);
        GpsDateTime acc = a;
        ASSERT_EQ(acc += d, sum);
    }
    EXPECT_LT(at(1, 1023, 604799999), at(2, 0, 0));  // the rollover outranks every other field
    // Going back past week 0 of the first epoch stays in it.
    EXPECT_EQ(fields(GpsDateTime::GoBackInTime(at(0, 0, 1000), at(1, 1, 0))), Fields(0, 1023, 1000, 0));
}

// Valid days of the year both ways are covered by the cross-check below.
TEST(GpsDateTimeCalendar, LeapYearsDaysOfYearEpochAndGlonassTime) {
    for (auto [y, leap] : {std::pair{2000u, true}, {2024u, true}, {1900u, false}, {2100u, false}})
        EXPECT_EQ(GpsDateTime::IsLeapYear(y), leap) << y;
    for (Civil c : {Civil{2024, 0, 1}, Civil{2024, 13, 1}}) EXPECT_EQ(GpsDateTime::DayOfYearFromCivilTime(&c), 0u);
    for (unsigned y : {2023u, 2024u}) {
        Civil kept{1, 7, 9};  // day 0 and days past the end keep month and day
        GpsDateTime::DayOfYearToCivilTime(0, y, &kept);
        GpsDateTime::DayOfYearToCivilTime(GpsDateTime::IsLeapYear(y) ? 367 : 366, y, &kept);
        EXPECT_EQ(std::tie(kept.year, kept.month, kept.day), std::make_tuple(y, 7u, 9u));
    }
    Civil in{2024, 1, 1};
    const GpsDateTime frac = GpsDateTime::CivilTimeToGpsDateTime(&in, 12.00025, 0);
    EXPECT_EQ(frac.msOfWeek, 86412000u);
    EXPECT_NEAR(double(frac.psOfMs), 250e6, 1e3);
    for (Civil early : {Civil{1980, 1, 5}, Civil{1970, 6, 1}}) {  // before the GPS epoch: the epoch
        EXPECT_EQ(fields(GpsDateTime::CivilTimeToGpsDateTime(&early, 100u, 0u)), Fields(0, 0, 0, 0));
        EXPECT_EQ(fields(GpsDateTime::CivilTimeToGpsDateTime(&early, 100.0, 0u)), Fields(0, 0, 0, 0));
    }
    // Interval 7 starts with the leap year 2020; 12:00 GLONASS is 09:00:16 GPS.
    EXPECT_EQ(civil(GpsDateTime::ConvertGlonassTimeParamsToGps(10800, 1, 7)), "2020-01-01 00:00:16.000");
    for (auto [day, ymd] : {std::pair{366u, "2020-12-31"}, {367u, "2021-01-01"}, {1461u, "2023-12-31"}}) {
        EXPECT_EQ(civil(GpsDateTime::ConvertGlonassTimeParamsToGps(43200, day, 7)), std::string(ymd) + " 09:00:16.000");
    }
}

// Independent reference: the C library's UTC calendar on Unix time, both
// ways between civil and GPS time.
TEST(GpsDateTimeCrossCheck, AgreesWithTheCLibraryToTheMillisecond) {
    constexpr std::int64_t kGpsEpochUnix = 315964800;  // 1980-01-06 00:00:00 UTC
    std::mt19937_64 rng(20240101);
    std::uniform_int_distribution<std::int64_t> unixTime(915148800, 4102358400);  // 1999-01-01 to 2099-12-31
    std::uniform_int_distribution<int> msDist(0, 999), leapDist(1, 37), nearMidnight(-40, 40);
    for (int i = 0; i < 4000; ++i) {
        // Every other time within 40 s of a UTC midnight: GPS runs ahead of
        // UTC, so there the GPS day (and week) may already be the next one.
        std::int64_t utc = unixTime(rng);
        utc = i % 2 == 0 ? utc : utc - utc % 86400 + nearMidnight(rng);
        const int ms = msDist(rng), leap = leapDist(rng);
        const std::int64_t gps = utc - kGpsEpochUnix + leap;
        const int week = int(gps / 604800), tow = int(gps % 604800), tod = int(utc % 86400);
        const double frac = ms / 1000.0;

        const std::time_t tt = static_cast<std::time_t>(utc);
        std::tm ref{};
        ASSERT_NE(gmtime_r(&tt, &ref), nullptr);
        char expected[48];
        std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d.%03d", ref.tm_year + 1900,
                      ref.tm_mon + 1, ref.tm_mday, ref.tm_hour, ref.tm_min, ref.tm_sec, ms);
        SCOPED_TRACE("utc=" + std::to_string(utc) + " leap=" + std::to_string(leap));
        // UTC time of day on the GPS week grid, as a UTC time message gives it.
        ASSERT_EQ(civil(GpsDateTime(week, tow, tod, ms * 1e6)), expected);
        ASSERT_EQ(civil(GpsDateTime(week, tow + frac, tod + frac)), expected);
        // GPS time moved back by the leap seconds.
        GpsDateTime gpsTime = at(0, 0, 0);
        gpsTime.SetTime(unsigned(week), tow + frac);
        ASSERT_EQ(civil(gpsTime, unsigned(leap)), expected);
        ASSERT_EQ(GpsDateTime(week, tow, tod, 0.0).DayOfYear(), unsigned(ref.tm_yday + 1));
        // And from the civil date back to GPS time.
        Civil in{unsigned(ref.tm_year + 1900), unsigned(ref.tm_mon + 1), unsigned(ref.tm_mday)};
        const GpsDateTime back = GpsDateTime::CivilTimeToGpsDateTime(&in, unsigned(tod), unsigned(leap));
        ASSERT_EQ(std::make_tuple(back.week + 1024 * back.rollover, back.msOfWeek),
                  std::make_tuple(unsigned(week), unsigned(tow) * 1000u));
        ASSERT_EQ(GpsDateTime::CivilTimeToGpsDateTime(&in, double(tod), unsigned(leap)), back);
    }
}

}  // namespace
