#include "ASPN/AspnHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <random>
#include <thread>

// Found by argument-dependent lookup from inside GoogleTest.
namespace ASPN2 {
bool operator==(const SecNsec& a, const SecNsec& b) { return a.sec == b.sec && a.nsec == b.nsec; }
std::ostream& operator<<(std::ostream& os, const SecNsec& s) { return os << s.sec << "s " << s.nsec << "ns"; }
}  // namespace ASPN2

namespace {

using namespace ASPN2;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::uint64_t kProductLimit = 118059162071741ull;  // largest T with T * 78125 in int64

// N = T * 78125 / 4608 - 8 with truncating division, in 128 bits; where the
// product fits, the same as the formula in 64 bits.
SecNsec exact(std::uint64_t t) {
    __extension__ typedef __int128 Int128;
    const Int128 n = static_cast<Int128>(t) * 78125 / 4608 - 8;
    return {static_cast<std::int64_t>(n / 1000000000), static_cast<std::int32_t>(n % 1000000000)};
}

class TimeCodeRestorer : public ::testing::Test {
protected:
    void TearDown() override { TimeCodeHelper::Instance().setLiveMode(); }
};

TEST(FpgaTicks, KnownValuesAndTheFormulaOnBothSidesOfTheOverflowLimit) {
    const std::pair<std::uint64_t, SecNsec> known[] = {
        {0, {0, -8}}, {1, {0, 8}}, {4608, {0, 78117}}, {58982400, {0, 999999992}}, {58982401, {1, 8}}};
    for (const auto& [ticks, expected] : known) EXPECT_EQ(secNsec_fromFpgaTicks(ticks), expected) << ticks;

    std::vector<std::uint64_t> ticks = {std::numeric_limits<std::uint64_t>::max()};
    for (std::uint64_t s : {1ull, 1000ull, 2001599ull}) {  // around whole seconds, up to the limit
        for (std::uint64_t d = 0; d < 20; ++d) ticks.insert(ticks.end(), {s * 58982400 + d, s * 58982400 - d - 1});
    }
    for (std::uint64_t t = kProductLimit - 100; t < kProductLimit + 100; ++t) ticks.push_back(t);
    std::mt19937_64 rng(1);
    std::uniform_int_distribution<std::uint64_t> below(0, kProductLimit), small(0, 600000000);
    for (int i = 0; i < 50000; ++i) ticks.insert(ticks.end(), {below(rng), small(rng), rng()});
    std::sort(ticks.begin(), ticks.end());
    SecNsec previous = secNsec_fromFpgaTicks(0);
    for (std::uint64_t t : ticks) {
        const SecNsec s = secNsec_fromFpgaTicks(t);
        ASSERT_EQ(s, exact(t)) << t;
        ASSERT_LE(std::tie(previous.sec, previous.nsec), std::tie(s.sec, s.nsec)) << t;
        previous = s;
    }
}

TEST(NanosecondStamps, SplitTruncatesTowardZeroRoundTripsAndSaturates) {
    const std::pair<std::int64_t, SecNsec> cases[] = {
        {0, {0, 0}},
        {-1, {0, -1}},
        {1500000000, {1, 500000000}},
        {-1500000000, {-1, -500000000}},
        {kMax, {9223372036, 854775807}},
        {kMin, {-9223372036, -854775808}},
    };
    for (const auto& [ns, expected] : cases) {
        EXPECT_EQ(secNsec_fromNSec(ns), expected) << ns;
        header h;
        setToVandToA_fromNSec(std::chrono::nanoseconds(ns), h);
        EXPECT_EQ(getNSec_fromToA(h).count(), ns);
    }
    header absurd;
    absurd.toa_sec = kMax;
    EXPECT_EQ(getNSec_fromToA(absurd).count(), kMax);
    absurd.toa_sec = kMin;
    EXPECT_EQ(getNSec_fromToA(absurd).count(), kMin);
}

TEST_F(TimeCodeRestorer, SwitchingModesWhileStampingNeverMixesCodesInOneStamp) {
    std::atomic<bool> done{false};
    std::thread switcher([&] {
        for (int i = 0; i < 20000; ++i) {
            (i % 2 ? TimeCodeHelper::Instance().setSimMode() : TimeCodeHelper::Instance().setLiveMode());
        }
        done = true;
    });
    header h;
    bool mixed = false;
    for (int stamps = 0; !done || stamps < 1000; ++stamps) {
        setToVandToA_fromFpgaTicks(static_cast<std::uint64_t>(stamps), h);
        mixed = mixed || h.tov_time_code != h.toa_time_code || (h.tov_time_code != 100 && h.tov_time_code != 101);
    }
    switcher.join();
    EXPECT_FALSE(mixed);
}

TEST(DeltaTov, SignedDifferenceWithNanosecondBorrow) {
    auto at = [](std::int64_t sec, std::int32_t nsec, std::int32_t code = 100) {
        header h;
        h.tov_sec = sec;
        h.tov_nsec = nsec;
        h.tov_time_code = code;
        h.toa_sec = 12345;  // arrival plays no part
        return h;
    };
    const std::tuple<header, header, double> cases[] = {
        {at(10, 0), at(9, 999999999), 1e-9},       {at(9, 999999999), at(10, 0), -1e-9},
        {at(5, 100), at(4, 999999900), 200e-9},    {at(5, 999999999), at(5, 1), 0.999999998},
        {at(100, 0, 101), at(99, 400000000), 0.6}, {at(0, -8), at(0, 8), -16e-9},
    };
    for (const auto& [a, b, expected] : cases) EXPECT_NEAR(deltaTov(a, b), expected, 1e-15) << a.tov_sec;
    EXPECT_GT(deltaTov(at(kMax, 0), at(kMin, 0)), 1.8e19);  // no overflow
}

}  // namespace
