#pragma once

#include "ASPN/EventQueue.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// A steady clock that moves only when the test moves it.
class ManualClock {
public:
    ASPN2::SteadyClock fn()
    {
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

inline std::ostream& operator<<(std::ostream& os, const Event& e)
{
    return os << e.type << "/" << e.info;
}

using Events = std::vector<Event>;

// Everything pending now, oldest first.
inline Events drain(ASPN2::EventQueue& queue)
{
    Events out;
    Event e{-1, {}};
    while (queue.pop_front(e.type, e.info, std::chrono::nanoseconds::zero())) {
        out.push_back(e);
    }
    return out;
}
