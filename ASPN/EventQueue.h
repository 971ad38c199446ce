#pragma once

#include "ASPN/SteadyClock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace ASPN2 {

// The bounded queue of health events waiting to be published, and the
// configuration events waiting to be queued again.
//
// Ordinary events are refused once `capacity` events are pending.
// Configuration events are always accepted; each one taken by pop_front is
// queued again `configRepeatDuration` later (at the first pop_front after
// that time), indefinitely, until eraseConfig withdraws it.
//
// Thread-safe: any number of producers, one consumer. Every operation holds
// the queue's mutex only for its own bookkeeping.
class EventQueue {
public:
    struct EventItem {
        bool isConfig;
        std::int32_t type;
        std::string info;
        std::uint32_t id;  // configId(info) for a configuration event, else 0
    };

    struct ConfigItem {
        std::string info;
        std::uint32_t id;
        SteadyTimePoint due;  // when it goes back into the queue
    };

    // `clock` times the configuration repeats; waiting in pop_front always
    // uses the real steady clock. Throws only std::bad_alloc.
    EventQueue(unsigned capacity, int configEventType, const std::chrono::nanoseconds& configRepeatDuration,
               SteadyClock clock = steadyClock());

    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // The id of a configuration event: the standard string hash of its text,
    // cut to 32 bits. The same text always has the same id.
    static std::uint32_t configId(const std::string& info);

    // Appends an ordinary event if fewer than `capacity` events (configuration
    // events included) are pending; returns whether it did.
    bool push_back(int type, const std::string& info);
    bool push_back(int type, std::string&& info);

    // Appends a configuration event of type `configEventType` whatever the
    // number pending; returns its id.
    std::uint32_t push_back_config(const std::string& info);

    // eraseConfig(oldId), then push_back_config(info).
    std::uint32_t push_back_config(const std::string& info, unsigned oldId);

    // Takes the oldest pending event into `type` and `info`, first queueing
    // the configuration events that have fallen due. Waits up to `timeout`
    // (real time) for one to arrive; returns false, leaving `type` and `info`
    // unchanged, if none came. A configuration event taken here is scheduled
    // to be queued again.
    bool pop_front(int& type, std::string& info, const std::chrono::nanoseconds& timeout);

    // Ends the wait of the consumer early, once: the next pop_front that
    // finds no event pending returns false at once instead of waiting out its
    // timeout. Pending events are still taken first. Used to stop the
    // consumer promptly once it has drained the queue.
    void interrupt();

    // Pending events plus configuration events waiting to be repeated.
    std::size_t size() const;

private:
    // Both run with `mutex` held.
    void repeatConfigs();
    void eraseConfig(unsigned id);

    const std::uint32_t capacity;
    const std::int32_t configEventType;
    const std::chrono::nanoseconds configRepeatDuration;
    const SteadyClock clock;
    mutable std::mutex mutex;
    std::condition_variable cond;
    std::deque<EventItem> events;    // oldest first
    std::deque<ConfigItem> configs;  // earliest due first
    bool interrupted = false;        // set by interrupt(), cleared by the empty pop_front it ends
};

}  // namespace ASPN2
