#include "VICTORY/ZOziDaZodOduzuz/VictoryReports.h"

#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "utilities/GpsDateTime.h"

#include <cmath>
#include <limits>
#include <sstream>

namespace VictoryReports {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

VictoryValue record(double value, double uncertainty, VposcBasis basis) {
    VictoryValue v{};
    v.value = value;
    v.uncertainty = uncertainty;
    v.basis = basis;
    return v;
}

// Truncation to an unsigned count; NaN and negative values give 0, values
// beyond the range the largest count.
unsigned truncateToUnsigned(double value) {
    if (!(value >= 0.0)) {
        return 0;
    }
    constexpr double kLimit = 4294967295.0;
    return value >= kLimit ? 4294967295u : static_cast<unsigned>(value);
}

double variance(const aspn2_msgs::idl::PositionVelocityAttitude& pva, int i) { return pva.covariance()[i][i]; }

}  // namespace

double toDegrees(double radians) { return radians * 180.0 / kPi; }

double heading(double vN, double vE) {
    // Adding +0.0 turns a negative zero into a positive one: atan2 then
    // never sees the sign of a zero component, which would give -pi for
    // (-0, -|vN|) and -0 or -pi at standstill.
    const double h = std::atan2(vE + 0.0, vN + 0.0);
    return h + 0.0;
}

double toRadians(double degrees) { return degrees * kPi / 180.0; }

double estimatedPositionVariance(const aspn2_msgs::idl::PositionVelocityAttitude& pva) {
    return variance(pva, 0) + variance(pva, 1) + variance(pva, 2);
}

bool isSolutionValid(double estPosVar) {
    return std::fabs(estPosVar) <= std::numeric_limits<double>::max() && estPosVar < kVarianceLimit;
}

VposcBasis basisFor(bool valid) { return valid ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID; }

const char* basisName(int basis) {
    switch (basis) {
        case VPOSC_BASIS_INVALID:
            return "VPOSC_BASIS_INVALID";
        case VPOSC_BASIS_ESTIMATED:
            return "VPOSC_BASIS_ESTIMATED";
        case VPOSC_BASIS_MEASURED:
            return "VPOSC_BASIS_MEASURED";
        default:
            return "unknown";
    }
}

PositionReport makePositionReport(const aspn2_msgs::idl::PositionVelocityAttitude& pva, double geoidHeight) {
    PositionReport r;
    const double lat = pva.position().latitude();
    const double lon = pva.position().longitude();
    r.latDeg = toDegrees(lat);
    r.lonDeg = toDegrees(lon);
    r.altitude = pva.position().altitude() - geoidHeight;

    double cosLat = std::cos(lat);
    if (cosLat < kSmallestCosine) {
        cosLat = kSmallestCosine;
    }
    r.latUncDeg = std::sqrt(variance(pva, 0)) / kMetresPerDegree;
    r.lonUncDeg = std::sqrt(variance(pva, 1)) / (kMetresPerDegree * cosLat);
    r.altUnc = std::sqrt(variance(pva, 2));

    r.estPosVar = estimatedPositionVariance(pva);
    r.valid = isSolutionValid(r.estPosVar);
    const VposcBasis basis = basisFor(r.valid);
    r.latitude = record(lat, toRadians(r.latUncDeg), basis);
    r.longitude = record(lon, toRadians(r.lonUncDeg), basis);
    r.altitudeValue = record(r.altitude, r.altUnc, basis);
    return r;
}

OrientationReport makeOrientationReport(const aspn2_msgs::idl::PositionVelocityAttitude& pva) {
    OrientationReport r;
    r.valid = isSolutionValid(estimatedPositionVariance(pva));
    const VposcBasis basis = basisFor(r.valid);
    const auto& att = pva.attitude();
    r.roll = record(att[0], std::sqrt(variance(pva, 6)), basis);
    r.pitch = record(att[1], std::sqrt(variance(pva, 7)), basis);
    r.yaw = record(att[2], std::sqrt(variance(pva, 8)), basis);
    return r;
}

DirectionReport makeDirectionReport(const aspn2_msgs::idl::PositionVelocityAttitude& pva) {
    DirectionReport r;
    r.valid = isSolutionValid(estimatedPositionVariance(pva));
    const VposcBasis basis = basisFor(r.valid);
    const double vN = pva.velocity()[0];
    const double vE = pva.velocity()[1];
    const double vD = pva.velocity()[2];
    const double varN = variance(pva, 3);
    const double varE = variance(pva, 4);
    r.heading = record(heading(vN, vE), directionUncertainty(vN, varN, vE, varE), basis);
    r.speed = record(std::sqrt(vN * vN + vE * vE), std::sqrt(varN + varE), basis);
    r.climb = record(-vD, std::sqrt(variance(pva, 5)), basis);
    return r;
}

double directionUncertainty(double a, double varA, double b, double varB) {
    const double sA = std::sqrt(varA);
    const double sB = std::sqrt(varB);
    const double A = std::fabs(a);
    const double B = std::fabs(b);
    if (sA > A && sB > B) {
        return kPi;
    }
    const double d0 = std::atan2(A, B);
    const double d1 = std::atan2(A - sA, B + sB);
    const double d2 = std::atan2(A + sA, B - sB);
    const double e1 = std::fabs(d0 - d1);
    const double e2 = std::fabs(d2 - d0);
    return e1 > e2 ? e1 : e2;
}

VictoryTime sampleTime(const aspn2_msgs::idl::UTCTime& utc) {
    GpsDateTime when(utc.gps_week(), utc.gps_tow_sec(), utc.utc_tod_sec(), utc.utc_tod_nsec());
    GpsDateTime::CivilTimeStruct civil;
    when.ToCivilTime(&civil, 0);
    const double whole = std::floor(civil.seconds);
    VictoryTime t{};
    t.year = static_cast<std::int32_t>(civil.year);
    t.month = static_cast<std::int32_t>(civil.month);
    t.day = static_cast<std::int32_t>(civil.day);
    t.hour = civil.hour;
    t.minute = civil.minute;
    t.second = static_cast<std::int32_t>(truncateToUnsigned(whole));
    t.nanosecond = static_cast<std::int32_t>(truncateToUnsigned((civil.seconds - whole) * 1000000000.0));
    return t;
}

std::string formatSampleTime(const VictoryTime& time) {
    std::ostringstream out;
    out << time.month << "/" << time.day << "/" << time.year << " " << time.hour << ":" << time.minute << ":"
        << time.second << " " << time.nanosecond << " ns";
    return out.str();
}

}  // namespace VictoryReports
