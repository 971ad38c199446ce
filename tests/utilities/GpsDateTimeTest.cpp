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

TEST(GpsDateTimeUtc, DateFollowsGpsWeekAndTimeOfDayFollowsUtcAroundMidnight)
{
    // GPS Monday 00:00:18 with UTC at midnight: still Monday in UTC.
    const GpsDateTime monday(2295, 86418, 0, 0.0);
    EXPECT_EQ(monday.week, 247u);
    EXPECT_EQ(monday.msOfWeek, 86400000u);
    EXPECT_EQ(monday.psOfMs, 0u);
    EXPECT_EQ(monday.rollover, 2u);
    expectCivil(civilOf(monday), 2024, 1, 1, 0, 0, 0.0);

    struct Case {
        int week, towSec, todSec;
        double todNsec;
        unsigned y, mo, d;
        int h, mi;
        double s;
    };
    const Case cases[] = {
        // GPS already in Sunday, UTC still on Saturday of the week before.
        {2295, 5, 86387, 0.0, 2023, 12, 30, 23, 59, 47.0},
        // GPS already in Monday, UTC still on Sunday: fractional nanoseconds kept.
        {2295, 86400, 86382, 250000000.0, 2023, 12, 31, 23, 59, 42.25},
        // No midnight between them.
        {2295, 86400 + 3600 + 18, 3600, 0.0, 2024, 1, 1, 1, 0, 0.0},
        // Saturday evening, last second of the week.
        {2294, 604799, 86381, 500000000.0, 2023, 12, 30, 23, 59, 41.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.week) + "/" + std::to_string(c.towSec) + "/" + std::to_string(c.todSec));
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

    const GpsDateTime beforeEpoch(0, 5, 86390, 0.0);
    EXPECT_EQ(fullWeek(beforeEpoch), 0u);
    EXPECT_EQ(beforeEpoch.msOfWeek, 0u);
    EXPECT_EQ(beforeEpoch.psOfMs, 0u);

    const GpsDateTime negativeWeek(-3, 5, 5, 0.0);
    EXPECT_EQ(fullWeek(negativeWeek), 0u);
}

TEST(GpsDateTimeFields, SetTimeAndNormalizeCarryUpwards)
{
    GpsDateTime a;
    GpsDateTime b;
    a.SetTime(3, 5.5);
    b.SetTime(3, -5.5);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.msOfWeek, 5500u);
    EXPECT_EQ(a.rollover, 1u);

    a.SetTime(1023, 604800.0 + 0.001);
    EXPECT_EQ(a.rollover, 2u);
    EXPECT_EQ(a.week, 0u);
    EXPECT_EQ(a.msOfWeek, 1u);

    a.SetTime(0, 1.0 + 0.25e-9);  // a quarter nanosecond survives as picoseconds
    EXPECT_EQ(a.msOfWeek, 1000u);
    EXPECT_NEAR(double(a.psOfMs), 250.0, 1.0);

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

TEST(GpsDateTimeOrder, RolloverWeekMillisecondsPicosecondsInThatOrder)
{
    GpsDateTime base(10u, 500u);
    base.psOfMs = 5;
    auto with = [&](auto change) {
        GpsDateTime t = base;
        change(t);
        return t;
    };
    const GpsDateTime later[] = {
        with([](GpsDateTime& t) { t.psOfMs += 1; }),
        with([](GpsDateTime& t) { t.msOfWeek += 1, t.psOfMs = 0; }),
        with([](GpsDateTime& t) { t.week += 1, t.msOfWeek = 0; }),
        with([](GpsDateTime& t) { t.rollover += 1, t.week = 0; }),
    };
    for (const auto& l : later) {
        EXPECT_TRUE(base < l && base <= l && l > base && l >= base && base != l);
        EXPECT_FALSE(base > l || base >= l || l < base || l <= base || base == l);
    }
    EXPECT_TRUE(base == base && base <= base && base >= base);
}

TEST(GpsDateTimeArithmetic, SumDifferenceAndGoingBackAreConsistent)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<unsigned> weeks(0, 1023);
    std::uniform_int_distribution<unsigned> ms(0, 604799999);
    std::uniform_int_distribution<unsigned> ps(0, 999999999);
    std::uniform_int_distribution<unsigned> epochs(1, 3);
    for (int i = 0; i < 2000; ++i) {
        GpsDateTime a(weeks(rng), ms(rng));
        a.psOfMs = ps(rng);
        a.rollover = epochs(rng);
        GpsDateTime d(weeks(rng) % 300, ms(rng));
        d.psOfMs = ps(rng);

        const GpsDateTime sum = a + d;
        ASSERT_GE(sum, a);
        ASSERT_EQ(GpsDateTime::TimeDifference(sum, a), d);
        ASSERT_EQ(GpsDateTime::TimeDifference(a, sum), d);
        ASSERT_EQ(GpsDateTime::GoBackInTime(sum, d), a);
        GpsDateTime acc = a;
        acc += d;
        ASSERT_EQ(acc, sum);
    }
    EXPECT_EQ(GpsDateTime::TimeDifference(GpsDateTime(5u, 7u), GpsDateTime(5u, 7u)), GpsDateTime());
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

    // Borrowing through picoseconds and milliseconds.
    GpsDateTime p(1u, 0u);
    const GpsDateTime onePs = [] {
        GpsDateTime d(0u, 0u);
        d.psOfMs = 1;
        return d;
    }();
    const GpsDateTime q = GpsDateTime::GoBackInTime(p, onePs);
    EXPECT_EQ(q.week, 0u);
    EXPECT_EQ(q.msOfWeek, 604799999u);
    EXPECT_EQ(q.psOfMs, 999999999u);
}

TEST(GpsDateTimeCalendar, LeapYearsAndDaysOfYear)
{
    const std::pair<unsigned, bool> years[] = {{2000, true}, {2024, true}, {1900, false}, {2023, false},
                                               {2100, false}, {1980, true}, {2400, true}};
    for (auto [y, leap] : years) {
        EXPECT_EQ(GpsDateTime::IsLeapYear(y), leap) << y;
    }

    Civil c = date(2023, 3, 1);
    EXPECT_EQ(GpsDateTime::DayOfYearFromCivilTime(&c), 60u);
    c = date(2024, 3, 1);
    EXPECT_EQ(GpsDateTime::DayOfYearFromCivilTime(&c), 61u);
    c = date(2024, 0, 1);
    EXPECT_EQ(GpsDateTime::DayOfYearFromCivilTime(&c), 0u);
    c = date(2024, 13, 1);
    EXPECT_EQ(GpsDateTime::DayOfYearFromCivilTime(&c), 0u);

    // Every day of a common and a leap year maps back to itself.
    for (unsigned y : {2023u, 2024u}) {
        const unsigned last = GpsDateTime::IsLeapYear(y) ? 366 : 365;
        for (unsigned d = 1; d <= last; ++d) {
            Civil out{};
            GpsDateTime::DayOfYearToCivilTime(d, y, &out);
            ASSERT_EQ(out.year, y);
            ASSERT_EQ(GpsDateTime::DayOfYearFromCivilTime(&out), d) << y << "/" << d;
        }
        Civil last31{};
        GpsDateTime::DayOfYearToCivilTime(last, y, &last31);
        EXPECT_EQ(last31.month, 12u);
        EXPECT_EQ(last31.day, 31u);

        // Day 0 and days past the end keep month and day.
        Civil kept = date(1, 7, 9);
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
        {1999, 8, 22, 0, 0, 1024, 0},
        {2019, 4, 7, 0, 0, 2048, 0},
        {2024, 1, 1, 86399, 18, 2295, 86400000 + 86417000},
        // Saturday last second plus leap seconds spills into the next week.
        {2023, 12, 30, 86399, 18, 2295, 17000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
        Civil civil = date(c.y, c.m, c.d);
        const GpsDateTime t = GpsDateTime::CivilTimeToGpsDateTime(&civil, c.sod, c.leap);
        EXPECT_EQ(fullWeek(t), c.week);
        EXPECT_EQ(t.msOfWeek, c.ms);
        EXPECT_EQ(GpsDateTime::CivilTimeToGpsDateTime(&civil, double(c.sod), c.leap), t);
        // And back to the civil date with the same leap seconds.
        const Civil back = civilOf(t, c.leap);
        EXPECT_EQ(back.year, c.y);
        EXPECT_EQ(back.month, c.m);
        EXPECT_EQ(back.day, c.d);
    }

    Civil civil = date(2024, 1, 1);
    const GpsDateTime frac = GpsDateTime::CivilTimeToGpsDateTime(&civil, 12.000250, 0);
    EXPECT_EQ(frac.msOfWeek, 86412000u);
    EXPECT_NEAR(double(frac.psOfMs), 250e6, 1e3);

    const GpsDateTime epoch0 = [] {
        GpsDateTime e;
        e.rollover = 0;
        return e;
    }();
    Civil early = date(1980, 1, 5);
    EXPECT_EQ(GpsDateTime::CivilTimeToGpsDateTime(&early, 100u, 0u), epoch0);
    early = date(1970, 6, 1);
    EXPECT_EQ(GpsDateTime::CivilTimeToGpsDateTime(&early, 100.0, 0u), epoch0);
    EXPECT_EQ(GpsDateTime::CivilTimeToGpsDateTime(nullptr, 100u, 0u), epoch0);
}

TEST(GpsDateTimeCalendar, GlonassTimeIsTenThousandSevenHundredEightyFourSecondsAhead)
{
    const GpsDateTime t = GpsDateTime::ConvertGlonassTimeParamsToGps(10800, 1, 7);
    EXPECT_EQ(fullWeek(t), 2086u);
    EXPECT_EQ(t.msOfWeek, 259216000u);
    expectCivil(civilOf(t), 2020, 1, 1, 0, 0, 16.0);

    struct Case {
        unsigned day;
        unsigned y, m, d;
    };
    // Interval 7 starts with the leap year 2020.
    const Case cases[] = {{366, 2020, 12, 31}, {367, 2021, 1, 1}, {731, 2021, 12, 31}, {732, 2022, 1, 1},
                          {1096, 2022, 12, 31}, {1097, 2023, 1, 1}, {1461, 2023, 12, 31}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.day);
        // 12:00 GLONASS time is 09:00:16 GPS time on the same day.
        const Civil civil = civilOf(GpsDateTime::ConvertGlonassTimeParamsToGps(43200, c.day, 7));
        expectCivil(civil, c.y, c.m, c.d, 9, 0, 16.0);
    }
}

TEST(GpsDateTimeCalendar, DayOfYearDoesNotChangeTheObject)
{
    Civil civil = date(2024, 3, 1);
    const GpsDateTime t = GpsDateTime::CivilTimeToGpsDateTime(&civil, 3600u, 0u);
    EXPECT_EQ(t.DayOfYear(), 61u);
    EXPECT_EQ(t, GpsDateTime::CivilTimeToGpsDateTime(&civil, 3600u, 0u));
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
    // GPS runs ahead of UTC by at least one second (13 s in 1999): the UTC
    // time of day must then never exceed the GPS time of day except across
    // midnight, even though a UTC time message gives the GPS time of week in
    // whole seconds and the UTC time of day with its fraction.
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
        const std::int64_t refMs = ref.tm_sec * 1000 + ms;

        auto check = [&](const Civil& c, const char* how) {
            SCOPED_TRACE(std::string(how) + " utc=" + std::to_string(utc) + " ms=" + std::to_string(ms) +
                         " leap=" + std::to_string(leap));
            ASSERT_EQ(c.year, unsigned(ref.tm_year + 1900));
            ASSERT_EQ(c.month, unsigned(ref.tm_mon + 1));
            ASSERT_EQ(c.day, unsigned(ref.tm_mday));
            ASSERT_EQ(c.hour, ref.tm_hour);
            ASSERT_EQ(c.minute, ref.tm_min);
            ASSERT_EQ(std::llround(c.seconds * 1000.0), refMs);
        };
        // UTC time of day on the GPS week grid, as a UTC time message gives it.
        check(civilOf(GpsDateTime(week, tow, tod, ms * 1e6)), "fields");
        check(civilOf(GpsDateTime(week, tow + frac, tod + frac)), "seconds");
        // GPS time moved back by the leap seconds.
        GpsDateTime gpsTime;
        gpsTime.rollover = 0;
        gpsTime.SetTime(unsigned(week), tow + frac);
        check(civilOf(gpsTime, unsigned(leap)), "leap");
        gpsTime.ToCivilTime(nullptr, 0);
        // Day of year on the UTC time.
        ASSERT_EQ(GpsDateTime(week, tow, tod, 0.0).DayOfYear(), unsigned(ref.tm_yday + 1));
    }
}

}  // namespace
