#include "ASPN/AspnHelper.h"

#include "aspn2_msgs/header.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <tuple>
#include <random>
#include <thread>
#include <vector>

// Found by argument-dependent lookup from inside GoogleTest.
namespace ASPN2 {
bool operator==(const SecNsec& a, const SecNsec& b)
{
    return a.sec == b.sec && a.nsec == b.nsec;
}

std::ostream& operator<<(std::ostream& os, const SecNsec& s)
{
    return os << s.sec << "s " << s.nsec << "ns";
}
}  // namespace ASPN2

namespace {

using namespace ASPN2;

__extension__ typedef __int128 Int128;

constexpr std::uint64_t kProductLimit = 118059162071741ull;  // largest T with T * 78125 in int64

// The conversion as written down: N = T * 78125 / 4608 - 8, split with
// truncating division. Only valid while the product fits.
SecNsec byFormula(std::uint64_t t)
{
    const std::int64_t n = static_cast<std::int64_t>(t * 78125) / 4608 - 8;
    return {n / 1000000000, static_cast<std::int32_t>(n % 1000000000)};
}

// The same in 128-bit arithmetic, valid everywhere.
SecNsec exact(std::uint64_t t)
{
    const Int128 n = static_cast<Int128>(t) * 78125 / 4608 - 8;
    return {static_cast<std::int64_t>(n / 1000000000), static_cast<std::int32_t>(n % 1000000000)};
}

class TimeCodeRestorer : public ::testing::Test {
protected:
    void TearDown() override { TimeCodeHelper::Instance().setLiveMode(); }
};

TEST(FpgaTicks, KnownValues)
{
    const struct {
        std::uint64_t ticks;
        SecNsec expected;
    } cases[] = {
        {0, {0, -8}},
        {1, {0, 8}},
        {4608, {0, 78117}},
        {58982400, {0, 999999992}},
        {58982401, {1, 8}},
        {2 * 58982400ull, {1, 999999992}},
        {58982400ull * 86400, {86399, 999999992}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(secNsec_fromFpgaTicks(c.ticks), c.expected) << c.ticks;
    }
}

TEST(FpgaTicks, AgreesWithTheFormulaWhereTheProductFits)
{
    std::vector<std::uint64_t> ticks = {kProductLimit, kProductLimit - 1, 58982399, 58982400 - 4608};
    for (std::uint64_t s : {1ull, 2ull, 1000ull, 2001599ull}) {  // around whole seconds, up to the limit
        for (std::uint64_t d = 0; d < 20; ++d) {
            ticks.push_back(s * 58982400 + d);
            ticks.push_back(s * 58982400 - d - 1);
        }
    }
    std::mt19937_64 rng(1);
    std::uniform_int_distribution<std::uint64_t> any(0, kProductLimit);
    std::uniform_int_distribution<std::uint64_t> small(0, 600000000);
    for (int i = 0; i < 100000; ++i) {
        ticks.push_back(any(rng));
        ticks.push_back(small(rng));
    }
    for (std::uint64_t t : ticks) {
        ASSERT_EQ(secNsec_fromFpgaTicks(t), byFormula(t)) << t;
    }
}

TEST(FpgaTicks, StaysExactAndMonotonicBeyondTheProductLimit)
{
    std::vector<std::uint64_t> ticks = {kProductLimit + 1, std::numeric_limits<std::uint64_t>::max(),
                                        std::numeric_limits<std::uint64_t>::max() - 1,
                                        std::numeric_limits<std::uint64_t>::max() / 2};
    std::mt19937_64 rng(2);
    std::uniform_int_distribution<std::uint64_t> above(kProductLimit + 1, std::numeric_limits<std::uint64_t>::max());
    for (int i = 0; i < 100000; ++i) {
        ticks.push_back(above(rng));
    }
    for (std::uint64_t t = kProductLimit - 100; t < kProductLimit + 100; ++t) {
        ticks.push_back(t);
    }
    std::sort(ticks.begin(), ticks.end());
    SecNsec previous = secNsec_fromFpgaTicks(ticks.front());
    for (std::uint64_t t : ticks) {
        const SecNsec s = secNsec_fromFpgaTicks(t);
        ASSERT_EQ(s, exact(t)) << t;
        ASSERT_GE(s.nsec, 0) << t;
        ASSERT_LT(s.nsec, 1000000000) << t;
        ASSERT_LE(std::make_pair(previous.sec, previous.nsec), std::make_pair(s.sec, s.nsec)) << t;
        previous = s;
    }
}

TEST(NanosecondStamps, SplitTruncatesTowardZeroAndRoundTrips)
{
    const struct {
        std::int64_t ns;
        SecNsec expected;
    } cases[] = {
        {0, {0, 0}},
        {-1, {0, -1}},
        {1500000000, {1, 500000000}},
        {-1500000000, {-1, -500000000}},
        {std::numeric_limits<std::int64_t>::max(), {9223372036, 854775807}},
        {std::numeric_limits<std::int64_t>::min(), {-9223372036, -854775808}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(secNsec_fromNSec(c.ns), c.expected) << c.ns;
        header h;
        setToVandToA_fromNSec(std::chrono::nanoseconds(c.ns), h);
        EXPECT_EQ(getNSec_fromToA(h).count(), c.ns);
    }

    header absurd;
    absurd.toa_sec = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(getNSec_fromToA(absurd).count(), std::numeric_limits<std::int64_t>::max());
    absurd.toa_sec = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(getNSec_fromToA(absurd).count(), std::numeric_limits<std::int64_t>::min());
}

TEST_F(TimeCodeRestorer, StampsCarryTheTimeCodeCurrentWhenWrittenAndTouchNothingElse)
{
    EXPECT_EQ(TimeCodeHelper::Instance().getTimeCode(), 100);
    header h;
    h.seq_num = 77;
    h.device_id = 0x2D0100;

    TimeCodeHelper::Instance().setSimMode();
    setToVandToA_fromFpgaTicks(4608, h);
    EXPECT_EQ(std::make_tuple(h.tov_sec, h.tov_nsec, h.tov_time_code), std::make_tuple(0, 78117, 101));
    EXPECT_EQ(std::make_tuple(h.toa_sec, h.toa_nsec, h.toa_time_code), std::make_tuple(0, 78117, 101));

    TimeCodeHelper::Instance().setLiveMode();
    setToA_fromFpgaTicks(58982400, h);  // arrival only
    EXPECT_EQ(std::make_tuple(h.toa_sec, h.toa_nsec, h.toa_time_code), std::make_tuple(0, 999999992, 100));
    EXPECT_EQ(std::make_tuple(h.tov_nsec, h.tov_time_code), std::make_tuple(78117, 101));

    setToV_fromFpgaTicks(0, h);  // validity only
    EXPECT_EQ(std::make_tuple(h.tov_sec, h.tov_nsec, h.tov_time_code), std::make_tuple(0, -8, 100));
    EXPECT_EQ(h.toa_nsec, 999999992);

    TimeCodeHelper::Instance().setSimMode();
    setToV_fromNSec(std::chrono::nanoseconds(5), h);
    EXPECT_EQ(std::make_tuple(h.tov_nsec, h.tov_time_code, h.toa_time_code), std::make_tuple(5, 101, 100));
    EXPECT_EQ(std::make_pair(h.seq_num, h.device_id), std::make_pair(std::int64_t{77}, 0x2D0100));
}

TEST_F(TimeCodeRestorer, SwitchingModesWhileStampingNeverMixesCodesInOneStamp)
{
    std::atomic<bool> done{false};
    std::thread switcher([&] {
        for (int i = 0; i < 20000; ++i) {
            (i % 2 ? TimeCodeHelper::Instance().setSimMode() : TimeCodeHelper::Instance().setLiveMode());
        }
        done = true;
    });
    header h;
    int stamps = 0;
    while (!done || stamps < 1000) {
        setToVandToA_fromFpgaTicks(static_cast<std::uint64_t>(stamps), h);
        ASSERT_EQ(h.tov_time_code, h.toa_time_code);
        ASSERT_TRUE(h.tov_time_code == 100 || h.tov_time_code == 101);
        ++stamps;
    }
    switcher.join();
}

TEST(DeltaTov, SignedDifferenceWithNanosecondBorrow)
{
    auto at = [](std::int64_t sec, std::int32_t nsec, std::int32_t code = 100) {
        header h;
        h.tov_sec = sec;
        h.tov_nsec = nsec;
        h.tov_time_code = code;
        h.toa_sec = 12345;  // arrival plays no part
        return h;
    };
    const struct {
        header a, b;
        double expected;
    } cases[] = {
        {at(10, 0), at(10, 0), 0.0},
        {at(10, 0), at(9, 999999999), 1e-9},
        {at(9, 999999999), at(10, 0), -1e-9},
        {at(5, 100), at(4, 999999900), 200e-9},
        {at(5, 999999999), at(5, 1), 0.999999998},
        {at(100, 0, 101), at(99, 400000000, 100), 0.6},
        {at(0, -8), at(0, 8), -16e-9},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(deltaTov(c.a, c.b), c.expected, 1e-15) << c.a.tov_sec << "." << c.a.tov_nsec;
    }
    const header self = at(1700000000, 123456789);
    EXPECT_EQ(deltaTov(self, self), 0.0);

    const double huge = deltaTov(at(std::numeric_limits<std::int64_t>::max(), 0),
                                 at(std::numeric_limits<std::int64_t>::min(), 0));
    EXPECT_GT(huge, 1.8e19);
}

// The message header overloads give the same results as the plain ones.
using Wire = aspn2_msgs::idl::header;

std::tuple<std::int64_t, std::int32_t, std::int32_t> fields(const aspn2_msgs::idl::timestamp& t)
{
    return {t.sec(), t.nsec(), t.time_code()};
}

void expectSame(const Wire& w, const header& p)
{
    EXPECT_EQ(fields(w.timestamp_arrival()), std::make_tuple(p.toa_sec, p.toa_nsec, p.toa_time_code));
    EXPECT_EQ(fields(w.timestamp_valid()), std::make_tuple(p.tov_sec, p.tov_nsec, p.tov_time_code));
    EXPECT_EQ(std::make_pair(w.seq_num(), w.device_id()), std::make_pair(p.seq_num, p.device_id));
}

TEST_F(TimeCodeRestorer, MessageHeaderStampsMatchThePlainHeader)
{
    std::mt19937_64 rng(3);
    for (int i = 0; i < 200; ++i) {
        const std::uint64_t ticks = rng();
        const std::chrono::nanoseconds ns(static_cast<std::int64_t>(rng()));
        (i % 2 ? TimeCodeHelper::Instance().setSimMode() : TimeCodeHelper::Instance().setLiveMode());
        Wire w;
        w.seq_num(i);
        w.device_id(0x2D0100);
        header p;
        p.seq_num = i;
        p.device_id = 0x2D0100;

        setToVandToA_fromFpgaTicks(ticks, w);
        setToVandToA_fromFpgaTicks(ticks, p);
        expectSame(w, p);
        setToV_fromFpgaTicks(ticks / 3, w);
        setToV_fromFpgaTicks(ticks / 3, p);
        setToA_fromFpgaTicks(ticks / 5, w);
        setToA_fromFpgaTicks(ticks / 5, p);
        expectSame(w, p);
        setToV_fromNSec(ns, w);
        setToV_fromNSec(ns, p);
        expectSame(w, p);
        setToVandToA_fromNSec(ns, w);
        EXPECT_EQ(getNSec_fromToA(w), ns);
    }
}

TEST(MessageHeaderCopies, StampCopiesLeaveIdentityAndFullCopiesRoundTrip)
{
    std::mt19937_64 rng(4);
    for (int i = 0; i < 100; ++i) {
        header p;
        p.seq_num = static_cast<std::int64_t>(rng());
        p.toa_sec = static_cast<std::int64_t>(rng());
        p.toa_nsec = static_cast<std::int32_t>(rng());
        p.toa_time_code = static_cast<std::int32_t>(rng());
        p.tov_sec = static_cast<std::int64_t>(rng());
        p.tov_nsec = static_cast<std::int32_t>(rng());
        p.tov_time_code = static_cast<std::int32_t>(rng());
        p.device_id = static_cast<std::int32_t>(rng());

        Wire w;
        copyHeader_fromTo(p, w);
        expectSame(w, p);
        header back;
        copyHeader_fromTo(w, back);
        expectSame(w, back);

        Wire stampsOnly;
        stampsOnly.seq_num(7);
        stampsOnly.device_id(8);
        setToVandToA_fromTo(p, stampsOnly);
        header q = p;
        q.seq_num = 7;
        q.device_id = 8;
        expectSame(stampsOnly, q);
        header plainStamps;
        setToVandToA_fromTo(w, plainStamps);
        EXPECT_EQ(std::make_pair(plainStamps.seq_num, plainStamps.device_id), std::make_pair(std::int64_t{0}, 0));
        EXPECT_EQ(deltaTov(w, stampsOnly), 0.0);
        EXPECT_EQ(deltaTov(w, Wire()), deltaTov(p, header()));
    }
}

}  // namespace
