#pragma once

#include "ASPN/AspnDeviceIds.h"
#include "aspn2_msgs/MaintenanceEvent.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace FACE {
namespace TSS {
namespace Details {
template <typename T>
class CV_TypedTS;
}  // namespace Details
}  // namespace TSS
}  // namespace FACE

// Codes of a maintenance event. Plain integers, carried unchanged into the
// 32-bit fields of the message.
namespace ASPN2 {
namespace Maintenance {

// How urgently the fault needs attention.
namespace Criticality {
enum eCrit : int {
    eUnknown = 0,
    eAdvisory = 1,  // for the record; no action needed
    eCaution = 2,   // check at the next service
    eWarning = 3,   // a function misbehaves; check soon
    eFailure = 4,   // a unit has failed; replace it
};
}  // namespace Criticality

// What the fault did to the system's operation.
namespace Outcome {
enum eOutcome : int {
    eUnknown = 0,
    eNoImpact = 1,
    eDegraded = 2,       // working with reduced performance
    eRequestFailed = 3,  // an operation or request was refused; service goes on
    eFunctionLost = 4,   // a function is unavailable
};
}  // namespace Outcome

// The kind of fault.
namespace Category {
enum eCat : int {
    eUnknown = 0,
    eHardware = 1,
    eSoftware = 2,
    eFirmware = 3,
    eConfiguration = 4,
    ePower = 5,
    eThermal = 6,
    eTiming = 7,
    eNavigation = 8,
    eSatelliteNavigation = 9,
    eInertial = 10,
    eExternalInterface = 11,  // a peer on the vehicle network or a bus
    eSecurity = 12,
};
}  // namespace Category

// Line-replaceable units of the system.
namespace LRU {
enum eLru : int {
    eNone = 0,
    eNavigationProcessor = 1,  // the processing unit the servers run on
    eGnssReceiverUnit = 2,
    eInertialMeasurementUnit = 3,
};
}  // namespace LRU

// Components inside a unit.
namespace Component {
enum eCmpo : int {
    eNone = 0,
    eNetworkInterface = 1,
    eProcessor = 2,
    eMemory = 3,
    eStorage = 4,
    ePowerSupply = 5,
    eFpga = 6,
    eOscillator = 7,
    eApplicationSoftware = 8,
    eOperatingSystem = 9,
    eGnssReceiver = 10,
    eGnssAntenna = 11,
    eAccelerometers = 12,
    eGyroscopes = 13,
    eOdometerInput = 14,
    eMagnetometer = 15,
    eBarometer = 16,
    eDisplay = 17,
};
}  // namespace Component

}  // namespace Maintenance
}  // namespace ASPN2

// The process-wide publisher of MaintenanceEvent messages: faults for the
// system's maintenance log, each with a criticality, an outcome, a category,
// a location, up to four faulty units (LRU and component) and a description
// of at most 55 characters. Longer texts are sent as up to nine numbered
// pieces.
//
// Every message gets this server's MaintenanceEvent device id (kind 59,
// topic 0), its own sequence number (from 0; unique also when several
// threads publish at once) and both header times from the reporter's clock:
// the steady clock in nanoseconds, less an offset that SetTimeOffset sets.
//
// Publishing runs on the caller's thread, which may be one that writes to
// the redirected C standard output: the reporter's console lines therefore
// go through std::cout, never through the C `stdout` stream.
class PCSMaintReporter {
public:
    using MaintenanceEvent = aspn2_msgs::idl::MaintenanceEvent;
    using MaintenanceEventTS = FACE::TSS::Details::CV_TypedTS<MaintenanceEvent>;
    using eCrit = ASPN2::Maintenance::Criticality::eCrit;
    using eOutcome = ASPN2::Maintenance::Outcome::eOutcome;
    using eCat = ASPN2::Maintenance::Category::eCat;
    using eLru = ASPN2::Maintenance::LRU::eLru;
    using eCmpo = ASPN2::Maintenance::Component::eCmpo;

    // Bytes of the identity and description texts, NUL included.
    static constexpr unsigned kIdentitySize = 16;
    static constexpr unsigned kDescriptionSize = 56;
    // Pieces of a long description sent at most.
    static constexpr unsigned kMaxPieces = 9;

    // The process-wide reporter, created on first use (thread-safe).
    static PCSMaintReporter& Instance();

    // Maintenance events published since the process started (any thread).
    std::uint64_t sentCount() const noexcept { return sent.load(std::memory_order_relaxed); }

    PCSMaintReporter(const PCSMaintReporter&) = delete;
    PCSMaintReporter& operator=(const PCSMaintReporter&) = delete;

    // Starts publishing on connection `connectionId` of `eventLogTypedTS`
    // (registered as sender there) with the device id ids.makeDeviceId(59, 0)
    // and sequence numbers from 0, and sets the process-wide fault filter as
    // ASPN2::initReporterFaultFilter does. `name` labels the console lines.
    // Throws as ASPN2::registerReporterSender with the call
    // "InitMaintReporter(<name>)", the owner "PCSMaintReporter" and the guard
    // position "PCSMaintReporter/PCSMaintReporter" line 83; after a failed
    // registration the reporter counts as initialised (but sends nothing)
    // until DoneMaintReporter.
    void InitMaintReporter(const std::string& name, const ASPN2::DeviceIdFactory& ids,
                           const std::shared_ptr<MaintenanceEventTS>& eventLogTypedTS, long long connectionId);

    // Uninitialised again: events are refused until the next
    // InitMaintReporter. Lets go of the transport.
    void DoneMaintReporter();

    // Whether InitMaintReporter has been called (and not undone).
    bool isInitialized() const noexcept { return initialized.load(); }

    // Makes the reporter's clock read `t` now; it advances with the steady
    // clock from there.
    void SetTimeOffset(std::chrono::nanoseconds t);

    // SetTimeOffset(sec * 1,000,000,000 + nsec).
    void SetAspnTimeOffset(const long long& sec, const long long& nsec);

    // The reporter's clock: steady clock now less the offset, in ns. Until
    // an offset is set, the steady clock itself.
    std::chrono::nanoseconds GetTime() const;

    // Fills everything of `event` but its header: `description` cut to 55
    // and `identity` to 15 characters, each NUL-terminated and padded with
    // NULs in its fixed field; the codes and the four (LRU, component) pairs
    // as given.
    static void buildMaintenanceEvent(MaintenanceEvent& event, const std::string& description,
                                      const std::string& identity, eCrit crit, eOutcome outcome, unsigned char location,
                                      eCat cat, eLru lru1, eCmpo cmp1, eLru lru2, eCmpo cmp2, eLru lru3, eCmpo cmp3,
                                      eLru lru4, eCmpo cmp4, int repeatSeconds);

    // Builds one message (see buildMaintenanceEvent) and publishes it.
    void sendMaintenanceEvent(const std::string& description, const std::string& identity, eCrit crit, eOutcome outcome,
                              unsigned char location, eCat cat, eLru lru1, eCmpo cmp1, eLru lru2, eCmpo cmp2, eLru lru3,
                              eCmpo cmp3, eLru lru4, eCmpo cmp4, int repeatSeconds);

    // Appends the messages of a long text to `out`: the text is cut into
    // pieces of 52 - strlen(tag) characters (tag "Evt" when null), and the
    // first nine become the descriptions "<tag>:<piece>" when there is one
    // piece, "<tag>_<i>:<piece>" (i from 1) otherwise. An empty text gives
    // nothing. With a tag of 52 characters or more the pieces are single
    // characters and the descriptions are cut to 55 characters.
    static void buildMultiMaintenanceEventVectorFromLongDescription(
        const std::string& longDescription, const std::string& identity, eCrit crit, eOutcome outcome,
        unsigned char location, eCat cat, eLru lru1, eCmpo cmp1, eLru lru2, eCmpo cmp2, eLru lru3, eCmpo cmp3,
        eLru lru4, eCmpo cmp4, int repeatSeconds, std::vector<MaintenanceEvent>& out, const char* tag);

    // Builds the messages of a long text as above and, for each in order,
    // writes the console line
    //   PCSMaintReporter.cpp (<line>) sendLongDescriptionMultiMaintenanceEvent: Sending maintenance event: <description>
    // and publishes it.
    void sendLongDescriptionMultiMaintenanceEvent(const std::string& longDescription, const std::string& identity,
                                                  eCrit crit, eOutcome outcome, unsigned char location, eCat cat,
                                                  eLru lru1, eCmpo cmp1, eLru lru2, eCmpo cmp2, eLru lru3, eCmpo cmp3,
                                                  eLru lru4, eCmpo cmp4, int repeatSeconds, const char* tag);

    // Stamps the header (device id, both times from GetTime(), the next
    // sequence number) and sends the message. Not initialised: writes
    //   PCSMaintReporter.cpp (<line>) publishMaintenanceEvent: PCSMaintReporter not initialized! Cannat send MaintenanceEvent.
    // and sends nothing. A failed send writes
    //   !!!!!! <name> MaintReporter could not publish event
    // and is not retried. Any thread; never throws but std::bad_alloc.
    void publishMaintenanceEvent(MaintenanceEvent& event);

    // The default location code of server `serverId` and its default fault
    // sources (LRU codes 1..3, component codes 0..17; unused pairs 0, 0).
    // Servers without a row, 0 and ids above 125 give location 0 and all
    // pairs 0.
    static unsigned char getDefaultLruSubForServerID(const unsigned char& serverId, eLru& lru1, eCmpo& cmp1, eLru& lru2,
                                                     eCmpo& cmp2, eLru& lru3, eCmpo& cmp3, eLru& lru4, eCmpo& cmp4);

private:
    PCSMaintReporter() = default;

    std::atomic<bool> initialized{false};
    // `name`, `deviceId`, `typedTS` and `connectionId` are written by
    // InitMaintReporter and DoneMaintReporter and read by publishing threads,
    // all under `stateMutex`, which is never held while sending.
    std::string name;
    std::int32_t deviceId = 0;
    // Each message takes its number with one atomic increment.
    std::atomic<std::int64_t> seqNum{0};
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::int64_t> timeOffset{0};  // ns
    std::shared_ptr<MaintenanceEventTS> typedTS;
    long long connectionId = -1;
    mutable std::mutex stateMutex;
};
