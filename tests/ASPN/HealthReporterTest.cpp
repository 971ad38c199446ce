#include "ASPN/HealthReporter.h"

#include "tests/ASPN/QueueTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class HealthReporterTest : public ::testing::Test {
protected:
    ManualClock clock;
    FaultHysteresis filter{clock.fn()};
    HealthReporter reporter{filter, clock.fn()};

    void SetUp() override { ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 2000)); }

    Events drain() { return ::drain(reporter.queue()); }
};

TEST_F(HealthReporterTest, FiltersPrefixesAndClampsTheType)
{
    const auto as = [](int t) { return static_cast<HealthReporter::eEventType>(t); };
    reporter.SendEvent("src/a/b", 42, HealthReporter::eFault, "lost");
    reporter.SendEvent("src/a/b", 42, HealthReporter::eStatus, "lost");
    reporter.SendEvent("src/a/b", 42, as(9), "lost");
    reporter.SendEvent("src/a/b", 42, as(-2), "lost");
    reporter.SendEvent("src/a/b", 42, HealthReporter::eCritical, "lost");
    reporter.SendEvent(nullptr, 5, HealthReporter::eFault, "nofile");
    EXPECT_EQ(drain(), (Events{{3, "b[42]:lost"}, {2, "lost"}, {0, "lost"}, {0, "lost"}, {5, "b[42]:lost"},
                               {3, "[5]:nofile"}}));
    ASSERT_EQ(filter.history().size(), 2u);
    EXPECT_EQ(filter.history().front().key, "src/a/b42");
}

TEST_F(HealthReporterTest, EleventhOrdinaryEventIsDroppedButConfigurationIsAccepted)
{
    for (int i = 0; i < 11; ++i) {
        reporter.SendEvent("f", i, HealthReporter::eStatus, "e" + std::to_string(i));
    }
    reporter.SendConfigEvent("cfg");
    const auto events = drain();
    ASSERT_EQ(events.size(), 11u);
    EXPECT_EQ(events[9].info, "e9");
    EXPECT_EQ(events[10], (Event{2, "cfg"}));
}

// Repeat and replacement rules are the queue's; here: the reporter's
// interval and that configuration events bypass the filter.
TEST_F(HealthReporterTest, ConfigurationEventsRepeatEveryFiveMinutesUntilReplaced)
{
    const std::uint32_t id = reporter.SendConfigEvent("Mode: live");
    EXPECT_EQ(drain(), (Events{{2, "Mode: live"}}));
    EXPECT_TRUE(filter.history().empty());
    clock.advance(300s - 1ns);
    EXPECT_TRUE(drain().empty());
    clock.advance(1ns);
    EXPECT_EQ(drain(), (Events{{2, "Mode: live"}}));

    EXPECT_EQ(reporter.ReplaceConfigEvent("Mode: sim", id), ASPN2::EventQueue::configId("Mode: sim"));
    EXPECT_EQ(drain(), (Events{{2, "Mode: sim"}}));
    clock.advance(300s);
    EXPECT_EQ(drain(), (Events{{2, "Mode: sim"}}));
}

TEST(HealthReporterInstance, MacroReportsTheCallersFileAndLine)
{
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    HealthReporter& reporter = HealthReporter::Instance();
    EXPECT_EQ(&reporter, &HealthReporter::Instance());
    drain(reporter.queue());

    SEND_HEALTH_EVENT(HealthReporter::eFault, std::string("boom"));
    const int line = __LINE__ - 1;
    EXPECT_EQ(drain(reporter.queue()),
              (Events{{3, "HealthReporterTest.cpp[" + std::to_string(line) + "]:boom"}}));
    const auto history = FaultHysteresis::Instance().history();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.back().key, std::string(__FILE__) + std::to_string(line));
}

// Eight reporting threads and one consumer, faults going through the filter
// and the queue: nothing duplicated, the bound holds, no deadlock.
TEST_F(HealthReporterTest, ConcurrentSendersAndOneConsumer)
{
    constexpr int kSenders = 8;
    constexpr int kPerSender = 10000;
    std::atomic<int> running{kSenders};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            const std::string file = "src/sender" + std::to_string(s) + ".cpp";
            for (int n = 0; n < kPerSender; ++n) {
                reporter.SendEvent(file.c_str(), n, HealthReporter::eFault, "x");
                if (n % 1000 == 0) {
                    clock.advance(1s);
                }
            }
            --running;
        });
    }

    std::set<std::string> seen;
    std::vector<int> lastLine(kSenders, -1);
    std::size_t maxSize = 0;
    int type = 0;
    std::string info;
    for (;;) {
        const bool sendersDone = running == 0;
        if (!reporter.queue().pop_front(type, info, 5ms)) {
            if (sendersDone) {
                break;
            }
            continue;
        }
        maxSize = std::max(maxSize, reporter.queue().size());
        // No ASSERT here: the senders must still be joined on failure.
        EXPECT_EQ(type, 3);
        EXPECT_TRUE(seen.insert(info).second) << "duplicate " << info;
        int s = -1;
        int line = -1;
        EXPECT_EQ(std::sscanf(info.c_str(), "sender%d.cpp[%d]:x", &s, &line), 2) << info;
        if (s >= 0 && s < kSenders) {
            EXPECT_GT(line, lastLine[s]) << info;
            lastLine[s] = line;
        }
    }
    for (auto& t : senders) {
        t.join();
    }
    EXPECT_LE(maxSize, HealthReporter::kQueueCapacity);
    EXPECT_GE(seen.size(), HealthReporter::kQueueCapacity);
    EXPECT_EQ(filter.history().size(), 2000u);
}

}  // namespace
