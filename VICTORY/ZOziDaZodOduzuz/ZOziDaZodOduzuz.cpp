#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "VICTORY/ZOziDaZodOduzuz/StatusServer.h"

#include <GeographicLib/GeoCoords.hpp>
#include <GeographicLib/Geoid.hpp>

namespace {

constexpr std::uint8_t kServerId = ASPN2::ServerIds::kZOziDaZodOduzuz;
constexpr std::uint8_t kDefaultNavigatorServerId = ASPN2::ServerIds::kFusionNavigator;

}  // namespace

ZOziDaZodOduzuz::ZOziDaZodOduzuz()
    : m_serverId(kServerId),
      m_name(ASPN2::ServerIds::to_string(m_serverId)),
      m_geoidModel(),
      m_debug(false),
      m_utcSourceNavigatorServerId(kDefaultNavigatorServerId),
      m_pvaSourceNavigatorServerId(kDefaultNavigatorServerId),
      m_processPosition(true),
      m_processOrientation(true),
      m_processDirectionOfTravel(true),
      m_faultTestEnabled(false),
      m_tellDisabled(false),
      m_state(FACE::LCM::Corvane::ReportedState::STOPPED),
      m_systemName(),
      m_configurationName(),
      m_connectionsFile(),
      m_ioDevicesFile(),
      m_deviceIdFactory(),
      m_cmdResponse(),
      m_dataMutex(),
      m_pvaReceived(false),
      m_pva(),
      m_utcReceived(false),
      m_utc(),
      m_positionInitialized(false),
      m_orientationInitialized(false),
      m_dotInitialized(false),
      m_workerThread(),
      m_stopWorker(false),
      m_cmdConnectionId(-1),
      m_responseConnectionId(-1),
      m_pvaConnectionId(-1),
      m_utcConnectionId(-1),
      m_eventLogConnectionId(-1),
      m_maintConnectionId(-1),
      m_tss(),
      m_cmdTS(),
      m_pvaTS(),
      m_eventLogTS(),
      m_utcTS(),
      m_maintTS(),
      m_devmem(),
      m_positionService(nullptr),
      m_orientationService(nullptr),
      m_dotService(nullptr),
      m_faultHelper(m_name),
      m_geoid(),
      m_geoCoords(),
      m_positionUpdatePeriod(1.0),
      m_outputRedirector() {}

ZOziDaZodOduzuz::~ZOziDaZodOduzuz() {
    stopStatus();
    // Destroying a joinable thread would end the process; a server destroyed
    // without STOP still shuts its worker down in order.
    if (m_workerThread.joinable()) {
        m_stopWorker = true;
        m_workerThread.join();
    }
    // A transport still connected (no Framework_Disconnect) may be kept
    // alive by a reporter that shares it: its subscriptions must not call
    // into a destroyed server.
    if (m_tss) {
        FACE::RETURN_CODE_TYPE::Value ignored = FACE::RETURN_CODE_TYPE::NO_ERROR;
        for (long long id : {m_cmdConnectionId, m_pvaConnectionId, m_utcConnectionId}) {
            m_tss->Unregister_Callback(id, ignored);
        }
    }
    // Services still running (no Framework_Disconnect) are deleted, so that
    // no library thread outlives the server.
    ShutdownVictoryPosition();
    ShutdownVictoryOrientation();
    ShutdownVictoryDirectionOfTravel();
}

void ZOziDaZodOduzuz::Initialize(FACE::RETURN_CODE_TYPE::Value& rc) { rc = FACE::RETURN_CODE_TYPE::NO_ACTION; }

void ZOziDaZodOduzuz::Finalize(FACE::RETURN_CODE_TYPE::Value& rc) { rc = FACE::RETURN_CODE_TYPE::NO_ACTION; }

void ZOziDaZodOduzuz::Query_State(ReportedState& state, FACE::RETURN_CODE_TYPE::Value& rc) {
    state = m_state;
    rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
}

void ZOziDaZodOduzuz::checkForFaultTestEvents() {
    bool tellDisabled = m_tellDisabled;
    m_faultHelper.ManageFaults(tellDisabled);
    m_tellDisabled = tellDisabled;
}
