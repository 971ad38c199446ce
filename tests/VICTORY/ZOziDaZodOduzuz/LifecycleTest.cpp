// The component's state machine and its worker thread.
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;
using FACE::LCM::Corvane::ReportedState::STARTED;
using FACE::LCM::Corvane::ReportedState::STOPPED;
using FACE::LCM::Corvane::RequestedState::START;
using FACE::LCM::Corvane::RequestedState::STOP;
using FACE::RETURN_CODE_TYPE::Value;

ZOziDaZodOduzuz::ReportedState stateOf(ZOziDaZodOduzuz& server) {
    ZOziDaZodOduzuz::ReportedState state = STARTED;
    Value rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
    server.Query_State(state, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    return state;
}

TEST(Lifecycle, StartAndStopOnceEachWithTheirEvents) {
    drainEvents();
    for (bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        ZOziDaZodOduzuz server;
        ZOziDaZodOduzuzTestAccess access(server);
        access.setDebug(debug);
        CoutCapture out;
        const struct {
            ZOziDaZodOduzuz::RequestedState request;
            Value rc;
            ZOziDaZodOduzuz::ReportedState state;
            std::vector<Event> events;
            const char* line;
        } steps[] = {
            {STOP, FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, STOPPED, {}, ""},
            {START, FACE::RETURN_CODE_TYPE::NO_ERROR, STARTED, {{2, "ZOziDaZodOduzuz started successfully."}},
             "ZOziDaZodOduzuz: Start : worker thread started.\n"},
            {START, FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, STARTED, {}, ""},
            {STOP, FACE::RETURN_CODE_TYPE::NO_ERROR, STOPPED, {{2, "ZOziDaZodOduzuz stopped successfully."}},
             "ZOziDaZodOduzuz: Stop : worker thread stopped.\n"},
            {STOP, FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, STOPPED, {}, ""},
            {static_cast<ZOziDaZodOduzuz::RequestedState>(7), FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, STOPPED, {}, ""},
        };
        for (const auto& step : steps) {
            SCOPED_TRACE(testing::Message() << "request " << step.request);
            Value rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
            server.Request_State_Transition(step.request, rc);
            EXPECT_EQ(rc, step.rc);
            EXPECT_EQ(stateOf(server), step.state);
            EXPECT_EQ(access.workerThread().joinable(), step.state == STARTED);
            EXPECT_EQ(drainEvents(), step.events);
            EXPECT_EQ(out.take(), debug ? step.line : "");
        }
    }
}

}  // namespace
