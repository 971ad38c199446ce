#pragma once

#include <cstdint>

// A time on the GPS time scale: weeks since the GPS epoch (1980-01-06 00:00,
// Modified Julian Day 44244) with a resolution of one picosecond.
//
// The full week number is week + 1024 * rollover. Every constructor and
// operation leaves the fields normalised (week 0..1023, msOfWeek
// 0..604,799,999, psOfMs 0..999,999,999); the fields are public so that a
// caller may fill them directly and then call Normalize().
//
// Civil dates are correct from 1 March 1900 to 28 February 2100. No
// operation throws.
class GpsDateTime {
public:
    // A calendar date and time of day (UTC when the leap seconds given to
    // the conversions are right).
    struct CivilTimeStruct {
        std::uint32_t year = 0;
        std::uint32_t month = 0;  // 1..12
        std::uint32_t day = 0;    // 1..31
        double seconds = 0.0;     // seconds of the minute, with fraction
        std::int32_t hour = 0;
        std::int32_t minute = 0;
    };

    static constexpr std::uint32_t kWeeksPerEpoch = 1024;
    static constexpr std::uint32_t kMsPerWeek = 604800000;
    static constexpr std::uint32_t kPsPerMs = 1000000000;

    // Month lengths of a common year, January first.
    static constexpr std::uint32_t s_NumDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

    std::uint32_t week = 0;      // week modulo 1024
    std::uint32_t msOfWeek = 0;  // milliseconds into the week
    std::uint32_t psOfMs = 0;    // picoseconds into the millisecond
    std::uint32_t rollover = 1;  // completed 1024-week epochs

    // Week 0 of epoch 1 (1999-08-22 00:00).
    GpsDateTime() = default;

    // `week` and `msOfWeek` counted from the start of epoch 1, normalised
    // (so week 1024 is week 0 of epoch 2).
    GpsDateTime(unsigned week, unsigned msOfWeek);

    // A UTC time on the GPS week grid, from the fields of a UTC time message:
    // the full GPS week (not reduced modulo 1024), the GPS time of week in
    // whole seconds, and the UTC time of day in seconds plus nanoseconds. The
    // date comes from the GPS time of week, the time of day from UTC (see
    // SetUtcTime). A negative week counts as week 0.
    GpsDateTime(int week, int gpsTowSec, int utcTodSec, double utcTodNsec);

    // The same with the time of week and the time of day in seconds.
    GpsDateTime(int week, double gpsTow, double utcTod);

    // Carries overflowing picoseconds into milliseconds, milliseconds into
    // weeks and weeks into epochs. Never borrows.
    void Normalize();

    // Sets the week and the time of week in seconds (the sign of `seconds`
    // is dropped); keeps `rollover` and normalises, so a full week number
    // moves into `rollover`.
    void SetTime(unsigned week, double seconds);

    // Sets a UTC time given on the GPS week grid: `week` and `gpsTow` (s)
    // name the GPS time, `utcTod` (s, 0..86400) the UTC time of day. The UTC
    // date is the GPS date, or the day before when GPS has already passed
    // midnight and UTC has not (gpsTow mod 86400 < utcTod); going back from
    // the first day of week 0 moves into week 1023 of the previous epoch, or
    // stops at the GPS epoch when there is none. Keeps `rollover` as the
    // base of `week`.
    void SetUtcTime(unsigned week, double gpsTow, double utcTod);

    // Ordered by (rollover, week, msOfWeek, psOfMs).
    bool operator==(const GpsDateTime& o) const;
    bool operator!=(const GpsDateTime& o) const;
    bool operator<(const GpsDateTime& o) const;
    bool operator<=(const GpsDateTime& o) const;
    bool operator>(const GpsDateTime& o) const;
    bool operator>=(const GpsDateTime& o) const;

    // Field-wise sum of week, msOfWeek and psOfMs with the larger of the two
    // rollovers, normalised: adds a duration (held with week counts) to a
    // time.
    GpsDateTime operator+(const GpsDateTime& other) const;
    GpsDateTime& operator+=(const GpsDateTime& other);

    // Gregorian date of the object (the picoseconds play no part). Null
    // pointers are skipped.
    void ToCivilDate(unsigned* year, unsigned* month, unsigned* day) const;

    // Moves the object back by `leapSeconds` (GPS to UTC) and writes its
    // Gregorian date and time of day into `civil`. Does nothing when `civil`
    // is null.
    void ToCivilTime(CivilTimeStruct* civil, unsigned leapSeconds);

    // Day of the year of the object's date, 1 for 1 January.
    unsigned DayOfYear() const;

    // |a - b| as a duration: week, msOfWeek and psOfMs of the difference on a
    // default object (rollover 1), normalised.
    static GpsDateTime TimeDifference(GpsDateTime a, GpsDateTime b);

    // a - b, where b is a duration (its rollover plays no part). Going back
    // before week 0 takes epochs from a's rollover; a result before the
    // first epoch keeps its week modulo 1024 with rollover 0.
    static GpsDateTime GoBackInTime(GpsDateTime a, GpsDateTime b);

    // Gregorian leap year rule.
    static bool IsLeapYear(unsigned year);

    // Day of the year (1..366) of civil's year, month and day; 0 when month
    // is 0 or above 12 or `civil` is null.
    static unsigned DayOfYearFromCivilTime(const CivilTimeStruct* civil);

    // The GPS time of civil's date (year 1980 to 2099) at `secondsOfDay`
    // (plus `leapSeconds`, UTC to GPS). A date before the GPS epoch gives the
    // epoch itself (week 0 of epoch 0). Month and day come from `civil`; its
    // time of day plays no part.
    static GpsDateTime CivilTimeToGpsDateTime(const CivilTimeStruct* civil, unsigned secondsOfDay,
                                              unsigned leapSeconds);

    // The same with fractional seconds of the day.
    static GpsDateTime CivilTimeToGpsDateTime(const CivilTimeStruct* civil, double secondsOfDay, unsigned leapSeconds);

    // Sets civil's year, and its month and day for a day of the year from 1
    // to the year's last; other day numbers leave month and day unchanged.
    static void DayOfYearToCivilTime(unsigned dayOfYear, unsigned year, CivilTimeStruct* civil);

    // GPS time of a GLONASS time: seconds of the GLONASS day, day number
    // 1..1461 within the four-year interval, and the interval number counted
    // from 1992 (GLONASS time is 10,784 s ahead of GPS time).
    static GpsDateTime ConvertGlonassTimeParamsToGps(unsigned secondsOfDay, unsigned dayInInterval,
                                                     unsigned fourYearInterval);

private:
    // Sets the fields from full counts that may exceed their ranges and
    // normalises.
    void assignWide(std::uint64_t weeks, std::uint64_t ms, std::uint64_t ps, std::uint64_t rollovers);
};
