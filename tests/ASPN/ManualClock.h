#pragma once

#include "ASPN/SteadyClock.h"

#include <atomic>
#include <chrono>
#include <cstdint>

// A steady clock that moves only when the test moves it.
class ManualClock {
public:
    ASPN2::SteadyClock fn()
    {
        return [this] { return now(); };
    }

    ASPN2::SteadyTimePoint now() const
    {
        return ASPN2::SteadyTimePoint(std::chrono::nanoseconds(ns.load()));
    }

    void advance(std::chrono::nanoseconds d) { ns += d.count(); }

private:
    // Far from zero, like a real steady clock after boot.
    std::atomic<std::int64_t> ns{std::int64_t{1000} * 1000 * 1000 * 1000};
};
