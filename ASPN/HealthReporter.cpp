#include "ASPN/HealthReporter.h"

#include <chrono>
#include <utility>

namespace {

// How long after its last publication a configuration event is queued again.
constexpr std::chrono::seconds configRepeatDuration{300};

}  // namespace

HealthReporter& HealthReporter::Instance()
{
    static HealthReporter instance;
    return instance;
}

HealthReporter::HealthReporter()
    : HealthReporter(FaultHysteresis::Instance(), ASPN2::steadyClock())
{
}

HealthReporter::HealthReporter(FaultHysteresis& filterIn, ASPN2::SteadyClock clock)
    : filter(filterIn),
      eventQueue(kQueueCapacity, kConfigEventType, configRepeatDuration, std::move(clock))
{
}

void HealthReporter::SendEvent(const char* file, int line, eEventType type, const std::string& info)
{
    auto filtered = static_cast<EventTypes::eEventType>(type);
    std::string text = filter.Check(filtered, file, line, info);
    const int value = static_cast<int>(filtered);
    const int queued = (value >= eDebug && value <= eCritical) ? value : static_cast<int>(eDebug);
    eventQueue.push_back(queued, std::move(text));
}

std::uint32_t HealthReporter::SendConfigEvent(const std::string& info)
{
    return eventQueue.push_back_config(info);
}

std::uint32_t HealthReporter::ReplaceConfigEvent(const std::string& info, unsigned oldId)
{
    return eventQueue.push_back_config(info, oldId);
}
