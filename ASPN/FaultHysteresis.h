#pragma once

#include "ASPN/SteadyClock.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Health event types, carried unchanged as the event log type of a
// published event. Values outside 0..5 are published as 0.
namespace EventTypes {
enum eEventType : int {
    eDebug = 0,
    eInfo = 1,
    eStatus = 2,    // status, information and configuration events
    eFault = 3,     // faults: located and recorded in the fault history
    eError = 4,     // located
    eCritical = 5,  // located
};
}  // namespace EventTypes

// The filter every health event passes before it is queued: it prefixes
// fault texts with their source location and keeps a time-limited history
// of fault reports, keyed by source file and line.
//
// Inactive (texts pass unchanged) until OkInitFaultHysteresis has been given
// a non-zero fault limit and history capacity. Thread-safe.
class FaultHysteresis {
public:
    struct fault_entry {
        std::string key;  // source file path as passed, then the line in decimal
        ASPN2::SteadyTimePoint time;
    };

    // The process-wide filter, created on first use.
    static FaultHysteresis& Instance();

    // A filter of its own, reading time from `clock` (tests; the process uses
    // Instance()).
    explicit FaultHysteresis(ASPN2::SteadyClock clock = ASPN2::steadyClock());

    FaultHysteresis(const FaultHysteresis&) = delete;
    FaultHysteresis& operator=(const FaultHysteresis&) = delete;

    // Sets the history window (s), the fault limit and the history capacity
    // and empties the history. Returns false and changes nothing if any
    // argument is negative.
    bool OkInitFaultHysteresis(int windowSec, int faultLimit, int maxEntries);

    // Returns the text to queue for an event reported from `file`:`line`.
    // Types 3, 4 and 5 get the prefix "<base name of file>[<line>]:"; type 3
    // reports are also recorded in the history, dropping entries that are
    // `windowSec` or more old and, when the history is full, the oldest.
    // `type` may be updated by the decision over the history (today it never
    // is). When inactive, returns `info` unchanged. Throws only
    // std::bad_alloc.
    std::string Check(EventTypes::eEventType& type, const std::string& file, int line, const std::string& info);

    // The same for a NUL-terminated file path (null reads as ""), without
    // copying the path for events that need no location.
    std::string Check(EventTypes::eEventType& type, const char* file, int line, const std::string& info);

    // The history, oldest first (diagnostics and tests).
    std::vector<fault_entry> history() const;

private:
    std::string check(EventTypes::eEventType& type, std::string_view file, int line, const std::string& info);
    // Drop expired entries; `mutex` held.
    void service();
    // The decision over the history for a report just recorded under `key`;
    // `mutex` held. No rule for reclassifying or suppressing repeated faults
    // is in force, so it returns `type` as given.
    EventTypes::eEventType hysteresis(EventTypes::eEventType type, const std::string& key);

    std::deque<fault_entry> entries;  // oldest first
    mutable std::mutex mutex;
    // Written under `mutex`; atomic so that Check can test them without it.
    std::atomic<std::int32_t> windowSec{0};
    std::atomic<std::int32_t> faultLimit{0};
    std::atomic<std::int32_t> maxEntries{0};
    const ASPN2::SteadyClock clock;
};
