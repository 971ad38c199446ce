#ifndef VICTORY_ZOZIDAZODODUZUZ_VICTORYREPORTS_H
#define VICTORY_ZOZIDAZODODUZUZ_VICTORYREPORTS_H

// The values of the VICTORY Position, Orientation and Direction of Travel
// reports, computed from one navigation solution and its UTC time. Pure
// functions: no library calls, no I/O, no shared state.
//
// Units: the navigation solution carries latitude and longitude in radians,
// altitude in metres above the ellipsoid, velocity (north, east, down) in
// m/s, roll, pitch and yaw in radians, and a 9 x 9 covariance whose diagonal
// holds the variances of the north, east and vertical position errors (m^2),
// the north, east and down velocity errors (m^2/s^2) and the roll, pitch
// and yaw errors (rad^2). Every reported uncertainty is one sigma: the
// square root of a variance (NaN for a negative variance, passed on as it
// is).

#include "platform/victory/victory.h"

#include <string>

namespace aspn2_msgs {
namespace idl {
class PositionVelocityAttitude;
class UTCTime;
}  // namespace idl
}  // namespace aspn2_msgs

namespace VictoryReports {

constexpr double kMetresPerDegree = 111132.0;              // of latitude
constexpr double kSmallestCosine = 2.220446049250313e-16;  // lower bound of cos(latitude)
constexpr double kVarianceLimit = 25000000.0;              // m^2; usable solutions stay below
constexpr double kPi = 3.141592653589793;

/// radians * 180 / pi.
double toDegrees(double radians);
/// degrees * pi / 180.
double toRadians(double degrees);

/// Sum of the three position variances (covariance [0][0] + [1][1] +
/// [2][2]), m^2.
double estimatedPositionVariance(const aspn2_msgs::idl::PositionVelocityAttitude& pva);

/// A solution is usable when its summed position variance is finite and
/// below kVarianceLimit (equal is not usable).
bool isSolutionValid(double estPosVar);

/// VPOSC_BASIS_MEASURED for a usable solution, VPOSC_BASIS_INVALID
/// otherwise (VPOSC_BASIS_ESTIMATED is never reported).
VposcBasis basisFor(bool valid);

/// "VPOSC_BASIS_INVALID", "VPOSC_BASIS_ESTIMATED", "VPOSC_BASIS_MEASURED",
/// or "unknown" for any other value.
const char* basisName(int basis);

/// The Position report.
struct PositionReport {
    double latDeg = 0.0;     // latitude, degrees
    double lonDeg = 0.0;     // longitude, degrees
    double altitude = 0.0;   // above the geoid, metres
    double latUncDeg = 0.0;  // latitude uncertainty, degrees
    double lonUncDeg = 0.0;  // longitude uncertainty, degrees
    double altUnc = 0.0;     // vertical uncertainty, metres
    double estPosVar = 0.0;  // summed position variance, m^2
    bool valid = false;
    // As told: latitude and longitude with uncertainties in radians,
    // altitude and its uncertainty in metres; one basis for all three.
    VictoryValue latitude{};
    VictoryValue longitude{};
    VictoryValue altitudeValue{};
};

/// Latitude and longitude (radians -> degrees), altitude above the geoid
/// (ellipsoidal altitude - `geoidHeight`, metres), uncertainties
/// sqrt([0][0]) / 111132 degrees of latitude, sqrt([1][1]) / (111132 *
/// max(cos(lat), kSmallestCosine)) degrees of longitude, sqrt([2][2])
/// metres, and the validity of the solution. `geoidHeight` is the geoid's
/// height above the ellipsoid at the solution's position, metres.
PositionReport makePositionReport(const aspn2_msgs::idl::PositionVelocityAttitude& pva, double geoidHeight);

/// Roll, pitch, yaw as told (radians, uncertainties sqrt([6][6]),
/// sqrt([7][7]), sqrt([8][8])), with the basis of the position solution.
struct OrientationReport {
    bool valid = false;
    VictoryValue roll{};
    VictoryValue pitch{};
    VictoryValue yaw{};
};
OrientationReport makeOrientationReport(const aspn2_msgs::idl::PositionVelocityAttitude& pva);

/// Direction of travel, radians in (-pi, pi] (0 north, positive east), of a
/// horizontal velocity `vN` north and `vE` east (m/s): atan2(vE, vN) with the
/// signs of zero components ignored, so that a vehicle at rest heads 0 (never
/// -0) and due south is pi (never -pi). NaN when a component is NaN.
double heading(double vN, double vE);

/// Heading heading(vN, vE) with directionUncertainty(vN, [3][3], vE, [4][4]); speed
/// sqrt(vN^2 + vE^2) m/s with sqrt([3][3] + [4][4]); climb -vD m/s
/// (positive upwards) with sqrt([5][5]); the basis of the position
/// solution.
struct DirectionReport {
    bool valid = false;
    VictoryValue heading{};
    VictoryValue speed{};
    VictoryValue climb{};
};
DirectionReport makeDirectionReport(const aspn2_msgs::idl::PositionVelocityAttitude& pva);

/// One-sigma uncertainty, radians, of the direction of the vector (a, b)
/// given the variances of its components: pi when the one-sigma box around
/// (|a|, |b|) holds the origin (sqrt(varA) > |a| and sqrt(varB) > |b|);
/// otherwise the larger angular distance from atan2(|a|, |b|) to the box's
/// corners atan2(|a| - sA, |b| + sB) and atan2(|a| + sA, |b| - sB).
double directionUncertainty(double a, double varA, double b, double varB);

/// The UTC time of the solution: the civil date and time of the GPS week,
/// GPS second of the week and UTC time of day of `utc` (the day before the
/// GPS date when GPS has passed midnight and UTC has not), seconds split
/// into whole seconds and nanoseconds (both truncated).
VictoryTime sampleTime(const aspn2_msgs::idl::UTCTime& utc);

/// month "/" day "/" year " " hour ":" minute ":" second " " nanosecond
/// " ns", all in decimal without padding.
std::string formatSampleTime(const VictoryTime& time);

}  // namespace VictoryReports

#endif  // VICTORY_ZOZIDAZODODUZUZ_VICTORYREPORTS_H
