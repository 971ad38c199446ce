#include "tools/victory-monitor/MonitorFormat.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace victory_monitor {
namespace {

constexpr double kPi = 3.141592653589793;

std::string printf1(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// A value in its display unit: radians become degrees with 7 decimals
// (about a centimetre on the ground), everything else 3 decimals.
std::string displayValue(double value, const std::string& unit) {
    if (!std::isfinite(value)) return printf1("%g", value);
    if (unit == "rad") return printf1("%.7f", value * 180.0 / kPi);
    return printf1("%.3f", value);
}

std::string displayUncertainty(double value, const std::string& unit) {
    if (unit == "rad") value = value * 180.0 / kPi;
    return printf1("%.2g", value);
}

std::string displayUnit(const std::string& unit) { return unit == "rad" ? "deg" : unit; }

std::string shortName(victory::ServiceKind kind, const std::string& name) {
    for (const victory::ValueSpec& spec : victory::valueSpecs(kind)) {
        if (name == spec.name) return spec.shortName;
    }
    return name;
}

std::string isoTime(const VictoryTime& t) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%09dZ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.nanosecond);
    return buffer;
}

// Fixed formats, so that equal values print equal text whatever the
// machine's last-bit rounding: angles (rad) with 10 decimals (about 0.6 mm
// on the ground), lengths and speeds with 4, uncertainties with 6
// significant digits; null when not finite.
std::string jsonValue(double value, const std::string& unit) {
    if (!std::isfinite(value)) return "null";
    if (value == 0.0) value = 0.0;  // no "-0.0000"
    std::string text = printf1(unit == "rad" ? "%.10f" : "%.4f", value);
    if (text.find_first_not_of("-0.") == std::string::npos) text = unit == "rad" ? "0.0000000000" : "0.0000";
    return text;
}

std::string jsonUncertainty(double value) { return std::isfinite(value) ? printf1("%.5e", value) : "null"; }

}  // namespace

std::string severityName(int severity) {
    switch (severity) {
        case VHLTHC_SEVERITY_OTHER:
            return "Other";
        case VHLTHC_SEVERITY_WARNING:
            return "Warning";
        case VHLTHC_SEVERITY_ERROR:
            return "Error";
        case VHLTHC_SEVERITY_CRITICAL:
            return "Critical";
        case VHLTHC_SEVERITY_ALERT:
            return "Alert";
        case VHLTHC_SEVERITY_EMERGENCY:
            return "Emergency";
        default:
            return std::to_string(severity);
    }
}

std::string formatHuman(const victory::DataMessage& m) {
    std::string line = victory::serviceKindName(m.kind);
    line += " #" + std::to_string(m.seq);
    if (!m.source.empty()) line += " src=" + m.source;
    for (const victory::NamedValue& v : m.values) {
        line += " " + shortName(m.kind, v.name) + "=" + displayValue(v.value.value, v.unit) + "+-" +
                displayUncertainty(v.value.uncertainty, v.unit) + " " + displayUnit(v.unit);
    }
    if (!m.values.empty()) {
        // One word when all values share their basis, else one per value.
        std::string bases;
        bool same = true;
        for (const victory::NamedValue& v : m.values) {
            if (!bases.empty()) bases += ",";
            bases += victory::basisName(v.value.basis);
            same = same && v.value.basis == m.values.front().value.basis;
        }
        line += " basis=";
        line += same ? victory::basisName(m.values.front().value.basis) : bases;
    }
    if (m.mgrs) line += " mgrs=" + *m.mgrs;
    line += " time=" + (m.time ? isoTime(*m.time) : std::string("-"));
    line += " faults=" + std::to_string(m.faultCount);
    if (!m.faults.empty()) {
        line += " [";
        for (std::size_t i = 0; i < m.faults.size(); ++i) {
            const victory::FaultRecord& f = m.faults[i];
            if (i > 0) line += " ";
            line += std::to_string(f.id) + ":" + severityName(f.severity);
            if (f.acknowledged) line += ":ack";
        }
        if (m.faults.size() < m.faultCount) line += " ...";
        line += "]";
    }
    return line;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"')
            out += "\\\"";
        else if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (u < 0x20 || u == 0x7f) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
            out += buffer;
        } else {
            out += c;
        }
    }
    out += "\"";
    return out;
}

std::string formatJson(const victory::DataMessage& m, std::uint16_t port) {
    std::string j = "{\"service\":" + jsonString(victory::serviceKindName(m.kind));
    j += ",\"source\":" + jsonString(m.source);
    j += ",\"seq\":" + std::to_string(m.seq);
    j += ",\"port\":" + std::to_string(port);
    j += ",\"values\":{";
    for (std::size_t i = 0; i < m.values.size(); ++i) {
        const victory::NamedValue& v = m.values[i];
        if (i > 0) j += ",";
        j += jsonString(v.name) + ":{\"value\":" + jsonValue(v.value.value, v.unit) +
             ",\"uncertainty\":" + jsonUncertainty(v.value.uncertainty) + ",\"unit\":" + jsonString(v.unit) +
             ",\"basis\":" + jsonString(victory::basisName(v.value.basis)) + "}";
    }
    j += "},\"mgrs\":" + (m.mgrs ? jsonString(*m.mgrs) : std::string("null"));
    j += ",\"time\":" + (m.time ? jsonString(isoTime(*m.time)) : std::string("null"));
    if (m.told) {
        char realtime[48];
        std::snprintf(realtime, sizeof realtime, "%lld.%09d", static_cast<long long>(m.told->seconds),
                      static_cast<int>(m.told->nanoseconds));
        j += ",\"told\":{\"count\":" + std::to_string(m.told->count) + ",\"realtime\":\"" + realtime + "\"}";
    } else {
        j += ",\"told\":null";
    }
    j += ",\"faultCount\":" + std::to_string(m.faultCount);
    j += ",\"faults\":[";
    for (std::size_t i = 0; i < m.faults.size(); ++i) {
        const victory::FaultRecord& f = m.faults[i];
        if (i > 0) j += ",";
        j += "{\"id\":" + std::to_string(f.id) + ",\"severity\":" + std::to_string(f.severity) +
             ",\"category\":" + std::to_string(f.category) + ",\"action\":" + std::to_string(f.action) +
             ",\"acknowledged\":" + (f.acknowledged ? "true" : "false") +
             ",\"description\":" + jsonString(f.description) + "}";
    }
    j += "]}";
    return j;
}

}  // namespace victory_monitor
