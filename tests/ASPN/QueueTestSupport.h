#pragma once

#include "ASPN/EventQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

// A steady clock that moves only when the test moves it.
class ManualClock {
public:
    ASPN2::SteadyClock fn() {
        return [this] { return ASPN2::SteadyTimePoint(std::chrono::nanoseconds(ns.load())); };
    }
    void advance(std::chrono::nanoseconds d) { ns += d.count(); }

private:
    std::atomic<std::int64_t> ns{std::int64_t{1} << 40};  // far from zero, like a clock after boot
};

struct Event {
    int type;
    std::string info;
    bool operator==(const Event& o) const { return type == o.type && info == o.info; }
};
inline std::ostream& operator<<(std::ostream& os, const Event& e) { return os << e.type << "/" << e.info; }
using Events = std::vector<Event>;

// Everything pending now, oldest first.
inline Events drain(ASPN2::EventQueue& queue) {
    Events out;
    for (Event e{-1, {}}; queue.pop_front(e.type, e.info, std::chrono::nanoseconds::zero());) out.push_back(e);
    return out;
}

// Runs eight threads, each calling produce(p, n) for p its number and n =
// 0 .. 9999, while this thread takes the events from `queue` until they are
// done and it is empty. Checks that the queue never held more than
// `capacity` after a take and that each event "<p>[<n>]..." was taken once
// at most, each producer's in order. Returns how many were taken.
template <typename Produce>
std::size_t expectEightProducersOneConsumer(ASPN2::EventQueue& queue, std::size_t capacity, Produce produce) {
    constexpr int kProducers = 8;
    std::atomic<int> running{kProducers};
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            for (int n = 0; n < 10000; ++n) produce(p, n);
            --running;
        });
    }
    std::set<std::string> seen;
    std::vector<int> last(kProducers, -1);
    for (Event e{0, {}};;) {  // no ASSERT here: the producers must be joined
        const bool done = running == 0;
        if (!queue.pop_front(e.type, e.info, std::chrono::milliseconds(5))) {
            if (done) break;
            continue;
        }
        EXPECT_LE(queue.size(), capacity);
        int p = -1, n = -1;
        EXPECT_TRUE(std::sscanf(e.info.c_str(), "%d[%d]", &p, &n) == 2 && p >= 0 && p < kProducers) << e.info;
        EXPECT_TRUE(seen.insert(e.info).second) << "duplicate " << e.info;
        EXPECT_GT(n, last[std::max(p, 0) % kProducers]) << "out of order: " << e.info;
        last[std::max(p, 0) % kProducers] = n;
    }
    for (auto& t : threads) t.join();
    return seen.size();
}
