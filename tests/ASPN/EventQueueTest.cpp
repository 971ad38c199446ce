#include "ASPN/EventQueue.h"

#include "tests/ASPN/QueueTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;
using ASPN2::EventQueue;

class EventQueueTest : public ::testing::Test {
protected:
    ManualClock clock;
    EventQueue queue{10, 2, 300s, clock.fn()};
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

    // Once taken, the configuration event waits outside the bound...
    EXPECT_EQ(queue.size(), 1u);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(queue.push_back(2, "e"));
    }
    drain(queue);
    // ...but while pending it counts towards it.
    queue.push_back_config("cfg2");
    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(queue.push_back(2, "e"));
    }
    EXPECT_FALSE(queue.push_back(2, "e"));
}

TEST_F(EventQueueTest, PopWaitsUpToItsTimeoutAndWakesForANewEvent)
{
    int type = 42;
    std::string info = "untouched";
    EXPECT_FALSE(queue.pop_front(type, info, -5s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.pop_front(type, info, 30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    EXPECT_EQ(Event({type, info}), Event({42, "untouched"}));

    // The long deadlines only bound a failure; the pushes end the waits. The
    // largest timeout must not overflow the deadline.
    for (auto timeout : {std::chrono::nanoseconds(30s), std::chrono::nanoseconds::max()}) {
        std::thread producer([&] {
            std::this_thread::sleep_for(20ms);
            queue.push_back(3, "late");
        });
        EXPECT_TRUE(queue.pop_front(type, info, timeout));
        producer.join();
        EXPECT_EQ(Event({type, info}), Event({3, "late"}));
    }
}

TEST_F(EventQueueTest, InterruptEndsOneEmptyWaitAfterPendingEventsAreTaken)
{
    int type = 0;
    std::string info;
    queue.push_back(2, "pending");
    queue.interrupt();
    // A pending event still comes first; the interrupt waits for the empty pop.
    EXPECT_TRUE(queue.pop_front(type, info, 30s));
    EXPECT_EQ(info, "pending");
    auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.pop_front(type, info, 30s));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);  // not the full 30 s

    // Once used up, the next empty pop waits out its timeout again, and an
    // interrupt from another thread ends a wait in progress.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.pop_front(type, info, 30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        queue.interrupt();
    });
    begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.pop_front(type, info, 30s));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
    stopper.join();
}

TEST_F(EventQueueTest, ConfigurationEventRepeatsNotBeforeItsIntervalAfterEachPublication)
{
    queue.push_back_config("cfg");
    queue.push_back(2, "plain");
    ASSERT_EQ(drain(queue).size(), 2u);

    clock.advance(300s - 1ns);
    EXPECT_TRUE(drain(queue).empty());
    EXPECT_EQ(queue.size(), 1u);
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
    EXPECT_EQ(queue.size(), 3u);

    queue.push_back_config("b", a);
    EXPECT_EQ(queue.size(), 2u);  // one pending and one waiting "a" gone
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

// Several producers, one consumer: each accepted event comes out exactly
// once, in its producer's order, and the bound holds throughout.
TEST(EventQueueConcurrency, ProducersAndOneConsumerLoseNothingAcceptedAndDuplicateNothing)
{
    constexpr int kProducers = 8;
    constexpr int kPerProducer = 10000;
    EventQueue queue(10, 2, 300s);

    std::atomic<int> running{kProducers};
    std::atomic<int> accepted{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int n = 0; n < kPerProducer; ++n) {
                accepted += queue.push_back(p, std::to_string(p) + ":" + std::to_string(n)) ? 1 : 0;
            }
            --running;
        });
    }
    std::vector<int> lastSeen(kProducers, -1);
    std::set<std::string> seen;
    std::size_t maxSize = 0;
    Event e{0, {}};
    for (;;) {
        const bool producersDone = running == 0;
        if (!queue.pop_front(e.type, e.info, 5ms)) {
            if (producersDone) {
                break;
            }
            continue;
        }
        maxSize = std::max(maxSize, queue.size());
        // No ASSERT here: the producers must still be joined on failure.
        EXPECT_TRUE(seen.insert(e.info).second) << "duplicate " << e.info;
        const int n = std::stoi(e.info.substr(e.info.find(':') + 1));
        EXPECT_GT(n, lastSeen[e.type]) << "out of order from producer " << e.type;
        lastSeen[e.type] = n;
    }
    for (auto& t : producers) {
        t.join();
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(accepted.load()));
    EXPECT_LE(maxSize, 10u);
    EXPECT_EQ(queue.size(), 0u);
}

}  // namespace
