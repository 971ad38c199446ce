#ifndef TOOLS_ASPN2_TOOL_NAVROUTE_H
#define TOOLS_ASPN2_TOOL_NAVROUTE_H

// The simulated vehicle's motion: a ground vehicle driving laps of a
// rounded rectangle at constant horizontal speed, over a gentle hill.
//
// The lap starts at the given start point heading north and turns right
// (clockwise seen from above): north straight, corner, east straight,
// corner, south straight, corner, west straight, corner, back at the start.
// The route is laid out on the local east-north-up plane of the start point
// and converted to geodetic coordinates on the WGS84 ellipsoid.
//
// Attitude follows the motion: yaw is the direction of travel, pitch the
// slope of the road, and the body leans out of a turn in proportion to the
// lateral acceleration.

#include <GeographicLib/LocalCartesian.hpp>
#include <vector>

namespace aspn2_tool {

/// Geometry of the lap.
struct RouteShape {
    double lengthM = 300.0;       ///< north and south straights, m (> 0)
    double widthM = 200.0;        ///< east and west straights, m (> 0)
    double cornerRadiusM = 30.0;  ///< quarter-circle corners, m (> 0)
    double hillM = 3.0;           ///< altitude swing over a lap (amplitude), m (>= 0)
};

/// Position, velocity and attitude at one instant.
struct Kinematics {
    double latitudeRad = 0.0;    ///< geodetic latitude, rad
    double longitudeRad = 0.0;   ///< longitude, rad, (-pi, pi]
    double altitudeM = 0.0;      ///< height above the ellipsoid, m
    double velocityNorth = 0.0;  ///< m/s
    double velocityEast = 0.0;   ///< m/s
    double velocityDown = 0.0;   ///< m/s, positive downwards
    double roll = 0.0;           ///< rad, positive right side down
    double pitch = 0.0;          ///< rad, positive nose up
    double yaw = 0.0;            ///< rad in (-pi, pi], 0 north, positive towards east
};

/// A point of the lap on the local plane of the start point.
struct LocalPoint {
    double eastM = 0.0;
    double northM = 0.0;
    double upM = 0.0;        ///< height above the start point, m
    double heading = 0.0;    ///< direction of travel, rad in (-pi, pi], 0 north
    double curvature = 0.0;  ///< 1/m, positive when turning right
    double slope = 0.0;      ///< rise per metre travelled horizontally
};

class NavRoute {
public:
    /// Body roll per lateral acceleration: a car leans out of a turn by
    /// about 0.6 degree per m/s^2.
    static constexpr double kRollPerLateralAcceleration = 0.01;  // rad per m/s^2

    /// Start point in degrees (latitude -90..90, longitude -180..180) and
    /// metres above the ellipsoid; horizontal speed in m/s (>= 0; 0 stands
    /// at the start heading north). Throws std::invalid_argument for values
    /// out of range or not finite, naming the value.
    NavRoute(double startLatDeg, double startLonDeg, double startAltM, double speedMps,
             RouteShape const& shape = RouteShape());

    /// The vehicle at `t` seconds after the start (any finite t; laps
    /// repeat).
    Kinematics at(double t) const;

    /// The lap at horizontal distance `distanceM` from the start (taken
    /// modulo the lap length).
    LocalPoint localAt(double distanceM) const;

    /// Horizontal length of one lap, m.
    double lapLengthM() const { return m_lapLength; }
    double speedMps() const { return m_speed; }

private:
    struct Segment {
        double length;                // m
        double curvature;             // 1/m, 0 for a straight, 1/r for a right turn
        double east, north, heading;  // start of the segment
    };

    GeographicLib::LocalCartesian m_origin;
    double m_speed;
    RouteShape m_shape;
    std::vector<Segment> m_segments;
    double m_lapLength;
};

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_NAVROUTE_H
