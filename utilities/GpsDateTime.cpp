#include "utilities/GpsDateTime.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kSecondsPerWeek = 604800.0;
constexpr unsigned kGpsEpochMjd = 44244;
// GLONASS time runs 3 hours less 16 leap seconds ahead of GPS time.
constexpr unsigned kGlonassAheadOfGpsMs = 10784000;

// Splits a signed count into its range [0, unit) and returns how many units
// were borrowed from the next larger field (0 when the count was not
// negative).
std::int64_t borrowInto(std::int64_t& value, std::int64_t unit) {
    if (value >= 0) {
        return 0;
    }
    const std::int64_t borrow = (-value + unit - 1) / unit;
    value += borrow * unit;
    return borrow;
}

std::uint64_t toWideCount(double value) {
    // Seconds come from messages; a NaN or an absurd value must not reach an
    // undefined conversion.
    if (!(value >= 0.0)) {
        return 0;
    }
    constexpr double kLimit = 9.0e18;
    return value >= kLimit ? static_cast<std::uint64_t>(kLimit) : static_cast<std::uint64_t>(value);
}

auto ordered(const GpsDateTime& t) { return std::tie(t.rollover, t.week, t.msOfWeek, t.psOfMs); }

}  // namespace

GpsDateTime::GpsDateTime(unsigned weekIn, unsigned msOfWeekIn) { assignWide(weekIn, msOfWeekIn, 0, 1); }

GpsDateTime::GpsDateTime(int weekIn, int gpsTowSec, int utcTodSec, double utcTodNsec) : rollover(0) {
    SetUtcTime(static_cast<unsigned>(std::max(weekIn, 0)), gpsTowSec, utcTodSec + utcTodNsec / 1.0e9);
}

GpsDateTime::GpsDateTime(int weekIn, double gpsTow, double utcTod) : rollover(0) {
    SetUtcTime(static_cast<unsigned>(std::max(weekIn, 0)), gpsTow, utcTod);
}

void GpsDateTime::assignWide(std::uint64_t weeks, std::uint64_t ms, std::uint64_t ps, std::uint64_t rollovers) {
    ms += ps / kPsPerMs;
    ps %= kPsPerMs;
    weeks += ms / kMsPerWeek;
    ms %= kMsPerWeek;
    rollovers += weeks / kWeeksPerEpoch;
    weeks %= kWeeksPerEpoch;
    week = static_cast<std::uint32_t>(weeks);
    msOfWeek = static_cast<std::uint32_t>(ms);
    psOfMs = static_cast<std::uint32_t>(ps);
    rollover = static_cast<std::uint32_t>(rollovers);
}

void GpsDateTime::Normalize() { assignWide(week, msOfWeek, psOfMs, rollover); }

void GpsDateTime::SetTime(unsigned weekIn, double seconds) {
    const double ms = std::fabs(seconds) * 1000.0;
    const std::uint64_t wholeMs = toWideCount(ms);
    const std::uint64_t ps = toWideCount((ms - static_cast<double>(wholeMs)) * 1.0e9);
    assignWide(weekIn, wholeMs, ps, rollover);
}

void GpsDateTime::SetUtcTime(unsigned weekIn, double gpsTow, double utcTod) {
    const double gpsTod = std::fmod(gpsTow, kSecondsPerDay);
    double dayStart = gpsTow - gpsTod;
    if (gpsTod < utcTod) {
        // GPS has passed midnight, UTC has not: the UTC date is the day before.
        dayStart -= kSecondsPerDay;
        if (dayStart < 0.0) {
            dayStart += kSecondsPerWeek;
            if (weekIn > 0) {
                --weekIn;
            } else if (rollover > 0) {
                weekIn = kWeeksPerEpoch - 1;
                --rollover;
            } else {
                // Before the GPS epoch: nothing earlier can be held.
                week = 0;
                msOfWeek = 0;
                psOfMs = 0;
                return;
            }
        }
    }
    SetTime(weekIn, dayStart + utcTod);
}

bool GpsDateTime::operator==(const GpsDateTime& o) const { return ordered(*this) == ordered(o); }
bool GpsDateTime::operator!=(const GpsDateTime& o) const { return ordered(*this) != ordered(o); }
bool GpsDateTime::operator<(const GpsDateTime& o) const { return ordered(*this) < ordered(o); }
bool GpsDateTime::operator<=(const GpsDateTime& o) const { return ordered(*this) <= ordered(o); }
bool GpsDateTime::operator>(const GpsDateTime& o) const { return ordered(*this) > ordered(o); }
bool GpsDateTime::operator>=(const GpsDateTime& o) const { return ordered(*this) >= ordered(o); }

GpsDateTime GpsDateTime::operator+(const GpsDateTime& other) const {
    GpsDateTime sum;
    sum.assignWide(std::uint64_t{week} + other.week, std::uint64_t{msOfWeek} + other.msOfWeek,
                   std::uint64_t{psOfMs} + other.psOfMs, std::max(rollover, other.rollover));
    return sum;
}

GpsDateTime& GpsDateTime::operator+=(const GpsDateTime& other) {
    *this = *this + other;
    return *this;
}

void GpsDateTime::ToCivilDate(unsigned* year, unsigned* month, unsigned* day) const {
    // Julian day of the date, then the Gregorian calendar date from it. The
    // constant 1537 holds from 1 March 1900 to 28 February 2100.
    const double fullWeeks = static_cast<double>(week) + 1024.0 * static_cast<double>(rollover);
    const double jd =
        static_cast<double>((msOfWeek / 1000u) / 86400u) + kGpsEpochMjd + 7.0 * fullWeeks + 2400000.5 + 0.5;
    const double a = std::floor(jd);
    const double f = jd - a;
    const double b = a + 1537.0;
    const double c = std::floor((b - 122.1) / 365.25);
    const double d = std::floor(365.25 * c);
    const double e = std::floor((b - d) / 30.6001);
    const double dd = std::floor(f + b - d - std::floor(30.6001 * e));
    const double mm = e - 1.0 - 12.0 * std::floor(e / 14.0);
    const double yy = c - 4715.0 - std::floor((mm + 7.0) / 10.0);
    if (year != nullptr) {
        *year = static_cast<unsigned>(yy);
    }
    if (month != nullptr) {
        *month = static_cast<unsigned>(mm);
    }
    if (day != nullptr) {
        *day = static_cast<unsigned>(dd);
    }
}

void GpsDateTime::ToCivilTime(CivilTimeStruct* civil, unsigned leapSeconds) {
    if (civil == nullptr) {
        return;
    }
    GpsDateTime leap;
    leap.assignWide(0, std::uint64_t{leapSeconds} * 1000u, 0, 1);
    *this = GoBackInTime(*this, leap);

    unsigned y = 0;
    unsigned m = 0;
    unsigned d = 0;
    ToCivilDate(&y, &m, &d);
    civil->year = y;
    civil->month = m;
    civil->day = d;

    const double sow = (static_cast<double>(msOfWeek) + static_cast<double>(psOfMs) / 1.0e9) / 1000.0;
    const double sod = sow - kSecondsPerDay * std::trunc(sow / kSecondsPerDay);
    civil->hour = static_cast<std::int32_t>(std::trunc(sod / 3600.0));
    const double r = sod - 3600.0 * civil->hour;
    civil->minute = static_cast<std::int32_t>(std::trunc(r / 60.0));
    civil->seconds = r - 60.0 * civil->minute;
}

unsigned GpsDateTime::DayOfYear() const {
    GpsDateTime copy = *this;
    CivilTimeStruct civil{};
    copy.ToCivilTime(&civil, 0);
    return DayOfYearFromCivilTime(&civil);
}

GpsDateTime GpsDateTime::TimeDifference(GpsDateTime a, GpsDateTime b) {
    const GpsDateTime& x = (b > a) ? b : a;
    const GpsDateTime& y = (b > a) ? a : b;
    std::int64_t ps = std::int64_t{x.psOfMs} - y.psOfMs;
    std::int64_t ms = std::int64_t{x.msOfWeek} - y.msOfWeek;
    std::int64_t w = std::int64_t{x.week} + 1024 * (std::int64_t{x.rollover} - y.rollover) - y.week;
    ms -= borrowInto(ps, kPsPerMs);
    w -= borrowInto(ms, kMsPerWeek);
    GpsDateTime diff;
    if (w < 0) {
        // Only fields out of their ranges can get here; the distance is then
        // not meaningful and reads as none.
        return diff;
    }
    diff.assignWide(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(ms), static_cast<std::uint64_t>(ps), 1);
    return diff;
}

GpsDateTime GpsDateTime::GoBackInTime(GpsDateTime a, GpsDateTime b) {
    std::int64_t ps = std::int64_t{a.psOfMs} - b.psOfMs;
    std::int64_t ms = std::int64_t{a.msOfWeek} - b.msOfWeek;
    std::int64_t w = std::int64_t{a.week} - b.week;
    std::int64_t epochs = a.rollover;
    ms -= borrowInto(ps, kPsPerMs);
    w -= borrowInto(ms, kMsPerWeek);
    epochs -= borrowInto(w, kWeeksPerEpoch);
    GpsDateTime result;
    result.assignWide(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(ms), static_cast<std::uint64_t>(ps),
                      static_cast<std::uint64_t>(std::max<std::int64_t>(epochs, 0)));
    return result;
}

bool GpsDateTime::IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned GpsDateTime::DayOfYearFromCivilTime(const CivilTimeStruct* civil) {
    if (civil == nullptr || civil->month == 0 || civil->month > 12) {
        return 0;
    }
    unsigned days = civil->day;
    for (unsigned m = 1; m < civil->month; ++m) {
        days += (m == 2 && IsLeapYear(civil->year)) ? 29u : s_NumDaysInMonth[m - 1];
    }
    return days;
}

namespace {

// Days from the GPS epoch (6 January 1980) to civil's date; negative for
// no date or one before the epoch. Leap years are every fourth year from
// 1980, right until 2100.
std::int64_t daysSinceGpsEpoch(const GpsDateTime::CivilTimeStruct* civil) {
    if (civil == nullptr || civil->year < 1980) {
        return -1;
    }
    const std::int64_t years = std::int64_t{civil->year} - 1980;
    const std::int64_t leapYears = years > 0 ? (years + 3) / 4 : 0;
    return std::int64_t{GpsDateTime::DayOfYearFromCivilTime(civil)} - 6 + 366 * leapYears + 365 * (years - leapYears);
}

GpsDateTime gpsEpoch() {
    GpsDateTime t;
    t.rollover = 0;
    return t;
}

}  // namespace

GpsDateTime GpsDateTime::CivilTimeToGpsDateTime(const CivilTimeStruct* civil, unsigned secondsOfDay,
                                                unsigned leapSeconds) {
    const std::int64_t days = daysSinceGpsEpoch(civil);
    if (days < 0) {
        return gpsEpoch();
    }
    GpsDateTime t;
    const std::uint64_t seconds =
        std::uint64_t{secondsOfDay} + leapSeconds + 86400u * static_cast<std::uint64_t>(days % 7);
    t.assignWide(static_cast<std::uint64_t>(days / 7), 1000u * seconds, 0, 0);
    return t;
}

GpsDateTime GpsDateTime::CivilTimeToGpsDateTime(const CivilTimeStruct* civil, double secondsOfDay,
                                                unsigned leapSeconds) {
    const std::int64_t days = daysSinceGpsEpoch(civil);
    if (days < 0) {
        return gpsEpoch();
    }
    GpsDateTime t = gpsEpoch();
    t.SetTime(static_cast<unsigned>(days / 7),
              secondsOfDay + leapSeconds + kSecondsPerDay * static_cast<double>(days % 7));
    return t;
}

void GpsDateTime::DayOfYearToCivilTime(unsigned dayOfYear, unsigned year, CivilTimeStruct* civil) {
    if (civil == nullptr) {
        return;
    }
    civil->year = year;
    const bool leap = IsLeapYear(year);
    if (dayOfYear == 0 || dayOfYear > (leap ? 366u : 365u)) {
        return;
    }
    unsigned month = 1;
    unsigned day = dayOfYear;
    for (;;) {
        const unsigned length = (month == 2 && leap) ? 29u : s_NumDaysInMonth[month - 1];
        if (day <= length) {
            break;
        }
        day -= length;
        ++month;
    }
    civil->month = month;
    civil->day = day;
}

GpsDateTime GpsDateTime::ConvertGlonassTimeParamsToGps(unsigned secondsOfDay, unsigned dayInInterval,
                                                       unsigned fourYearInterval) {
    // Each GLONASS four-year interval starts with a leap year.
    const unsigned firstYear = 1992 + 4 * fourYearInterval;
    unsigned year = firstYear;
    unsigned dayOfYear = dayInInterval;
    if (dayInInterval >= 367 && dayInInterval <= 731) {
        year = firstYear + 1;
        dayOfYear = dayInInterval - 366;
    } else if (dayInInterval >= 732 && dayInInterval <= 1096) {
        year = firstYear + 2;
        dayOfYear = dayInInterval - 731;
    } else if (dayInInterval >= 1097 && dayInInterval <= 1461) {
        year = firstYear + 3;
        dayOfYear = dayInInterval - 1096;
    }
    CivilTimeStruct civil{};
    DayOfYearToCivilTime(dayOfYear, year, &civil);
    const GpsDateTime glonass = CivilTimeToGpsDateTime(&civil, secondsOfDay, 0u);
    return GoBackInTime(glonass, GpsDateTime(0u, kGlonassAheadOfGpsMs));
}
