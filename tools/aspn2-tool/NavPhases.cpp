#include "tools/aspn2-tool/NavPhases.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace aspn2_tool {

namespace {

bool toNumber(std::string const& text, double lo, double hi, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double const v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(v) || v < lo || v > hi) return false;
    value = v;
    return true;
}

bool applyItem(std::string const& item, NavPhase& phase) {
    if (item == "ok") return true;
    if (item == "silent") {
        phase.pva = phase.utc = false;
        return true;
    }
    if (item == "no-pva") {
        phase.pva = false;
        return true;
    }
    if (item == "no-utc") {
        phase.utc = false;
        return true;
    }
    std::size_t const eq = item.find('=');
    if (eq == std::string::npos) return false;
    std::string const key = item.substr(0, eq), value = item.substr(eq + 1);
    double number = 0.0;
    if (key == "nan") {
        NanField field{};
        if (!nanFieldFromName(value, field)) return false;
        phase.faults.nanFields.push_back(field);
        return true;
    }
    if (key == "wrong-source" && value.find_first_not_of("0123456789") == std::string::npos &&
        toNumber(value, 0.0, 255.0, number)) {
        phase.faults.wrongSourceId = static_cast<int>(number);
        return true;
    }
    if (key == "utc-lag" && toNumber(value, -3600.0, 3600.0, number)) {
        phase.faults.utcLagS = number;
        return true;
    }
    if (key == "sigma" && toNumber(value, 0.0, 1.0e7, number) && number > 0.0) {
        phase.faults.positionSigmaM = number;
        return true;
    }
    return false;
}

}  // namespace

bool parsePhase(std::string const& text, NavPhase& phase, std::string& error) {
    NavPhase p;
    std::size_t const colon = text.find(':');
    if (colon == std::string::npos || !toNumber(text.substr(0, colon), 0.0, 86400.0, p.seconds) || p.seconds <= 0.0) {
        error = "a phase is SECONDS:ITEM[,ITEM...] with SECONDS in (0, 86400], not \"" + text + "\"";
        return false;
    }
    std::string const items = text.substr(colon + 1);
    std::size_t start = 0;
    do {
        std::size_t const comma = items.find(',', start);
        std::string const item = items.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!applyItem(item, p)) {
            error = "unknown phase item \"" + item +
                    "\" (ok, silent, no-pva, no-utc, nan=FIELD, wrong-source=N, utc-lag=S, sigma=M)";
            return false;
        }
        start = comma == std::string::npos ? std::string::npos : comma + 1;
    } while (start != std::string::npos);
    phase = p;
    return true;
}

std::string describePhase(NavPhase const& phase) {
    std::ostringstream out;
    out << phase.seconds << " s";
    if (!phase.pva && !phase.utc) {
        out << " silent";
    } else if (!phase.pva) {
        out << " no-pva";
    } else if (!phase.utc) {
        out << " no-utc";
    }
    if (phase.faults.any()) out << " " << describeFaults(phase.faults);
    if (phase.pva && phase.utc && !phase.faults.any()) out << " ok";
    return out.str();
}

int phaseAt(std::vector<NavPhase> const& phases, double elapsedS) {
    double end = 0.0;
    for (std::size_t i = 0; i < phases.size(); ++i) {
        end += phases[i].seconds;
        if (elapsedS < end) return static_cast<int>(i);
    }
    return -1;
}

double phaseEnd(std::vector<NavPhase> const& phases, int index) {
    double end = 0.0;
    for (int i = 0; i <= index && i < static_cast<int>(phases.size()); ++i)
        end += phases[static_cast<std::size_t>(i)].seconds;
    return end;
}

}  // namespace aspn2_tool
