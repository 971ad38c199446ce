#include "VICTORY/ZOziDaZodOduzuz/StatusRecord.h"

namespace Status {

const char* stateName(ServiceState state) noexcept {
    switch (state) {
        case ServiceState::Off:
            return "off";
        case ServiceState::NoData:
            return "no data yet";
        case ServiceState::Live:
            return "live";
        case ServiceState::Lost:
            return "lost";
        case ServiceState::Invalid:
            return "invalid solution";
        case ServiceState::Sanitized:
            return "sanitized";
    }
    return "off";
}

ServiceState serviceState(bool running, bool sanitized, bool everTold, bool lost, bool lastValid) noexcept {
    if (!running) {
        return ServiceState::Off;
    }
    if (sanitized) {
        return ServiceState::Sanitized;
    }
    if (lost) {
        return ServiceState::Lost;
    }
    if (!everTold) {
        return ServiceState::NoData;
    }
    return lastValid ? ServiceState::Live : ServiceState::Invalid;
}

const char* causeName(GapCause cause) noexcept {
    switch (cause) {
        case GapCause::None:
            return "";
        case GapCause::NoData:
            return "no data";
        case GapCause::NoPva:
            return "no PVA";
        case GapCause::NoUtc:
            return "no UTC";
        case GapCause::NoPvaNoUtc:
            return "no PVA and no UTC";
        case GapCause::SourceFiltered:
            return "source filtered";
        case GapCause::DeltaTov:
            return "deltaTov too large";
        case GapCause::Rejected:
            return "solution rejected";
    }
    return "";
}

void StatusRecord::reset(double now) noexcept {
    m_pvaCount.store(0, std::memory_order_relaxed);
    m_utcCount.store(0, std::memory_order_relaxed);
    m_pvaFiltered.store(0, std::memory_order_relaxed);
    m_utcFiltered.store(0, std::memory_order_relaxed);
    m_lastForeign.store(-1, std::memory_order_relaxed);
    m_sanitized.store(false, std::memory_order_relaxed);
    m_work = Snapshot();
    m_work.started = now;
    m_rateCount = 0;
    m_rateNext = 0;
    m_deltaTov.fill(std::numeric_limits<double>::quiet_NaN());
    m_deltaNext = 0;
    m_refusedPva = m_refusedUtc = std::numeric_limits<double>::quiet_NaN();
    m_lastFilteredCycle = 0;
}

void StatusRecord::countFilteredPva(int source) noexcept {
    m_pvaFiltered.fetch_add(1, std::memory_order_relaxed);
    m_lastForeign.store(source, std::memory_order_relaxed);
}

void StatusRecord::countFilteredUtc(int source) noexcept {
    m_utcFiltered.fetch_add(1, std::memory_order_relaxed);
    m_lastForeign.store(source, std::memory_order_relaxed);
}

void StatusRecord::told(int service, bool valid, double a, double b, double c, const char* mgrs, double now) noexcept {
    if (service < 0 || service >= kServiceCount) {
        return;
    }
    ServiceSnapshot& s = m_work.services[service];
    ++s.tells;
    s.lastTell = now;
    s.lastValid = valid;
    s.values[0] = a;
    s.values[1] = b;
    s.values[2] = c;
    s.mgrs[0] = '\0';
    if (mgrs != nullptr) {
        std::size_t n = 0;
        for (; n + 1 < sizeof s.mgrs && mgrs[n] != '\0'; ++n) {
            s.mgrs[n] = mgrs[n];
        }
        s.mgrs[n] = '\0';
    }
}

void StatusRecord::setScheduling(std::int32_t policy, std::int32_t priority, std::uint64_t cpuMask) noexcept {
    m_work.schedPolicy = policy;
    m_work.schedPriority = priority;
    m_work.cpuMask = cpuMask;
}

namespace {

bool sameTov(double a, double b) noexcept { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

void StatusRecord::endCycle(const Cycle& cycle) noexcept {
    Snapshot& w = m_work;
    ++w.cycles;
    w.taken = cycle.now;
    w.lost = cycle.lost;
    w.cause = cycle.published ? GapCause::None : cycle.cause;
    // A foreign source heard in the last kFilterMemoryCycles explains a
    // missing message better than the cycle alone: a foreign navigator
    // slower than the worker leaves cycles without any message.
    if (w.cause == GapCause::SourceFiltered) {
        m_lastFilteredCycle = w.cycles;
    } else if ((w.cause == GapCause::NoPva || w.cause == GapCause::NoUtc || w.cause == GapCause::NoPvaNoUtc) &&
               m_lastFilteredCycle != 0 && w.cycles - m_lastFilteredCycle <= kFilterMemoryCycles) {
        w.cause = GapCause::SourceFiltered;
    }
    w.receiveStalled = cycle.receiveStalled;
    w.tellDisabled = cycle.tellDisabled;
    w.sanitized = m_sanitized.load(std::memory_order_relaxed);
    w.lastPvaTov = cycle.pvaTov;
    w.lastUtcTov = cycle.utcTov;
    if (cycle.published) {
        ++w.pairsTold;
    }
    w.waiting = w.pairsTold == 0;
    if (cycle.cause == GapCause::Rejected) {
        ++w.refusedRejected;
    }
    if (cycle.cause == GapCause::DeltaTov &&
        !(sameTov(cycle.pvaTov, m_refusedPva) && sameTov(cycle.utcTov, m_refusedUtc))) {
        // The stored pair stays until a newer message replaces one half:
        // count each such pair once, not once per cycle.
        ++w.refusedDeltaTov;
        m_refusedPva = cycle.pvaTov;
        m_refusedUtc = cycle.utcTov;
    }

    // |deltaTov| of the pair tried this cycle: the last one, and the
    // largest of the window.
    if (!std::isnan(cycle.deltaTov)) {
        w.lastDeltaTov = cycle.deltaTov;
    }
    m_deltaTov[m_deltaNext] = cycle.deltaTov;
    m_deltaNext = (m_deltaNext + 1) % kDeltaTovCycles;
    double largest = std::numeric_limits<double>::quiet_NaN();
    for (double d : m_deltaTov) {
        if (!std::isnan(d) && (std::isnan(largest) || d > largest)) {
            largest = d;
        }
    }
    w.maxDeltaTov = largest;

    // Rates over the window: the newest sample against the oldest held.
    const RateSample sample{cycle.now,
                            m_pvaCount.load(std::memory_order_relaxed),
                            m_utcCount.load(std::memory_order_relaxed),
                            w.pairsTold,
                            cycle.fpgaCount,
                            cycle.fpgaValid};
    m_rates[m_rateNext] = sample;
    m_rateNext = (m_rateNext + 1) % kRateSamples;
    if (m_rateCount < kRateSamples) {
        ++m_rateCount;
    }
    const RateSample& oldest = m_rates[(m_rateNext + kRateSamples - m_rateCount) % kRateSamples];
    const double span = sample.t - oldest.t;
    if (span > 0.0) {
        w.pvaRate = static_cast<double>(sample.pva - oldest.pva) / span;
        w.utcRate = static_cast<double>(sample.utc - oldest.utc) / span;
        w.pairRate = static_cast<double>(sample.pairs - oldest.pairs) / span;
        w.fpgaRate = sample.fpgaValid && oldest.fpgaValid && sample.fpga >= oldest.fpga
                         ? static_cast<double>(sample.fpga - oldest.fpga) / span
                         : std::numeric_limits<double>::quiet_NaN();
    } else {
        w.pvaRate = w.utcRate = w.pairRate = 0.0;
        w.fpgaRate = std::numeric_limits<double>::quiet_NaN();
    }

    for (int i = 0; i < kServiceCount; ++i) {
        ServiceSnapshot& s = w.services[i];
        s.switchedOn = cycle.switchedOn[i];
        s.running = cycle.running[i];
        s.navLossFault = cycle.navLossFault[i];
        s.testFaults = cycle.testFaults[i];
        s.state = serviceState(s.running, w.sanitized, s.tells > 0, w.lost, s.lastValid);
    }
    m_published.store(w);
}

}  // namespace Status
