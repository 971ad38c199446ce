#include "ASPN/HealthReporter.h"

#include "tests/ASPN/QueueTestSupport.h"

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

// Types out of range become 0; the eleventh ordinary event is dropped, the
// configuration event never; after five minutes its replacement repeats.
TEST_F(HealthReporterTest, FiltersClampsBoundsAndRepeatsConfiguration) {
    const auto as = [](int t) { return static_cast<HealthReporter::eEventType>(t); };
    reporter.SendEvent("src/a/b", 42, HealthReporter::eFault, "lost");
    reporter.SendEvent("src/a/b", 42, as(9), "lost");
    reporter.SendEvent("src/a/b", 42, as(-2), "lost");
    reporter.SendEvent("src/a/b", 42, HealthReporter::eCritical, "lost");
    reporter.SendEvent(nullptr, 5, HealthReporter::eFault, "nofile");
    for (int i = 5; i < 11; ++i) reporter.SendEvent("f", i, HealthReporter::eStatus, "e");
    const std::uint32_t id = reporter.SendConfigEvent("Mode: live");
    EXPECT_EQ(drain(), (Events{{3, "b[42]:lost"},
                               {0, "lost"},
                               {0, "lost"},
                               {5, "b[42]:lost"},
                               {3, "[5]:nofile"},
                               {2, "e"},
                               {2, "e"},
                               {2, "e"},
                               {2, "e"},
                               {2, "e"},
                               {2, "Mode: live"}}));
    EXPECT_EQ(filter.history().size(), 2u);
    EXPECT_EQ(reporter.ReplaceConfigEvent("Mode: sim", id), ASPN2::EventQueue::configId("Mode: sim"));
    clock.advance(300s);
    EXPECT_EQ(drain(), (Events{{2, "Mode: sim"}}));  // the repeat is the replacement's
}

TEST(HealthReporterInstance, MacroReportsTheCallersFileAndLine) {
    ASSERT_TRUE(FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000));
    HealthReporter& reporter = HealthReporter::Instance();
    drain(reporter.queue());
    SEND_HEALTH_EVENT(HealthReporter::eFault, std::string("boom"));
    const int line = __LINE__ - 1;
    EXPECT_EQ(drain(reporter.queue()), (Events{{3, "HealthReporterTest.cpp[" + std::to_string(line) + "]:boom"}}));
    ASSERT_FALSE(FaultHysteresis::Instance().history().empty());
    EXPECT_EQ(FaultHysteresis::Instance().history().back().key, std::string(__FILE__) + std::to_string(line));
}

// Eight reporting threads and one consumer, faults going through the filter
// and the queue: nothing duplicated, the bound holds, no deadlock.
TEST_F(HealthReporterTest, ConcurrentSendersAndOneConsumer) {
    EXPECT_GE(expectEightProducersOneConsumer(reporter.queue(), HealthReporter::kQueueCapacity,
                                              [&](int p, int n) {
                                                  reporter.SendEvent(("src/" + std::to_string(p)).c_str(), n,
                                                                     HealthReporter::eFault, "x");
                                                  if (n % 1000 == 0) clock.advance(1s);
                                              }),
              HealthReporter::kQueueCapacity);
    EXPECT_EQ(filter.history().size(), 2000u);
}

}  // namespace
