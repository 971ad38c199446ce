// Navigation data intake: the PVA and UTC time callbacks store the latest
// accepted message of each kind; every 250 ms the worker publishes the pair
// when their times of validity lie close enough together, and watches
// whether pairs keep coming.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/AspnHelper.h"
#include "ASPN/HealthReporter.h"
#include "FACE/DatagramGuardStatus.h"
#include "VICTORY/ZOziDaZodOduzuz/NavigationIntake.h"
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"
#include "platform/ServiceManagerNotifier.h"
#include "VICTORY/ZOziDaZodOduzuz/SourcePosition.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

// Runs `report` and swallows whatever it throws (e.g. std::bad_alloc while
// building an event text): a report must never take its thread down.
template <typename Report>
void reportSafely(Report report) noexcept {
    try {
        report();
    } catch (...) {
    }
}

// Time of validity of a header, seconds.
double tovSeconds(const aspn2_msgs::idl::header& h) {
    return static_cast<double>(h.timestamp_valid().sec()) + 1e-9 * static_cast<double>(h.timestamp_valid().nsec());
}

}  // namespace

void ZOziDaZodOduzuz::cbPVA(const aspn2_msgs::idl::PositionVelocityAttitude& msg) {
    try {
        if (m_state != FACE::LCM::Corvane::ReportedState::STARTED) {
            return;
        }
        const std::uint8_t source = NavigationIntake::sourceServerId(msg.header().device_id());
        if (!NavigationIntake::acceptsSource(m_pvaSourceNavigatorServerId, source)) {
            m_pvaFilteredSource = source;
            m_statusRecord.countFilteredPva(source);
            return;
        }
        m_statusRecord.countPva();
        {
            std::lock_guard<std::mutex> lock(m_dataMutex);
            m_pvaReceived = true;
            m_pva = msg;
            m_lastPvaTov = tovSeconds(msg.header());
        }
        if (m_debug) {
            std::cout << m_name << ": "
                      << "cbPVA"
                      << " : Processing Position Velocity Attitude message received from "
                      << NavigationIntake::sourceName(source) << ", server ID = " << static_cast<unsigned>(source)
                      << std::endl;
        }
    } catch (const std::exception& e) {
        reportSafely([&] {
            SEND_HEALTH_EVENT(HealthReporter::eFault, e.what());
            std::cout << SOURCE_POSITION() << " "
                      << "cbPVA"
                      << " : An exception occurred. Details: " << e.what() << std::endl;
        });
    } catch (...) {
        reportSafely([&] {
            const std::string text = m_name + ": Unknown c++ exception in cbPVA";
            SEND_HEALTH_EVENT(HealthReporter::eFault, text);
            std::cout << SOURCE_POSITION() << " "
                      << "cbPVA" << text << std::endl;
        });
    }
}

void ZOziDaZodOduzuz::cbUTCTime(const aspn2_msgs::idl::UTCTime& msg) {
    try {
        if (m_state != FACE::LCM::Corvane::ReportedState::STARTED) {
            return;
        }
        const std::uint8_t source = NavigationIntake::sourceServerId(msg.header().device_id());
        if (!NavigationIntake::acceptsSource(m_utcSourceNavigatorServerId, source)) {
            m_utcFilteredSource = source;
            m_statusRecord.countFilteredUtc(source);
            return;
        }
        m_statusRecord.countUtc();
        {
            std::lock_guard<std::mutex> lock(m_dataMutex);
            m_utcReceived = true;
            m_utc = msg;
            m_lastUtcTov = tovSeconds(msg.header());
        }
        if (m_debug) {
            std::cout << m_name << ": "
                      << "cbUTCTime"
                      << " : Processing UTC Time message received from " << NavigationIntake::sourceName(source)
                      << ", server ID = " << static_cast<unsigned>(source) << std::endl;
        }
    } catch (const std::exception& e) {
        reportSafely([&] {
            SEND_HEALTH_EVENT(HealthReporter::eFault, m_name + ": An exception occurred. Details: " + e.what());
            std::cout << SOURCE_POSITION() << " "
                      << "cbUTCTime"
                      << " : An exception occurred in cbUTCTime. Details: " << e.what() << std::endl;
        });
    } catch (...) {
        reportSafely([&] {
            const std::string text = m_name + ": Unknown c++ exception in cbUTCTime";
            SEND_HEALTH_EVENT(HealthReporter::eFault, text);
            std::cout << SOURCE_POSITION() << " "
                      << "cbUTCTime" << text << std::endl;
        });
    }
}

void ZOziDaZodOduzuz::workerThreadFunction() {
    while (!m_stopWorker) {
        sleepMilliseconds(NavigationIntake::kWorkerPeriodMs);
        bool published = false;
        bool threw = false;
        std::string what;
        std::string text;
        try {
            if (m_faultTestEnabled) {
                // Under the data lock: a data-rate command replaces the
                // service handles the fault test works on.
                std::lock_guard<std::mutex> lock(m_dataMutex);
                checkForFaultTestEvents();
            }
            published = ProcessPosOrDirData();
        } catch (const std::exception& e) {
            threw = true;
            reportSafely([&] {
                what = e.what();
                text = m_name + ": workerThreadFunction() EXCEPTION: " + what;
            });
        } catch (...) {
            threw = true;
            reportSafely([&] {
                what = "<unknown>";
                text = m_name + ": faultTestThreadFunction() EXCEPTION: " + what;
            });
        }
        // A cycle with no new pair neither continues nor ends a run of
        // exceptions: with a navigator slower than the worker, every other
        // cycle may be idle.
        if (threw || published) {
            reportSafely([&] { reportWorkerException(threw ? &text : nullptr); });
        }
        if (threw) {
            // The cycle published nothing: the loss, if it comes, says why.
            reportSafely([&] {
                std::lock_guard<std::mutex> lock(m_dataMutex);
                m_gap.rejected = what.empty() ? "<unknown>" : what;
            });
        }
        reportSafely([&] { superviseNavigation(published); });
        reportSafely([&] { superviseReceiving(); });
        recordStatusCycle(published);
        // Only a worker that completes its cycles, while no receive thread
        // is stuck in the library, keeps the service manager's watchdog
        // from restarting the server.
        if (!m_receiveStalls.stalled()) {
            ServiceManagerNotifier::instance().keepAlive();
        }
    }
}

void ZOziDaZodOduzuz::superviseReceiving() {
    using Event = ReceiveSupervision::StallDetector::Event;
    FACE::TSS::DatagramGuard::DropCounters::instance().flush();
    const std::optional<FACE::TSS::DatagramGuard::InProgress> oldest = FACE::TSS::DatagramGuard::oldestReceive();
    switch (m_receiveStalls.observe(oldest)) {
        case Event::None:
            return;
        case Event::Stalled: {
            const std::string text = ReceiveSupervision::stallText(*oldest);
            std::cout << m_name << ": warning: " << text << std::endl;
            SEND_HEALTH_EVENT(HealthReporter::eFault, m_name + ": " + text);
            ServiceManagerNotifier::instance().status(text);
            return;
        }
        case Event::Resumed: {
            const std::string text = ReceiveSupervision::resumedText();
            std::cout << m_name << ": " << text << std::endl;
            SEND_HEALTH_EVENT(HealthReporter::eStatus, m_name + ": " + text);
            ServiceManagerNotifier::instance().status("started, serving");
            return;
        }
    }
}

void ZOziDaZodOduzuz::reportWorkerException(const std::string* text) {
    const std::uint64_t run = m_workerExceptions.runLength();
    m_workerExceptions.observe(text != nullptr);
    if (text == nullptr) {
        if (run > 1) {
            std::cout << m_name << ": workerThreadFunction() exceptions stopped after " << run << " cycles ("
                      << m_workerExceptions.occurrences() << " in all)" << std::endl;
        }
        return;
    }
    // Every failing cycle: the pair stays stored and is tried again.
    SEND_HEALTH_EVENT(HealthReporter::eFault, *text);
    std::cout << *text << std::endl;
}

std::string ZOziDaZodOduzuz::navigationSourceName() const {
    const auto name = [](std::uint8_t id) {
        return id == NavigationIntake::kAnySource ? std::string("any source") : NavigationIntake::sourceName(id);
    };
    if (m_pvaSourceNavigatorServerId == m_utcSourceNavigatorServerId) {
        return name(m_pvaSourceNavigatorServerId);
    }
    return name(m_pvaSourceNavigatorServerId) + " (PVA) and " + name(m_utcSourceNavigatorServerId) + " (UTC)";
}

void ZOziDaZodOduzuz::superviseNavigation(bool published) {
    using Event = NavigationSupervision::LossDetector::Event;
    std::lock_guard<std::mutex> lock(m_dataMutex);
    switch (m_lossDetector.observe(published)) {
        case Event::None:
            return;
        case Event::Waiting: {
            const std::string text = m_name + ": waiting for navigation data from " + navigationSourceName();
            std::cout << text << std::endl;
            SEND_HEALTH_EVENT(HealthReporter::eStatus, text);
            return;
        }
        case Event::Lost: {
            raiseNavigationLossFaults();
            const std::string text =
                m_name + ": " + NavigationSupervision::kLossFaultText + ": no pair published for " +
                std::to_string(NavigationSupervision::kLossCycles * NavigationIntake::kWorkerPeriodMs / 1000) +
                " s: " + NavigationSupervision::describe(m_gap);
            std::cout << text << std::endl;
            SEND_HEALTH_EVENT(HealthReporter::eFault, text);
            return;
        }
        case Event::Recovered: {
            clearNavigationLossFaults();
            const std::string text = m_name + ": navigation data restored: pairs published again";
            std::cout << text << std::endl;
            SEND_HEALTH_EVENT(HealthReporter::eStatus, text);
            return;
        }
    }
}

void ZOziDaZodOduzuz::raiseNavigationLossFaults() {
    for (int i = 0; i < 3; ++i) {
        if (m_navLossFaultIds[i] == 0) {
            // Not the fault test's category (22): a consumer that hides
            // test faults must still see that the data stopped.
            m_navLossFaultIds[i] = m_faultHelper.raiseFault(i + 1, NavigationSupervision::kLossFaultText, false,
                                                            VHLTHC_SEVERITY_ERROR, VHLTHC_CATEGORY_UNSPECIFIED);
        }
    }
}

void ZOziDaZodOduzuz::clearNavigationLossFaults() {
    for (int i = 0; i < 3; ++i) {
        m_faultHelper.clearFault(i + 1, m_navLossFaultIds[i]);
        m_navLossFaultIds[i] = 0;
    }
}

bool ZOziDaZodOduzuz::ProcessPosOrDirData() {
    std::lock_guard<std::mutex> lock(m_dataMutex);
    m_gap = NavigationSupervision::Gap();
    m_gap.pvaMissing = !m_pvaReceived;
    m_gap.utcMissing = !m_utcReceived;
    m_gap.pvaFilteredSource = m_pvaFilteredSource.exchange(-1);
    m_gap.utcFilteredSource = m_utcFilteredSource.exchange(-1);
    m_gap.acceptedPvaSource = m_pvaSourceNavigatorServerId;
    m_gap.acceptedUtcSource = m_utcSourceNavigatorServerId;
    m_gap.lastPvaTov = m_lastPvaTov;
    m_gap.lastUtcTov = m_lastUtcTov;
    m_cycleDeltaTov = std::numeric_limits<double>::quiet_NaN();
    if (!m_pvaReceived || !m_utcReceived) {
        return false;
    }
    const double dt = std::fabs(ASPN2::deltaTov(m_pva.header(), m_utc.header()));
    m_cycleDeltaTov = dt;
    if (m_debug) {
        std::cout << m_name << ": "
                  << "ProcessPosOrDirData"
                  << ": Messages received: " << std::endl;
        std::cout << m_name << ": "
                  << "ProcessPosOrDirData"
                  << ": PVA & UTC Time            deltaTov: " << dt << std::endl;
    }
    if (!NavigationIntake::isPairable(dt)) {
        // Both kept: a newer message of either kind may narrow the gap.
        m_gap.deltaTov = std::isnan(dt) ? std::numeric_limits<double>::infinity() : dt;
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
    // Cleared only once the pair is told: a pair whose publication raised
    // stays stored, and the next cycle tries it again (or a newer one).
    m_utcReceived = false;
    m_pvaReceived = false;

    // A value passed on although it is not finite is said once per onset.
    std::vector<std::string> bad = NavigationSupervision::nonFiniteFields(m_pva);
    if (!m_processPosition) {
        bad.erase(std::remove_if(bad.begin(), bad.end(),
                                 [](const std::string& f) { return f == "latitude" || f == "longitude"; }),
                  bad.end());
    }
    const std::vector<std::string> fresh = m_fieldOnsets.observe(bad);
    if (!fresh.empty()) {
        const std::string text = m_name + ": navigation solution with non-finite " +
                                 NavigationSupervision::joinNames(fresh) + " (told as received)";
        SEND_HEALTH_EVENT(HealthReporter::eFault, text);
        std::cout << text << std::endl;
    }
    return true;
}
