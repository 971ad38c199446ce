#include "tools/aspn2-tool/NavTime.h"

#include <ctime>

namespace aspn2_tool {

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerWeek = 7 * kSecondsPerDay;

// Division and remainder rounding towards minus infinity, so that times
// before an epoch still give remainders in range.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

std::int64_t floorMod(std::int64_t a, std::int64_t b) { return a - floorDiv(a, b) * b; }

}  // namespace

GpsUtcFields gpsUtcFromUnixNs(std::int64_t unixNs, int leapSeconds) {
    std::int64_t const unixSec = floorDiv(unixNs, kNsPerSecond);
    std::int64_t const fractionNs = floorMod(unixNs, kNsPerSecond);
    std::int64_t const gpsSec = unixSec - kGpsEpochUnixSeconds + leapSeconds;

    GpsUtcFields f;
    f.gpsWeek = static_cast<std::int32_t>(floorDiv(gpsSec, kSecondsPerWeek));
    f.gpsTowSec = static_cast<std::int32_t>(floorMod(gpsSec, kSecondsPerWeek));
    f.gpsTowNsec = static_cast<double>(fractionNs);
    f.utcTodSec = static_cast<std::int32_t>(floorMod(unixSec, kSecondsPerDay));
    f.utcTodNsec = static_cast<double>(fractionNs);
    return f;
}

std::int64_t realtimeNowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

}  // namespace aspn2_tool
