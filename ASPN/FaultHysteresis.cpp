#include "ASPN/FaultHysteresis.h"

#include <utility>

FaultHysteresis& FaultHysteresis::Instance() {
    static FaultHysteresis instance;
    return instance;
}

FaultHysteresis::FaultHysteresis(ASPN2::SteadyClock clockIn)
    : clock(clockIn ? std::move(clockIn) : ASPN2::steadyClock()) {}

bool FaultHysteresis::OkInitFaultHysteresis(int windowSecIn, int faultLimitIn, int maxEntriesIn) {
    if (windowSecIn < 0 || faultLimitIn < 0 || maxEntriesIn < 0) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    windowSec = windowSecIn;
    faultLimit = faultLimitIn;
    maxEntries = maxEntriesIn;
    entries.clear();
    return true;
}

std::string FaultHysteresis::Check(EventTypes::eEventType& type, const std::string& file, int line,
                                   const std::string& info) {
    return check(type, file, line, info);
}

std::string FaultHysteresis::Check(EventTypes::eEventType& type, const char* file, int line, const std::string& info) {
    return check(type, file != nullptr ? std::string_view(file) : std::string_view(), line, info);
}

std::string FaultHysteresis::check(EventTypes::eEventType& type, std::string_view file, int line,
                                   const std::string& info) {
    if (faultLimit == 0 || maxEntries == 0) {
        return info;
    }
    if (type != EventTypes::eFault && type != EventTypes::eError && type != EventTypes::eCritical) {
        return info;
    }
    const std::size_t slash = file.find_last_of("/\\");
    const std::string lineText = std::to_string(line);

    std::string text;
    text.reserve(file.size() + lineText.size() + info.size() + 3);
    text.append(file.substr(slash == std::string_view::npos ? 0 : slash + 1));
    text += '[';
    text += lineText;
    text += "]:";
    text += info;

    if (type == EventTypes::eFault) {
        std::string key;
        key.reserve(file.size() + lineText.size());
        key.append(file);
        key += lineText;
        std::lock_guard<std::mutex> lock(mutex);
        service();
        const auto capacity = static_cast<std::size_t>(maxEntries.load());
        while (!entries.empty() && entries.size() >= capacity) {
            entries.pop_front();
        }
        entries.push_back(fault_entry{std::move(key), clock()});
        type = hysteresis(type, entries.back().key);
    }
    return text;
}

void FaultHysteresis::service() {
    const std::int64_t windowMs = std::int64_t{windowSec.load()} * 1000;
    if (windowMs == 0) {
        return;
    }
    const ASPN2::SteadyTimePoint now = clock();
    while (!entries.empty() &&
           std::chrono::duration_cast<std::chrono::milliseconds>(now - entries.front().time).count() >= windowMs) {
        entries.pop_front();
    }
}

EventTypes::eEventType FaultHysteresis::hysteresis(EventTypes::eEventType type, const std::string& /*key*/) {
    return type;
}

std::vector<FaultHysteresis::fault_entry> FaultHysteresis::history() const {
    std::lock_guard<std::mutex> lock(mutex);
    return {entries.begin(), entries.end()};
}
