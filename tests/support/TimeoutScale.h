// One factor for every wait of the tests that run real processes: the
// environment's CORVANE_TIMEOUT_SCALE (CTest sets it for each test from the
// CMake cache variable of the same name: 4 under user-mode emulation, else
// 1), 1 when unset or not a number >= 1. A wait that ends as soon as its
// condition holds costs nothing more when scaled; a slow machine gets the
// time it needs. Header-only.
#ifndef TESTS_SUPPORT_TIMEOUTSCALE_H
#define TESTS_SUPPORT_TIMEOUTSCALE_H

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace corvane_test {

inline double timeoutScale() {
    static const double scale = [] {
        const char* text = std::getenv("CORVANE_TIMEOUT_SCALE");
        char* end = nullptr;
        const double value = text != nullptr ? std::strtod(text, &end) : 1.0;
        return text != nullptr && end != text && *end == '\0' && value >= 1.0 && value <= 1000.0 ? value : 1.0;
    }();
    return scale;
}

// `timeout` times timeoutScale().
inline std::chrono::milliseconds scaled(std::chrono::milliseconds timeout) {
    return std::chrono::milliseconds(std::llround(static_cast<double>(timeout.count()) * timeoutScale()));
}

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_TIMEOUTSCALE_H
