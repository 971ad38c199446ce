#pragma once

#include <chrono>
#include <functional>

namespace ASPN2 {

using SteadyTimePoint = std::chrono::steady_clock::time_point;

// Where time-dependent logic (configuration repeats, fault history windows)
// reads the steady clock. The process uses steadyClock(); tests pass a clock
// of their own so that minutes pass without waiting.
using SteadyClock = std::function<SteadyTimePoint()>;

// std::chrono::steady_clock::now as a SteadyClock.
inline SteadyClock steadyClock() {
    return [] { return std::chrono::steady_clock::now(); };
}

}  // namespace ASPN2
