#include "ASPN/EventQueue.h"

#include "tests/ASPN/ManualClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using ASPN2::EventQueue;

constexpr int kConfigType = 2;

struct Popped {
    int type;
    std::string info;
};

class EventQueueTest : public ::testing::Test {
protected:
    ManualClock clock;
    EventQueue queue{10, kConfigType, 300s, clock.fn()};

    // Everything pending now, oldest first.
    std::vector<Popped> drain()
    {
        std::vector<Popped> out;
        Popped p{-1, {}};
        while (queue.pop_front(p.type, p.info, 0ns)) {
            out.push_back(p);
        }
        return out;
    }

    std::vector<std::string> drainTexts()
    {
        std::vector<std::string> out;
        for (auto& p : drain()) {
            out.push_back(p.info);
        }
        return out;
    }
};

TEST_F(EventQueueTest, OrdinaryEventsAreBoundedConfigurationEventsAreNot)
{
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(queue.push_back(i % 6, "e" + std::to_string(i)));
    }
    EXPECT_FALSE(queue.push_back(3, "eleventh"));
    const std::uint32_t id = queue.push_back_config("cfg");
    EXPECT_EQ(id, EventQueue::configId("cfg"));
    EXPECT_EQ(queue.size(), 11u);

    const auto popped = drain();
    ASSERT_EQ(popped.size(), 11u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(popped[i].type, i % 6);
        EXPECT_EQ(popped[i].info, "e" + std::to_string(i));
    }
    EXPECT_EQ(popped[10].type, kConfigType);
    EXPECT_EQ(popped[10].info, "cfg");
    // Only the configuration event stays, waiting to be repeated.
    EXPECT_EQ(queue.size(), 1u);
}

TEST_F(EventQueueTest, PendingConfigurationEventsCountTowardsTheBound)
{
    queue.push_back_config("cfg");
    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(queue.push_back(2, "e"));
    }
    EXPECT_FALSE(queue.push_back(2, "e"));
    drain();
    // Once taken, the configuration event waits outside the bound.
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(queue.push_back(2, "e"));
    }
}

TEST_F(EventQueueTest, EmptyQueueTimesOutAndLeavesOutputsUntouched)
{
    int type = 42;
    std::string info = "untouched";
    EXPECT_FALSE(queue.pop_front(type, info, 0ns));
    EXPECT_FALSE(queue.pop_front(type, info, -5s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.pop_front(type, info, 30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    EXPECT_EQ(type, 42);
    EXPECT_EQ(info, "untouched");
}

TEST_F(EventQueueTest, WaitingConsumerWakesForAnEventFromAnotherThread)
{
    std::thread producer([&] {
        std::this_thread::sleep_for(20ms);
        queue.push_back(3, "late");
    });
    int type = -1;
    std::string info;
    // The long deadline only bounds a failure; the push ends the wait.
    EXPECT_TRUE(queue.pop_front(type, info, 30s));
    producer.join();
    EXPECT_EQ(type, 3);
    EXPECT_EQ(info, "late");

    // A huge timeout must not overflow the deadline.
    std::thread another([&] {
        std::this_thread::sleep_for(20ms);
        queue.push_back_config("cfg");
    });
    EXPECT_TRUE(queue.pop_front(type, info, std::chrono::nanoseconds::max()));
    another.join();
    EXPECT_EQ(info, "cfg");
}

TEST_F(EventQueueTest, ConfigurationEventRepeatsNotBeforeItsIntervalAfterEachPublication)
{
    queue.push_back_config("cfg");
    queue.push_back(2, "plain");
    ASSERT_EQ(drainTexts(), (std::vector<std::string>{"cfg", "plain"}));

    clock.advance(300s - 1ns);
    EXPECT_TRUE(drain().empty());
    EXPECT_EQ(queue.size(), 1u);
    clock.advance(1ns);
    EXPECT_EQ(drainTexts(), std::vector<std::string>{"cfg"});  // the ordinary event never repeats

    // Taken late: the next repeat counts from when it was taken, not from when it was due.
    clock.advance(300s);
    clock.advance(10s);
    ASSERT_EQ(drainTexts(), std::vector<std::string>{"cfg"});
    clock.advance(299s);
    EXPECT_TRUE(drain().empty());
    clock.advance(1s);
    EXPECT_EQ(drainTexts(), std::vector<std::string>{"cfg"});
}

TEST_F(EventQueueTest, DueConfigurationEventsQueueBehindPendingEventsInDueOrder)
{
    queue.push_back_config("a");
    queue.push_back_config("b");
    drain();
    clock.advance(300s);
    queue.push_back(4, "fresh");
    EXPECT_EQ(drainTexts(), (std::vector<std::string>{"fresh", "a", "b"}));
}

TEST_F(EventQueueTest, ReplacingWithdrawsTheFirstPendingAndTheFirstWaitingCopy)
{
    const std::uint32_t a = queue.push_back_config("a");
    EXPECT_EQ(queue.push_back_config("a"), a);  // same text, same id
    drain();                                    // both wait to repeat
    queue.push_back_config("a");                // and one more is pending
    EXPECT_EQ(queue.size(), 3u);

    const std::uint32_t b = queue.push_back_config("b", a);
    EXPECT_EQ(b, EventQueue::configId("b"));
    // One pending "a" and one waiting "a" are gone; one waiting "a" is left.
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_EQ(drainTexts(), std::vector<std::string>{"b"});
    clock.advance(300s);
    EXPECT_EQ(drainTexts(), (std::vector<std::string>{"a", "b"}));

    // An id that matches nothing only adds.
    queue.push_back_config("c", 12345);
    EXPECT_EQ(queue.size(), 3u);
    // Ordinary events never match a configuration id.
    queue.push_back(2, "a");
    queue.push_back_config("d", a);
    EXPECT_EQ(drainTexts(), (std::vector<std::string>{"c", "a", "d"}));
    clock.advance(300s);
    EXPECT_EQ(drainTexts(), (std::vector<std::string>{"b", "c", "d"}));
}

// Several producers, one consumer: each accepted event comes out exactly
// once, in its producer's order, and the bound holds throughout.
TEST(EventQueueConcurrency, ProducersAndOneConsumerLoseNothingAcceptedAndDuplicateNothing)
{
    constexpr int kProducers = 8;
    constexpr int kPerProducer = 10000;
    constexpr unsigned kCapacity = 10;
    EventQueue queue(kCapacity, kConfigType, 300s);

    std::atomic<int> running{kProducers};
    std::vector<int> accepted(kProducers, 0);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int n = 0; n < kPerProducer; ++n) {
                if (queue.push_back(p % 6, std::to_string(p) + ":" + std::to_string(n))) {
                    ++accepted[p];
                }
            }
            --running;
        });
    }

    std::vector<int> lastSeen(kProducers, -1);
    std::set<std::string> seen;
    std::size_t maxSize = 0;
    int type = 0;
    std::string info;
    for (;;) {
        const bool producersDone = running == 0;
        if (!queue.pop_front(type, info, 5ms)) {
            if (producersDone) {
                break;
            }
            continue;
        }
        maxSize = std::max(maxSize, queue.size());
        // No ASSERT here: the producers must still be joined on failure.
        EXPECT_TRUE(seen.insert(info).second) << "duplicate " << info;
        const auto colon = info.find(':');
        const int p = std::stoi(info.substr(0, colon));
        const int n = std::stoi(info.substr(colon + 1));
        EXPECT_EQ(type, p % 6);
        EXPECT_GT(n, lastSeen[p]) << "out of order from producer " << p;
        lastSeen[p] = n;
    }
    for (auto& t : producers) {
        t.join();
    }
    int total = 0;
    for (int a : accepted) {
        total += a;
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(total));
    EXPECT_LE(maxSize, kCapacity);
    EXPECT_GE(total, static_cast<int>(kCapacity));
    EXPECT_EQ(queue.size(), 0u);
}

}  // namespace
