// Connection of the configured server to its frameworks and the way back.
// Framework_Connect and Framework_Disconnect only list the subsystems in
// their order; each subsystem's set-up and take-down is its own function
// below (the VICTORY services' in ZOziDaZodOduzuzVictory.cpp).

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

std::string fileName(const FACE::String& s) {
    return s.buffer() == nullptr ? std::string() : std::string(s.buffer(), s.length());
}

// Runs `step` (returning whether it succeeded); an exception it raises is
// printed after `prefix` and counts as failure.
template <typename Step>
bool reportingFailure(const std::string& prefix, Step step) {
    try {
        return step();
    } catch (const std::exception& e) {
        std::cout << prefix << e.what() << std::endl;
        return false;
    }
}

// A typed transport over `tss`; false when the transport refuses it.
template <typename T>
bool makeTypedTransport(std::shared_ptr<FACE::TSS::Details::CV_TypedTS<T>>& typed,
                        const std::shared_ptr<FACE::TSS::CV_TSS>& tss) {
    typed = std::make_shared<FACE::TSS::Details::CV_TypedTS<T>>();
    Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    typed->Set_Reference("", tss, 0, rc);
    return rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
}

}  // namespace

void ZOziDaZodOduzuz::Framework_Connect(FACE::String const& /*configFile*/, FACE::RETURN_CODE_TYPE::Value& rc) {
    const std::string prefix = m_name + ": Framework_Connect: ";
    // Transport and connections, typed transports and registrations: each
    // needs the one before.
    bool good = checkConnectionsFile(prefix) && reportingFailure(prefix, [this] {
                    return createTransport() && createConnections() && createTypedTransports() && registerCallbacks();
                });
    // The devices, whatever became of the transport.
    good = createDevices(prefix) && good;
    // Identity, FPGA and reporters only on top of both.
    good = good && reportingFailure(prefix, [this] {
               resetIdentity();
               FpgaFace::Instance().InitFpga(m_devmem);  // its checks print their own failure line
               startReporters();
               announceIdentity();
               return true;
           });
    // These run whatever happened before.
    redirectOutput();
    const bool servicesUp = startVictoryServices(prefix);
    rc = good && servicesUp ? FACE::RETURN_CODE_TYPE::NO_ERROR : FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
}

void ZOziDaZodOduzuz::Framework_Disconnect(FACE::RETURN_CODE_TYPE::Value& rc) {
    // Its thread reads the connections this takes down.
    stopStatus();
    // Not the reverse of the way up: the services go last, after the
    // connections, and the output redirection, the typed transports, the
    // transport and the devices stay until the server is destroyed.
    HealthReporter::Instance().DoneHealthReporter();
    FpgaFace::Instance().DoneFpga();
    disconnectTransport();
    stopVictoryServices();
    rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
}

// ---- Transport ---------------------------------------------------------------

bool ZOziDaZodOduzuz::checkConnectionsFile(const std::string& prefix) {
    // What is wrong with the connections file, and where. The steps after
    // it decide the outcome, except for the values the server refuses (a
    // domain whose ports Fast DDS cannot compute, histories beyond the
    // machine's memory): those keep the transport from being made at all.
    ServerConfigCheck::Diagnostics diagnostics;
    const std::string file = fileName(m_connectionsFile);
    const ServerConfigCheck::Transport transport = ServerConfigCheck::checkConnections(file, diagnostics);
    ServerConfigCheck::checkTcpPortFree(file, transport, diagnostics);
    ServerConfigCheck::checkSecurityDomains(file, diagnostics);
    diagnostics.print(std::cout, prefix);
    return !transport.refused;
}

bool ZOziDaZodOduzuz::createTransport() {
    auto tssConfig = std::make_shared<FACE::CV_Config>();
    m_tss = std::make_shared<FACE::TSS::CV_TSS>(m_name);
    Value status = FACE::RETURN_CODE_TYPE::NO_ERROR;
    m_tss->Set_Reference("", tssConfig, 0, status);
    if (status == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        m_tss->Initialize(m_connectionsFile, status);
    }
    return status == FACE::RETURN_CODE_TYPE::NO_ERROR;
}

bool ZOziDaZodOduzuz::createConnections() {
    const std::pair<const char*, long long*> connections[] = {
        {"Command", &m_cmdConnectionId},
        {"Response", &m_responseConnectionId},
        {"PositionVelocityAttitude", &m_pvaConnectionId},
        {"EventLog", &m_eventLogConnectionId},
        {"UTCTime", &m_utcConnectionId},
        {"MaintenanceEvent", &m_maintConnectionId},
    };
    bool allConnections = true;
    for (const auto& [name, id] : connections) {
        int unused = 0;
        Value status = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_tss->Create_Connection(name, -1, *id, unused, status);
        allConnections = allConnections && status == FACE::RETURN_CODE_TYPE::NO_ERROR;
    }
    return allConnections;
}

bool ZOziDaZodOduzuz::createTypedTransports() {
    bool allTyped = makeTypedTransport(m_cmdTS, m_tss);
    allTyped = makeTypedTransport(m_pvaTS, m_tss) && allTyped;
    allTyped = makeTypedTransport(m_eventLogTS, m_tss) && allTyped;
    allTyped = makeTypedTransport(m_utcTS, m_tss) && allTyped;
    allTyped = makeTypedTransport(m_maintTS, m_tss) && allTyped;
    return allTyped;
}

bool ZOziDaZodOduzuz::registerCallbacks() {
    // Every registration is made, also after a failed one.
    bool all = true;
    Value status = FACE::RETURN_CODE_TYPE::NO_ERROR;
    const auto registered = [&] { all = all && status == FACE::RETURN_CODE_TYPE::NO_ERROR; };
    using std::placeholders::_3;
    m_cmdTS->Register_Callback(m_cmdConnectionId, std::bind(&ZOziDaZodOduzuz::cbCmd, this, _3), status);
    registered();
    m_cmdTS->Register_Sender(m_responseConnectionId, status);
    registered();
    m_pvaTS->Register_Callback(m_pvaConnectionId, std::bind(&ZOziDaZodOduzuz::cbPVA, this, _3), status);
    registered();
    m_utcTS->Register_Callback(m_utcConnectionId, std::bind(&ZOziDaZodOduzuz::cbUTCTime, this, _3), status);
    registered();
    return all;
}

void ZOziDaZodOduzuz::disconnectTransport() {
    if (!m_tss) {
        return;
    }
    Value ignored = FACE::RETURN_CODE_TYPE::NO_ERROR;
    for (long long id :
         {m_cmdConnectionId, m_responseConnectionId, m_pvaConnectionId, m_utcConnectionId, m_eventLogConnectionId}) {
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
    for (long long id :
         {m_cmdConnectionId, m_responseConnectionId, m_pvaConnectionId, m_utcConnectionId, m_eventLogConnectionId}) {
        m_tss->Destroy_Connection(id, ignored);
    }
}

// ---- Devices -----------------------------------------------------------------

bool ZOziDaZodOduzuz::createDevices(const std::string& prefix) {
    ServerConfigCheck::Diagnostics diagnostics;
    ServerConfigCheck::checkDevices(fileName(m_ioDevicesFile), diagnostics);
    diagnostics.print(std::cout, prefix);

    auto devicesConfig = std::make_shared<FACE::CV_Config>();
    m_devmem = std::make_shared<FACE::IOSS::CV_Devmem>();
    Value status = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    m_devmem->Set_Reference("", devicesConfig, 0, status);
    if (status == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        m_devmem->Initialize(m_ioDevicesFile, status);
    }
    return status == FACE::RETURN_CODE_TYPE::NO_ERROR;
}

// ---- Identity and reporters --------------------------------------------------

void ZOziDaZodOduzuz::resetIdentity() {
    m_deviceIdFactory.reset(m_systemName.buffer(), m_serverId);
    m_cmdResponse.reset(m_deviceIdFactory);
}

void ZOziDaZodOduzuz::startReporters() {
    HealthReporter::Instance().InitHealthReporter(m_name, m_deviceIdFactory, m_eventLogTS, m_eventLogConnectionId);
    PCSMaintReporter::Instance().InitMaintReporter(m_name, m_deviceIdFactory, m_maintTS, m_maintConnectionId);
}

void ZOziDaZodOduzuz::announceIdentity() {
    HealthReporter::Instance().SendConfigEvent(std::string(kIdentityPrefix) + m_name + ":" + kReleaseTimeStamp + "/");
    const std::string banner = m_name + kPartNumberLabel + kPartNumber + "  " + kBannerNotice;
    std::cout << banner << std::endl;
    HealthReporter::Instance().SendConfigEvent(banner);
}

// ---- Output redirection ------------------------------------------------------

void ZOziDaZodOduzuz::redirectOutput() {
    // What the VICTORY services library writes to stdout reaches the
    // maintenance log (SOAP faults) or the console (everything else).
    m_outputRedirector.redirect(
        [this](const char* text, unsigned length) { return logMaintenanceEvent(text, length); });
}

int ZOziDaZodOduzuz::logMaintenanceEvent(const char* text, unsigned length) {
    const std::string message(text != nullptr ? text : "", text != nullptr ? length : 0u);
    if (m_debug) {
        // The text usually ends with its own end of line.
        const std::size_t end = message.find_last_not_of('\n');
        std::cout << SOURCE_POSITION() << " "
                  << "logMaintenanceEvent"
                  << ": " << m_name << " SOAP Error: " << message.substr(0, end == std::string::npos ? 0 : end + 1)
                  << std::endl;
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
