// The component's life-cycle basics.
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using FACE::RETURN_CODE_TYPE::Value;

TEST(ZOziDaZodOduzuz, NewServerIsStoppedAndHasNothingToInitialize) {
    ZOziDaZodOduzuz server;
    FACE::LCM::Corvane::ReportedState::Value state = FACE::LCM::Corvane::ReportedState::STARTED;
    Value rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
    server.Query_State(state, rc);
    EXPECT_EQ(state, FACE::LCM::Corvane::ReportedState::STOPPED);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);

    rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
    server.Initialize(rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ACTION);
    rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
    server.Finalize(rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ACTION);

    EXPECT_EQ(ZOziDaZodOduzuzTestAccess(server).name(), "ZOziDaZodOduzuz");
}

TEST(ZOziDaZodOduzuz, DestroyingARunningServerStopsItsWorker) {
    auto server = std::make_unique<ZOziDaZodOduzuz>();
    ZOziDaZodOduzuzTestAccess access(*server);
    std::atomic<bool> finished{false};
    access.workerThread() = std::thread([&] {
        while (!access.stopWorker()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        finished = true;
    });
    server.reset();  // would end the process if the thread were still joinable
    EXPECT_TRUE(finished);
}

}  // namespace
