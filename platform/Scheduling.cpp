#include "platform/Scheduling.h"

#include <sched.h>

#include <cstdio>

namespace {

constexpr int kFallbackLowest = 1;
constexpr int kFallbackHighest = 99;
constexpr int kMaxCpus = 1024;

}  // namespace

namespace Scheduling {

int clampFifoPriority(int priority, int lowest, int highest) noexcept {
    if (lowest == -1) {
        lowest = kFallbackLowest;
    }
    if (highest == -1) {
        highest = kFallbackHighest;
    }
    if (priority < lowest) {
        return lowest;
    }
    if (priority > highest) {
        return highest;
    }
    return priority;
}

}  // namespace Scheduling

bool okSetRealtimeProcessPriority(int priority) {
    sched_param param{};
    param.sched_priority = Scheduling::clampFifoPriority(priority, ::sched_get_priority_min(SCHED_FIFO),
                                                         ::sched_get_priority_max(SCHED_FIFO));
    return ::sched_setscheduler(0, SCHED_FIFO, &param) == 0;
}

bool okSetCpuAffinity(unsigned cpu) {
    // A fixed set of 1024 processors (128 bytes), whatever the machine has.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (cpu >= 1 && cpu <= static_cast<unsigned>(kMaxCpus)) {
        CPU_SET(cpu - 1, &set);
    }
    bool const ok = ::sched_setaffinity(0, sizeof set, &set) == 0;
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int i = 0; i < kMaxCpus; ++i) {
            if (CPU_ISSET(i, &set)) {
                std::printf("Has CPU Affinity for CPU%d\n", i + 1);
            }
        }
    }
    std::fflush(stdout);
    return ok;
}
