#include "ASPN/HealthReporter.h"

#include "ASPN/AspnHelper.h"
#include "ASPN/ReporterInit.h"
#include "FACE/CV_TSS.h"
#include "FACE/FACE_Common.h"
#include "aspn2_msgs/EventLog.h"
#include "platform/FPGA.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace {

// How long after its last publication a configuration event is queued again.
constexpr std::chrono::seconds configRepeatDuration{300};

// How long the publishing thread waits for an event before it looks at its
// stop request again (and at configuration events that have fallen due).
constexpr std::chrono::milliseconds eventQPollDuration{500};

// Pause after each published event: at most ten events a second.
constexpr std::chrono::milliseconds publishPause{100};

}  // namespace

HealthReporter& HealthReporter::Instance() {
    static HealthReporter instance;
    return instance;
}

HealthReporter::HealthReporter() : HealthReporter(FaultHysteresis::Instance(), ASPN2::steadyClock()) {
    // The publishing thread reads the FPGA counter and the time code until
    // the destructor joins it: both singletons are made first so that they
    // are destroyed after this one at process exit.
    FpgaFace::Instance();
    ASPN2::TimeCodeHelper::Instance();
}

HealthReporter::HealthReporter(FaultHysteresis& filterIn, ASPN2::SteadyClock clock)
    : filter(filterIn), eventQueue(kQueueCapacity, kConfigEventType, configRepeatDuration, std::move(clock)) {}

HealthReporter::~HealthReporter() {
    std::lock_guard<std::mutex> lock(threadMutex);
    if (pubThread.joinable()) {
        {
            std::lock_guard<std::mutex> pauseLock(pauseMutex);
            abandon = true;
        }
        pauseCond.notify_all();
        pubThread.join();
    }
}

void HealthReporter::SendEvent(const char* file, int line, eEventType type, const std::string& info) {
    auto filtered = static_cast<EventTypes::eEventType>(type);
    std::string text = filter.Check(filtered, file, line, info);
    const int value = static_cast<int>(filtered);
    const int queued = (value >= eDebug && value <= eCritical) ? value : static_cast<int>(eDebug);
    if (!eventQueue.push_back(queued, std::move(text))) {
        dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

std::uint32_t HealthReporter::SendConfigEvent(const std::string& info) { return eventQueue.push_back_config(info); }

std::uint32_t HealthReporter::ReplaceConfigEvent(const std::string& info, unsigned oldId) {
    return eventQueue.push_back_config(info, oldId);
}

void HealthReporter::InitHealthReporter(const std::string& nameIn, const ASPN2::DeviceIdFactory& ids,
                                        const std::shared_ptr<EventLogTS>& typedTS, long long connectionIdIn) {
    ASPN2::registerReporterSender("InitHealthReporter(" + nameIn + ")", "HealthReporter", typedTS, connectionIdIn,
                                  initialized, "ASPN/HealthReporter", 137);

    {
        // `initialized` was clear until now, so DoneHealthReporter has joined
        // any earlier thread: `pubThread` is free.
        std::lock_guard<std::mutex> lock(threadMutex);
        name = nameIn;
        deviceId = static_cast<std::int32_t>(ids.makeDeviceId(ASPN2::kEventLogKind, 0));
        eventLogTypedTS = typedTS;
        seqNum = 0;
        connectionId = connectionIdIn;
        stop = false;
        pubThread = std::thread(&HealthReporter::pubThreadFunction, this);
    }

    // The process-wide reporter initialises the process-wide filter; a
    // reporter of a test its own.
    ASPN2::initReporterFaultFilter(filter);
}

void HealthReporter::DoneHealthReporter() {
    std::size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(threadMutex);
        if (pubThread.joinable()) {
            stop = true;
            // The thread publishes what is queued now, then ends; its poll
            // for a new event need not wait out its 500 ms.
            eventQueue.interrupt();
            pubThread.join();
            // Raised after the thread took its last event: nothing will
            // publish these, so they are counted rather than lost silently.
            int type = 0;
            std::string info;
            for (std::size_t left = eventQueue.size(); left > 0; --left) {
                if (!eventQueue.pop_front(type, info, std::chrono::nanoseconds::zero())) {
                    break;
                }
                ++dropped;
            }
        }
        // Nothing sends any more: the transport may go before this reporter.
        eventLogTypedTS.reset();
    }
    if (dropped > 0) {
        std::cout << "!!!!!! " << name << " HealthReporter dropped " << dropped << (dropped == 1 ? " event" : " events")
                  << " raised while it stopped" << std::endl;
    }
    initialized = false;
}

void HealthReporter::pubThreadFunction() {
    while (!abandon && !stop) {
        try {
            int type = 0;
            std::string info;
            if (eventQueue.pop_front(type, info, eventQPollDuration)) {
                if (abandon) {
                    break;
                }
                publishChange(type, info);
                pauseAfterPublishing();
            }
        } catch (const std::exception& e) {
            std::cout << "!!!!!! " << name << " HealthReporter caught exception: " << e.what() << std::endl;
        } catch (...) {
            std::cout << "!!!!!! " << name << " HealthReporter caught UNKNOWN exception" << std::endl;
        }
    }
    // Stopping: what is queued now is published (still paced); what comes
    // later is left to DoneHealthReporter. A steady stream of new events
    // cannot hold the stop up.
    for (std::size_t left = eventQueue.size(); left > 0 && !abandon; --left) {
        try {
            int type = 0;
            std::string info;
            if (!eventQueue.pop_front(type, info, std::chrono::nanoseconds::zero())) {
                break;
            }
            publishChange(type, info);
            if (left > 1) {
                pauseAfterPublishing();
            }
        } catch (const std::exception& e) {
            std::cout << "!!!!!! " << name << " HealthReporter caught exception: " << e.what() << std::endl;
        } catch (...) {
            std::cout << "!!!!!! " << name << " HealthReporter caught UNKNOWN exception" << std::endl;
        }
    }
}

void HealthReporter::publishChange(int type, std::string& info) {
    aspn2_msgs::idl::EventLog event;
    event.header().device_id(deviceId);
    // The time of publication, not of the report.
    ASPN2::setToVandToA_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount(), event.header());
    event.header().seq_num(seqNum++);
    event.event_log_type(static_cast<aspn2_msgs::idl::event_log_type_enum>(type));
    event.eventlog(std::move(info));

    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    long long transaction = 0;
    eventLogTypedTS->Send_Message(connectionId, 0, transaction, event, rc);
    if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        sent.fetch_add(1, std::memory_order_relaxed);
    } else {
        std::cout << "!!!!!! " << name << " HealthReporter could not publish event type/info = " << type << "/"
                  << event.eventlog() << std::endl;
    }
}

void HealthReporter::pauseAfterPublishing() {
    // A condition wait, not a sleep: it resumes after signals by itself and
    // the destructor can cut it short.
    std::unique_lock<std::mutex> lock(pauseMutex);
    pauseCond.wait_for(lock, publishPause, [this] { return abandon.load(); });
}
