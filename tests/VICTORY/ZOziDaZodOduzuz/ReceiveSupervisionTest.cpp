// The server's supervision of its DDS receive threads (ages given by the
// test are the clock) and the bound on its take-down after a termination
// signal.
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"
#include "VICTORY/ZOziDaZodOduzuz/ReceiveSupervision.h"
#include "VICTORY/ZOziDaZodOduzuz/StopDeadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;
using FACE::TSS::DatagramGuard::InProgress;
using FACE::TSS::DatagramGuard::TransportKind;
using Event = ReceiveSupervision::StallDetector::Event;

std::optional<InProgress> call(std::chrono::milliseconds age, TransportKind kind = TransportKind::kUdpV4) {
    return InProgress{age, kind};
}

// One observation per worker cycle: a call older than the bound is a stall
// (told once, watchdog not fed) until no call is that old.
TEST(ReceiveSupervision, StallIsToldOnceAndEndsWhenTheCallReturns) {
    struct Step {
        std::optional<InProgress> oldest;
        Event event;
        bool stalled;
    };
    Step const steps[] = {
        {std::nullopt, Event::None, false},
        {call(10ms), Event::None, false},
        {call(5000ms), Event::None, false},  // the bound itself is still progress
        {call(5001ms, TransportKind::kSharedMemory), Event::Stalled, true},
        {call(5250ms), Event::None, true},
        {call(60000ms), Event::None, true},    // told once
        {call(100ms), Event::Resumed, false},  // the stuck call returned, others run
        {std::nullopt, Event::None, false},
        {call(7000ms, TransportKind::kTcpV4), Event::Stalled, true},
        {std::nullopt, Event::Resumed, false},
    };
    ReceiveSupervision::StallDetector detector;
    int i = 0;
    for (Step const& s : steps) {
        EXPECT_EQ(detector.observe(s.oldest), s.event) << "step " << i;
        EXPECT_EQ(detector.stalled(), s.stalled) << "step " << i;
        ++i;
    }
}

TEST(ReceiveSupervision, TextsNameHowLongAndTheTransport) {
    EXPECT_EQ(ReceiveSupervision::stallText(InProgress{5250ms, TransportKind::kSharedMemory}),
              "DDS receive thread stalled: inside the library with one message for 5.2 s (shared memory); the "
              "service manager's watchdog is no longer fed");
    EXPECT_EQ(ReceiveSupervision::stallText(InProgress{std::chrono::hours(2), TransportKind::kUdpV4}),
              "DDS receive thread stalled: inside the library with one message for 7200.0 s (UDPv4); the service "
              "manager's watchdog is no longer fed");
    EXPECT_EQ(stopIncompleteLine("/opt/corvane/bin/ZOziDaZodOduzuz", "Framework_Disconnect()",
                                 InProgress{42s, TransportKind::kTcpV4}),
              "!!!!!! /opt/corvane/bin/ZOziDaZodOduzuz did not stop within 10 s: Framework_Disconnect() has not "
              "returned (a DDS receive thread has been inside the library with one message for 42.0 s (TCPv4)); "
              "exiting with status 3");
    EXPECT_EQ(stopIncompleteLine("ZOziDaZodOduzuz", "Finalize()", std::nullopt),
              "!!!!!! ZOziDaZodOduzuz did not stop within 10 s: Finalize() has not returned (no DDS receive call "
              "in progress); exiting with status 3");
}

// A take-down that finishes in time never runs the expiry action; one that
// does not gets it once, with the step then running.
TEST(StopDeadline, ExpiresOnlyWhenTheTakeDownDoesNotFinishInTime) {
    std::atomic<int> expiries{0};
    {
        StopDeadline deadline(5000ms, [&](const char*) { ++expiries; });
        deadline.step("STOP");
        deadline.finished();
        deadline.finished();
    }
    EXPECT_EQ(expiries.load(), 0);

    std::mutex mutex;
    std::condition_variable expired;
    std::string step;
    {
        StopDeadline deadline(50ms, [&](const char* name) {
            std::lock_guard<std::mutex> lock(mutex);
            step = name;
            ++expiries;
            expired.notify_all();
        });
        deadline.step("Framework_Disconnect()");
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(expired.wait_for(lock, 10s, [&] { return expiries.load() > 0; }));
    }
    EXPECT_EQ(expiries.load(), 1);
    EXPECT_EQ(step, "Framework_Disconnect()");
}

}  // namespace
