#include "utilities/GpsDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <random>

namespace {

using Civil = GpsDateTime::CivilTimeStruct;

std::uint64_t fullWeek(const GpsDateTime& t)
{
    return t.week + 1024ull * t.rollover;
}

Civil date(unsigned y, unsigned m, unsigned d)
{
    Civil c{};
    c.year = y;
    c.month = m;
    c.day = d;
    return c;
}

Civil civilOf(GpsDateTime t, unsigned leapSeconds = 0)
{
    Civil c{};
    t.ToCivilTime(&c, leapSeconds);
    return c;
}

void expectCivil(const Civil& c, unsigned y, unsigned mo, unsigned d, int h, int mi, double s)
{
    EXPECT_EQ(c.year, y);
    EXPECT_EQ(c.month, mo);
    EXPECT_EQ(c.day, d);
    EXPECT_EQ(c.hour, h);
    EXPECT_EQ(c.minute, mi);
    EXPECT_NEAR(c.seconds, s, 1e-6);
}

GpsDateTime epochZero()
{
    GpsDateTime e;
    e.rollover = 0;
    return e;
}

TEST(GpsDateTimeUtc, DateFollowsGpsWeekAndTimeOfDayFollowsUtcAroundMidnight)
{
    const GpsDateTime monday(2295, 86418, 0, 0.0);  // GPS Monday 00:00:18, UTC midnight
    EXPECT_EQ(monday.week, 247u);
    EXPECT_EQ(monday.msOfWeek, 86400000u);
    EXPECT_EQ(monday.rollover, 2u);

    struct Case {
        int week, towSec, todSec;
        double todNsec;
        unsigned y, mo, d;
        int h, mi;
        double s;
    };
    const Case cases[] = {
        {2295, 86418, 0, 0.0, 2024, 1, 1, 0, 0, 0.0},
        // GPS already in Sunday, UTC still on Saturday of the week before.
        {2295, 5, 86387, 0.0, 2023, 12, 30, 23, 59, 47.0},
        // GPS already in Monday, UTC still on Sunday; the fraction is kept.
        {2295, 86400, 86382, 250000000.0, 2023, 12, 31, 23, 59, 42.25},
        {2295, 86400 + 3618, 3600, 0.0, 2024, 1, 1, 1, 0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.towSec) + "/" + std::to_string(c.todSec));
        expectCivil(civilOf(GpsDateTime(c.week, c.towSec, c.todSec, c.todNsec)), c.y, c.mo, c.d, c.h, c.mi, c.s);
        expectCivil(civilOf(GpsDateTime(c.week, double(c.towSec), c.todSec + c.todNsec * 1e-9)), c.y, c.mo, c.d,
                    c.h, c.mi, c.s);
    }
}

TEST(GpsDateTimeUtc, GoingBackFromWeekZeroUsesThePreviousEpochOrStopsAtTheGpsEpoch)
{
    GpsDateTime t;  // epoch 1
    t.SetUtcTime(0, 5.0, 86390.0);
    EXPECT_EQ(t.rollover, 0u);
    EXPECT_EQ(t.week, 1023u);
    EXPECT_EQ(t.msOfWeek, (6u * 86400u + 86390u) * 1000u);

    EXPECT_EQ(GpsDateTime(0, 5, 86390, 0.0), epochZero());
    EXPECT_EQ(GpsDateTime(-3, 5, 5, 0.0), GpsDateTime(0, 5, 5, 0.0));
}

TEST(GpsDateTimeFields, SetTimeAndNormalizeCarryUpwards)
{
    GpsDateTime a;
    GpsDateTime b;
    a.SetTime(3, 5.5);
    b.SetTime(3, -5.5);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.msOfWeek, 5500u);

    a.SetTime(1023, 604800.001);
    EXPECT_EQ(a.rollover, 2u);
    EXPECT_EQ(a.week, 0u);
    EXPECT_EQ(a.msOfWeek, 1u);

    GpsDateTime raw;
    raw.week = 2047;
    raw.msOfWeek = 604799999;
    raw.psOfMs = 3999999999u;
    raw.rollover = 0;
    raw.Normalize();
    EXPECT_EQ(raw.psOfMs, 999999999u);
    EXPECT_EQ(raw.msOfWeek, 2u);
    EXPECT_EQ(raw.week, 0u);
    EXPECT_EQ(raw.rollover, 2u);

    GpsDateTime garbage;
    garbage.SetTime(1, std::nan(""));
    EXPECT_EQ(garbage, GpsDateTime(1u, 0u));
}

TEST(GpsDateTimeArithmetic, SumDifferenceGoingBackAndOrderAreConsistent)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<unsigned> u(0, 4000000000u);
    for (int i = 0; i < 2000; ++i) {
        GpsDateTime a(u(rng) % 1024, u(rng) % 604800000);
        a.psOfMs = u(rng) % 1000000000;
        a.rollover = 1 + u(rng) % 3;
        GpsDateTime d(u(rng) % 300, u(rng) % 604800000);
        d.psOfMs = u(rng) % 1000000000;

        const GpsDateTime sum = a + d;
        ASSERT_TRUE(sum >= a && a <= sum && (d == GpsDateTime() || (sum > a && a < sum && sum != a)));
        ASSERT_EQ(GpsDateTime::TimeDifference(sum, a), d);
        ASSERT_EQ(GpsDateTime::TimeDifference(a, sum), d);
        ASSERT_EQ(GpsDateTime::GoBackInTime(sum, d), a);
        GpsDateTime acc = a;
        acc += d;
        ASSERT_EQ(acc, sum);
    }
    // The rollover outranks every other field.
    GpsDateTime later(0u, 0u);
    later.rollover = 2;
    EXPECT_LT(GpsDateTime(1023u, 604799999u), later);
}

TEST(GpsDateTimeArithmetic, GoingBackBeforeWeekZero)
{
    GpsDateTime t(0u, 1000u);
    t.rollover = 2;
    const GpsDateTime back = GpsDateTime::GoBackInTime(t, GpsDateTime(1u, 0u));
    EXPECT_EQ(back.rollover, 1u);
    EXPECT_EQ(back.week, 1023u);
    EXPECT_EQ(back.msOfWeek, 1000u);

    t.rollover = 0;
    const GpsDateTime none = GpsDateTime::GoBackInTime(t, GpsDateTime(1u, 0u));
    EXPECT_EQ(none.rollover, 0u);
    EXPECT_EQ(none.week, 1023u);

    GpsDateTime onePs(0u, 0u);
    onePs.psOfMs = 1;
    const GpsDateTime q = GpsDateTime::GoBackInTime(GpsDateTime(1u, 0u), onePs);
    EXPECT_EQ(q.week, 0u);
    EXPECT_EQ(q.msOfWeek, 604799999u);
    EXPECT_EQ(q.psOfMs, 999999999u);
}

TEST(GpsDateTimeCalendar, LeapYearsAndDaysOfYear)
{
    for (auto [y, leap] : {std::pair{2000u, true}, {2024u, true}, {1900u, false}, {2023u, false}, {2100u, false}}) {
        EXPECT_EQ(GpsDateTime::IsLeapYear(y), leap) << y;
    }
    for (auto [c, doy] : {std::pair{date(2023, 3, 1), 60u}, {date(2024, 3, 1), 61u}, {date(2024, 0, 1), 0u},
                          {date(2024, 13, 1), 0u}, {date(2024, 12, 31), 366u}}) {
        EXPECT_EQ(GpsDateTime::DayOfYearFromCivilTime(&c), doy) << c.year << "-" << c.month;
    }
    for (unsigned y : {2023u, 2024u}) {
        const unsigned last = GpsDateTime::IsLeapYear(y) ? 366 : 365;
        for (unsigned d = 1; d <= last; ++d) {
            Civil out{};
            GpsDateTime::DayOfYearToCivilTime(d, y, &out);
            ASSERT_EQ(GpsDateTime::DayOfYearFromCivilTime(&out), d) << y << "/" << d;
        }
        Civil kept = date(1, 7, 9);  // day 0 and days past the end keep month and day
        GpsDateTime::DayOfYearToCivilTime(0, y, &kept);
        GpsDateTime::DayOfYearToCivilTime(last + 1, y, &kept);
        EXPECT_EQ(kept.year, y);
        EXPECT_EQ(kept.month, 7u);
        EXPECT_EQ(kept.day, 9u);
    }
}

TEST(GpsDateTimeCalendar, CivilTimeToGpsDateTime)
{
    struct Case {
        unsigned y, m, d, sod, leap;
        std::uint64_t week;
        unsigned ms;
    };
    const Case cases[] = {
        {2024, 1, 1, 0, 0, 2295, 86400000},
        {2023, 1, 1, 0, 0, 2243, 0},
        {1980, 1, 6, 0, 0, 0, 0},
        {2019, 4, 7, 0, 0, 2048, 0},
        // The last second of a Saturday plus leap seconds spills into the next week.
        {2023, 12, 30, 86399, 18, 2295, 17000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
        Civil civil = date(c.y, c.m, c.d);
        const GpsDateTime t = GpsDateTime::CivilTimeToGpsDateTime(&civil, c.sod, c.leap);
        EXPECT_EQ(fullWeek(t), c.week);
        EXPECT_EQ(t.msOfWeek, c.ms);
        EXPECT_EQ(GpsDateTime::CivilTimeToGpsDateTime(&civil, double(c.sod), c.leap), t);
        const Civil back = civilOf(t, c.leap);
        EXPECT_EQ(GpsDateTime::DayOfYearFromCivilTime(&back), GpsDateTime::DayOfYearFromCivilTime(&civil));
    }

    Civil civil = date(2024, 1, 1);
    const GpsDateTime frac = GpsDateTime::CivilTimeToGpsDateTime(&civil, 12.00025, 0);
    EXPECT_EQ(frac.msOfWeek, 86412000u);
    EXPECT_NEAR(double(frac.psOfMs), 250e6, 1e3);

    // Dates before the GPS epoch give the epoch.
    Civil early = date(1980, 1, 5);
    EXPECT_EQ(GpsDateTime::CivilTimeToGpsDateTime(&early, 100u, 0u), epochZero());
    early = date(1970, 6, 1);
    EXPECT_EQ(GpsDateTime::CivilTimeToGpsDateTime(&early, 100.0, 0u), epochZero());
}

TEST(GpsDateTimeCalendar, GlonassTime)
{
    const GpsDateTime t = GpsDateTime::ConvertGlonassTimeParamsToGps(10800, 1, 7);
    EXPECT_EQ(fullWeek(t), 2086u);
    EXPECT_EQ(t.msOfWeek, 259216000u);
    expectCivil(civilOf(t), 2020, 1, 1, 0, 0, 16.0);

    // Interval 7 starts with the leap year 2020; 12:00 GLONASS is 09:00:16 GPS.
    const unsigned cases[][4] = {{366, 2020, 12, 31}, {367, 2021, 1, 1},   {731, 2021, 12, 31}, {732, 2022, 1, 1},
                                 {1096, 2022, 12, 31}, {1097, 2023, 1, 1}, {1461, 2023, 12, 31}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        expectCivil(civilOf(GpsDateTime::ConvertGlonassTimeParamsToGps(43200, c[0], 7)), c[1], c[2], c[3], 9, 0,
                    16.0);
    }
}

// Independent reference: the C library's UTC calendar on Unix time.
TEST(GpsDateTimeCrossCheck, AgreesWithTheCLibraryToTheMillisecond)
{
    constexpr std::int64_t kGpsEpochUnix = 315964800;  // 1980-01-06 00:00:00 UTC
    std::tm lo{};
    lo.tm_year = 99;
    lo.tm_mday = 1;
    std::tm hi{};
    hi.tm_year = 199;
    hi.tm_mon = 11;
    hi.tm_mday = 31;
    std::mt19937_64 rng(20240101);
    std::uniform_int_distribution<std::int64_t> unixTime(timegm(&lo), timegm(&hi));
    std::uniform_int_distribution<int> msDist(0, 999);
    // GPS runs ahead of UTC by at least one second (13 s in 1999), so the UTC
    // time of day exceeds the GPS time of day only across midnight, even
    // though a UTC time message gives the GPS time of week in whole seconds
    // and the UTC time of day with its fraction.
    std::uniform_int_distribution<int> leapDist(1, 37);

    for (int i = 0; i < 4000; ++i) {
        const std::int64_t utc = unixTime(rng);
        const int ms = msDist(rng);
        const int leap = leapDist(rng);
        const std::int64_t gps = utc - kGpsEpochUnix + leap;
        const int week = int(gps / 604800);
        const int tow = int(gps % 604800);
        const int tod = int(utc % 86400);
        const double frac = ms / 1000.0;

        const std::time_t tt = static_cast<std::time_t>(utc);
        std::tm ref{};
        ASSERT_NE(gmtime_r(&tt, &ref), nullptr);

        auto check = [&](const Civil& c, const char* how) {
            SCOPED_TRACE(std::string(how) + " utc=" + std::to_string(utc) + " ms=" + std::to_string(ms) +
                         " leap=" + std::to_string(leap));
            ASSERT_EQ(c.year, unsigned(ref.tm_year + 1900));
            ASSERT_EQ(c.month, unsigned(ref.tm_mon + 1));
            ASSERT_EQ(c.day, unsigned(ref.tm_mday));
            ASSERT_EQ(c.hour, ref.tm_hour);
            ASSERT_EQ(c.minute, ref.tm_min);
            ASSERT_EQ(std::llround(c.seconds * 1000.0), ref.tm_sec * 1000 + ms);
        };
        // UTC time of day on the GPS week grid, as a UTC time message gives it.
        check(civilOf(GpsDateTime(week, tow, tod, ms * 1e6)), "fields");
        check(civilOf(GpsDateTime(week, tow + frac, tod + frac)), "seconds");
        // GPS time moved back by the leap seconds.
        GpsDateTime gpsTime = epochZero();
        gpsTime.SetTime(unsigned(week), tow + frac);
        check(civilOf(gpsTime, unsigned(leap)), "leap");
        ASSERT_EQ(GpsDateTime(week, tow, tod, 0.0).DayOfYear(), unsigned(ref.tm_yday + 1));
    }
}

}  // namespace
