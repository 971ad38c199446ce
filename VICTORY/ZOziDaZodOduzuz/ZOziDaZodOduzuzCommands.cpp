// Commands addressed to the server, and the change of the VICTORY data rate
// that the sanitize commands make.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/AspnHelper.h"
#include "ASPN/HealthReporter.h"
#include "FACE/CV_TSS.h"
#include "VICTORY/ZOziDaZodOduzuz/CommandTable.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "VICTORY/ZOziDaZodOduzuz/SourcePosition.h"
#include "VICTORY/ZOziDaZodOduzuz/VictoryXmlHelpers.h"

#include <tinyxml2.h>

#include <exception>
#include <iostream>
#include <string>

namespace {

// The VCL text of `vclFile` with the VICTORY_DATA item "updatePeriod" set
// to `period`, printed indented. A file that cannot be loaded gives the
// text of an empty document.
std::string vclWithUpdatePeriod(const char* vclFile, const std::string& period) {
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    doc.LoadFile(corvanePath(vclFile));
    VICTORY::updateConfigItemInVclXml(doc, "VICTORY_DATA", "updatePeriod", period.c_str());
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    return printer.CStr();
}

}  // namespace

void ZOziDaZodOduzuz::cbCmd(const aspn2_msgs::idl::CommandResponse& command) {
    try {
        if (m_state != FACE::LCM::Corvane::ReportedState::STARTED) {
            return;
        }
        const bool isCommand = command.command_response_type() == aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND;
        aspn2_msgs::idl::CommandResponse response;
        const CommandTable::Action action = CommandTable::recognize(isCommand, command.command_response());
        if (CommandTable::changesOutput(action)) {
            // Such a command may silence or re-stamp the output: say who sent it.
            const std::string text =
                m_name + ": " +
                CommandTable::describeCommand(command.command_response(), command.command_identifier(),
                                              command.header().device_id());
            std::cout << text << std::endl;
            SEND_HEALTH_EVENT(HealthReporter::eStatus, text);
        }
        switch (action) {
            case CommandTable::Action::None:
                return;
            case CommandTable::Action::Sanitize:
                m_statusRecord.markSanitized();
                if (!updateVDMdataRate(CommandTable::kSanitizePeriodMs)) {
                    SEND_HEALTH_EVENT(HealthReporter::eFault,
                                      m_name + ": Could not reduce VDM data rates during sanitize operation!");
                }
                return;
            case CommandTable::Action::SetLiveMode:
                ASPN2::TimeCodeHelper::Instance().setLiveMode();
                response = m_cmdResponse.makeResponse(command, true);
                break;
            case CommandTable::Action::SetSimMode:
                ASPN2::TimeCodeHelper::Instance().setSimMode();
                response = m_cmdResponse.makeResponse(command, true);
                break;
            case CommandTable::Action::Ping:
                response = m_cmdResponse.makeResponse(command, m_name);
                break;
        }

        const long long tovSec = response.header().timestamp_valid().sec();
        if (m_debug) {
            std::cout << m_name << ": "
                      << "cbCmd"
                      << ": TOVsec = " << tovSec << ", " << response.command_response() << std::endl;
        }
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        if (m_cmdTS) {
            long long transactionId = 0;
            m_cmdTS->Send_Message(m_responseConnectionId, -1, transactionId, response, rc);
        }
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
            SEND_HEALTH_EVENT(HealthReporter::eFault, m_name + ": Could not publish CommandResponse for TOV = " +
                                                          std::to_string(tovSec) + ", " + response.command_response());
        }
    } catch (const std::exception& e) {
        try {
            SEND_HEALTH_EVENT(HealthReporter::eFault, m_name + ": An exception occurred. Details: " + e.what());
            std::cout << SOURCE_POSITION() << " "
                      << "cbCmd"
                      << " : An exception occurred. Details: " << e.what() << std::endl;
        } catch (...) {
        }
    } catch (...) {
        try {
            const std::string text = m_name + ": Unknown c++ exception in cbCmd";
            SEND_HEALTH_EVENT(HealthReporter::eFault, text);
            std::cout << SOURCE_POSITION() << " "
                      << "cbCmd" << text << std::endl;
        } catch (...) {
        }
    }
}

bool ZOziDaZodOduzuz::updateVDMdataRate(unsigned long period) {
    const std::string text = std::to_string(period);
    std::cout << SOURCE_POSITION() << " "
              << "updateVDMdataRate"
              << " : Updating VDM rate to " << text << " milliseconds." << std::endl;
    if (period < CommandTable::kShortestPeriodMs) {
        return false;
    }

    // The worker publishes through the service handles and the fault test
    // works on them, both under the data lock: hold it while the services
    // are replaced, so that neither meets a deleted handle.
    std::lock_guard<std::mutex> lock(m_dataMutex);

    // All three, whatever the configuration's switches: a switched-off
    // service comes up here too, and Framework_Disconnect takes it down.
    // What loading a file or restarting a service gives is not examined.
    const std::string position = vclWithUpdatePeriod(positionVclFileName, text);
    ShutdownVictoryPosition();
    InitializeVictoryPosition(position.c_str());
    const std::string orientation = vclWithUpdatePeriod(orientationVclFileName, text);
    ShutdownVictoryOrientation();
    InitializeVictoryOrientation(orientation.c_str());
    const std::string dot = vclWithUpdatePeriod(DOTvclFileName, text);
    ShutdownVictoryDirectionOfTravel();
    InitializeVictoryDirectionOfTravel(dot.c_str());
    // The new services start without faults: a loss still going on is
    // flagged on them again.
    if (m_lossDetector.lost()) {
        for (int& id : m_navLossFaultIds) {
            id = 0;
        }
        raiseNavigationLossFaults();
    }
    return true;
}
