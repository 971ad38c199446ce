#include "tools/aspn2-tool/ToolFormat.h"

#include "ASPN/AspnDeviceIds.h"
#include "ASPN/AspnHelper.h"
#include "tools/aspn2-tool/NavCovariance.h"

#include <cmath>
#include <cstdio>

namespace aspn2_tool {

namespace {

constexpr double kRadToDeg = 180.0 / 3.141592653589793;

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF are not valid).
std::size_t utf8Length(std::string const& s, std::size_t i) {
    auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char const b = byte(i);
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return n;
}

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

}  // namespace

DeviceIdParts decodeDeviceId(std::int32_t deviceId) {
    std::uint32_t const id = static_cast<std::uint32_t>(deviceId);
    return DeviceIdParts{id >> 24 & 0xFFu, id >> 16 & 0xFFu, id >> 8 & 0xFFu, id & 0xFFu};
}

std::string deviceIdHex(std::int32_t deviceId) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(deviceId)));
    return buffer;
}

char const* messageKindName(unsigned kind) {
    switch (kind) {
        case ASPN2::kEventLogKind:
            return "EventLog";
        case ASPN2::kCommandResponseKind:
            return "CommandResponse";
        case ASPN2::kMaintenanceEventKind:
            return "MaintenanceEvent";
        default:
            return "-";
    }
}

char const* eventLogTypeName(std::uint32_t type) {
    static char const* const names[] = {"UNKNOWN", "DEBUG", "STATUS", "FAULT", "CRITICAL", "FATAL"};
    return type < 6 ? names[type] : "?";
}

char const* commandResponseTypeName(std::uint32_t type) { return type == 0 ? "command" : type == 1 ? "response" : "?"; }

std::string jsonString(std::string const& text) {
    static char const hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char const c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            std::size_t const n = utf8Length(text, i);
            if (n > 0) {
                out.append(text, i, n);
                i += n;
                continue;
            }
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string timestampText(std::int64_t sec, std::int32_t nsec) {
    std::int64_t const total = ASPN2::nsec_fromSecNsec(sec, nsec);
    // The magnitude, without negating the most negative value.
    std::uint64_t const magnitude =
        total < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(total) : static_cast<std::uint64_t>(total);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%s%llu.%09llu", total < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 1000000000u),
                  static_cast<unsigned long long>(magnitude % 1000000000u));
    return buffer;
}

Line::Line(bool json, std::string const& kind) : m_json(json) { m_text = json ? "{\"msg\":" + jsonString(kind) : kind; }

void Line::key(char const* name) {
    if (m_json) {
        m_text += ",\"";
        m_text += name;
        m_text += "\":";
    } else {
        m_text += ' ';
        m_text += name;
        m_text += '=';
    }
}

Line& Line::integer(char const* name, long long value) {
    key(name);
    m_text += std::to_string(value);
    return *this;
}

Line& Line::real(char const* name, double value, int decimals) {
    key(name);
    m_text += (m_json && !std::isfinite(value)) ? std::string("null") : fixed(value, decimals);
    return *this;
}

Line& Line::reals(char const* name, double const* values, int count, int decimals) {
    key(name);
    m_text += '[';
    for (int i = 0; i < count; ++i) {
        if (i > 0) m_text += ',';
        m_text += (m_json && !std::isfinite(values[i])) ? std::string("null") : fixed(values[i], decimals);
    }
    m_text += ']';
    return *this;
}

Line& Line::text(char const* name, std::string const& value) {
    key(name);
    m_text += jsonString(value);
    return *this;
}

Line& Line::word(char const* name, std::string const& value) {
    key(name);
    m_text += m_json ? "\"" + value + "\"" : value;
    return *this;
}

Line& Line::literal(char const* name, std::string const& value) {
    key(name);
    m_text += value;
    return *this;
}

Line& Line::flag(char const* name, bool value) {
    key(name);
    m_text += m_json ? (value ? "true" : "false") : (value ? "1" : "0");
    return *this;
}

Line& Line::jsonInteger(char const* name, long long value) {
    if (m_json) integer(name, value);
    return *this;
}

std::string Line::str() const { return m_json ? m_text + "}" : m_text; }

void addHeader(Line& line, aspn2_msgs::idl::header const& h) {
    DeviceIdParts const d = decodeDeviceId(h.device_id());
    aspn2_msgs::idl::timestamp const& tov = h.timestamp_valid();
    line.integer("seq", h.seq_num())
        .word("device_id", deviceIdHex(h.device_id()))
        .integer("system", d.system)
        .integer("server", d.server)
        .word("server_name", ASPN2::ServerIds::to_string(static_cast<unsigned char>(d.server)))
        .integer("kind", d.kind)
        .integer("topic", d.topic)
        .literal("tov", timestampText(tov.sec(), tov.nsec()))
        .jsonInteger("tov_sec", tov.sec())
        .jsonInteger("tov_nsec", tov.nsec())
        .integer("time_code", tov.time_code());
}

std::string formatEventLog(aspn2_msgs::idl::EventLog const& m, bool json) {
    Line line(json, "EventLog");
    addHeader(line, m.header());
    std::uint32_t const type = static_cast<std::uint32_t>(m.event_log_type());
    line.integer("type", type).word("type_name", eventLogTypeName(type)).text("text", m.eventlog());
    return line.str();
}

std::string formatMaintenanceEvent(aspn2_msgs::idl::MaintenanceEvent const& m, bool json) {
    Line line(json, "MaintenanceEvent");
    addHeader(line, m.header());
    line.text("identity", fixedText(m.identity()))
        .text("description", fixedText(m.description()))
        .integer("criticality", m.criticality_id())
        .integer("category", m.category_id())
        .integer("location", m.location_id())
        .integer("outcome", m.outcome_id())
        .integer("repeat_s", m.repeat_in_seconds());
    std::string sources = "[";
    for (std::size_t i = 0; i < m.fault_sources().size(); ++i) {
        aspn2_msgs::idl::lru_comp_set const& s = m.fault_sources()[i];
        sources += (i > 0 ? "," : "") + std::string("[") + std::to_string(s.lru_id()) + "," +
                   std::to_string(s.component_id()) + "]";
    }
    line.literal("fault_sources", sources + "]");
    return line.str();
}

std::string formatCommandResponse(std::string const& connection, aspn2_msgs::idl::CommandResponse const& m, bool json) {
    Line line(json, connection);
    addHeader(line, m.header());
    std::uint32_t const type = static_cast<std::uint32_t>(m.command_response_type());
    line.integer("command_identifier", static_cast<std::uint32_t>(m.command_identifier()))
        .word("commanded_device_id", deviceIdHex(m.commanded_device_id()))
        .integer("type", type)
        .word("type_name", commandResponseTypeName(type))
        .text("text", m.command_response());
    return line.str();
}

std::string formatPva(aspn2_msgs::idl::PositionVelocityAttitude const& m, bool json) {
    Line line(json, "PositionVelocityAttitude");
    addHeader(line, m.header());
    double const attitudeDeg[3] = {m.attitude()[0] * kRadToDeg, m.attitude()[1] * kRadToDeg,
                                   m.attitude()[2] * kRadToDeg};
    double sigmas[9];
    for (int i = 0; i < 9; ++i) sigmas[i] = std::sqrt(m.covariance()[i][i]);
    line.real("lat_deg", m.position().latitude() * kRadToDeg, 9)
        .real("lon_deg", m.position().longitude() * kRadToDeg, 9)
        .real("alt_m", m.position().altitude(), 3)
        .reals("vel_ned", m.velocity().data(), 3, 3)
        .reals("rpy_deg", attitudeDeg, 3, 3)
        .reals("sigma", sigmas, 9, 4)
        .real("pos_var_sum", positionVarianceSum(m.covariance()), 3)
        .flag("valid", isUsableSolution(m.covariance()));
    return line.str();
}

std::string formatUtc(aspn2_msgs::idl::UTCTime const& m, bool json) {
    Line line(json, "UTCTime");
    addHeader(line, m.header());
    line.integer("gps_week", m.gps_week())
        .integer("gps_tow_sec", m.gps_tow_sec())
        .real("gps_tow_nsec", m.gps_tow_nsec(), 0)
        .integer("utc_tod_sec", m.utc_tod_sec())
        .real("utc_tod_nsec", m.utc_tod_nsec(), 0);
    return line.str();
}

std::string formatNavSummary(NavSummary const& s, bool json) {
    Line line(json, "nav");
    line.real("t", s.elapsedS, 1).integer("pva", s.pvaSent).integer("utc", s.utcSent);
    if (s.sendFailures > 0) line.integer("send_failures", s.sendFailures);
    if (s.lastPva) {
        aspn2_msgs::idl::PositionVelocityAttitude const& p = *s.lastPva;
        double const vn = p.velocity()[0], ve = p.velocity()[1];
        line.real("lat_deg", p.position().latitude() * kRadToDeg, 7)
            .real("lon_deg", p.position().longitude() * kRadToDeg, 7)
            .real("alt_m", p.position().altitude(), 2)
            .real("speed_mps", std::sqrt(vn * vn + ve * ve), 2)
            .real("heading_deg", std::atan2(ve, vn) * kRadToDeg, 1)
            .real("pos_var_sum", positionVarianceSum(p.covariance()), 1)
            .flag("valid", isUsableSolution(p.covariance()))
            .integer("source", decodeDeviceId(p.header().device_id()).server)
            .literal("pva_tov", timestampText(p.header().timestamp_valid().sec(), p.header().timestamp_valid().nsec()));
    }
    if (s.lastUtc) {
        aspn2_msgs::idl::timestamp const& tov = s.lastUtc->header().timestamp_valid();
        line.literal("utc_tov", timestampText(tov.sec(), tov.nsec()));
    }
    return line.str();
}

}  // namespace aspn2_tool
