#include "platform/ServiceManagerNotifier.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace {

std::int64_t steadyMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ServiceManagerNotifier::ServiceManagerNotifier()
    : m_enabled(std::getenv("NOTIFY_SOCKET") != nullptr), m_watchdogUsec(0), m_lastPingUs(0) {
    std::uint64_t usec = 0;
    // 0 unset_environment: the variables stay for the processes we start.
    if (m_enabled && sd_watchdog_enabled(0, &usec) > 0) {
        m_watchdogUsec = usec;
    }
}

ServiceManagerNotifier& ServiceManagerNotifier::instance() {
    static ServiceManagerNotifier notifier;
    return notifier;
}

void ServiceManagerNotifier::ready() const {
    if (m_enabled) {
        sd_notify(0, "READY=1\nSTATUS=started, serving");
    }
}

void ServiceManagerNotifier::stopping() const {
    if (m_enabled) {
        sd_notify(0, "STOPPING=1\nSTATUS=stopping");
    }
}

void ServiceManagerNotifier::status(const std::string& text) const {
    if (m_enabled) {
        sd_notify(0, ("STATUS=" + text).c_str());
    }
}

void ServiceManagerNotifier::keepAlive() {
    if (!m_enabled || m_watchdogUsec == 0) {
        return;
    }
    const std::int64_t now = steadyMicroseconds();
    const std::int64_t last = m_lastPingUs.load();
    if (last != 0 && now - last < static_cast<std::int64_t>(m_watchdogUsec / 4)) {
        return;
    }
    m_lastPingUs = now;
    sd_notify(0, "WATCHDOG=1");
}
