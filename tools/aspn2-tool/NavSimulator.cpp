#include "tools/aspn2-tool/NavSimulator.h"

#include "ASPN/AspnHelper.h"
#include "aspn2_msgs/header.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>

namespace aspn2_tool {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct NanFieldName {
    NanField field;
    char const* name;
};

constexpr NanFieldName kNanFieldNames[] = {
    {NanField::Latitude, "latitude"}, {NanField::Longitude, "longitude"}, {NanField::Altitude, "altitude"},
    {NanField::Velocity, "velocity"}, {NanField::Attitude, "attitude"},   {NanField::Covariance, "covariance"},
};

void stamp(aspn2_msgs::idl::header& h, std::int64_t tovNs, std::int64_t seq, std::uint32_t deviceId) {
    h.seq_num(seq);
    h.device_id(static_cast<std::int32_t>(deviceId));
    ASPN2::setToVandToA_fromNSec(std::chrono::nanoseconds(tovNs), h);
}

}  // namespace

char const* nanFieldName(NanField field) {
    for (NanFieldName const& n : kNanFieldNames) {
        if (n.field == field) return n.name;
    }
    return "?";
}

bool nanFieldFromName(std::string const& name, NanField& field) {
    for (NanFieldName const& n : kNanFieldNames) {
        if (name == n.name) {
            field = n.field;
            return true;
        }
    }
    return false;
}

bool FaultInjection::any() const {
    return !nanFields.empty() || wrongSourceId >= 0 || utcLagS != 0.0 || overrideLatitude || positionSigmaM > 0.0;
}

std::string describeFaults(FaultInjection const& faults) {
    if (!faults.any()) return "none";
    std::ostringstream out;
    char const* sep = "";
    if (!faults.nanFields.empty()) {
        out << "nan=";
        for (std::size_t i = 0; i < faults.nanFields.size(); ++i) {
            out << (i > 0 ? "," : "") << nanFieldName(faults.nanFields[i]);
        }
        sep = " ";
    }
    if (faults.wrongSourceId >= 0) {
        out << sep << "wrong-source=" << faults.wrongSourceId;
        sep = " ";
    }
    if (faults.utcLagS != 0.0) {
        out << sep << "utc-lag=" << faults.utcLagS << "s";
        sep = " ";
    }
    if (faults.overrideLatitude) {
        out << sep << "lat-override=" << faults.latitudeOverrideDeg << "deg";
        sep = " ";
    }
    if (faults.positionSigmaM > 0.0) out << sep << "sigma=" << faults.positionSigmaM << "m";
    return out.str();
}

void setServerId(aspn2_msgs::idl::header& header, unsigned char serverId) {
    std::uint32_t const id = static_cast<std::uint32_t>(header.device_id());
    header.device_id(static_cast<std::int32_t>((id & 0xFF00FFFFu) | (std::uint32_t{serverId} << 16)));
}

void applyFaults(FaultInjection const& faults, aspn2_msgs::idl::PositionVelocityAttitude& pva) {
    if (faults.overrideLatitude) pva.position().latitude(faults.latitudeOverrideDeg * kPi / 180.0);
    for (NanField field : faults.nanFields) {
        switch (field) {
            case NanField::Latitude:
                pva.position().latitude(kNaN);
                break;
            case NanField::Longitude:
                pva.position().longitude(kNaN);
                break;
            case NanField::Altitude:
                pva.position().altitude(kNaN);
                break;
            case NanField::Velocity:
                pva.velocity().fill(kNaN);
                break;
            case NanField::Attitude:
                pva.attitude().fill(kNaN);
                break;
            case NanField::Covariance:
                for (auto& row : pva.covariance()) row.fill(kNaN);
                break;
        }
    }
    if (faults.positionSigmaM > 0.0) {
        // The position block alone: its rows and columns lose their
        // correlations, so the matrix stays positive definite.
        for (std::size_t i = 0; i < 3; ++i) {
            for (std::size_t j = 0; j < 9; ++j) {
                pva.covariance()[i][j] = 0.0;
                pva.covariance()[j][i] = 0.0;
            }
            pva.covariance()[i][i] = faults.positionSigmaM * faults.positionSigmaM;
        }
    }
    if (faults.wrongSourceId >= 0) setServerId(pva.header(), static_cast<unsigned char>(faults.wrongSourceId));
}

void applyFaults(FaultInjection const& faults, aspn2_msgs::idl::UTCTime& utc) {
    if (faults.wrongSourceId >= 0) setServerId(utc.header(), static_cast<unsigned char>(faults.wrongSourceId));
}

aspn2_msgs::idl::PositionVelocityAttitude makePva(Kinematics const& k, Matrix9 const& covariance, std::int64_t tovNs,
                                                  std::int64_t seq, std::uint32_t deviceId) {
    aspn2_msgs::idl::PositionVelocityAttitude pva;
    stamp(pva.header(), tovNs, seq, deviceId);
    pva.position().latitude(k.latitudeRad);
    pva.position().longitude(k.longitudeRad);
    pva.position().altitude(k.altitudeM);
    pva.velocity() = {k.velocityNorth, k.velocityEast, k.velocityDown};
    pva.attitude() = {k.roll, k.pitch, k.yaw};
    pva.covariance() = covariance;
    return pva;
}

aspn2_msgs::idl::UTCTime makeUtc(std::int64_t tovNs, std::int64_t seq, std::uint32_t deviceId, int leapSeconds) {
    aspn2_msgs::idl::UTCTime utc;
    stamp(utc.header(), tovNs, seq, deviceId);
    GpsUtcFields const f = gpsUtcFromUnixNs(tovNs, leapSeconds);
    utc.gps_week(f.gpsWeek);
    utc.gps_tow_sec(f.gpsTowSec);
    utc.gps_tow_nsec(f.gpsTowNsec);
    utc.utc_tod_sec(f.utcTodSec);
    utc.utc_tod_nsec(f.utcTodNsec);
    utc.a1(0.0);
    double const biasSigma = 20e-9;  // s
    double const driftSigma = 1e-9;  // s/s
    utc.covariance()[0] = {biasSigma * biasSigma, 0.0};
    utc.covariance()[1] = {0.0, driftSigma * driftSigma};
    return utc;
}

NavSimulator::NavSimulator(NavRoute route, CovarianceModel covariance, FaultInjection faults, std::uint32_t deviceId,
                           std::int64_t startNs)
    : m_route(std::move(route)),
      m_covariance(covariance),
      m_faults(std::move(faults)),
      m_deviceId(deviceId),
      m_startNs(startNs) {}

double NavSimulator::secondsSinceStart(std::int64_t unixNs) const {
    return static_cast<double>(unixNs - m_startNs) * 1e-9;
}

aspn2_msgs::idl::PositionVelocityAttitude NavSimulator::nextPva(std::int64_t unixNs) {
    double const t = secondsSinceStart(unixNs);
    aspn2_msgs::idl::PositionVelocityAttitude pva =
        makePva(m_route.at(t), m_covariance.at(t), unixNs, m_pvaSeq++, m_deviceId);
    applyFaults(m_faults, pva);
    return pva;
}

aspn2_msgs::idl::UTCTime NavSimulator::nextUtc(std::int64_t unixNs) {
    std::int64_t const lagNs = static_cast<std::int64_t>(std::llround(m_faults.utcLagS * 1e9));
    aspn2_msgs::idl::UTCTime utc = makeUtc(unixNs - lagNs, m_utcSeq++, m_deviceId);
    applyFaults(m_faults, utc);
    return utc;
}

}  // namespace aspn2_tool
