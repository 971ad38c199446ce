#ifndef PLATFORM_SERVICEMANAGERNOTIFIER_H
#define PLATFORM_SERVICEMANAGERNOTIFIER_H

// Tells the service manager (systemd, through sd_notify) where the server
// is: ready after START, alive from the worker loop, stopping on a
// termination signal, and a status line when something is wrong. Outside systemd (no NOTIFY_SOCKET) every call does
// nothing. Thread-safe: the calls only read what the constructor set and
// one atomic time stamp.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class ServiceManagerNotifier {
public:
    /// Reads NOTIFY_SOCKET and WATCHDOG_USEC (and WATCHDOG_PID) once.
    ServiceManagerNotifier();

    /// The process-wide notifier (constructed at the first use).
    static ServiceManagerNotifier& instance();

    /// Whether a service manager listens (NOTIFY_SOCKET set).
    bool enabled() const { return m_enabled; }
    /// The watchdog period the service manager asked for, microseconds
    /// (0: no watchdog).
    std::uint64_t watchdogUsec() const { return m_watchdogUsec; }

    /// "READY=1" with a status text.
    void ready() const;
    /// "STOPPING=1".
    void stopping() const;
    /// "STATUS=<text>" (the line `systemctl status` shows).
    void status(const std::string& text) const;
    /// "WATCHDOG=1" when the watchdog is on and a quarter of its period has
    /// passed since the last ping (so that a ping reaches the manager at
    /// least every half period when called every worker cycle, 250 ms, and
    /// the period is 1 s or more).
    void keepAlive();

private:
    bool m_enabled;
    std::uint64_t m_watchdogUsec;
    std::atomic<std::int64_t> m_lastPingUs;
};

#endif  // PLATFORM_SERVICEMANAGERNOTIFIER_H
