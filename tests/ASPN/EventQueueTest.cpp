#include "tests/ASPN/QueueTestSupport.h"

#include <functional>

namespace {

using namespace std::chrono_literals;
using ASPN2::EventQueue;

class EventQueueTest : public ::testing::Test {
protected:
    // Whether pop_front took an event, and whether it waited its timeout
    // out (timeouts above 10 s count as ended early when shorter than that).
    std::pair<bool, bool> pop(std::chrono::nanoseconds timeout) {
        const auto start = std::chrono::steady_clock::now();
        const bool popped = queue.pop_front(type, info, timeout);
        return {popped, std::chrono::steady_clock::now() - start >= std::min<std::chrono::nanoseconds>(timeout, 10s)};
    }
    // Runs `f` on another thread after 20 ms.
    static std::thread later(std::function<void()> f) {
        return std::thread([f] { std::this_thread::sleep_for(20ms), f(); });
    }

    ManualClock clock;
    EventQueue queue{10, 2, 300s, clock.fn()};
    int type = 42;
    std::string info = "untouched";
};

// Ordinary events are bounded; a configuration event counts while pending
// but is always accepted, and waits outside the bound once taken.
TEST_F(EventQueueTest, OrdinaryEventsAreBoundedConfigurationEventsAreNot) {
    Events expected;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(queue.push_back(i % 6, "e" + std::to_string(i)));
        expected.push_back({i % 6, "e" + std::to_string(i)});
    }
    EXPECT_FALSE(queue.push_back(3, "eleventh"));
    EXPECT_EQ(queue.push_back_config("cfg"), EventQueue::configId("cfg"));
    expected.push_back({2, "cfg"});
    EXPECT_EQ(drain(queue), expected);
    queue.push_back_config("cfg2");
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(queue.push_back(2, "e"));
    EXPECT_FALSE(queue.push_back(2, "e"));
}

TEST_F(EventQueueTest, PopWaitsUpToItsTimeoutAndWakesForANewEventOrAnInterrupt) {
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

// A configuration event repeats its interval after each time it was taken;
// replacing withdraws the first pending and the first waiting copy.
TEST_F(EventQueueTest, ConfigurationEventsRepeatAndAreReplaced) {
    const std::uint32_t a = queue.push_back_config("a");
    queue.push_back(2, "plain");
    ASSERT_EQ(drain(queue).size(), 2u);
    clock.advance(300s - 1ns);
    EXPECT_TRUE(drain(queue).empty());
    clock.advance(1ns);
    EXPECT_EQ(drain(queue), (Events{{2, "a"}}));  // the ordinary event never repeats
    clock.advance(310s);                          // taken late: the next repeat counts from then
    queue.push_back(4, "fresh");
    ASSERT_EQ(drain(queue), (Events{{4, "fresh"}, {2, "a"}}));
    clock.advance(299s);
    EXPECT_TRUE(drain(queue).empty());

    EXPECT_EQ(queue.push_back_config("a"), a);  // same text, same id; now one waits and one is pending
    queue.push_back_config("b", a);
    EXPECT_EQ(queue.size(), 1u);
    EXPECT_EQ(drain(queue), (Events{{2, "b"}}));
    clock.advance(300s);
    EXPECT_EQ(drain(queue), (Events{{2, "b"}}));
    // An id that matches nothing only adds; ordinary events never match.
    queue.push_back_config("c", 12345);
    queue.push_back(2, "b");
    queue.push_back_config("d", EventQueue::configId("b"));
    EXPECT_EQ(drain(queue), (Events{{2, "c"}, {2, "b"}, {2, "d"}}));
}

TEST(EventQueueConcurrency, EightProducersOneConsumerNothingAcceptedLostOrDuplicated) {
    EventQueue queue(10, 2, 300s);
    std::atomic<std::size_t> accepted{0};
    const std::size_t taken = expectEightProducersOneConsumer(queue, 10, [&](int p, int n) {
        accepted += queue.push_back(p, std::to_string(p) + "[" + std::to_string(n) + "]") ? 1 : 0;
    });
    EXPECT_EQ(taken, accepted.load());
}

}  // namespace
