#ifndef TOOLS_ASPN2_TOOL_NAVTIME_H
#define TOOLS_ASPN2_TOOL_NAVTIME_H

// GPS and UTC time fields of a UTC time message, from a Unix time.

#include <cstdint>

namespace aspn2_tool {

/// GPS time runs ahead of UTC by this many seconds (since 2017).
constexpr int kGpsLeapSeconds = 18;
/// The GPS epoch, 1980-01-06 00:00:00 UTC, in Unix seconds.
constexpr std::int64_t kGpsEpochUnixSeconds = 315964800;

struct GpsUtcFields {
    std::int32_t gpsWeek = 0;    ///< full GPS week number (not reduced modulo 1024)
    std::int32_t gpsTowSec = 0;  ///< whole seconds of the GPS week, 0..604799
    double gpsTowNsec = 0.0;     ///< fraction of the GPS second, ns, 0..999999999
    std::int32_t utcTodSec = 0;  ///< whole seconds of the UTC day, 0..86399
    double utcTodNsec = 0.0;     ///< fraction of the UTC second, ns, 0..999999999
};

/// The fields of the instant `unixNs` (nanoseconds since 1970-01-01 00:00
/// UTC, not counting leap seconds), with GPS time = UTC + `leapSeconds`.
/// Times before the GPS epoch give negative weeks. Never throws.
GpsUtcFields gpsUtcFromUnixNs(std::int64_t unixNs, int leapSeconds = kGpsLeapSeconds);

/// Nanoseconds since the Unix epoch now (CLOCK_REALTIME).
std::int64_t realtimeNowNs();

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_NAVTIME_H
