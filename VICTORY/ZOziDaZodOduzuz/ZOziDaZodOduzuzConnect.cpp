// Connection of the configured server to its frameworks: the transport and
// its connections, the I/O service and the FPGA, the health and maintenance
// reporters, the identity reports, the standard output redirection and the
// VICTORY services; and the way back.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/HealthReporter.h"
#include "FACE/CV_Config.h"
#include "PCSMaintReporter/PCSMaintReporter.h"
#include "VICTORY/ZOziDaZodOduzuz/ConfigCheck.h"
#include "VICTORY/ZOziDaZodOduzuz/SecurityDomainCheck.h"
#include "VICTORY/ZOziDaZodOduzuz/SourcePosition.h"
#include "VICTORY/ZOziDaZodOduzuz/Version.h"
#include "platform/FPGA.h"

#include <exception>
#include <functional>
#include <iostream>
#include <string>

namespace {

using FACE::RETURN_CODE_TYPE::Value;

// Identity and version reports.
constexpr const char* kIdentityPrefix = "//aspn://Keystel/";
constexpr const char* kReleaseTimeStamp = ServerVersion::kReleaseTimeStamp;
constexpr const char* kPartNumber = ServerVersion::kPartNumber;
constexpr const char* kPartNumberLabel = " CPN: ";
constexpr const char* kBannerNotice = "PNT position server: VICTORY Position, Orientation and Direction of Travel";

// Marker of the fault texts that the VICTORY services library writes when
// it rejects a management request.
constexpr const char* kSoapSenderFault = "SOAP 1.2 fault SOAP-ENV:Sender";

// A typed transport over `tss`; false when the transport refuses it.
template <typename T>
bool makeTypedTransport(std::shared_ptr<FACE::TSS::Details::CV_TypedTS<T>>& typed,
                        const std::shared_ptr<FACE::TSS::CV_TSS>& tss)
{
    typed = std::make_shared<FACE::TSS::Details::CV_TypedTS<T>>();
    Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    typed->Set_Reference("", tss, 0, rc);
    return rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
}

}  // namespace

void ZOziDaZodOduzuz::Framework_Connect(FACE::String const& /*configFile*/, FACE::RETURN_CODE_TYPE::Value& rc)
{
    bool good = true;
    const std::string prefix = m_name + ": Framework_Connect: ";
    const auto fileName = [](const FACE::String& s) {
        return s.buffer() == nullptr ? std::string() : std::string(s.buffer(), s.length());
    };

    // What is wrong with the connections file, and where. The steps below
    // decide the outcome, except for the values the server refuses (a
    // domain whose ports Fast DDS cannot compute, histories beyond the
    // machine's memory): those keep the transport from being made at all.
    bool transportSafe = true;
    {
        ServerConfigCheck::Diagnostics diagnostics;
        const std::string file = fileName(m_connectionsFile);
        const ServerConfigCheck::Transport transport = ServerConfigCheck::checkConnections(file, diagnostics);
        ServerConfigCheck::checkTcpPortFree(file, transport, diagnostics);
        ServerConfigCheck::checkSecurityDomains(file, diagnostics);
        diagnostics.print(std::cout, prefix);
        transportSafe = !transport.refused;
        good = transportSafe;
    }

    // Transport, connections, typed transports and callbacks; a failure
    // skips the rest of them.
    const auto connectTransport = [&] {
        auto tssConfig = std::make_shared<FACE::CV_Config>();
        m_tss = std::make_shared<FACE::TSS::CV_TSS>(m_name);
        Value status = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_tss->Set_Reference("", tssConfig, 0, status);
        if (status == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            m_tss->Initialize(m_connectionsFile, status);
        }
        if (status != FACE::RETURN_CODE_TYPE::NO_ERROR) {
            good = false;
            return;
        }

        const std::pair<const char*, long long*> connections[] = {
            {"Command", &m_cmdConnectionId},     {"Response", &m_responseConnectionId},
            {"PositionVelocityAttitude", &m_pvaConnectionId}, {"EventLog", &m_eventLogConnectionId},
            {"UTCTime", &m_utcConnectionId},     {"MaintenanceEvent", &m_maintConnectionId},
        };
        bool allConnections = true;
        for (const auto& [name, id] : connections) {
            int unused = 0;
            m_tss->Create_Connection(name, -1, *id, unused, status);
            allConnections = allConnections && status == FACE::RETURN_CODE_TYPE::NO_ERROR;
        }
        if (!allConnections) {
            good = false;
            return;
        }

        bool allTyped = makeTypedTransport(m_cmdTS, m_tss);
        allTyped = makeTypedTransport(m_pvaTS, m_tss) && allTyped;
        allTyped = makeTypedTransport(m_eventLogTS, m_tss) && allTyped;
        allTyped = makeTypedTransport(m_utcTS, m_tss) && allTyped;
        allTyped = makeTypedTransport(m_maintTS, m_tss) && allTyped;
        if (!allTyped) {
            good = false;
            return;
        }

        const auto registered = [&](Value code) { good = good && code == FACE::RETURN_CODE_TYPE::NO_ERROR; };
        using std::placeholders::_3;
        m_cmdTS->Register_Callback(m_cmdConnectionId, std::bind(&ZOziDaZodOduzuz::cbCmd, this, _3), status);
        registered(status);
        m_cmdTS->Register_Sender(m_responseConnectionId, status);
        registered(status);
        m_pvaTS->Register_Callback(m_pvaConnectionId, std::bind(&ZOziDaZodOduzuz::cbPVA, this, _3), status);
        registered(status);
        m_utcTS->Register_Callback(m_utcConnectionId, std::bind(&ZOziDaZodOduzuz::cbUTCTime, this, _3), status);
        registered(status);
    };
    try {
        if (transportSafe) {
            connectTransport();
        }
    } catch (const std::exception& e) {
        std::cout << m_name << ": Framework_Connect: " << e.what() << std::endl;
        good = false;
    }

    // The I/O service over the devices file.
    {
        ServerConfigCheck::Diagnostics diagnostics;
        ServerConfigCheck::checkDevices(fileName(m_ioDevicesFile), diagnostics);
        diagnostics.print(std::cout, prefix);
    }
    {
        auto devicesConfig = std::make_shared<FACE::CV_Config>();
        m_devmem = std::make_shared<FACE::IOSS::CV_Devmem>();
        Value status = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        m_devmem->Set_Reference("", devicesConfig, 0, status);
        if (status == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            m_devmem->Initialize(m_ioDevicesFile, status);
        }
        if (status != FACE::RETURN_CODE_TYPE::NO_ERROR) {
            good = false;
        }
    }

    // Identity, FPGA, reporters: only on top of a working transport and
    // I/O service.
    if (good) {
        try {
            m_deviceIdFactory.reset(m_systemName.buffer(), m_serverId);
            m_cmdResponse.reset(m_deviceIdFactory);
            FpgaFace::Instance().InitFpga(m_devmem);
            HealthReporter::Instance().InitHealthReporter(m_name, m_deviceIdFactory, m_eventLogTS,
                                                          m_eventLogConnectionId);
            PCSMaintReporter::Instance().InitMaintReporter(m_name, m_deviceIdFactory, m_maintTS, m_maintConnectionId);

            HealthReporter::Instance().SendConfigEvent(std::string(kIdentityPrefix) + m_name + ":" +
                                                       kReleaseTimeStamp + "/");
            const std::string banner = m_name + kPartNumberLabel + kPartNumber + "  " + kBannerNotice;
            std::cout << banner << std::endl;
            HealthReporter::Instance().SendConfigEvent(banner);
        } catch (const std::exception& e) {
            // The FPGA and reporter checks print their own failure line.
            std::cout << m_name << ": Framework_Connect: " << e.what() << std::endl;
            good = false;
        }
    }

    // What the VICTORY services library writes to stdout reaches the
    // maintenance log (SOAP faults) or the console (everything else).
    m_outputRedirector.redirect([this](const char* text, unsigned length) { return logMaintenanceEvent(text, length); });

    bool servicesUp = true;
    {
        // The texts go to the library as they are; these lines only say in
        // advance what is odd about them.
        ServerConfigCheck::Diagnostics diagnostics;
        ServerConfigCheck::checkVictoryFiles(m_processPosition, m_processOrientation, m_processDirectionOfTravel,
                                             diagnostics);
        diagnostics.print(std::cout, prefix);
    }
    if (m_processPosition) {
        servicesUp = InitializeVictoryPosition(nullptr) && servicesUp;
    }
    if (m_processOrientation) {
        servicesUp = InitializeVictoryOrientation(nullptr) && servicesUp;
    }
    if (m_processDirectionOfTravel) {
        servicesUp = InitializeVictoryDirectionOfTravel(nullptr) && servicesUp;
    }
    m_faultHelper.SetAvailableService(m_positionService);
    m_faultHelper.SetAvailableService(m_orientationService);
    m_faultHelper.SetAvailableService(m_dotService);

    rc = good && servicesUp ? FACE::RETURN_CODE_TYPE::NO_ERROR : FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
}

void ZOziDaZodOduzuz::Framework_Disconnect(FACE::RETURN_CODE_TYPE::Value& rc)
{
    // Its thread reads the connections this takes down.
    stopStatus();
    HealthReporter::Instance().DoneHealthReporter();
    FpgaFace::Instance().DoneFpga();

    if (m_tss) {
        Value ignored = FACE::RETURN_CODE_TYPE::NO_ERROR;
        for (long long id : {m_cmdConnectionId, m_responseConnectionId, m_pvaConnectionId, m_utcConnectionId,
                             m_eventLogConnectionId}) {
            m_tss->Unregister_Callback(id, ignored);
        }
        for (long long id : {m_cmdConnectionId, m_responseConnectionId, m_pvaConnectionId, m_utcConnectionId,
                             m_eventLogConnectionId, m_maintConnectionId}) {
            m_tss->Unregister_Sender(id, ignored);
        }
        // "MaintenanceEvent" is left to the transport's destruction: the
        // maintenance reporter keeps its typed transport, and the output
        // redirection may still hand it a fault text until the server is
        // destroyed; such a late event then fails cleanly on the removed
        // publisher.
        for (long long id : {m_cmdConnectionId, m_responseConnectionId, m_pvaConnectionId, m_utcConnectionId,
                             m_eventLogConnectionId}) {
            m_tss->Destroy_Connection(id, ignored);
        }
    }

    if (m_processPosition) {
        ShutdownVictoryPosition();
    }
    if (m_processOrientation) {
        ShutdownVictoryOrientation();
    }
    if (m_processDirectionOfTravel) {
        ShutdownVictoryDirectionOfTravel();
    }
    // A sanitize command starts every service, switched on or not; those
    // the configuration switched off go here too rather than stay behind.
    ShutdownVictoryPosition();
    ShutdownVictoryOrientation();
    ShutdownVictoryDirectionOfTravel();
    {
        // The faults went with their services.
        std::lock_guard<std::mutex> lock(m_dataMutex);
        for (int& id : m_navLossFaultIds) {
            id = 0;
        }
    }
    rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
}

int ZOziDaZodOduzuz::logMaintenanceEvent(const char* text, unsigned length)
{
    const std::string message(text != nullptr ? text : "", text != nullptr ? length : 0u);
    if (m_debug) {
        // The text usually ends with its own end of line.
        const std::size_t end = message.find_last_not_of('\n');
        std::cout << SOURCE_POSITION() << " " << "logMaintenanceEvent" << ": " << m_name
                  << " SOAP Error: " << message.substr(0, end == std::string::npos ? 0 : end + 1) << std::endl;
    }
    if (message.find(kSoapSenderFault) == std::string::npos) {
        return 0;
    }
    namespace M = ASPN2::Maintenance;
    PCSMaintReporter::Instance().sendLongDescriptionMultiMaintenanceEvent(
        message, ASPN2::ServerIds::to_string(ASPN2::ServerIds::kZOziDaZodOduzuz), M::Criticality::eWarning,
        M::Outcome::eRequestFailed, ASPN2::ServerIds::kZOziDaZodOduzuz, M::Category::eExternalInterface,
        M::LRU::eNavigationProcessor, M::Component::eNetworkInterface, M::LRU::eNone, M::Component::eNone,
        M::LRU::eNone, M::Component::eNone, M::LRU::eNone, M::Component::eNone, 0, "SOAP");
    return static_cast<int>(length);
}
