#include "platform/Scheduling.h"

#include <gtest/gtest.h>

#include <sched.h>

#include <tuple>

namespace {

TEST(Scheduling, FifoPriorityIsClampedIntoTheRange) {
    // priority, lowest, highest (-1: unknown), expected
    std::tuple<int, int, int, int> const cases[] = {{200, 1, 99, 99}, {0, 1, 99, 1},     {50, 1, 99, 50},
                                                    {-5, -1, -1, 1},  {200, -1, -1, 99}, {10, 20, 30, 20},
                                                    {25, -1, 30, 25}};
    for (auto const& [priority, lowest, highest, expected] : cases) {
        EXPECT_EQ(Scheduling::clampFifoPriority(priority, lowest, highest), expected)
            << priority << " in [" << lowest << ", " << highest << "]";
    }
}

TEST(Scheduling, AffinityPinsToTheProcessorCountedFromOneAndRefusesOthers) {
    cpu_set_t saved;
    ASSERT_EQ(::sched_getaffinity(0, sizeof saved, &saved), 0);
    auto const call = [](unsigned cpu) {
        testing::internal::CaptureStdout();
        bool const ok = okSetCpuAffinity(cpu);
        return std::make_pair(ok, testing::internal::GetCapturedStdout());
    };
    // Refused numbers report the set in force.
    std::string savedLines;
    for (int i = 0; i < CPU_SETSIZE; ++i) {
        if (CPU_ISSET(i, &saved)) savedLines += "Has CPU Affinity for CPU" + std::to_string(i + 1) + "\n";
    }
    for (unsigned cpu : {0u, 1025u, 4000000000u}) EXPECT_EQ(call(cpu), std::make_pair(false, savedLines)) << cpu;

    for (unsigned cpu = 1; cpu <= 2; ++cpu) {
        if (!CPU_ISSET(cpu - 1, &saved)) continue;
        EXPECT_EQ(call(cpu), std::make_pair(true, "Has CPU Affinity for CPU" + std::to_string(cpu) + "\n"));
        cpu_set_t now;
        EXPECT_EQ(::sched_getaffinity(0, sizeof now, &now), 0);
        EXPECT_TRUE(CPU_COUNT(&now) == 1 && CPU_ISSET(cpu - 1, &now)) << cpu;
        ::sched_setaffinity(0, sizeof saved, &saved);
    }
}

}  // namespace
