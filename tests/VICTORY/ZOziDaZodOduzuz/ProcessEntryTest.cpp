// The process entry's pieces in the test process: the retry of life-cycle
// calls and the signal handling.
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <stdexcept>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using FACE::RETURN_CODE_TYPE::Value;

TEST(CallOnceTransactionally, RetriesWhileInProgressAtThePollPeriod) {
    ASSERT_EQ(transactionPollMs, 200);
    std::vector<Clock::time_point> calls;
    std::vector<Value> seen;
    Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    callOnceTransactionally(
        [&](Value& r) {
            seen.push_back(r);
            calls.push_back(Clock::now());
            r = calls.size() < 4 ? FACE::RETURN_CODE_TYPE::IN_PROGRESS : FACE::RETURN_CODE_TYPE::NO_ERROR;
        },
        rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(seen, std::vector<Value>(4, FACE::RETURN_CODE_TYPE::IN_PROGRESS));
    for (std::size_t i = 1; i < calls.size(); ++i) {
        const auto gap = calls[i] - calls[i - 1];
        EXPECT_GE(gap, 195ms) << "gap " << i;
        EXPECT_LT(gap, 2s) << "gap " << i;
    }
}

TEST(CallOnceTransactionally, AnyOtherCodeEndsAtOnceAndExceptionsPassThrough) {
    for (Value answer : {FACE::RETURN_CODE_TYPE::NO_ACTION, FACE::RETURN_CODE_TYPE::INVALID_CONFIG,
                         FACE::RETURN_CODE_TYPE::NOT_AVAILABLE}) {
        int calls = 0;
        Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        callOnceTransactionally(
            [&](Value& r) {
                ++calls;
                r = answer;
            },
            rc);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(rc, answer);
    }
    Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    EXPECT_THROW(callOnceTransactionally([](Value&) { throw std::runtime_error("x"); }, rc), std::runtime_error);
}

// Each termination signal, raised in this process, only sets the flag and
// records its number; the wait loop then returns.
TEST(SignalHandling, EachTerminationSignalSetsTheExitFlag) {
    const int signals[] = {SIGQUIT, SIGILL, SIGABRT, SIGBUS, SIGTERM, SIGTRAP, SIGSYS, SIGFPE, SIGINT};
    struct sigaction saved[sizeof signals / sizeof signals[0]];
    for (std::size_t i = 0; i < std::size(signals); ++i) ::sigaction(signals[i], nullptr, &saved[i]);

    SetupSignalHandler();
    exitPollMs = 10;
    for (int signal : signals) {
        SCOPED_TRACE(signal);
        exitFlag = false;
        exitSignal = 0;
        struct sigaction installed {};
        ::sigaction(signal, nullptr, &installed);
        EXPECT_EQ(installed.sa_handler, &SignalHandler);
        EXPECT_EQ(installed.sa_flags & SA_RESTART, 0);
        ASSERT_EQ(::raise(signal), 0);
        EXPECT_TRUE(exitFlag);
        EXPECT_EQ(exitSignal, signal);
        waitForExitFlag();  // returns at once
    }

    for (std::size_t i = 0; i < std::size(signals); ++i) ::sigaction(signals[i], &saved[i], nullptr);
    exitFlag = false;
    exitSignal = 0;
    exitPollMs = 500;
}

}  // namespace
