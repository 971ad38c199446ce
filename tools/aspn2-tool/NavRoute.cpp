#include "tools/aspn2-tool/NavRoute.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace aspn2_tool {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi / 180.0;

// An angle brought into (-pi, pi].
double wrapPi(double a) {
    double r = std::remainder(a, 2.0 * kPi);
    if (r <= -kPi) r += 2.0 * kPi;
    return r;
}

void require(bool ok, std::string const& what) {
    if (!ok) throw std::invalid_argument(what);
}

}  // namespace

NavRoute::NavRoute(double startLatDeg, double startLonDeg, double startAltM, double speedMps, RouteShape const& shape)
    : m_speed(speedMps), m_shape(shape), m_lapLength(0.0) {
    require(std::isfinite(startLatDeg) && std::fabs(startLatDeg) <= 90.0, "latitude must lie in -90..90 degrees");
    require(std::isfinite(startLonDeg) && std::fabs(startLonDeg) <= 180.0, "longitude must lie in -180..180 degrees");
    require(std::isfinite(startAltM) && std::fabs(startAltM) <= 1.0e5, "altitude must lie in -100000..100000 m");
    require(std::isfinite(speedMps) && speedMps >= 0.0 && speedMps <= 1000.0, "speed must lie in 0..1000 m/s");
    require(std::isfinite(shape.lengthM) && shape.lengthM > 0.0 && shape.lengthM <= 1.0e5,
            "route length must lie in (0, 100000] m");
    require(std::isfinite(shape.widthM) && shape.widthM > 0.0 && shape.widthM <= 1.0e5,
            "route width must lie in (0, 100000] m");
    require(std::isfinite(shape.cornerRadiusM) && shape.cornerRadiusM > 0.0 && shape.cornerRadiusM <= 1.0e4,
            "corner radius must lie in (0, 10000] m");
    require(std::isfinite(shape.hillM) && shape.hillM >= 0.0 && shape.hillM <= 1000.0,
            "hill height must lie in 0..1000 m");

    m_origin.Reset(startLatDeg, startLonDeg, startAltM);

    double const turn = 0.5 * kPi * shape.cornerRadiusM;
    double const curvature = 1.0 / shape.cornerRadiusM;
    double const lengths[] = {shape.lengthM, turn, shape.widthM, turn, shape.lengthM, turn, shape.widthM, turn};
    Segment current{0.0, 0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < 8; ++i) {
        current.length = lengths[i];
        current.curvature = (i % 2 == 1) ? curvature : 0.0;
        m_segments.push_back(current);
        // The next segment starts where this one ends.
        double const h0 = current.heading;
        if (current.curvature == 0.0) {
            current.east += current.length * std::sin(h0);
            current.north += current.length * std::cos(h0);
        } else {
            double const h1 = h0 + current.curvature * current.length;
            current.east += (std::cos(h0) - std::cos(h1)) / current.curvature;
            current.north += (std::sin(h1) - std::sin(h0)) / current.curvature;
            current.heading = h1;
        }
        m_lapLength += current.length;
    }
}

LocalPoint NavRoute::localAt(double distanceM) const {
    double d = std::fmod(distanceM, m_lapLength);
    if (d < 0.0) d += m_lapLength;

    LocalPoint p;
    double u = d;
    Segment const* s = &m_segments.back();
    for (Segment const& candidate : m_segments) {
        if (u <= candidate.length) {
            s = &candidate;
            break;
        }
        u -= candidate.length;
    }
    if (u > s->length) u = s->length;  // rounding at the very end of the lap

    double heading = s->heading;
    if (s->curvature == 0.0) {
        p.eastM = s->east + u * std::sin(heading);
        p.northM = s->north + u * std::cos(heading);
    } else {
        heading = s->heading + s->curvature * u;
        p.eastM = s->east + (std::cos(s->heading) - std::cos(heading)) / s->curvature;
        p.northM = s->north + (std::sin(heading) - std::sin(s->heading)) / s->curvature;
    }
    p.heading = wrapPi(heading);
    p.curvature = s->curvature;

    // One hill per lap: up and down again by the hill height.
    double const phase = 2.0 * kPi * d / m_lapLength;
    p.upM = m_shape.hillM * std::sin(phase);
    p.slope = m_shape.hillM * 2.0 * kPi / m_lapLength * std::cos(phase);
    return p;
}

Kinematics NavRoute::at(double t) const {
    LocalPoint const p = localAt(m_speed * t);
    double latDeg = 0.0, lonDeg = 0.0, height = 0.0;
    // M turns east-north-up components at the point into the start
    // point's frame; its transpose turns them back.
    std::vector<double> m(9);
    m_origin.Reverse(p.eastM, p.northM, p.upM, latDeg, lonDeg, height, m);

    // Velocity on the start point's plane, then in the point's own frame,
    // so that headings refer to the true north there (which matters near
    // the poles).
    double const v0[3] = {m_speed * std::sin(p.heading), m_speed * std::cos(p.heading), m_speed * p.slope};
    double v[3];
    for (int i = 0; i < 3; ++i) v[i] = m[0 * 3 + i] * v0[0] + m[1 * 3 + i] * v0[1] + m[2 * 3 + i] * v0[2];

    Kinematics k;
    k.latitudeRad = latDeg * kDegToRad;
    k.longitudeRad = lonDeg * kDegToRad;
    k.altitudeM = height;
    k.velocityNorth = v[1];
    k.velocityEast = v[0];
    k.velocityDown = -v[2];
    double const lateralAcceleration = m_speed * m_speed * p.curvature;
    // 0.0 - x rather than -x: a straight gives +0, not -0.
    k.roll = 0.0 - kRollPerLateralAcceleration * lateralAcceleration;
    double const horizontal = std::hypot(v[0], v[1]);
    k.pitch = std::atan2(v[2], horizontal);
    // At a standstill the vehicle faces the way the lap starts.
    k.yaw = m_speed > 0.0 ? wrapPi(std::atan2(v[0], v[1])) : p.heading;
    return k;
}

}  // namespace aspn2_tool
