#include "VICTORY/ZOziDaZodOduzuz/NavigationSupervision.h"

#include "VICTORY/ZOziDaZodOduzuz/NavigationIntake.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace NavigationSupervision {

namespace {

// Seconds with three decimals ("1000.250").
std::string seconds(double s) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", s);
    return text;
}

std::string lastTov(const char* what, double tov) {
    return std::isnan(tov) ? std::string("no ") + what + " ever received"
                           : std::string("last ") + what + " time of validity " + seconds(tov) + " s";
}

std::string serverLabel(int source) {
    return std::to_string(source) + " " +
           (source == NavigationIntake::kAnySource ? std::string("any source")
                                                   : NavigationIntake::sourceName(static_cast<std::uint8_t>(source)));
}

bool allFinite(const std::array<double, 3>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

std::string describe(const Gap& gap) {
    if (!gap.rejected.empty()) {
        return "solution rejected: " + gap.rejected;
    }
    const bool pvaFiltered = gap.pvaMissing && gap.pvaFilteredSource >= 0;
    const bool utcFiltered = gap.utcMissing && gap.utcFilteredSource >= 0;
    if (pvaFiltered || utcFiltered) {
        std::string text = "source filtered:";
        if (pvaFiltered) {
            text += " PVA from server " + serverLabel(gap.pvaFilteredSource) +
                    " (accepted: " + serverLabel(gap.acceptedPvaSource) + ")";
        }
        if (utcFiltered) {
            text += std::string(pvaFiltered ? ";" : "") + " UTC from server " + serverLabel(gap.utcFilteredSource) +
                    " (accepted: " + serverLabel(gap.acceptedUtcSource) + ")";
        }
        return text;
    }
    if (!std::isnan(gap.deltaTov)) {
        return "deltaTov too large: " + seconds(gap.deltaTov) + " s (pairing window " +
               seconds(NavigationIntake::kPairingWindowSeconds) + " s)";
    }
    if (gap.pvaMissing && gap.utcMissing) {
        return "no PVA and no UTC (" + lastTov("PVA", gap.lastPvaTov) + ", " + lastTov("UTC", gap.lastUtcTov) + ")";
    }
    if (gap.pvaMissing) {
        return "no PVA (" + lastTov("PVA", gap.lastPvaTov) + ")";
    }
    if (gap.utcMissing) {
        return "no UTC (" + lastTov("UTC", gap.lastUtcTov) + ")";
    }
    return "no data";
}

LossDetector::Event LossDetector::observe(bool published) {
    if (published) {
        m_everPublished = true;
        m_cyclesWithoutPair = 0;
        if (m_lost) {
            m_lost = false;
            return Event::Recovered;
        }
        return Event::None;
    }
    if (m_cyclesWithoutPair < kLossCycles + kWaitingCycles) {
        ++m_cyclesWithoutPair;
    }
    if (!m_everPublished) {
        if (!m_waitingTold && m_cyclesWithoutPair >= kWaitingCycles) {
            m_waitingTold = true;
            return Event::Waiting;
        }
        return Event::None;
    }
    if (!m_lost && m_cyclesWithoutPair >= kLossCycles) {
        m_lost = true;
        return Event::Lost;
    }
    return Event::None;
}

bool RepeatFilter::observe(bool held) {
    const bool onset = held && !m_holding;
    m_holding = held;
    if (held) {
        ++m_occurrences;
        ++m_run;
    } else {
        m_run = 0;
    }
    if (onset) {
        ++m_onsets;
    }
    return onset;
}

std::vector<std::string> nonFiniteFields(const aspn2_msgs::idl::PositionVelocityAttitude& pva) {
    std::vector<std::string> fields;
    if (!std::isfinite(pva.position().latitude())) fields.emplace_back("latitude");
    if (!std::isfinite(pva.position().longitude())) fields.emplace_back("longitude");
    if (!std::isfinite(pva.position().altitude())) fields.emplace_back("altitude");
    if (!allFinite(pva.velocity())) fields.emplace_back("velocity");
    if (!allFinite(pva.attitude())) fields.emplace_back("attitude");
    return fields;
}

std::vector<std::string> FieldOnsets::observe(const std::vector<std::string>& badFields) {
    std::vector<std::string> fresh;
    for (const std::string& f : badFields) {
        if (std::find(m_bad.begin(), m_bad.end(), f) == m_bad.end()) {
            fresh.push_back(f);
        }
    }
    m_bad = badFields;
    return fresh;
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += i + 1 == names.size() ? " and " : ", ";
        }
        text += names[i];
    }
    return text;
}

}  // namespace NavigationSupervision
