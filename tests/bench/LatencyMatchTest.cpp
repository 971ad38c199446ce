#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "bench/LatencyMatch.h"
#include "platform/victory/VictoryDataMessage.h"

namespace {

using namespace latency_bench;

constexpr std::int64_t kMs = 1000000;

TEST(LatencyMatch, IndicesSurviveTheDataMessageTextAndOffCodeValuesAreRefused) {
    const IndexCode codes[] = {{0.1308996938995747, 1e-7}, {0.0, 1e-6}, {0.0, 1e-4}};
    const std::int64_t indices[] = {0, 1, 2, 2999, 3000, 123456};
    for (const IndexCode& code : codes) {
        for (std::int64_t index : indices) {
            // The value goes through the text of a data message and back.
            const std::string text = victory::formatNumber(encodeIndex(code, index));
            const double read = std::strtod(text.c_str(), nullptr);
            EXPECT_EQ(decodeIndex(code, read), index) << code.step << " " << index;
        }
        EXPECT_FALSE(decodeIndex(code, encodeIndex(code, 7) + 0.4 * code.step));
        EXPECT_FALSE(decodeIndex(code, code.base - code.step));
        EXPECT_FALSE(decodeIndex(code, std::numeric_limits<double>::quiet_NaN()));
        EXPECT_FALSE(decodeIndex(code, std::numeric_limits<double>::infinity()));
    }
}

TEST(LatencyMatch, ToldTimesConvertToUnixNanoseconds) {
    struct Case {
        VictoryTime time;
        std::int64_t unixNs;  // -1: refused
    };
    const Case cases[] = {
        {{1970, 1, 1, 0, 0, 0, 0}, 0},
        {{2000, 3, 1, 0, 0, 0, 0}, 951868800LL * 1000000000},
        {{2024, 2, 29, 12, 34, 56, 789000001}, 1709210096LL * 1000000000 + 789000001},
        {{2026, 12, 31, 23, 59, 59, 999999999}, 1798761599LL * 1000000000 + 999999999},
        {{2024, 13, 1, 0, 0, 0, 0}, -1},
        {{2024, 1, 0, 0, 0, 0, 0}, -1},
        {{2024, 1, 1, 24, 0, 0, 0}, -1},
        {{2024, 1, 1, 0, 0, 0, 1000000000}, -1},
        {{1969, 12, 31, 23, 59, 59, 0}, -1},
    };
    for (const Case& c : cases) {
        const auto ns = victoryTimeToUnixNs(c.time);
        if (c.unixNs < 0) {
            EXPECT_FALSE(ns) << c.time.year << "-" << c.time.month << "-" << c.time.day;
        } else {
            EXPECT_EQ(ns, c.unixNs) << c.time.year << "-" << c.time.month << "-" << c.time.day;
        }
    }
}

TEST(LatencyMatch, NearestPublicationWithinTolerance) {
    const std::vector<std::int64_t> published = {1000 * kMs, 1100 * kMs, 1200 * kMs};
    struct Case {
        std::int64_t at;
        std::int64_t index;  // -1: none
    };
    const Case cases[] = {
        {1000 * kMs, 0},  {1100 * kMs - 1, 1}, {1100 * kMs + kMs, 1}, {1200 * kMs + 1, 2},
        {1150 * kMs, -1}, {999 * kMs - 1, -1}, {1201 * kMs + 1, -1},
    };
    for (const Case& c : cases) {
        const auto index = nearestPublication(published, c.at, kMs);
        EXPECT_EQ(index.value_or(-1), c.index) << c.at;
    }
    EXPECT_FALSE(nearestPublication({}, 0, kMs));
}

// Pairs published every 100 ms from t = 0; worker ticks at 120, 370, 620 ms
// (counts 5, 6, 7), each telling the latest pair published before it.
std::vector<std::int64_t> publications() {
    std::vector<std::int64_t> p;
    for (int i = 0; i < 7; ++i) p.push_back(i * 100 * kMs);
    return p;
}

Tell tell(std::uint64_t count, std::int64_t atMs, std::int64_t pva, std::int64_t utc) {
    return Tell{count, atMs * kMs, pva, utc};
}

TEST(LatencyMatch, EachPairWaitsForTheFirstTellThatCoversIt) {
    // Out of order on purpose, with a repeat of count 6.
    const std::vector<Tell> tells = {tell(7, 620, 6, 6), tell(5, 120, 1, 1), tell(6, 370, 3, 3), tell(6, 370, 3, 3)};
    const Waits w = measureWaits(publications(), tells, 0, 7);
    // Pairs 0 and 1 are covered by count 5, whose predecessor was not seen.
    EXPECT_EQ(w.unresolved, 2u);
    EXPECT_EQ(w.ms, (std::vector<double>{170, 70, 220, 120, 20}));
    EXPECT_EQ(w.toldAgeMs, (std::vector<double>{20, 70, 20}));
    EXPECT_EQ(w.mixedTells, 0u);
}

TEST(LatencyMatch, GapsMixedAndUnknownTellsAreNotTakenForCoverage) {
    struct Case {
        const char* what;
        std::vector<Tell> tells;
        std::vector<double> ms;
        std::size_t unresolved;
        std::size_t mixed;
        std::size_t unknown;
    };
    const Case cases[] = {
        {"count 6 lost: pairs 2..6 may have been covered by it", {tell(5, 120, 1, 1), tell(7, 620, 6, 6)}, {}, 7, 0, 0},
        {"count 6 unidentified: the same", {tell(5, 120, 1, 1), tell(6, 370, -1, 3), tell(7, 620, 6, 6)}, {}, 7, 0, 1},
        {"solution of pair 3 with the UTC time of pair 2: covers pair 2 only",
         {tell(5, 120, 1, 1), tell(6, 370, 3, 2), tell(7, 620, 6, 6)},
         {170, 320, 220, 120, 20},
         2,
         1,
         0},
        {"no tell after pair 6: unresolved",
         {tell(5, 120, 1, 1), tell(6, 370, 3, 3), tell(7, 620, 5, 5)},
         {170, 70, 220, 120},
         3,
         0,
         0},
        {"pair index beyond the publications: unknown",
         {tell(5, 120, 1, 1), tell(6, 370, 3, 3), tell(7, 620, 6, 60)},
         {170, 70},
         5,
         0,
         1},
    };
    for (const Case& c : cases) {
        const Waits w = measureWaits(publications(), c.tells, 0, 7);
        EXPECT_EQ(w.ms, c.ms) << c.what;
        EXPECT_EQ(w.unresolved, c.unresolved) << c.what;
        EXPECT_EQ(w.mixedTells, c.mixed) << c.what;
        EXPECT_EQ(w.unknownTells, c.unknown) << c.what;
    }
    // Only the window's pairs are measured.
    const Waits w = measureWaits(publications(), {tell(5, 120, 1, 1), tell(6, 370, 3, 3), tell(7, 620, 6, 6)}, 3, 5);
    EXPECT_EQ(w.ms, (std::vector<double>{70, 220}));
    EXPECT_EQ(w.toldAgeMs, (std::vector<double>{70}));
}

TEST(LatencyMatch, PercentilesAndTargets) {
    std::vector<double> values;
    for (int i = 100; i >= 1; --i) values.push_back(i);
    const Distribution d = distribution(values);
    EXPECT_EQ(d.n, 100u);
    EXPECT_EQ(d.p50, 50);
    EXPECT_EQ(d.p99, 99);
    EXPECT_EQ(d.max, 100);
    const Distribution one = distribution({7.5});
    EXPECT_EQ(one.p50, 7.5);
    EXPECT_EQ(one.p99, 7.5);
    EXPECT_EQ(distribution({}).n, 0u);

    const Distribution floor = uniformFloor(250);
    EXPECT_EQ(floor.p50, 125);
    EXPECT_EQ(floor.p99, 247.5);
    EXPECT_EQ(floor.max, 250);

    struct Case {
        double p99;
        double max;
        bool p99Met;
        bool maxMet;
    };
    const Case cases[] = {
        {247.5, 250, true, true},
        {252.5, 260, true, true},
        {252.6, 259, false, true},
        {200, 260.1, true, false},
    };
    for (const Case& c : cases) {
        Distribution m;
        m.n = 10;
        m.p99 = c.p99;
        m.max = c.max;
        const Verdict v = judge(m, floor, 5, 10);
        EXPECT_EQ(v.p99Met, c.p99Met) << c.p99;
        EXPECT_EQ(v.maxMet, c.maxMet) << c.max;
    }
    EXPECT_FALSE(judge(Distribution{}, floor, 5, 10).p99Met);
}

}  // namespace
