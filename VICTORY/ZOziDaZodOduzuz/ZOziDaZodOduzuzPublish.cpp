// Publication of the Position, Orientation and Direction of Travel reports:
// the values come from VictoryReports; here they are checked against the
// fault test switch, traced, and told to the services.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/HealthReporter.h"
#include "VICTORY/ZOziDaZodOduzuz/VictoryReports.h"

#include <GeographicLib/GeoCoords.hpp>
#include <GeographicLib/Geoid.hpp>
#include <GeographicLib/Utility.hpp>

#include <cmath>
#include <limits>

#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

// Steady-clock seconds: when a value was told, for the status record.
double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void ZOziDaZodOduzuz::PublishPosition() {
    if (!m_geoid || !m_geoCoords) {
        throw std::logic_error(m_name + ": PublishPosition: no geoid loaded");
    }
    const double latDeg = VictoryReports::toDegrees(m_pva.position().latitude());
    const double lonDeg = VictoryReports::toDegrees(m_pva.position().longitude());
    // GeographicLib turns the longitude into a grid index; for an infinite
    // one that conversion is undefined (GeographicLib 2.1.2 gives NaN on
    // arm64 and fails to read its file on x86-64). The height is NaN then,
    // as on the board; the grid reference of a usable solution raises
    // GeographicLib's own error for that longitude.
    const double geoidHeight =
        std::isinf(lonDeg) ? std::numeric_limits<double>::quiet_NaN() : (*m_geoid)(latDeg, lonDeg);
    const VictoryReports::PositionReport r = VictoryReports::makePositionReport(m_pva, geoidHeight);
    const VictoryTime time = VictoryReports::sampleTime(m_utc);

    if (m_tellDisabled) {
        return;
    }
    if (m_debug) {
        const std::string basis = posBasis(r.latitude.basis);
        const auto& cov = m_pva.covariance();
        std::cout << m_name << ": "
                  << "PublishPosition"
                  << " Position data update : "
                  << "  lat = " << r.latDeg << ", lat uncert = " << r.latUncDeg << ", lat basis = " << basis
                  << ", lon = " << r.lonDeg << ", lon uncert = " << r.lonUncDeg << ", lon basis = " << basis
                  << ", alt = " << r.altitude << ", alt uncert = " << r.altUnc << ", alt basis = " << basis
                  << ", estPosVar = " << r.estPosVar << ", solutionValid = " << (r.valid ? 1 : 0)
                  << ", covariance()[0][0] = " << cov[0][0] << ", covariance()[1][1] = " << cov[1][1]
                  << ", covariance()[2][2] = " << cov[2][2]
                  << ", sample time = " << VictoryReports::formatSampleTime(time) << std::endl
                  << std::endl;
    }
    if (m_positionService == nullptr) {
        const std::string text = m_name + ": m_VPosService object was invalid";
        SEND_HEALTH_EVENT(HealthReporter::eFault, text);
        std::cout << text << std::endl;
        return;
    }
    if (r.valid) {
        // The geodesy of a usable solution: a latitude beyond +-90 degrees
        // raises GeographicLib's error, and so does a NaN latitude, which
        // GeographicLib itself would turn into the grid reference "INVALID".
        // The error reaches the worker. A longitude that is not finite is
        // left to GeographicLib ("INVALID" for NaN, an error for infinity).
        if (std::isnan(r.latDeg)) {
            throw GeographicLib::GeographicErr("Latitude " + GeographicLib::Utility::str(r.latDeg) +
                                               "d not in [-90d, 90d]");
        }
        // Standard UTM/UPS zone; 1 m precision.
        m_geoCoords->Reset(r.latDeg, r.lonDeg);
        const std::string mgrs = m_geoCoords->MGRSRepresentation(0);
        vpossTellPosWithMgrs(m_positionService, &r.latitude, &r.longitude, &r.altitudeValue, mgrs.c_str(), &time);
        m_statusRecord.told(Status::kPosition, true, r.latDeg, r.lonDeg, r.altitude, mgrs.c_str(), steadySeconds());
    } else {
        vpossTellPos(m_positionService, &r.latitude, &r.longitude, &r.altitudeValue, &time);
        m_statusRecord.told(Status::kPosition, false, r.latDeg, r.lonDeg, r.altitude, nullptr, steadySeconds());
    }
}

void ZOziDaZodOduzuz::PublishOrientation() {
    const VictoryReports::OrientationReport r = VictoryReports::makeOrientationReport(m_pva);
    const VictoryTime time = VictoryReports::sampleTime(m_utc);

    if (m_tellDisabled) {
        return;
    }
    if (m_debug) {
        using VictoryReports::toDegrees;
        std::cout << m_name << ": "
                  << "PublishOrientation"
                  << " Orientation data update : "
                  << "roll = " << toDegrees(r.roll.value) << ", roll uncert = " << toDegrees(r.roll.uncertainty)
                  << ", pitch = " << toDegrees(r.pitch.value) << ", pitch uncert= " << toDegrees(r.pitch.uncertainty)
                  << ", yaw = " << toDegrees(r.yaw.value) << ", yaw uncert= " << toDegrees(r.yaw.uncertainty)
                  << ", sample time = " << VictoryReports::formatSampleTime(time) << std::endl
                  << std::endl;
    }
    if (m_orientationService == nullptr) {
        const std::string text = m_name + ": m_VOrService object was invalid";
        SEND_HEALTH_EVENT(HealthReporter::eFault, text);
        std::cout << text << std::endl;
        return;
    }
    vorisTellOrient(m_orientationService, &r.roll, &r.pitch, &r.yaw, &time);
    m_statusRecord.told(Status::kOrientation, r.valid, VictoryReports::toDegrees(r.roll.value),
                        VictoryReports::toDegrees(r.pitch.value), VictoryReports::toDegrees(r.yaw.value), nullptr,
                        steadySeconds());
}

void ZOziDaZodOduzuz::PublishDirectionOfTravel() {
    const VictoryReports::DirectionReport r = VictoryReports::makeDirectionReport(m_pva);
    const VictoryTime time = VictoryReports::sampleTime(m_utc);

    if (m_tellDisabled) {
        return;
    }
    if (m_debug) {
        using VictoryReports::toDegrees;
        std::cout << m_name << ": "
                  << "PublishDirectionOfTravel"
                  << " DoT data update : "
                  << " heading = " << toDegrees(r.heading.value)
                  << " heading uncert = " << toDegrees(r.heading.uncertainty) << ", speed = " << r.speed.value
                  << ", speed uncert = " << r.speed.uncertainty << ", climb = " << r.climb.value
                  << ", climb uncert = " << r.climb.uncertainty
                  << ", sample time = " << VictoryReports::formatSampleTime(time) << std::endl
                  << std::endl;
    }
    if (m_dotService == nullptr) {
        const std::string text = m_name + ": m_VDirService object was invalid";
        SEND_HEALTH_EVENT(HealthReporter::eFault, text);
        std::cout << text << std::endl;
        return;
    }
    vdotsTellDot(m_dotService, &r.heading, &r.speed, &r.climb, &time);
    m_statusRecord.told(Status::kDirectionOfTravel, r.valid, VictoryReports::toDegrees(r.heading.value), r.speed.value,
                        r.climb.value, nullptr, steadySeconds());
}

double ZOziDaZodOduzuz::calcDirUncert(double a, double varA, double b, double varB) {
    return VictoryReports::directionUncertainty(a, varA, b, varB);
}

std::string ZOziDaZodOduzuz::posBasis(VposcBasis basis) { return VictoryReports::basisName(basis); }
