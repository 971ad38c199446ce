#ifndef TOOLS_ASPN2_TOOL_NAVSIMULATOR_H
#define TOOLS_ASPN2_TOOL_NAVSIMULATOR_H

// The simulated fusion navigator's messages: PositionVelocityAttitude and
// UTCTime samples built from the route, the covariance model and the
// clock, with optional faults injected. Knows nothing of DDS; the caller
// passes the time of every sample.

#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "tools/aspn2-tool/NavCovariance.h"
#include "tools/aspn2-tool/NavRoute.h"
#include "tools/aspn2-tool/NavTime.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace aspn2_tool {

/// Fields that the NaN fault can spoil.
enum class NanField { Latitude, Longitude, Altitude, Velocity, Attitude, Covariance };

/// "latitude", "longitude", "altitude", "velocity", "attitude", "covariance".
char const* nanFieldName(NanField field);
/// The field named `name` (as above); false for any other text.
bool nanFieldFromName(std::string const& name, NanField& field);

/// Faults applied to every sample after it is built.
struct FaultInjection {
    std::vector<NanField> nanFields;   ///< each set to NaN (every element of an array)
    int wrongSourceId = -1;            ///< 0..255: server id put in every device id; -1 none
    double utcLagS = 0.0;              ///< the UTC stream describes the time this much earlier
    bool overrideLatitude = false;     ///< replace the latitude ...
    double latitudeOverrideDeg = 0.0;  ///< ... by this value in degrees (unchecked)
    double positionSigmaM = 0.0;       ///< > 0: every position sigma this many metres, uncorrelated

    bool any() const;
};

/// "none", or the active faults, e.g. "nan=latitude,velocity wrong-source=12
/// utc-lag=0.7s lat-override=100deg".
std::string describeFaults(FaultInjection const& faults);

/// Replaces bits 16..23 (the server id) of the header's device id.
void setServerId(aspn2_msgs::idl::header& header, unsigned char serverId);

/// The PVA faults: NaN fields, the latitude override and the wrong source.
void applyFaults(FaultInjection const& faults, aspn2_msgs::idl::PositionVelocityAttitude& pva);
/// The UTC faults: the wrong source (the lag acts on the sample time, see
/// NavSimulator::nextUtc).
void applyFaults(FaultInjection const& faults, aspn2_msgs::idl::UTCTime& utc);

/// A PVA sample: kinematics and covariance as given, header sequence number
/// `seq`, device id `deviceId`, both time stamps `tovNs` (ns since the Unix
/// epoch) with the current time code.
aspn2_msgs::idl::PositionVelocityAttitude makePva(Kinematics const& k, Matrix9 const& covariance, std::int64_t tovNs,
                                                  std::int64_t seq, std::uint32_t deviceId);

/// A UTC time sample of the instant `tovNs` (both time stamps and the GPS
/// and UTC fields describe it), with a clock covariance of a GNSS-disciplined
/// clock (20 ns bias, 1 ns/s drift) and a1 = 0.
aspn2_msgs::idl::UTCTime makeUtc(std::int64_t tovNs, std::int64_t seq, std::uint32_t deviceId,
                                 int leapSeconds = kGpsLeapSeconds);

class NavSimulator {
public:
    /// `startNs`: the instant (ns since the Unix epoch) at which the vehicle
    /// is at the start of its route.
    NavSimulator(NavRoute route, CovarianceModel covariance, FaultInjection faults, std::uint32_t deviceId,
                 std::int64_t startNs);

    /// The next PVA sample, valid at `unixNs`; sequence numbers count 0, 1, ...
    aspn2_msgs::idl::PositionVelocityAttitude nextPva(std::int64_t unixNs);

    /// The next UTC sample for the instant `unixNs` less the UTC lag;
    /// sequence numbers count 0, 1, ... on their own.
    aspn2_msgs::idl::UTCTime nextUtc(std::int64_t unixNs);

    /// Seconds from the start to `unixNs`.
    double secondsSinceStart(std::int64_t unixNs) const;

    std::int64_t pvaCount() const { return m_pvaSeq; }
    std::int64_t utcCount() const { return m_utcSeq; }
    std::uint32_t deviceId() const { return m_deviceId; }
    FaultInjection const& faults() const { return m_faults; }
    /// Replaces the faults applied to the samples from now on.
    void setFaults(FaultInjection faults) { m_faults = std::move(faults); }

private:
    NavRoute m_route;
    CovarianceModel m_covariance;
    FaultInjection m_faults;
    std::uint32_t m_deviceId;
    std::int64_t m_startNs;
    std::int64_t m_pvaSeq = 0;
    std::int64_t m_utcSeq = 0;
};

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_NAVSIMULATOR_H
