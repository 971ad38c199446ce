#include "tests/peers/cyclone/PeerMessages.h"

#include "tools/aspn2-tool/NavCovariance.h"
#include "tools/aspn2-tool/NavTime.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cyclone_peer {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kMeanEarthRadiusM = 6371000.0;
constexpr std::int64_t kNsPerSecond = 1000000000;

void stamp(aspn2_msgs_idl_header& h, std::int64_t unixNs, std::int64_t seq, std::int32_t device) {
    h.seq_num = seq;
    h.device_id = device;
    std::int64_t sec = unixNs / kNsPerSecond;
    std::int64_t nsec = unixNs % kNsPerSecond;
    if (nsec < 0) {
        nsec += kNsPerSecond;
        --sec;
    }
    h.timestamp_valid.sec = sec;
    h.timestamp_valid.nsec = static_cast<std::int32_t>(nsec);
    h.timestamp_valid.time_code = 0;
    h.timestamp_arrival = h.timestamp_valid;
}

char const* eventTypeName(aspn2_msgs_idl_event_log_type_enum type) {
    static char const* const names[] = {"UNKNOWN", "DEBUG", "STATUS", "FAULT", "CRITICAL", "FATAL"};
    auto const i = static_cast<unsigned>(type);
    return i < sizeof names / sizeof names[0] ? names[i] : "OTHER";
}

}  // namespace

std::int32_t deviceId(unsigned system, unsigned server, unsigned kind, unsigned topic) {
    return static_cast<std::int32_t>((system & 0xFFu) << 24 | (server & 0xFFu) << 16 | (kind & 0xFFu) << 8 |
                                     (topic & 0xFFu));
}

void fillPva(aspn2_msgs_idl_PositionVelocityAttitude& pva, NavMotion const& motion, double tS, std::int64_t unixNs,
             std::int64_t seq, std::int32_t device) {
    std::memset(&pva, 0, sizeof pva);
    stamp(pva.header, unixNs, seq, device);
    double const latRad = motion.latDeg * kPi / 180.0 + motion.speedMps * std::max(tS, 0.0) / kMeanEarthRadiusM;
    pva.position.latitude = std::min(latRad, kPi / 2);
    pva.position.longitude = motion.lonDeg * kPi / 180.0;
    pva.position.altitude = motion.altM;
    pva.velocity[0] = motion.speedMps;
    aspn2_tool::Matrix9 const covariance = aspn2_tool::CovarianceModel().at(tS);
    for (std::size_t i = 0; i < 9; ++i) {
        for (std::size_t j = 0; j < 9; ++j) pva.covariance[i][j] = covariance[i][j];
    }
}

void fillUtc(aspn2_msgs_idl_UTCTime& utc, std::int64_t unixNs, std::int64_t seq, std::int32_t device) {
    std::memset(&utc, 0, sizeof utc);
    stamp(utc.header, unixNs, seq, device);
    aspn2_tool::GpsUtcFields const f = aspn2_tool::gpsUtcFromUnixNs(unixNs);
    utc.gps_week = f.gpsWeek;
    utc.gps_tow_sec = f.gpsTowSec;
    utc.gps_tow_nsec = f.gpsTowNsec;
    utc.utc_tod_sec = f.utcTodSec;
    utc.utc_tod_nsec = f.utcTodNsec;
    double const biasSigma = 20e-9, driftSigma = 1e-9;  // s, s/s: as the navigator simulator
    utc.covariance[0][0] = biasSigma * biasSigma;
    utc.covariance[1][1] = driftSigma * driftSigma;
}

void fillCommand(aspn2_msgs_idl_CommandResponse& command, char const* text, std::uint32_t identifier,
                 std::int64_t unixNs, std::int64_t seq, std::int32_t device) {
    std::memset(&command, 0, sizeof command);
    stamp(command.header, unixNs, seq, device);
    command.commanded_device_id = 0;
    command.command_identifier = static_cast<std::int32_t>(identifier);
    command.command_response_type = aspn2_msgs_idl_COMMAND_RESPONSE_TYPE_COMMAND;
    command.command_response = const_cast<char*>(text);  // the generated type is not const-correct
}

std::string quoted(char const* text, std::size_t maxLength) {
    std::string out = "\"";
    for (std::size_t i = 0; text != nullptr && i < maxLength && text[i] != '\0'; ++i) {
        unsigned char const c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string formatEventLog(aspn2_msgs_idl_EventLog const& m) {
    return std::string("EventLog type=") + eventTypeName(m.event_log_type) + " text=" + quoted(m.eventlog);
}

std::string formatMaintenanceEvent(aspn2_msgs_idl_MaintenanceEvent const& m) {
    return "MaintenanceEvent identity=" + quoted(m.identity, sizeof m.identity) +
           " description=" + quoted(m.description, sizeof m.description) +
           " criticality=" + std::to_string(m.criticality_id);
}

std::string formatResponse(aspn2_msgs_idl_CommandResponse const& m) {
    char device[16];
    std::snprintf(device, sizeof device, "0x%08x", static_cast<unsigned>(m.commanded_device_id));
    return "Response identifier=" + std::to_string(static_cast<std::uint32_t>(m.command_identifier)) +
           " commanded=" + device + " text=" + quoted(m.command_response);
}

}  // namespace cyclone_peer
