#include "platform/Scheduling.h"

#include <gtest/gtest.h>

#include <sched.h>

#include <cstdlib>
#include <string>

namespace {

TEST(Scheduling, FifoPriorityIsClampedIntoTheRange) {
    struct Case {
        int priority, lowest, highest, expected;
    };
    for (Case const& c : {Case{200, 1, 99, 99}, Case{0, 1, 99, 1}, Case{50, 1, 99, 50}, Case{-5, -1, -1, 1},
                          Case{200, -1, -1, 99}, Case{10, 20, 30, 20}, Case{25, -1, 30, 25}}) {
        EXPECT_EQ(Scheduling::clampFifoPriority(c.priority, c.lowest, c.highest), c.expected)
            << c.priority << " in [" << c.lowest << ", " << c.highest << "]";
    }
}

// Runs in a child process so that the test process keeps its policy.
TEST(Scheduling, RealtimePriorityIsAppliedClampedOrNotAtAll) {
    EXPECT_EXIT(
        {
            int const before = ::sched_getscheduler(0);
            bool const ok = okSetRealtimeProcessPriority(200);
            sched_param param{};
            ::sched_getparam(0, &param);
            int const policy = ::sched_getscheduler(0);
            bool const consistent = ok ? policy == SCHED_FIFO && param.sched_priority == ::sched_get_priority_max(SCHED_FIFO)
                                       : policy == before;
            std::_Exit(consistent ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

class Affinity : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::sched_getaffinity(0, sizeof m_saved, &m_saved), 0); }
    void TearDown() override { ::sched_setaffinity(0, sizeof m_saved, &m_saved); }

    // The lines printed for the set `set`.
    static std::string lines(cpu_set_t const& set) {
        std::string text;
        for (int i = 0; i < CPU_SETSIZE; ++i) {
            if (CPU_ISSET(i, &set)) text += "Has CPU Affinity for CPU" + std::to_string(i + 1) + "\n";
        }
        return text;
    }
    static std::string call(unsigned cpu, bool& ok) {
        testing::internal::CaptureStdout();
        ok = okSetCpuAffinity(cpu);
        return testing::internal::GetCapturedStdout();
    }
    cpu_set_t m_saved;
};

TEST_F(Affinity, PinsToTheProcessorCountedFromOne) {
    for (unsigned cpu = 1; cpu <= 2; ++cpu) {
        if (!CPU_ISSET(cpu - 1, &m_saved)) continue;
        bool ok = false;
        EXPECT_EQ(call(cpu, ok), "Has CPU Affinity for CPU" + std::to_string(cpu) + "\n");
        EXPECT_TRUE(ok);
        cpu_set_t now;
        ASSERT_EQ(::sched_getaffinity(0, sizeof now, &now), 0);
        EXPECT_EQ(CPU_COUNT(&now), 1);
        EXPECT_TRUE(CPU_ISSET(cpu - 1, &now));
        ::sched_setaffinity(0, sizeof m_saved, &m_saved);
    }
}

TEST_F(Affinity, NumbersOutsideOneTo1024AreRefusedAndTheOldSetIsReported) {
    for (unsigned cpu : {0u, 1025u, 4000000000u}) {
        bool ok = true;
        EXPECT_EQ(call(cpu, ok), lines(m_saved)) << cpu;
        EXPECT_FALSE(ok) << cpu;
    }
}

}  // namespace
