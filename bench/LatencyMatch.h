// The arithmetic of the navigator-to-bus latency benchmark, apart from any
// transport: how a sample's index is carried in a told quantity, which
// published pair a tell carried, how long each published pair waited for
// the first tell that brought it (or a newer pair) to the services
// library, and the percentiles of those waits.
#ifndef BENCH_LATENCYMATCH_H
#define BENCH_LATENCYMATCH_H

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/victory/victory.h"

namespace latency_bench {

// A sample index written into a told quantity as base + index * step
// (units of the quantity: rad, m/s).
struct IndexCode {
    double base = 0.0;
    double step = 1.0;  // > 0
};

// The quantity that carries `index` (>= 0).
double encodeIndex(const IndexCode& code, std::int64_t index);

// The index that `value` carries; empty when the value is not finite, lies
// before the base, or is more than a quarter step off a code point.
std::optional<std::int64_t> decodeIndex(const IndexCode& code, double value);

// A told UTC date and time as nanoseconds since 1970-01-01 (no leap
// seconds, proleptic Gregorian calendar); empty when a field is out of its
// civil range.
std::optional<std::int64_t> victoryTimeToUnixNs(const VictoryTime& time);

// The index of the publication time in `publishedNs` (ascending) nearest to
// `unixNs`, when it lies within `toleranceNs` of it.
std::optional<std::int64_t> nearestPublication(const std::vector<std::int64_t>& publishedNs, std::int64_t unixNs,
                                               std::int64_t toleranceNs);

// One new tell seen on a data bus.
struct Tell {
    std::uint64_t count = 0;      // tells so far, from the library
    std::int64_t realtimeNs = 0;  // when the library received it (CLOCK_REALTIME)
    std::int64_t pvaIndex = -1;   // pair index of the told solution values; -1 unknown
    std::int64_t utcIndex = -1;   // pair index of the told UTC time; -1 unknown
};

// The waits of one service over the measured pairs.
struct Waits {
    std::vector<double> ms;         // one per resolved pair, milliseconds
    std::size_t unresolved = 0;     // first covering tell after a gap in the counts, or none
    std::vector<double> toldAgeMs;  // per tell carrying a new pair: tell time - its publication
    std::size_t mixedTells = 0;     // tells whose solution and UTC time came from different pairs
    std::size_t unknownTells = 0;   // tells whose pair could not be identified
};

// For every pair index in [first, last) of `publishedNs` (CLOCK_REALTIME
// publication times, ns, by pair index): the time from its publication to
// the first tell whose pair (the older of its solution and UTC time) is that
// pair or a newer one. A wait counts only when the tell before that one was
// seen too (consecutive counts); otherwise a tell in between may have
// covered the pair, and it is counted as unresolved. `tells` in any order.
Waits measureWaits(const std::vector<std::int64_t>& publishedNs, std::vector<Tell> tells, std::int64_t first,
                   std::int64_t last);

struct Distribution {
    std::size_t n = 0;
    double p50 = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

// Nearest-rank percentiles (p50, p99) and the maximum; all zero when empty.
Distribution distribution(std::vector<double> values);

// The floor of the wait when pairs arrive at a uniformly random moment of
// a worker cycle of `cycleMs`: p50 = cycle/2, p99 = 0.99 cycle, max = cycle.
Distribution uniformFloor(double cycleMs);

// Targets: p99 at most floor.p99 + p99SlackMs, max at most floor.max + maxSlackMs.
struct Verdict {
    bool p99Met = false;
    bool maxMet = false;
};
Verdict judge(const Distribution& measured, const Distribution& floor, double p99SlackMs, double maxSlackMs);

}  // namespace latency_bench

#endif  // BENCH_LATENCYMATCH_H
