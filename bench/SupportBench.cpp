// ASPN2 support services next to plain baselines measured in the same run.

#include "ASPN/AspnHelper.h"
#include "ASPN/HealthReporter.h"
#include "aspn2_msgs/header.h"
#include "utilities/GpsDateTime.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kInputs = 4096;  // power of two, indexed with a mask

std::vector<std::uint64_t> tickInputs() {
    std::mt19937_64 rng(1);
    // Within about 23 days of counting, where the direct product fits.
    std::uniform_int_distribution<std::uint64_t> d(0, 118059162071741ull);
    std::vector<std::uint64_t> v(kInputs);
    for (auto& t : v) {
        t = d(rng);
    }
    return v;
}

// --- Tick conversion --------------------------------------------------------

void BM_Baseline_TickDivision(benchmark::State& state) {
    const auto ticks = tickInputs();
    std::size_t i = 0;
    ASPN2::header h;
    for (auto _ : state) {
        const std::int64_t n = static_cast<std::int64_t>(ticks[i++ & (kInputs - 1)] * 78125) / 4608 - 8;
        h.tov_sec = n / 1000000000;
        h.tov_nsec = static_cast<std::int32_t>(n % 1000000000);
        h.tov_time_code = 100;
        h.toa_sec = h.tov_sec;
        h.toa_nsec = h.tov_nsec;
        h.toa_time_code = h.tov_time_code;
        benchmark::DoNotOptimize(h);
    }
}
BENCHMARK(BM_Baseline_TickDivision);

void BM_setToVandToA_fromFpgaTicks(benchmark::State& state) {
    const auto ticks = tickInputs();
    std::size_t i = 0;
    ASPN2::header h;
    for (auto _ : state) {
        ASPN2::setToVandToA_fromFpgaTicks(ticks[i++ & (kInputs - 1)], h);
        benchmark::DoNotOptimize(h);
    }
}
BENCHMARK(BM_setToVandToA_fromFpgaTicks);

void BM_setToVandToA_fromFpgaTicks_MessageHeader(benchmark::State& state) {
    const auto ticks = tickInputs();
    std::size_t i = 0;
    aspn2_msgs::idl::header h;
    for (auto _ : state) {
        ASPN2::setToVandToA_fromFpgaTicks(ticks[i++ & (kInputs - 1)], h);
        benchmark::DoNotOptimize(h);
    }
}
BENCHMARK(BM_setToVandToA_fromFpgaTicks_MessageHeader);

// --- Time of validity difference -------------------------------------------

std::vector<ASPN2::header> headerInputs() {
    std::mt19937_64 rng(2);
    std::uniform_int_distribution<std::int64_t> sec(0, 4000000000);
    std::uniform_int_distribution<std::int32_t> nsec(0, 999999999);
    std::vector<ASPN2::header> v(kInputs);
    for (auto& h : v) {
        h.tov_sec = sec(rng);
        h.tov_nsec = nsec(rng);
    }
    return v;
}

void BM_Baseline_DoubleDifference(benchmark::State& state) {
    const auto hs = headerInputs();
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& a = hs[i & (kInputs - 1)];
        const auto& b = hs[(i + 1) & (kInputs - 1)];
        ++i;
        benchmark::DoNotOptimize(static_cast<double>(a.tov_sec - b.tov_sec) +
                                 static_cast<double>(a.tov_nsec - b.tov_nsec) * 1e-9);
    }
}
BENCHMARK(BM_Baseline_DoubleDifference);

// deltaTov over neighbouring pairs of `hs`.
template <typename Header>
void runDeltaTov(benchmark::State& state, const std::vector<Header>& hs) {
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& a = hs[i & (kInputs - 1)];
        const auto& b = hs[(i + 1) & (kInputs - 1)];
        ++i;
        benchmark::DoNotOptimize(ASPN2::deltaTov(a, b));
    }
}

void BM_deltaTov(benchmark::State& state) { runDeltaTov(state, headerInputs()); }
BENCHMARK(BM_deltaTov);

void BM_deltaTov_MessageHeader(benchmark::State& state) {
    const auto plain = headerInputs();
    std::vector<aspn2_msgs::idl::header> hs(kInputs);
    for (std::size_t k = 0; k < kInputs; ++k) {
        ASPN2::copyHeader_fromTo(plain[k], hs[k]);
    }
    runDeltaTov(state, hs);
}
BENCHMARK(BM_deltaTov_MessageHeader);

// --- Civil time --------------------------------------------------------------

struct UtcFields {
    int week, towSec, todSec;
    double todNsec;
    std::time_t unixTime;
};

std::vector<UtcFields> utcInputs() {
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<std::int64_t> unixTime(946684800, 4070908800);  // 2000..2099
    std::vector<UtcFields> v(kInputs);
    for (auto& f : v) {
        const std::int64_t utc = unixTime(rng);
        const std::int64_t gps = utc - 315964800 + 18;
        f = {int(gps / 604800), int(gps % 604800), int(utc % 86400), 250000000.0, static_cast<std::time_t>(utc)};
    }
    return v;
}

void BM_Baseline_gmtime_r(benchmark::State& state) {
    const auto in = utcInputs();
    std::size_t i = 0;
    std::tm tm{};
    for (auto _ : state) {
        const auto& f = in[i++ & (kInputs - 1)];
        // The same input work: Unix time from the GPS week grid, then the calendar.
        const std::time_t t = 315964800 + std::time_t{f.week} * 604800 + f.towSec - 18;
        gmtime_r(&t, &tm);
        benchmark::DoNotOptimize(tm);
    }
}
BENCHMARK(BM_Baseline_gmtime_r);

void BM_GpsDateTime_ToCivilTime(benchmark::State& state) {
    const auto in = utcInputs();
    std::size_t i = 0;
    GpsDateTime::CivilTimeStruct civil{};
    for (auto _ : state) {
        const auto& f = in[i++ & (kInputs - 1)];
        GpsDateTime t(f.week, f.towSec, f.todSec, f.todNsec);
        t.ToCivilTime(&civil, 0);
        benchmark::DoNotOptimize(civil);
    }
}
BENCHMARK(BM_GpsDateTime_ToCivilTime);

// --- Health event intake -----------------------------------------------------

const std::string kText = "ZOziDaZodOduzuz: PublishPosition: no geoid height";

// A plain mutex-guarded deque with the same bound.
struct PlainQueue {
    std::mutex m;
    std::deque<std::pair<int, std::string>> q;
    bool push(int type, const std::string& s) {
        std::lock_guard<std::mutex> l(m);
        if (q.size() >= 10) {
            return false;
        }
        q.emplace_back(type, s);
        return true;
    }
    bool pop(int& type, std::string& s) {
        std::lock_guard<std::mutex> l(m);
        if (q.empty()) {
            return false;
        }
        type = q.front().first;
        s = std::move(q.front().second);
        q.pop_front();
        return true;
    }
};

// Each iteration sends one event and takes it out again, so the bound of 10
// never drops anything: the cost is push plus pop.
void BM_Baseline_MutexDeque_PushPop(benchmark::State& state) {
    PlainQueue q;
    int type = 0;
    std::string out;
    for (auto _ : state) {
        q.push(2, kText);
        q.pop(type, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_Baseline_MutexDeque_PushPop);

void sendAndPop(benchmark::State& state, HealthReporter::eEventType type) {
    FaultHysteresis filter;
    filter.OkInitFaultHysteresis(180, 16, 2000);
    HealthReporter reporter(filter, ASPN2::steadyClock());
    int outType = 0;
    std::string out;
    int line = 0;
    for (auto _ : state) {
        reporter.SendEvent("VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.cpp", ++line & 1023, type, kText);
        reporter.queue().pop_front(outType, out, 0ns);
        benchmark::DoNotOptimize(out);
    }
}

void BM_SendEvent_Status_PushPop(benchmark::State& state) { sendAndPop(state, HealthReporter::eStatus); }
BENCHMARK(BM_SendEvent_Status_PushPop);

// Faults also get the location prefix and a history entry (history full at
// 2000 entries after the first 2000 iterations).
void BM_SendEvent_Fault_PushPop(benchmark::State& state) { sendAndPop(state, HealthReporter::eFault); }
BENCHMARK(BM_SendEvent_Fault_PushPop);

// The queue holds 10 events and nobody consumes: every send is dropped.
void BM_Baseline_MutexDeque_Full(benchmark::State& state) {
    PlainQueue q;
    for (int i = 0; i < 10; ++i) {
        q.push(2, kText);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(q.push(2, kText));
    }
}
BENCHMARK(BM_Baseline_MutexDeque_Full);

void BM_SendEvent_Status_Dropped(benchmark::State& state) {
    FaultHysteresis filter;
    filter.OkInitFaultHysteresis(180, 16, 2000);
    HealthReporter reporter(filter, ASPN2::steadyClock());
    for (int i = 0; i < 10; ++i) {
        reporter.SendEvent(__FILE__, __LINE__, HealthReporter::eStatus, kText);
    }
    for (auto _ : state) {
        reporter.SendEvent(__FILE__, __LINE__, HealthReporter::eStatus, kText);
    }
    state.counters["pending"] = static_cast<double>(reporter.queue().size());
}
BENCHMARK(BM_SendEvent_Status_Dropped);

}  // namespace

BENCHMARK_MAIN();
