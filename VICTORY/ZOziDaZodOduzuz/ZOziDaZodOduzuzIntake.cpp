// Navigation data intake: the PVA and UTC time callbacks store the latest
// accepted message of each kind; every 250 ms the worker publishes the pair
// when their times of validity lie close enough together.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/AspnHelper.h"
#include "ASPN/HealthReporter.h"
#include "VICTORY/ZOziDaZodOduzuz/NavigationIntake.h"
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"
#include "VICTORY/ZOziDaZodOduzuz/SourcePosition.h"

#include <cmath>
#include <exception>
#include <iostream>
#include <string>

namespace {

// Runs `report` and swallows whatever it throws (e.g. std::bad_alloc while
// building an event text): a report must never take its thread down.
template <typename Report>
void reportSafely(Report report) noexcept
{
    try {
        report();
    } catch (...) {
    }
}

}  // namespace

void ZOziDaZodOduzuz::cbPVA(const aspn2_msgs::idl::PositionVelocityAttitude& msg)
{
    try {
        if (m_state != FACE::LCM::Corvane::ReportedState::STARTED) {
            return;
        }
        const std::uint8_t source = NavigationIntake::sourceServerId(msg.header().device_id());
        if (!NavigationIntake::acceptsSource(m_pvaSourceNavigatorServerId, source)) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_dataMutex);
            m_pvaReceived = true;
            m_pva = msg;
        }
        if (m_debug) {
            std::cout << m_name << ": " << "cbPVA"
                      << " : Processing Position Velocity Attitude message received from "
                      << NavigationIntake::sourceName(source) << ", server ID = " << static_cast<unsigned>(source)
                      << std::endl;
        }
    } catch (const std::exception& e) {
        reportSafely([&] {
            SEND_HEALTH_EVENT(HealthReporter::eFault, e.what());
            std::cout << SOURCE_POSITION() << " " << "cbPVA" << " : An exception occurred. Details: " << e.what()
                      << std::endl;
        });
    } catch (...) {
        reportSafely([&] {
            const std::string text = m_name + ": Unknown c++ exception in cbPVA";
            SEND_HEALTH_EVENT(HealthReporter::eFault, text);
            std::cout << SOURCE_POSITION() << " " << "cbPVA" << text << std::endl;
        });
    }
}

void ZOziDaZodOduzuz::cbUTCTime(const aspn2_msgs::idl::UTCTime& msg)
{
    try {
        if (m_state != FACE::LCM::Corvane::ReportedState::STARTED) {
            return;
        }
        const std::uint8_t source = NavigationIntake::sourceServerId(msg.header().device_id());
        if (!NavigationIntake::acceptsSource(m_utcSourceNavigatorServerId, source)) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_dataMutex);
            m_utcReceived = true;
            m_utc = msg;
        }
        if (m_debug) {
            std::cout << m_name << ": " << "cbUTCTime" << " : Processing UTC Time message received from "
                      << NavigationIntake::sourceName(source) << ", server ID = " << static_cast<unsigned>(source)
                      << std::endl;
        }
    } catch (const std::exception& e) {
        reportSafely([&] {
            SEND_HEALTH_EVENT(HealthReporter::eFault, m_name + ": An exception occurred. Details: " + e.what());
            std::cout << SOURCE_POSITION() << " " << "cbUTCTime" << " : An exception occurred in cbUTCTime. Details: "
                      << e.what() << std::endl;
        });
    } catch (...) {
        reportSafely([&] {
            const std::string text = m_name + ": Unknown c++ exception in cbUTCTime";
            SEND_HEALTH_EVENT(HealthReporter::eFault, text);
            std::cout << SOURCE_POSITION() << " " << "cbUTCTime" << text << std::endl;
        });
    }
}

void ZOziDaZodOduzuz::workerThreadFunction()
{
    while (!m_stopWorker) {
        sleepMilliseconds(NavigationIntake::kWorkerPeriodMs);
        try {
            if (m_faultTestEnabled) {
                // Under the data lock: a data-rate command replaces the
                // service handles the fault test works on.
                std::lock_guard<std::mutex> lock(m_dataMutex);
                checkForFaultTestEvents();
            }
            ProcessPosOrDirData();
        } catch (const std::exception& e) {
            reportSafely([&] {
                const std::string text = m_name + ": workerThreadFunction() EXCEPTION: " + e.what();
                SEND_HEALTH_EVENT(HealthReporter::eFault, text);
                std::cout << text << std::endl;
            });
        } catch (...) {
            reportSafely([&] {
                const std::string text = m_name + ": faultTestThreadFunction() EXCEPTION: " + "<unknown>";
                SEND_HEALTH_EVENT(HealthReporter::eFault, text);
                std::cout << text << std::endl;
            });
        }
    }
}

bool ZOziDaZodOduzuz::ProcessPosOrDirData()
{
    std::lock_guard<std::mutex> lock(m_dataMutex);
    if (!m_pvaReceived || !m_utcReceived) {
        return false;
    }
    const double dt = std::fabs(ASPN2::deltaTov(m_pva.header(), m_utc.header()));
    if (m_debug) {
        std::cout << m_name << ": " << "ProcessPosOrDirData" << ": Messages received: " << std::endl;
        std::cout << m_name << ": " << "ProcessPosOrDirData" << ": PVA & UTC Time            deltaTov: " << dt
                  << std::endl;
    }
    if (!NavigationIntake::isPairable(dt)) {
        // Both kept: a newer message of either kind may narrow the gap.
        return false;
    }
    if (m_processPosition) {
        PublishPosition();
    }
    if (m_processOrientation) {
        PublishOrientation();
    }
    if (m_processDirectionOfTravel) {
        PublishDirectionOfTravel();
    }
    m_utcReceived = false;
    m_pvaReceived = false;
    return true;
}
