#include "ASPN/EventQueue.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace ASPN2 {

EventQueue::EventQueue(unsigned capacityIn, int configEventTypeIn,
                       const std::chrono::nanoseconds& configRepeatDurationIn, SteadyClock clockIn)
    : capacity(capacityIn),
      configEventType(configEventTypeIn),
      configRepeatDuration(configRepeatDurationIn),
      clock(clockIn ? std::move(clockIn) : steadyClock()) {}

std::uint32_t EventQueue::configId(const std::string& info) {
    return static_cast<std::uint32_t>(std::hash<std::string>{}(info));
}

bool EventQueue::push_back(int type, const std::string& info) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (events.size() >= capacity) {
            return false;
        }
        events.push_back(EventItem{false, type, info, 0});
    }
    cond.notify_one();
    return true;
}

bool EventQueue::push_back(int type, std::string&& info) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (events.size() >= capacity) {
            return false;
        }
        events.push_back(EventItem{false, type, std::move(info), 0});
    }
    cond.notify_one();
    return true;
}

std::uint32_t EventQueue::push_back_config(const std::string& info) {
    const std::uint32_t id = configId(info);
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(EventItem{true, configEventType, info, id});
    }
    cond.notify_one();
    return id;
}

std::uint32_t EventQueue::push_back_config(const std::string& info, unsigned oldId) {
    const std::uint32_t id = configId(info);
    {
        std::lock_guard<std::mutex> lock(mutex);
        eraseConfig(oldId);
        events.push_back(EventItem{true, configEventType, info, id});
    }
    cond.notify_one();
    return id;
}

void EventQueue::eraseConfig(unsigned id) {
    const auto pending =
        std::find_if(events.begin(), events.end(), [id](const EventItem& e) { return e.isConfig && e.id == id; });
    if (pending != events.end()) {
        events.erase(pending);
    }
    const auto waiting = std::find_if(configs.begin(), configs.end(), [id](const ConfigItem& c) { return c.id == id; });
    if (waiting != configs.end()) {
        configs.erase(waiting);
    }
}

void EventQueue::repeatConfigs() {
    if (configs.empty()) {
        return;  // spares the clock read
    }
    const SteadyTimePoint now = clock();
    while (!configs.empty() && configs.front().due <= now) {
        ConfigItem& due = configs.front();
        events.push_back(EventItem{true, configEventType, std::move(due.info), due.id});
        configs.pop_front();
    }
}

bool EventQueue::pop_front(int& type, std::string& info, const std::chrono::nanoseconds& timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    repeatConfigs();
    if (events.empty() && !interrupted && timeout > std::chrono::nanoseconds::zero()) {
        const auto now = std::chrono::steady_clock::now();
        const auto room = std::chrono::steady_clock::time_point::max() - now;
        const auto deadline = timeout < room ? now + timeout : std::chrono::steady_clock::time_point::max();
        cond.wait_until(lock, deadline, [this] { return !events.empty() || interrupted; });
    }
    if (events.empty()) {
        interrupted = false;
        return false;
    }
    EventItem item = std::move(events.front());
    events.pop_front();
    type = item.type;
    if (item.isConfig) {
        info = item.info;
        configs.push_back(ConfigItem{std::move(item.info), item.id, clock() + configRepeatDuration});
    } else {
        info = std::move(item.info);
    }
    return true;
}

void EventQueue::interrupt() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        interrupted = true;
    }
    cond.notify_all();
}

std::size_t EventQueue::size() const {
    std::lock_guard<std::mutex> lock(mutex);
    return events.size() + configs.size();
}

}  // namespace ASPN2
