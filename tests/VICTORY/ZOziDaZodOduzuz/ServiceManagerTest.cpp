// The server under a service manager: readiness, watchdog and stopping
// notifications reach a fake NOTIFY_SOCKET; the watchdog pings come from the
// worker loop only, and stop while a DDS receive thread is stuck in the
// library (DDS domains 29, 59).
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"
#include "platform/ServiceManagerNotifier.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"
#include "tests/network/StandInParticipant.h"
#include "tests/support/LoggedProcess.h"
#include "tests/support/NotifySocket.h"
#include "tests/support/RuntimeRoot.h"

#include <fastrtps/xmlparser/XMLProfileManager.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using corvane_test::LoggedProcess;
using corvane_test::NotifySocket;
using corvane_test::RuntimeRoot;
using Clock = std::chrono::steady_clock;

// Watchdog period given to the server: pings are due every half of it.
constexpr auto kWatchdog = 2000ms;

// Receives for `span` and returns the longest gap between two WATCHDOG=1
// pings (from the start of the span to the first one included), or the
// whole span when fewer than two arrive.
std::chrono::milliseconds longestPingGap(NotifySocket& socket, std::chrono::milliseconds span, int& pings) {
    const auto start = Clock::now();
    auto last = start;
    std::chrono::milliseconds longest{0};
    pings = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + span - Clock::now());
        if (left.count() <= 0) break;
        const auto message = socket.receive(left);
        if (!message) break;
        if (message->find("WATCHDOG=1") == std::string::npos) continue;
        const auto now = Clock::now();
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(now - last));
        last = now;
        ++pings;
    }
    longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last));
    return longest;
}

TEST(ServiceManager, ServerSaysReadyKeepsTheWatchdogAliveAndSaysStopping) {
    RuntimeRoot::Options options;
    options.sourceDir = CORVANE_SOURCE_DIR;
    options.fpgaSim = FPGA_SIM_PATH;
    options.domainId = 29;
    options.prefix = "zozi-notify";
    RuntimeRoot root(options);
    NotifySocket socket;
    std::vector<std::string> environment = root.environment();
    environment.push_back(socket.environment());
    environment.push_back("WATCHDOG_USEC=" + std::to_string(std::chrono::microseconds(kWatchdog).count()));

    LoggedProcess server({SERVER_PATH, root.topLevelFile()}, environment);
    ASSERT_TRUE(socket.waitFor("READY=1", 60s)) << server.transcript();
    EXPECT_FALSE(server.wait(0ms)) << server.transcript();

    int pings = 0;
    const auto gap = longestPingGap(socket, 3 * kWatchdog, pings);
    EXPECT_GE(pings, 4);
    EXPECT_LE(gap, kWatchdog / 2) << pings << " pings";

    server.signal(SIGTERM);
    EXPECT_TRUE(socket.waitFor("STOPPING=1", 10s)) << server.transcript();
    EXPECT_EQ(server.finish(30s), 0) << server.transcript();
}

// The notifier reads its environment once per process: this test sets it
// before the first use (its own test executable).
TEST(ServiceManager, AStoppedWorkerStopsTheWatchdogPings) {
    NotifySocket socket;
    ::setenv("NOTIFY_SOCKET", socket.path().c_str(), 1);
    ::setenv("WATCHDOG_USEC", "1000000", 1);
    ::unsetenv("WATCHDOG_PID");
    ASSERT_TRUE(ServiceManagerNotifier::instance().enabled());
    ASSERT_EQ(ServiceManagerNotifier::instance().watchdogUsec(), 1000000u);

    ZOziDaZodOduzuz server;
    ZOziDaZodOduzuzTestAccess access(server);
    access.startWorkerThread();
    EXPECT_TRUE(socket.waitFor("WATCHDOG=1", 5s));
    EXPECT_TRUE(socket.waitFor("WATCHDOG=1", 5s));

    access.stopWorkerThread();
    while (socket.receive(0ms)) {
    }
    int pings = 0;
    longestPingGap(socket, 1500ms, pings);
    EXPECT_EQ(pings, 0);
}

// The wiring of the receive supervision: a participant of this process
// whose transport holds its receiving threads after the datagram guard
// (standing in for a library call that does not return) makes the
// server's worker stop the watchdog pings and tell the manager, once the
// call is older than the bound; when it returns the pings come back.
TEST(ServiceManager, AReceiveThreadStuckInTheLibraryStopsTheWatchdogPings) {
    NotifySocket socket;
    ::setenv("NOTIFY_SOCKET", socket.path().c_str(), 1);
    ::setenv("WATCHDOG_USEC", "1000000", 1);
    ::unsetenv("WATCHDOG_PID");
    ::unsetenv("FASTRTPS_DEFAULT_PROFILES_FILE");
    ASSERT_EQ(ServiceManagerNotifier::instance().watchdogUsec(), 1000000u);
    // The two participants of this process talk through their transports.
    eprosima::fastrtps::LibrarySettingsAttributes library;
    library.intraprocess_delivery = eprosima::fastrtps::INTRAPROCESS_OFF;
    eprosima::fastrtps::xmlparser::XMLProfileManager::library_settings(library);

    auto gate = std::make_shared<corvane_test::net::Gate>();
    corvane_test::net::StandIn::Options held;
    held.domain = 59;
    held.name = "HeldReceiver";
    held.gate = gate;
    corvane_test::net::StandIn receiver(held);
    corvane_test::net::StandIn::Options announcing;
    announcing.domain = 59;
    announcing.name = "Announcer";
    corvane_test::net::StandIn announcer(announcing);

    ZOziDaZodOduzuz server;
    ZOziDaZodOduzuzTestAccess access(server);
    testing::internal::CaptureStdout();
    access.startWorkerThread();
    EXPECT_TRUE(socket.waitFor("WATCHDOG=1", 5s));

    gate->close();  // the next announcement the receiver gets is held
    ASSERT_TRUE(gate->waitHeld(10s));
    EXPECT_TRUE(socket.waitFor("STATUS=DDS receive thread stalled: inside the library with one message for", 10s));
    while (socket.receive(0ms)) {
    }
    int pings = 0;
    longestPingGap(socket, 1500ms, pings);
    EXPECT_EQ(pings, 0) << "no pings while the call is stuck";

    gate->open();
    EXPECT_TRUE(socket.waitFor("STATUS=started, serving", 5s));
    EXPECT_TRUE(socket.waitFor("WATCHDOG=1", 5s));
    access.stopWorkerThread();
    std::string const console = testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("warning: DDS receive thread stalled: inside the library with one message for "),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("(UDPv4); the service manager's watchdog is no longer fed"), std::string::npos) << console;
    EXPECT_NE(console.find("DDS receive threads make progress again"), std::string::npos) << console;
}

}  // namespace
