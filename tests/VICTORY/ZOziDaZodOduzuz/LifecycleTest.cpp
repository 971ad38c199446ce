// The component's state machine and worker, and the process entry's
// pieces: the retry of life-cycle calls and the signal handling.
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace {

using namespace std::chrono_literals;
using FACE::LCM::Corvane::ReportedState::STARTED;
using FACE::LCM::Corvane::ReportedState::STOPPED;
using FACE::LCM::Corvane::RequestedState::START;
using FACE::LCM::Corvane::RequestedState::STOP;
using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;
using Value = FACE::RETURN_CODE_TYPE::Value;

TEST(Lifecycle, StartAndStopOnceEachWithTheirEvents) {
    drainEvents();
    for (bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        ZOziDaZodOduzuz server;
        ZOziDaZodOduzuzTestAccess access(server);
        access.setDebug(debug);
        CoutCapture out;
        Value rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
        server.Initialize(rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ACTION);
        server.Finalize(rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ACTION);
        const struct {
            ZOziDaZodOduzuz::RequestedState request;
            Value rc;
            ZOziDaZodOduzuz::ReportedState state;
            std::vector<Event> events;
            const char* line;
        } steps[] = {
            {STOP, FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, STOPPED, {}, ""},
            {START,
             FACE::RETURN_CODE_TYPE::NO_ERROR,
             STARTED,
             {{2, "ZOziDaZodOduzuz started successfully."}},
             "ZOziDaZodOduzuz: Start : worker thread started.\n"},
            {START, FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, STARTED, {}, ""},
            {STOP,
             FACE::RETURN_CODE_TYPE::NO_ERROR,
             STOPPED,
             {{2, "ZOziDaZodOduzuz stopped successfully."}},
             "ZOziDaZodOduzuz: Stop : worker thread stopped.\n"},
            {static_cast<ZOziDaZodOduzuz::RequestedState>(7), FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, STOPPED, {}, ""},
        };
        for (const auto& step : steps) {
            SCOPED_TRACE(testing::Message() << "request " << step.request);
            server.Request_State_Transition(step.request, rc);
            EXPECT_EQ(rc, step.rc);
            ZOziDaZodOduzuz::ReportedState state = STARTED;
            server.Query_State(state, rc);
            EXPECT_EQ(state, step.state);
            EXPECT_EQ(access.workerThread().joinable(), step.state == STARTED);
            EXPECT_EQ(drainEvents(), step.events);
            EXPECT_EQ(out.take(), debug ? step.line : "");
        }
    }
}

TEST(Lifecycle, DestroyingARunningServerStopsItsWorker) {
    auto server = std::make_unique<ZOziDaZodOduzuz>();
    ZOziDaZodOduzuzTestAccess access(*server);
    std::atomic<bool> finished{false};
    access.workerThread() = std::thread([&] {
        while (!access.stopWorker()) std::this_thread::sleep_for(1ms);
        finished = true;
    });
    server.reset();  // would end the process if the thread were still joinable
    EXPECT_TRUE(finished);
}

TEST(CallOnceTransactionally, RetriesWhileInProgressAtThePollPeriod) {
    ASSERT_EQ(transactionPollMs, 200);
    std::vector<std::chrono::steady_clock::time_point> calls;
    Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    callOnceTransactionally(
        [&](Value& r) {
            EXPECT_EQ(r, FACE::RETURN_CODE_TYPE::IN_PROGRESS);
            calls.push_back(std::chrono::steady_clock::now());
            r = calls.size() < 4 ? FACE::RETURN_CODE_TYPE::IN_PROGRESS : FACE::RETURN_CODE_TYPE::NO_ERROR;
        },
        rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    ASSERT_EQ(calls.size(), 4u);
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GE(calls[i] - calls[i - 1], 195ms) << i;
        EXPECT_LT(calls[i] - calls[i - 1], 2s) << i;
    }
    // Any other code ends at once; exceptions pass through.
    for (Value answer : {FACE::RETURN_CODE_TYPE::NO_ACTION, FACE::RETURN_CODE_TYPE::INVALID_CONFIG}) {
        int n = 0;
        callOnceTransactionally(
            [&](Value& r) {
                r = answer;
                ++n;
            },
            rc);
        EXPECT_EQ(std::make_pair(n, rc), std::make_pair(1, answer));
    }
    EXPECT_THROW(callOnceTransactionally([](Value&) { throw std::runtime_error("x"); }, rc), std::runtime_error);
}

// Each termination signal, raised in this process (not by a faulting
// instruction), only sets the flag and records its number; the wait loop
// then returns.
TEST(SignalHandling, EachTerminationSignalSetsTheExitFlag) {
    const int signals[] = {SIGQUIT, SIGILL, SIGABRT, SIGBUS, SIGTERM, SIGTRAP, SIGSYS, SIGFPE, SIGINT};
    struct sigaction saved[std::size(signals)];
    struct sigaction savedSegv {};
    ::sigaction(SIGSEGV, nullptr, &savedSegv);
    for (std::size_t i = 0; i < std::size(signals); ++i) ::sigaction(signals[i], nullptr, &saved[i]);
    SetupSignalHandler();
    exitPollMs = 10;
    for (int signal : signals) {
        SCOPED_TRACE(signal);
        exitFlag = false;
        exitSignal = 0;
        struct sigaction installed {};
        ::sigaction(signal, nullptr, &installed);
        if (signal == SIGILL || signal == SIGBUS || signal == SIGFPE) {
            EXPECT_EQ(installed.sa_sigaction, &FaultSignalHandler);
            EXPECT_NE(installed.sa_flags & SA_SIGINFO, 0);
        } else {
            EXPECT_EQ(installed.sa_handler, &SignalHandler);
        }
        EXPECT_EQ(installed.sa_flags & SA_RESTART, 0);
        ASSERT_EQ(::raise(signal), 0);
        EXPECT_TRUE(exitFlag);
        EXPECT_EQ(exitSignal, signal);
        waitForExitFlag();  // returns at once
    }
    for (std::size_t i = 0; i < std::size(signals); ++i) ::sigaction(signals[i], &saved[i], nullptr);
    ::sigaction(SIGSEGV, &savedSegv, nullptr);
    exitFlag = false;
    exitSignal = 0;
    exitPollMs = 500;
}

}  // namespace
