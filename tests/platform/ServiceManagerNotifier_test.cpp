// What the notifier sends to a fake NOTIFY_SOCKET, depending on what the
// environment said when it was made. sd_notify reads NOTIFY_SOCKET at every
// call, so a notifier made outside a service manager must keep quiet even
// when the variable appears later.
#include "platform/ServiceManagerNotifier.h"
#include "tests/support/NotifySocket.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using corvane_test::NotifySocket;

// Every datagram waiting on `socket` (sd_notify has sent them by the time
// it returns).
std::vector<std::string> waiting(NotifySocket& socket) {
    std::vector<std::string> messages;
    while (std::optional<std::string> message = socket.receive(0ms)) {
        messages.push_back(*message);
    }
    return messages;
}

TEST(ServiceManagerNotifier, SendsOnlyWhenMadeUnderAServiceManager) {
    struct Case {
        const char* name;
        bool socketAtConstruction;
        const char* watchdogUsec;  // null: unset
        bool enabled;
        std::uint64_t period;
        std::vector<std::string> sent;
    };
    const Case cases[] = {
        {"under a manager with a watchdog",
         true,
         "60000000",
         true,
         60000000u,
         {"READY=1\nSTATUS=started, serving", "STATUS=stalled", "WATCHDOG=1", "STOPPING=1\nSTATUS=stopping"}},
        {"under a manager without a watchdog",
         true,
         nullptr,
         true,
         0u,
         {"READY=1\nSTATUS=started, serving", "STATUS=stalled", "STOPPING=1\nSTATUS=stopping"}},
        {"no manager, socket set afterwards", false, "60000000", false, 0u, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NotifySocket socket;
        ::unsetenv("WATCHDOG_PID");
        if (c.watchdogUsec != nullptr) {
            ::setenv("WATCHDOG_USEC", c.watchdogUsec, 1);
        } else {
            ::unsetenv("WATCHDOG_USEC");
        }
        if (c.socketAtConstruction) {
            ::setenv("NOTIFY_SOCKET", socket.path().c_str(), 1);
        } else {
            ::unsetenv("NOTIFY_SOCKET");
        }
        ServiceManagerNotifier notifier;
        ::setenv("NOTIFY_SOCKET", socket.path().c_str(), 1);

        EXPECT_EQ(notifier.enabled(), c.enabled);
        EXPECT_EQ(notifier.watchdogUsec(), c.period);
        notifier.ready();
        notifier.status("stalled");
        notifier.keepAlive();
        notifier.keepAlive();  // within a quarter period (15 s) of the first: no second ping
        notifier.stopping();
        EXPECT_EQ(waiting(socket), c.sent);
    }
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
}

}  // namespace
