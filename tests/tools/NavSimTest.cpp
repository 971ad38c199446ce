// The navigator simulator's GPS and UTC time fields.

#include "tools/aspn2-tool/NavSimulator.h"
#include "utilities/GpsDateTime.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

namespace {

using namespace nav_sim;
constexpr std::int64_t kNs = 1000000000;

// For random instants the fields agree with the C library's calendar, and
// the server's way of reading them (GpsDateTime from week, time of week and
// UTC time of day, then ToCivilTime without leap seconds) gives back the
// UTC date and time. Instants in the last 18 s of a UTC day, where GPS has
// already passed midnight (and maybe the week), are drawn on purpose.
TEST(GpsUtcFields, AgreeWithTheCalendarAndGpsDateTime) {
    std::mt19937_64 random(20240101);
    std::uniform_int_distribution<std::int64_t> second(631152000, 4102358400);  // 1990-01-01 .. 2099-12-31
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

}  // namespace
