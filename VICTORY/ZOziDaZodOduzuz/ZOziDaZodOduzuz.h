#ifndef VICTORY_ZOZIDAZODODUZUZ_ZOZIDAZODODUZUZ_H
#define VICTORY_ZOZIDAZODODUZUZ_ZOZIDAZODODUZUZ_H

// The server component: takes the fusion navigator's solution
// (PositionVelocityAttitude and UTCTime messages), pairs the two when their
// times of validity lie less than 0.6 s apart, and serves the result as the
// VICTORY Position, Orientation and Direction of Travel services. It also
// answers the few commands addressed to it and offers a keyboard fault test
// mode for the VICTORY services.
//
// Life cycle, driven by the process entry on its main thread: construct,
// Initialize, Configure, Framework_Connect, Request_State_Transition(START),
// ... Request_State_Transition(STOP), Framework_Disconnect, Finalize,
// destroy. Every operation reports through its return code argument and
// does not throw. Threads: the main thread (life cycle), the worker thread
// (pairing and publication, fault test keys), and the transport's listener
// threads (cbPVA, cbUTCTime, cbCmd). m_dataMutex, the outermost lock,
// guards the stored messages and the VICTORY service handles: it is held
// across publication, across the fault test step and while a data-rate
// command replaces the services (health events may be sent inside it). The
// state, the worker stop flag and the tell-disable flag are atomic.

#include "ASPN/AspnCmdResponse.h"
#include "ASPN/AspnDeviceIds.h"
#include "FACE/CV_Devmem.h"
#include "FACE/CV_TSS.h"
#include "FACE/FACE_Common.h"
#include "FACE/LCM.h"
#include "VICTORY/ZOziDaZodOduzuz/NavigationSupervision.h"
#include "VICTORY/ZOziDaZodOduzuz/OutputRedirector.h"
#include "VICTORY/ZOziDaZodOduzuz/ReceiveSupervision.h"
#include "VICTORY/ZOziDaZodOduzuz/StatusRecord.h"
#include "VICTORY/ZOziDaZodOduzuz/VictoryFaultHelper.h"
#include "aspn2_msgs/CommandResponse.h"
#include "aspn2_msgs/EventLog.h"
#include "aspn2_msgs/MaintenanceEvent.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "platform/victory/victory.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace GeographicLib {
class Geoid;
class GeoCoords;
}  // namespace GeographicLib

class StatusServer;

class ZOziDaZodOduzuz : public FACE::LCM::Initializable::InitializableInstance,
                        public FACE::LCM::Configurable::ConfigurableInstance,
                        public FACE::LCM::Connectable::ConnectableInstance,
                        public FACE::LCM::Corvane::RequestedState_ReportedState::Stateful::StatefulInstance {
public:
    using RequestedState = FACE::LCM::Corvane::RequestedState::Value;
    using ReportedState = FACE::LCM::Corvane::ReportedState::Value;

    /// Server id 45, name "ZOziDaZodOduzuz", state STOPPED, every service
    /// switch on, fault test and debug output off, nothing connected.
    ZOziDaZodOduzuz();

    /// Releases the members in the reverse of their declaration order: the
    /// output redirection first (the saved standard streams come back), the
    /// geoid, the fault test helper, the services and transports, the stored
    /// messages and the texts. The server should be stopped and disconnected
    /// before; a worker thread still running is stopped and joined here, the
    /// subscriptions of a transport still connected are removed, and VICTORY
    /// services still running are shut down (with their events).
    ~ZOziDaZodOduzuz() override;

    ZOziDaZodOduzuz(const ZOziDaZodOduzuz&) = delete;
    ZOziDaZodOduzuz& operator=(const ZOziDaZodOduzuz&) = delete;

    /// Nothing to do: rc = NO_ACTION.
    void Initialize(FACE::RETURN_CODE_TYPE::Value& rc) override;
    /// Nothing to do: rc = NO_ACTION.
    void Finalize(FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Reads the server's settings from the top-level configuration file,
    /// loads the geoid, applies process priority and processor affinity.
    /// rc = NO_ERROR, or INVALID_CONFIG when a step failed; a geoid that
    /// cannot be loaded is one such step, reported as
    /// "<name>: Configure: cannot load geoid model '<model>' from <dir>: <reason>".
    void Configure(FACE::String const& configFile, FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Creates the transport, connections, I/O service, FPGA access,
    /// reporters, identity reports, the standard output redirection and the
    /// enabled VICTORY services (those even when an earlier step failed).
    /// `configFile` is not used. rc = NO_ERROR or INVALID_CONFIG; a failure
    /// raised by a step (e.g. the FPGA's clock check) is printed and turned
    /// into INVALID_CONFIG.
    void Framework_Connect(FACE::String const& configFile, FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Stops the health publisher and the FPGA access, removes the
    /// subscriptions and publishers and takes the VICTORY services down. The
    /// "MaintenanceEvent" connection stays until the transport goes: the
    /// maintenance reporter keeps its typed transport. rc = NO_ERROR.
    void Framework_Disconnect(FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// state = the current state; rc = NO_ERROR.
    void Query_State(ReportedState& state, FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// START from STOPPED starts the worker, STOP from STARTED stops it (rc
    /// = NO_ERROR); any other request changes nothing (rc = NOT_AVAILABLE).
    void Request_State_Transition(RequestedState requested, FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// One step of the keyboard fault test: handles at most one waiting key
    /// (never waits) and may switch the VICTORY output off or on. Runs on
    /// the worker thread when the fault test is enabled, with m_dataMutex
    /// held.
    virtual void checkForFaultTestEvents();

private:
    // Tests reach the internals through this class, which only test code
    // defines.
    friend class ZOziDaZodOduzuzTestAccess;

    // ---- Worker ------------------------------------------------------------

    // Starts the worker thread (stopping a running one first).
    void Start();
    // Stops and joins the worker thread; nothing when none runs.
    void Stop();
    // Body of the worker thread: every 250 ms the fault test step (when
    // enabled), then ProcessPosOrDirData, then the supervision of the
    // navigation data and of the DDS receive threads; an exception is
    // reported in every cycle that raises one, and the loop goes on until
    // m_stopWorker is set. It feeds the service manager's watchdog while no
    // receive thread is stalled.
    void workerThreadFunction();
    // Publishes the stored PVA / UTC pair when their times of validity lie
    // less than 0.6 s apart; true when it published. The stored messages
    // are consumed only after the publications: what a publication raises
    // (the geodesy of a usable solution whose latitude is not a latitude)
    // propagates, and the pair is tried again the next cycle. A non-finite
    // value that was told (a latitude or longitude only when Position is
    // on) is reported by one fault event when it first appears. Leaves why
    // no pair was published in m_gap.
    bool ProcessPosOrDirData();

    // ---- Supervision of the navigation data (worker thread) ----------------

    // One worker cycle of the loss detector: the "waiting" notice, the loss
    // (faults on the services and a fault event saying why) and the return
    // (faults removed and a status event). Takes m_dataMutex.
    void superviseNavigation(bool published);
    // One worker cycle of the receive supervision: the datagram guard's
    // pending drop report, then whether a DDS receive thread has been inside
    // the library longer than ReceiveSupervision::kStallBound. At the stall:
    // a console warning, a fault event and the service manager's status
    // line; when it ends: a console line, a status event and the status
    // line.
    void superviseReceiving();
    // One worker cycle of the exception report: `text` is the report of the
    // cycle's exception, or null for a cycle that published. Each report
    // goes out as a fault event and a console line; a console line with the
    // count says when a run of them ends.
    void reportWorkerException(const std::string* text);
    // Raise / clear the "navigation data lost" fault on each running
    // service (m_dataMutex held).
    void raiseNavigationLossFaults();
    void clearNavigationLossFaults();
    // "FusionNavigator", "any source", or both sources when PVA and UTC
    // come from different settings.
    std::string navigationSourceName() const;

    // ---- Status socket (ZOziDaZodOduzuzStatus.cpp) --------------------------

    // Starts the status socket's thread (after START) / stops and joins it
    // (before the worker stops; idempotent).
    void startStatus();
    void stopStatus();
    // The worker's cycle into the status record; takes m_dataMutex.
    void recordStatusCycle(bool published);
    // On the status thread: the socket's answer, and the service manager's
    // status line once a second.
    std::string statusReply();
    void statusTick();

    // ---- Subscription callbacks (transport listener threads) ---------------

    void cbPVA(const aspn2_msgs::idl::PositionVelocityAttitude& msg);
    void cbUTCTime(const aspn2_msgs::idl::UTCTime& msg);
    void cbCmd(const aspn2_msgs::idl::CommandResponse& command);

    // Rewrites the update period (milliseconds) of the three VICTORY
    // services in their VCL texts (the files stay as they are) and restarts
    // all three, whatever the configuration's switches; false below 1000
    // ms. Holds m_dataMutex while the services are replaced; the
    // "navigation data lost" fault, when raised, is raised again on the new
    // services.
    bool updateVDMdataRate(unsigned long period);

    // Writer of the standard output redirection: turns a SOAP fault text of
    // the VICTORY services library into a maintenance event. Returns
    // `length` when it consumed the text, 0 otherwise.
    int logMaintenanceEvent(const char* text, unsigned length);

    // ---- Set-up and take-down of each subsystem (Configure, Framework_Connect,
    //      Framework_Disconnect list them in order) ----------------------------

    // PRI and CPU of the server's container as read (16 bits; 0: leave the
    // scheduling or the affinity alone).
    struct ProcessTuning {
        std::uint16_t priority = 0;
        std::uint16_t cpu = 0;
    };

    // Configure: what is odd in the top-level file, printed before the
    // reading; the reading of the file in its steps (each false when it
    // fails: the reading ends at a failed container, and a missing key is
    // reported and counts as failure); the geoid; the summary line; the
    // priority and affinity (both tried, false when either was refused).
    void checkTopLevelFile(FACE::String const& configFile);
    bool readSystemContainer(FACE::Configuration& config);
    bool readServerKeys(FACE::Configuration& config, int handle, ProcessTuning& tuning);
    void warnWithoutServices();
    bool loadGeoid();
    void printSettings(const ProcessTuning& tuning) const;
    bool applyTuning(const ProcessTuning& tuning);

    // Framework_Connect: the connections file's check (false when the
    // server refuses the transport), the transport, its six connections,
    // the typed transports, the subscriptions and the response sender;
    // the devices; device ids and command responses, the reporters, the
    // identity events and banner; the standard output redirection; the
    // switched-on VICTORY services. Each is true when it succeeded; steps
    // may throw (Framework_Connect reports it).
    bool checkConnectionsFile(const std::string& prefix);
    bool createTransport();
    bool createConnections();
    bool createTypedTransports();
    bool registerCallbacks();
    bool createDevices(const std::string& prefix);
    void resetIdentity();
    void startReporters();
    void announceIdentity();
    void redirectOutput();
    bool startVictoryServices(const std::string& prefix);

    // Framework_Disconnect: the subscriptions, publishers and connections
    // except "MaintenanceEvent"; every running VICTORY service (their
    // "navigation data lost" faults forgotten).
    void disconnectTransport();
    void stopVictoryServices();

    // ---- VICTORY service management ----------------------------------------

    // Create and start one service from its configuration file and either
    // `vclText` or, when that is null, its VCL file. False when the service
    // already runs, a file cannot be read or the library refuses the texts.
    bool InitializeVictoryPosition(const char* vclText);
    bool InitializeVictoryOrientation(const char* vclText);
    bool InitializeVictoryDirectionOfTravel(const char* vclText);

    // Delete one started service; false when none was started.
    bool ShutdownVictoryPosition();
    bool ShutdownVictoryOrientation();
    bool ShutdownVictoryDirectionOfTravel();

    // Called by the library (on its own thread) with a service's new VCL
    // text: write it to the file named by `user` (a NUL-terminated path).
    // 0 when written, 1 otherwise.
    static int PositionSaveVclidCallback(void* user, VpossService* handle, const char* newVcl);
    static int OrientationSaveVclidCallback(void* user, VorisService* handle, const char* newVcl);
    static int DOTSaveVclidCallback(void* user, VdotsService* handle, const char* newVcl);

    // ---- Publication (worker thread, m_dataMutex held) ---------------------

    // Tell the report computed from m_pva and m_utc to its service: nothing
    // at all while m_tellDisabled is set; a debug line when m_debug; a
    // health event and a console line when the service handle is null.
    // PublishPosition lets geodesy errors through (e.g. a usable solution
    // with a latitude beyond +-90 degrees) and throws std::logic_error when
    // no geoid is loaded.
    void PublishPosition();
    void PublishOrientation();
    void PublishDirectionOfTravel();

    // Angular one-sigma uncertainty (radians) of the direction of the vector
    // (a, b) given the variances of its components; pi when the one-sigma
    // box holds the origin.
    double calcDirUncert(double a, double varA, double b, double varB);

    // "VPOSC_BASIS_INVALID", "VPOSC_BASIS_ESTIMATED", "VPOSC_BASIS_MEASURED"
    // or "unknown".
    std::string posBasis(VposcBasis basis);

    // ---- Data --------------------------------------------------------------

    std::uint8_t m_serverId;
    std::string m_name;
    FACE::String m_geoidModel;
    bool m_debug;
    std::uint8_t m_utcSourceNavigatorServerId;
    std::uint8_t m_pvaSourceNavigatorServerId;
    bool m_processPosition;
    bool m_processOrientation;
    bool m_processDirectionOfTravel;
    bool m_faultTestEnabled;
    std::atomic<bool> m_tellDisabled;
    std::atomic<ReportedState> m_state;
    FACE::String m_systemName;
    FACE::String m_configurationName;
    FACE::String m_connectionsFile;
    FACE::String m_ioDevicesFile;
    ASPN2::DeviceIdFactory m_deviceIdFactory;
    ASPN2::CmdResponse m_cmdResponse;
    std::mutex m_dataMutex;
    bool m_pvaReceived;
    aspn2_msgs::idl::PositionVelocityAttitude m_pva;
    bool m_utcReceived;
    aspn2_msgs::idl::UTCTime m_utc;
    bool m_positionInitialized;
    bool m_orientationInitialized;
    bool m_dotInitialized;
    std::thread m_workerThread;
    std::atomic<bool> m_stopWorker;
    long long m_cmdConnectionId;
    long long m_responseConnectionId;
    long long m_pvaConnectionId;
    long long m_utcConnectionId;
    long long m_eventLogConnectionId;
    long long m_maintConnectionId;
    std::shared_ptr<FACE::TSS::CV_TSS> m_tss;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::CommandResponse>> m_cmdTS;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::PositionVelocityAttitude>> m_pvaTS;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::EventLog>> m_eventLogTS;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::UTCTime>> m_utcTS;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::MaintenanceEvent>> m_maintTS;
    std::shared_ptr<FACE::IOSS::CV_Devmem> m_devmem;
    VpossService* m_positionService;
    VorisService* m_orientationService;
    VdotsService* m_dotService;
    VictoryFaultHelper m_faultHelper;
    std::unique_ptr<GeographicLib::Geoid> m_geoid;
    std::unique_ptr<GeographicLib::GeoCoords> m_geoCoords;
    double m_positionUpdatePeriod;  // seconds

    // Supervision of the navigation data. The filtered-source slots are
    // written by the callbacks and taken by the worker each cycle; the rest
    // is guarded by m_dataMutex (the exception filter is the worker's own).
    std::atomic<int> m_pvaFilteredSource{-1};
    std::atomic<int> m_utcFilteredSource{-1};
    double m_lastPvaTov = std::numeric_limits<double>::quiet_NaN();  // seconds
    double m_lastUtcTov = std::numeric_limits<double>::quiet_NaN();
    NavigationSupervision::Gap m_gap;
    NavigationSupervision::LossDetector m_lossDetector;
    NavigationSupervision::FieldOnsets m_fieldOnsets;
    NavigationSupervision::RepeatFilter m_workerExceptions;
    ReceiveSupervision::StallDetector m_receiveStalls;  // the worker's own
    int m_navLossFaultIds[3] = {0, 0, 0};               // Position, Orientation, Direction of Travel

    // The status record (lock-free; see StatusRecord.h) and its socket.
    Status::StatusRecord m_statusRecord;
    std::unique_ptr<StatusServer> m_statusServer;
    std::string m_configFilePath;                                       // as given to Configure
    double m_cycleDeltaTov = std::numeric_limits<double>::quiet_NaN();  // |s| of the pair tried; m_dataMutex
    bool m_statusSchedulingRead = false;                                // the worker's own
    // The last answer and when it was made (steady seconds), for clients
    // asking more often than kStatusAnswerReuse; the status thread's own.
    std::string m_statusAnswer;
    double m_statusAnswerAt = 0.0;
    std::uint64_t m_statusAnswerCycles = 0;

    COutputRedirector m_outputRedirector;
};

#endif  // VICTORY_ZOZIDAZODODUZUZ_ZOZIDAZODODUZUZ_H
