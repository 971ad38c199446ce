#include "tests/ASPN/QueueTestSupport.h"

#include <functional>

namespace {

using namespace std::chrono_literals;
using ASPN2::EventQueue;

class EventQueueTest : public ::testing::Test {
protected:
    // Whether pop_front took an event, and whether it waited its timeout
    // out (timeouts above 10 s count as ended early when shorter than that).
    std::pair<bool, bool> pop(std::chrono::nanoseconds timeout)
    {
        const auto start = std::chrono::steady_clock::now();
        const bool popped = queue.pop_front(type, info, timeout);
        return {popped, std::chrono::steady_clock::now() - start >= std::min<std::chrono::nanoseconds>(timeout, 10s)};
    }
    // Runs `f` on another thread after 20 ms.
    static std::thread later(std::function<void()> f)
    {
        return std::thread([f] { std::this_thread::sleep_for(20ms), f(); });
    }

    ManualClock clock;
    EventQueue queue{10, 2, 300s, clock.fn()};
    int type = 42;
    std::string info = "untouched";
};

TEST_F(EventQueueTest, OrdinaryEventsAreBoundedConfigurationEventsAreNot)
{
    Events expected;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(queue.push_back(i % 6, "e" + std::to_string(i)));
        expected.push_back({i % 6, "e" + std::to_string(i)});
    }
    EXPECT_FALSE(queue.push_back(3, "eleventh"));
    EXPECT_EQ(queue.push_back_config("cfg"), EventQueue::configId("cfg"));
    expected.push_back({2, "cfg"});
    EXPECT_EQ(queue.size(), 11u);
    EXPECT_EQ(drain(queue), expected);

    // Taken, the configuration event waits outside the bound; pending, it counts.
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(queue.push_back(2, "e"));
    drain(queue);
    queue.push_back_config("cfg2");
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(queue.push_back(2, "e"));
    EXPECT_FALSE(queue.push_back(2, "e"));
}

TEST_F(EventQueueTest, PopWaitsUpToItsTimeoutAndWakesForANewEventOrAnInterrupt)
{
    using P = std::pair<bool, bool>;
    EXPECT_EQ(pop(-5s), P(false, true));
    EXPECT_EQ(pop(30ms), P(false, true));
    EXPECT_EQ(Event({type, info}), Event({42, "untouched"}));
    for (auto timeout : {std::chrono::nanoseconds(30s), std::chrono::nanoseconds::max()}) {  // no overflow
        std::thread producer = later([this] { queue.push_back(3, "late"); });
        EXPECT_EQ(pop(timeout), P(true, false));
        producer.join();
        EXPECT_EQ(Event({type, info}), Event({3, "late"}));
    }
    // An interrupt lets pending events come first, then ends one empty wait,
    // whether given before it or during it.
    queue.push_back(2, "pending");
    queue.interrupt();
    EXPECT_EQ(pop(30s), P(true, false));
    EXPECT_EQ(pop(30s), P(false, false));
    EXPECT_EQ(pop(30ms), P(false, true));  // used up
    std::thread stopper = later([this] { queue.interrupt(); });
    EXPECT_EQ(pop(30s), P(false, false));
    stopper.join();
}

TEST_F(EventQueueTest, ConfigurationEventRepeatsNotBeforeItsIntervalAfterEachPublication)
{
    queue.push_back_config("cfg");
    queue.push_back(2, "plain");
    ASSERT_EQ(drain(queue).size(), 2u);
    clock.advance(300s - 1ns);
    EXPECT_TRUE(drain(queue).empty());
    clock.advance(1ns);
    EXPECT_EQ(drain(queue), (Events{{2, "cfg"}}));  // the ordinary event never repeats

    // Taken late: the next repeat counts from when it was taken.
    clock.advance(310s);
    queue.push_back(4, "fresh");
    ASSERT_EQ(drain(queue), (Events{{4, "fresh"}, {2, "cfg"}}));
    clock.advance(299s);
    EXPECT_TRUE(drain(queue).empty());
    clock.advance(1s);
    EXPECT_EQ(drain(queue), (Events{{2, "cfg"}}));
}

TEST_F(EventQueueTest, ReplacingWithdrawsTheFirstPendingAndTheFirstWaitingCopy)
{
    const std::uint32_t a = queue.push_back_config("a");
    EXPECT_EQ(queue.push_back_config("a"), a);  // same text, same id
    drain(queue);                               // both wait to repeat
    queue.push_back_config("a");                // and one more is pending
    queue.push_back_config("b", a);
    EXPECT_EQ(queue.size(), 2u);                // one pending and one waiting "a" gone
    EXPECT_EQ(drain(queue), (Events{{2, "b"}}));
    clock.advance(300s);
    EXPECT_EQ(drain(queue), (Events{{2, "a"}, {2, "b"}}));

    // An id that matches nothing only adds; ordinary events never match.
    queue.push_back_config("c", 12345);
    queue.push_back(2, "a");
    queue.push_back_config("d", a);
    EXPECT_EQ(drain(queue), (Events{{2, "c"}, {2, "a"}, {2, "d"}}));
    clock.advance(300s);
    EXPECT_EQ(drain(queue), (Events{{2, "b"}, {2, "c"}, {2, "d"}}));
}

TEST(EventQueueConcurrency, EightProducersOneConsumerNothingAcceptedLostOrDuplicated)
{
    EventQueue queue(10, 2, 300s);
    std::atomic<std::size_t> accepted{0};
    const std::size_t taken = expectEightProducersOneConsumer(queue, 10, [&](int p, int n) {
        accepted += queue.push_back(p, std::to_string(p) + "[" + std::to_string(n) + "]") ? 1 : 0;
    });
    EXPECT_EQ(taken, accepted.load());
}

}  // namespace
