#include "bench/LatencyMatch.h"

#include <algorithm>
#include <cmath>

namespace latency_bench {

double encodeIndex(const IndexCode& code, std::int64_t index) {
    return code.base + static_cast<double>(index) * code.step;
}

std::optional<std::int64_t> decodeIndex(const IndexCode& code, double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double steps = (value - code.base) / code.step;
    if (!(steps > -0.25 && steps < 9.0e15)) return std::nullopt;
    const double nearest = std::round(steps);
    if (std::fabs(steps - nearest) > 0.25) return std::nullopt;
    return static_cast<std::int64_t>(nearest);
}

std::optional<std::int64_t> victoryTimeToUnixNs(const VictoryTime& t) {
    if (t.year < 1970 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 ||
        t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 60 || t.nanosecond < 0 ||
        t.nanosecond > 999999999) {
        return std::nullopt;
    }
    // Days from the civil date (H. Hinnant's algorithm, March-based years).
    const std::int64_t y = t.year - (t.month <= 2 ? 1 : 0);
    const std::int64_t era = y / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (t.month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + t.day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + doe - 719468;
    const std::int64_t seconds = days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return seconds * 1000000000 + t.nanosecond;
}

std::optional<std::int64_t> nearestPublication(const std::vector<std::int64_t>& publishedNs, std::int64_t unixNs,
                                               std::int64_t toleranceNs) {
    if (publishedNs.empty()) return std::nullopt;
    const auto it = std::lower_bound(publishedNs.begin(), publishedNs.end(), unixNs);
    std::int64_t best = -1;
    std::int64_t bestDistance = 0;
    auto consider = [&](std::vector<std::int64_t>::const_iterator c) {
        const std::int64_t d = *c > unixNs ? *c - unixNs : unixNs - *c;
        if (best < 0 || d < bestDistance) {
            best = c - publishedNs.begin();
            bestDistance = d;
        }
    };
    if (it != publishedNs.end()) consider(it);
    if (it != publishedNs.begin()) consider(it - 1);
    if (bestDistance > toleranceNs) return std::nullopt;
    return best;
}

Waits measureWaits(const std::vector<std::int64_t>& publishedNs, std::vector<Tell> tells, std::int64_t first,
                   std::int64_t last) {
    Waits w;
    std::sort(tells.begin(), tells.end(), [](const Tell& a, const Tell& b) { return a.count < b.count; });
    tells.erase(
        std::unique(tells.begin(), tells.end(), [](const Tell& a, const Tell& b) { return a.count == b.count; }),
        tells.end());

    // Tells whose pair is known, in count order; an unknown one leaves a gap
    // in the counts, so no wait is measured across it.
    std::vector<Tell> known;
    std::vector<std::int64_t> pair;   // the older half of each known tell
    std::vector<std::int64_t> reach;  // running maximum of `pair`
    const auto published = static_cast<std::int64_t>(publishedNs.size());
    for (const Tell& t : tells) {
        if (t.pvaIndex < 0 || t.utcIndex < 0 || t.pvaIndex >= published || t.utcIndex >= published) {
            ++w.unknownTells;
            continue;
        }
        if (t.pvaIndex != t.utcIndex) ++w.mixedTells;
        const std::int64_t p = std::min(t.pvaIndex, t.utcIndex);
        if (p >= first && p < last && (reach.empty() || p > reach.back())) {
            w.toldAgeMs.push_back(static_cast<double>(t.realtimeNs - publishedNs[static_cast<std::size_t>(p)]) / 1e6);
        }
        known.push_back(t);
        pair.push_back(p);
        reach.push_back(reach.empty() ? p : std::max(reach.back(), p));
    }

    first = std::max<std::int64_t>(first, 0);
    last = std::min(last, published);
    for (std::int64_t i = first; i < last; ++i) {
        const auto k = static_cast<std::size_t>(std::lower_bound(reach.begin(), reach.end(), i) - reach.begin());
        if (k == known.size() || k == 0 || known[k - 1].count + 1 != known[k].count) {
            ++w.unresolved;
            continue;
        }
        w.ms.push_back(static_cast<double>(known[k].realtimeNs - publishedNs[static_cast<std::size_t>(i)]) / 1e6);
    }
    return w;
}

Distribution distribution(std::vector<double> values) {
    Distribution d;
    d.n = values.size();
    if (values.empty()) return d;
    std::sort(values.begin(), values.end());
    auto rank = [&](double p) {
        const auto r = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
        return values[r == 0 ? 0 : r - 1];
    };
    d.p50 = rank(0.50);
    d.p99 = rank(0.99);
    d.max = values.back();
    return d;
}

Distribution uniformFloor(double cycleMs) {
    Distribution d;
    d.p50 = 0.50 * cycleMs;
    d.p99 = 0.99 * cycleMs;
    d.max = cycleMs;
    return d;
}

Verdict judge(const Distribution& measured, const Distribution& floor, double p99SlackMs, double maxSlackMs) {
    Verdict v;
    v.p99Met = measured.n > 0 && measured.p99 <= floor.p99 + p99SlackMs;
    v.maxMet = measured.n > 0 && measured.max <= floor.max + maxSlackMs;
    return v;
}

}  // namespace latency_bench
