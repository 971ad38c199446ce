// The test peer's samples in the C types that Cyclone DDS's idlc makes from
// the project's IDL, and the lines it prints for what it receives. Pure
// logic: the caller owns the clock and the DDS entities.
#ifndef TESTS_PEERS_CYCLONE_PEERMESSAGES_H
#define TESTS_PEERS_CYCLONE_PEERMESSAGES_H

#include "CommandResponse.h"
#include "EventLog.h"
#include "MaintenanceEvent.h"
#include "PositionVelocityAttitude.h"
#include "UTCTime.h"

#include <cstdint>
#include <string>

namespace cyclone_peer {

/// System id of the "Simulator" system, the tools' default.
constexpr unsigned kSimulatorSystem = 2;

/// Device id: system (8 bits), server, kind, topic, most significant first.
std::int32_t deviceId(unsigned system, unsigned server, unsigned kind = 0, unsigned topic = 0);

/// A navigator heading due north at a constant speed from a start point.
struct NavMotion {
    double latDeg = 45.0, lonDeg = 7.5;  ///< start, degrees
    double altM = 300.0;                 ///< above the ellipsoid, m
    double speedMps = 10.0;              ///< >= 0, m/s
};

/// The PVA `tS` seconds after the start (>= 0): latitude advanced by
/// speed * t over the mean earth radius (clamped at the pole), velocity
/// (speed, 0, 0) north-east-down, attitude zero (level, heading north),
/// the navigator simulator's covariance; stamped with `unixNs` (ns since
/// 1970) as time of validity and of arrival, sequence number `seq`.
void fillPva(aspn2_msgs_idl_PositionVelocityAttitude& pva, NavMotion const& motion, double tS, std::int64_t unixNs,
             std::int64_t seq, std::int32_t device);

/// The UTC time message of the instant `unixNs` (GPS = UTC + 18 s).
void fillUtc(aspn2_msgs_idl_UTCTime& utc, std::int64_t unixNs, std::int64_t seq, std::int32_t device);

/// A command (type 0) with `text`, which must outlive the sample.
void fillCommand(aspn2_msgs_idl_CommandResponse& command, char const* text, std::uint32_t identifier,
                 std::int64_t unixNs, std::int64_t seq, std::int32_t device);

/// `text` in double quotes, with '"', '\\' and every byte outside
/// printable ASCII written as \xHH, so that one sample is one line.
std::string quoted(char const* text, std::size_t maxLength = std::string::npos);

/// One line per received sample, e.g.
/// `EventLog type=STATUS text="..."`,
/// `MaintenanceEvent identity="..." description="..." criticality=2`,
/// `Response identifier=42 commanded=0x02320000 text="..."`.
std::string formatEventLog(aspn2_msgs_idl_EventLog const& m);
std::string formatMaintenanceEvent(aspn2_msgs_idl_MaintenanceEvent const& m);
std::string formatResponse(aspn2_msgs_idl_CommandResponse const& m);

}  // namespace cyclone_peer

#endif  // TESTS_PEERS_CYCLONE_PEERMESSAGES_H
