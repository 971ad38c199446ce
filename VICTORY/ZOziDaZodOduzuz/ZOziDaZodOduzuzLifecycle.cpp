// The component's state machine and its worker thread's start and stop.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/HealthReporter.h"

#include <chrono>
#include <iostream>

void ZOziDaZodOduzuz::Request_State_Transition(RequestedState requested, FACE::RETURN_CODE_TYPE::Value& rc) {
    using FACE::LCM::Corvane::ReportedState::STARTED;
    using FACE::LCM::Corvane::ReportedState::STOPPED;
    using FACE::LCM::Corvane::RequestedState::START;
    using FACE::LCM::Corvane::RequestedState::STOP;

    if (requested == START && m_state == STOPPED) {
        Start();
        SEND_HEALTH_EVENT(HealthReporter::eStatus, m_name + " started successfully.");
        m_state = STARTED;
        startStatus();
        rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    } else if (requested == STOP && m_state == STARTED) {
        stopStatus();
        Stop();
        SEND_HEALTH_EVENT(HealthReporter::eStatus, m_name + " stopped successfully.");
        m_state = STOPPED;
        rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    } else {
        rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    }
}

void ZOziDaZodOduzuz::Start() {
    Stop();
    {
        // Each run watches its navigation data afresh.
        std::lock_guard<std::mutex> lock(m_dataMutex);
        clearNavigationLossFaults();
        m_lossDetector = NavigationSupervision::LossDetector();
        m_fieldOnsets = NavigationSupervision::FieldOnsets();
        m_workerExceptions = NavigationSupervision::RepeatFilter();
        m_statusRecord.reset(
            std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
        m_statusSchedulingRead = false;
    }
    m_stopWorker = false;
    m_workerThread = std::thread(&ZOziDaZodOduzuz::workerThreadFunction, this);
    if (m_debug) {
        std::cout << m_name << ": "
                  << "Start"
                  << " : worker thread started." << std::endl;
    }
}

void ZOziDaZodOduzuz::Stop() {
    if (!m_workerThread.joinable()) {
        return;
    }
    m_stopWorker = true;
    m_workerThread.join();
    if (m_debug) {
        std::cout << m_name << ": "
                  << "Stop"
                  << " : worker thread stopped." << std::endl;
    }
}
