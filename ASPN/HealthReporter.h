#pragma once

#include "ASPN/EventQueue.h"
#include "ASPN/FaultHysteresis.h"
#include "ASPN/SteadyClock.h"

#include <cstdint>
#include <string>

// The process-wide reporter of health events. Any thread may send events at
// any time; they are filtered by FaultHysteresis and queued (up to 10
// ordinary events pending; more are dropped) until the publishing side takes
// them from the queue and sends them as event log messages.
//
// Configuration events describe how the server is configured; they bypass
// the filter and are queued again every 300 s after each publication until
// replaced.
class HealthReporter {
public:
    // Same numbering as EventTypes::eEventType.
    enum eEventType : int {
        eDebug = EventTypes::eDebug,
        eInfo = EventTypes::eInfo,
        eStatus = EventTypes::eStatus,
        eFault = EventTypes::eFault,
        eError = EventTypes::eError,
        eCritical = EventTypes::eCritical,
    };

    // Ordinary events pending at most.
    static constexpr unsigned kQueueCapacity = 10;
    // Type of every configuration event.
    static constexpr int kConfigEventType = eStatus;

    // The process-wide reporter, created on first use; it filters through
    // FaultHysteresis::Instance() and times repeats with the steady clock.
    static HealthReporter& Instance();

    // A reporter of its own over `filter` and `clock` (tests; the process
    // uses Instance()).
    HealthReporter(FaultHysteresis& filter, ASPN2::SteadyClock clock);

    HealthReporter(const HealthReporter&) = delete;
    HealthReporter& operator=(const HealthReporter&) = delete;

    // Filters and queues one event reported from `file` (the caller's source
    // path, may be null) at `line`. Types outside 0..5 are queued as 0. Never
    // waits for publication; a full queue drops the event silently. Throws
    // only std::bad_alloc.
    void SendEvent(const char* file, int line, eEventType type, const std::string& info);

    // Queues a configuration event and returns its id (the same text always
    // gives the same id).
    std::uint32_t SendConfigEvent(const std::string& info);

    // Withdraws the configuration event `oldId` (its pending copy and its
    // repeat, the first of each) and queues `info` as a new one; returns the
    // new id. An unknown `oldId` withdraws nothing.
    std::uint32_t ReplaceConfigEvent(const std::string& info, unsigned oldId);

    // The queue of pending events; the publishing side is its only consumer.
    ASPN2::EventQueue& queue() noexcept { return eventQueue; }

private:
    HealthReporter();

    FaultHysteresis& filter;
    ASPN2::EventQueue eventQueue;
    // Publication state (transport, device id, sequence number, the
    // publishing thread and its stop flag) lives after the queue; the
    // publishing thread is the queue's consumer and must be joined before the
    // reporter is destroyed.
};

// Sends a health event from the calling source line.
#define SEND_HEALTH_EVENT(type, info) ::HealthReporter::Instance().SendEvent(__FILE__, __LINE__, (type), (info))
