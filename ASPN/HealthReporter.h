#pragma once

#include "ASPN/AspnDeviceIds.h"
#include "ASPN/EventQueue.h"
#include "ASPN/FaultHysteresis.h"
#include "ASPN/SteadyClock.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace aspn2_msgs {
namespace idl {
class EventLog;
}  // namespace idl
}  // namespace aspn2_msgs

namespace FACE {
namespace TSS {
namespace Details {
template <typename T>
class CV_TypedTS;
}  // namespace Details
}  // namespace TSS
}  // namespace FACE

// The process-wide reporter of health events. Any thread may send events at
// any time; they are filtered by FaultHysteresis and queued (up to 10
// ordinary events pending; more are dropped) until the publishing side takes
// them from the queue and sends them as event log messages.
//
// Configuration events describe how the server is configured; they bypass
// the filter and are queued again every 300 s after each publication until
// replaced.
//
// Publishing: InitHealthReporter starts one thread that takes the events
// from the queue one at a time, oldest first, and sends each as an EventLog
// message (device id of kind 1, sequence numbers from 0, both header times
// from the FPGA system counter at the moment of sending), pausing 100 ms
// after each. DoneHealthReporter lets the thread publish what is queued and
// joins it. No lock is held while a message is sent.
class HealthReporter {
public:
    using EventLogTS = FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::EventLog>;

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

    // Ends a publishing thread that is still running (DoneHealthReporter was
    // not called): it publishes nothing more and is joined, which takes at
    // most one poll (500 ms) and one send. Events still queued are dropped.
    ~HealthReporter();

    HealthReporter(const HealthReporter&) = delete;
    HealthReporter& operator=(const HealthReporter&) = delete;

    // Starts publishing on connection `connectionId` of `eventLogTypedTS`
    // (registered as sender there) with the device id ids.makeDeviceId(1, 0)
    // and sequence numbers from 0, and sets the fault filter as
    // ASPN2::initReporterFaultFilter does. `name` labels the console lines.
    // Throws as ASPN2::registerReporterSender with the call
    // "InitHealthReporter(<name>)", the owner "HealthReporter" and the guard
    // position "ASPN/HealthReporter" line 137; after a failed registration
    // the reporter counts as initialised until DoneHealthReporter.
    void InitHealthReporter(const std::string& name, const ASPN2::DeviceIdFactory& ids,
                            const std::shared_ptr<EventLogTS>& eventLogTypedTS, long long connectionId);

    // Asks the publishing thread to stop and joins it: it publishes every
    // event queued when it sees the stop (100 ms apart) and ends, so this
    // returns after about 0.1 s per queued event, however many events other
    // threads keep raising. Events raised after the thread took its last
    // one are taken from the queue and reported on the console as
    //   !!!!!! <name> HealthReporter dropped <n> events raised while it stopped
    // so that none is lost silently. Then the reporter is uninitialised
    // (events queue again until the next InitHealthReporter) and lets go of
    // the transport. Safe to call when not initialised; must not be called
    // from the publishing thread.
    void DoneHealthReporter();

    // Whether InitHealthReporter has been called (and not undone).
    bool isInitialized() const noexcept { return initialized.load(); }

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

    // Events published, and events dropped because the queue was full,
    // since the process started (any thread may read them).
    std::uint64_t sentCount() const noexcept { return sent.load(std::memory_order_relaxed); }
    std::uint64_t droppedCount() const noexcept { return dropped.load(std::memory_order_relaxed); }

    // The queue of pending events; the publishing side is its only consumer.
    ASPN2::EventQueue& queue() noexcept { return eventQueue; }

private:
    HealthReporter();

    // The publishing thread: pop, publish, pause, until stopped.
    void pubThreadFunction();
    // Builds one EventLog message from the event and sends it; a failed send
    // is reported on the console and not retried.
    void publishChange(int type, std::string& info);
    // Waits 100 ms after a publication, or less when the reporter is being
    // destroyed.
    void pauseAfterPublishing();

    FaultHysteresis& filter;
    ASPN2::EventQueue eventQueue;

    // Publication. `name`, `deviceId`, `seqNum`, `eventLogTypedTS` and
    // `connectionId` are written before the thread starts and after it has
    // been joined, and otherwise used by the thread alone.
    std::atomic<bool> initialized{false};
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> dropped{0};
    std::string name;
    std::int32_t deviceId = 0;
    std::int64_t seqNum = 0;
    std::shared_ptr<EventLogTS> eventLogTypedTS;
    long long connectionId = -1;
    std::thread pubThread;
    std::atomic<bool> stop{false};

    // Serialises starting and joining `pubThread`.
    std::mutex threadMutex;
    // Set by the destructor: the thread publishes nothing more and its pause
    // ends at once.
    std::atomic<bool> abandon{false};
    std::mutex pauseMutex;
    std::condition_variable pauseCond;
};

// Sends a health event from the calling source line.
#define SEND_HEALTH_EVENT(type, info) ::HealthReporter::Instance().SendEvent(__FILE__, __LINE__, (type), (info))
