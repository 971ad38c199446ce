#include "PCSMaintReporter/PCSMaintReporter.h"

#include "ASPN/AspnHelper.h"
#include "ASPN/FaultHysteresis.h"
#include "ASPN/ReporterInit.h"
#include "FACE/CV_TSS.h"
#include "FACE/FACE_Common.h"
#include "utilities/StringUtils.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace {

using namespace ASPN2::Maintenance;
using MaintenanceEvent = PCSMaintReporter::MaintenanceEvent;

// Console lines of this reporter are written with std::cout. The server
// diverts the C `stdout` stream into its maintenance event writer, which
// publishes through this reporter: a line written through C stdio here would
// come back into that writer.

// "<base name of this file> (<line>) ", the start of console lines that
// carry their source position.
std::string sourcePosition(int line) {
    const char* file = __FILE__;
    if (const char* slash = std::strrchr(file, '/')) {
        file = slash + 1;
    }
    return std::string(file) + " (" + std::to_string(line) + ") ";
}

// The NUL-terminated text of a fixed character field.
template <std::size_t N>
std::string fieldText(const std::array<char, N>& field) {
    return std::string(field.data(), ::strnlen(field.data(), N));
}

// Default location and fault sources of a server. The location is where the
// server's first unit is installed: 1 the electronics bay (processing unit),
// 2 the satellite navigation receiver's bay, 3 the inertial unit's mount.
struct Source {
    LRU::eLru lru;
    Component::eCmpo cmp;
};

struct LruRow {
    unsigned char serverId;
    unsigned char location;
    Source sources[4];  // unused pairs {eNone, eNone}
};

constexpr LRU::eLru kProc = LRU::eNavigationProcessor;
constexpr LRU::eLru kGnss = LRU::eGnssReceiverUnit;
constexpr LRU::eLru kImu = LRU::eInertialMeasurementUnit;
constexpr Source kSoftware{kProc, Component::eApplicationSoftware};

constexpr LruRow kLruRows[] = {
    {1, 1, {kSoftware, {kProc, Component::eOperatingSystem}}},                        // system manager
    {2, 1, {kSoftware, {kProc, Component::eStorage}}},                                // configuration
    {3, 1, {kSoftware, {kProc, Component::eOscillator}, {kProc, Component::eFpga}}},  // time
    {4, 1, {kSoftware}},                                                              // built-in test
    {5, 1, {kSoftware}},                                                              // health monitor
    {6, 1, {kSoftware, {kProc, Component::eStorage}}},                                // maintenance
    {7, 1, {kSoftware, {kProc, Component::eStorage}}},                                // data recorder
    {8, 1, {kSoftware, {kProc, Component::eStorage}}},                                // software loader
    {10, 2, {{kGnss, Component::eGnssReceiver}, {kGnss, Component::eGnssAntenna}, kSoftware}},
    {11, 2, {{kGnss, Component::eGnssAntenna}, {kGnss, Component::eGnssReceiver}}},
    {12, 2, {{kGnss, Component::eGnssReceiver}, kSoftware}},
    {13, 1, {kSoftware, {kGnss, Component::eGnssReceiver}}},  // almanac
    {20, 3, {{kImu, Component::eAccelerometers}, {kImu, Component::eGyroscopes}, kSoftware}},
    {21, 3, {{kImu, Component::eAccelerometers}, {kImu, Component::eGyroscopes}}},
    {22, 1, {{kProc, Component::eOdometerInput}, kSoftware}},  // odometer
    {23, 3, {{kImu, Component::eMagnetometer}}},
    {24, 3, {{kImu, Component::eBarometer}}},
    {25, 3, {{kImu, Component::eMagnetometer}, kSoftware}},  // compass
    {26, 3, {{kImu, Component::eAccelerometers}}},           // inclinometer
    {27, 1, {{kProc, Component::eOdometerInput}}},           // wheel speed
    {30, 1, {{kProc, Component::eDisplay}, kSoftware}},      // display, operator console
    {31, 1, {{kProc, Component::eDisplay}, kSoftware}},
    {32, 1, {kSoftware, {kProc, Component::eStorage}}},  // map, route, terrain
    {33, 1, {kSoftware, {kProc, Component::eStorage}}},
    {34, 1, {kSoftware, {kProc, Component::eStorage}}},
    {40, 1, {{kProc, Component::eNetworkInterface}, kSoftware}},  // vehicle bus and gateways
    {41, 1, {{kProc, Component::eNetworkInterface}}},
    {42, 1, {{kProc, Component::eNetworkInterface}}},
    {43, 1, {{kProc, Component::eNetworkInterface}}},
    {44, 1, {{kProc, Component::eFpga}}},                                   // discrete I/O
    {45, 1, {kSoftware}},                                                   // this server
    {46, 1, {{kProc, Component::eFpga}, {kProc, Component::eOscillator}}},  // time distribution, PPS
    {47, 1, {{kProc, Component::eFpga}, {kProc, Component::eOscillator}}},
    {50, 1, {kSoftware}},  // command, simulation, replay
    {51, 1, {kSoftware}},
    {52, 1, {kSoftware, {kProc, Component::eStorage}}},
    {60, 3, {{kImu, Component::eAccelerometers}, {kImu, Component::eGyroscopes}, kSoftware}},  // alignment
    {61, 3, {{kImu, Component::eAccelerometers}, {kImu, Component::eGyroscopes}}},             // calibration
    {96, 1, {kSoftware, {kProc, Component::eProcessor}, {kProc, Component::eMemory}}},         // navigators
    {97, 1, {kSoftware, {kProc, Component::eProcessor}}},
};

// Server ids with a row lie in 1..125.
constexpr unsigned kMaxServerIdWithRow = 125;

// The row of `serverId`, or null.
const LruRow* lruRow(unsigned char serverId) {
    static const std::array<const LruRow*, kMaxServerIdWithRow + 1> rows = [] {
        std::array<const LruRow*, kMaxServerIdWithRow + 1> index{};
        for (const LruRow& row : kLruRows) {
            index[row.serverId] = &row;
        }
        return index;
    }();
    return serverId <= kMaxServerIdWithRow ? rows[serverId] : nullptr;
}

}  // namespace

PCSMaintReporter& PCSMaintReporter::Instance() {
    static PCSMaintReporter instance;
    return instance;
}

void PCSMaintReporter::InitMaintReporter(const std::string& nameIn, const ASPN2::DeviceIdFactory& ids,
                                         const std::shared_ptr<MaintenanceEventTS>& eventLogTypedTS,
                                         long long connectionIdIn) {
    ASPN2::registerReporterSender("InitMaintReporter(" + nameIn + ")", "PCSMaintReporter", eventLogTypedTS,
                                  connectionIdIn, initialized, "PCSMaintReporter/PCSMaintReporter", 83);

    {
        std::lock_guard<std::mutex> lock(stateMutex);
        name = nameIn;
        deviceId = static_cast<std::int32_t>(ids.makeDeviceId(ASPN2::kMaintenanceEventKind, 0));
        typedTS = eventLogTypedTS;
        seqNum = 0;
        connectionId = connectionIdIn;
    }

    ASPN2::initReporterFaultFilter(FaultHysteresis::Instance());
}

void PCSMaintReporter::DoneMaintReporter() {
    initialized = false;
    std::shared_ptr<MaintenanceEventTS> released;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        released = std::move(typedTS);
    }
    // `released` goes here, outside the lock: if it was the last reference,
    // the transport is destroyed now.
}

void PCSMaintReporter::SetTimeOffset(std::chrono::nanoseconds t) {
    const std::chrono::nanoseconds now = std::chrono::steady_clock::now().time_since_epoch();
    timeOffset = (now - t).count();
}

void PCSMaintReporter::SetAspnTimeOffset(const long long& sec, const long long& nsec) {
    SetTimeOffset(std::chrono::nanoseconds(sec * 1000000000LL + nsec));
}

std::chrono::nanoseconds PCSMaintReporter::GetTime() const {
    const std::chrono::nanoseconds now = std::chrono::steady_clock::now().time_since_epoch();
    return now - std::chrono::nanoseconds(timeOffset.load());
}

void PCSMaintReporter::buildMaintenanceEvent(MaintenanceEvent& event, const std::string& description,
                                             const std::string& identity, eCrit crit, eOutcome outcome,
                                             unsigned char location, eCat cat, eLru lru1, eCmpo cmp1, eLru lru2,
                                             eCmpo cmp2, eLru lru3, eCmpo cmp3, eLru lru4, eCmpo cmp4,
                                             int repeatSeconds) {
    StringUtils::strncpy_prot(event.description().data(), description.c_str(), kDescriptionSize);
    StringUtils::strncpy_prot(event.identity().data(), identity.c_str(), kIdentitySize);
    event.criticality_id(crit);
    event.outcome_id(outcome);
    event.location_id(location);
    event.category_id(cat);
    event.repeat_in_seconds(repeatSeconds);
    const std::pair<eLru, eCmpo> sources[] = {{lru1, cmp1}, {lru2, cmp2}, {lru3, cmp3}, {lru4, cmp4}};
    for (std::size_t i = 0; i < 4; ++i) {
        event.fault_sources()[i].lru_id(sources[i].first);
        event.fault_sources()[i].component_id(sources[i].second);
    }
}

void PCSMaintReporter::sendMaintenanceEvent(const std::string& description, const std::string& identity, eCrit crit,
                                            eOutcome outcome, unsigned char location, eCat cat, eLru lru1, eCmpo cmp1,
                                            eLru lru2, eCmpo cmp2, eLru lru3, eCmpo cmp3, eLru lru4, eCmpo cmp4,
                                            int repeatSeconds) {
    MaintenanceEvent event;
    buildMaintenanceEvent(event, description, identity, crit, outcome, location, cat, lru1, cmp1, lru2, cmp2, lru3,
                          cmp3, lru4, cmp4, repeatSeconds);
    publishMaintenanceEvent(event);
}

void PCSMaintReporter::buildMultiMaintenanceEventVectorFromLongDescription(
    const std::string& longDescription, const std::string& identity, eCrit crit, eOutcome outcome,
    unsigned char location, eCat cat, eLru lru1, eCmpo cmp1, eLru lru2, eCmpo cmp2, eLru lru3, eCmpo cmp3, eLru lru4,
    eCmpo cmp4, int repeatSeconds, std::vector<MaintenanceEvent>& out, const char* tag) {
    const std::string tagText = tag != nullptr ? tag : "Evt";
    // Room for "<tag>_<digit>:" and the piece in the 55 characters.
    constexpr std::size_t kRoom = 52;
    const unsigned pieceSize = tagText.size() < kRoom ? static_cast<unsigned>(kRoom - tagText.size()) : 1u;
    const std::vector<std::string> pieces = StringUtils::splitToChunks(longDescription, pieceSize);
    const std::size_t count = std::min<std::size_t>(pieces.size(), kMaxPieces);
    for (std::size_t i = 0; i < count; ++i) {
        std::string description = tagText;
        if (pieces.size() > 1) {
            description += "_" + std::to_string(i + 1);
        }
        description += ":";
        description += pieces[i];
        out.emplace_back();
        buildMaintenanceEvent(out.back(), description, identity, crit, outcome, location, cat, lru1, cmp1, lru2, cmp2,
                              lru3, cmp3, lru4, cmp4, repeatSeconds);
    }
}

void PCSMaintReporter::sendLongDescriptionMultiMaintenanceEvent(const std::string& longDescription,
                                                                const std::string& identity, eCrit crit,
                                                                eOutcome outcome, unsigned char location, eCat cat,
                                                                eLru lru1, eCmpo cmp1, eLru lru2, eCmpo cmp2, eLru lru3,
                                                                eCmpo cmp3, eLru lru4, eCmpo cmp4, int repeatSeconds,
                                                                const char* tag) {
    std::vector<MaintenanceEvent> events;
    buildMultiMaintenanceEventVectorFromLongDescription(longDescription, identity, crit, outcome, location, cat, lru1,
                                                        cmp1, lru2, cmp2, lru3, cmp3, lru4, cmp4, repeatSeconds, events,
                                                        tag);
    for (MaintenanceEvent& event : events) {
        std::cout << sourcePosition(__LINE__) << "sendLongDescriptionMultiMaintenanceEvent"
                  << ": Sending maintenance event: " << fieldText(event.description()) << std::endl;
        publishMaintenanceEvent(event);
    }
}

void PCSMaintReporter::publishMaintenanceEvent(MaintenanceEvent& event) {
    std::shared_ptr<MaintenanceEventTS> ts;
    std::int32_t id = 0;
    long long connection = -1;
    if (initialized) {
        std::lock_guard<std::mutex> lock(stateMutex);
        ts = typedTS;
        id = deviceId;
        connection = connectionId;
    }
    // Without a transport the reporter is not (or not yet, or no longer)
    // initialised, whatever the flag says at this moment.
    if (!ts) {
        std::cout << sourcePosition(__LINE__) << "publishMaintenanceEvent"
                  << ": PCSMaintReporter not initialized! Cannat send MaintenanceEvent." << std::endl;
        return;
    }

    const std::chrono::nanoseconds t = GetTime();
    event.header().device_id(id);
    ASPN2::setToVandToA_fromNSec(t, event.header());
    event.header().seq_num(seqNum.fetch_add(1));

    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    long long transaction = 0;
    ts->Send_Message(connection, 0, transaction, event, rc);
    if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        sent.fetch_add(1, std::memory_order_relaxed);
    } else {
        std::string label;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            label = name;
        }
        std::cout << "!!!!!! " << label << " MaintReporter could not publish event" << std::endl;
    }
}

unsigned char PCSMaintReporter::getDefaultLruSubForServerID(const unsigned char& serverId, eLru& lru1, eCmpo& cmp1,
                                                            eLru& lru2, eCmpo& cmp2, eLru& lru3, eCmpo& cmp3,
                                                            eLru& lru4, eCmpo& cmp4) {
    const LruRow* row = lruRow(serverId);
    eLru* const lrus[] = {&lru1, &lru2, &lru3, &lru4};
    eCmpo* const cmps[] = {&cmp1, &cmp2, &cmp3, &cmp4};
    for (std::size_t i = 0; i < 4; ++i) {
        *lrus[i] = row != nullptr ? row->sources[i].lru : LRU::eNone;
        *cmps[i] = row != nullptr ? row->sources[i].cmp : Component::eNone;
    }
    return row != nullptr ? row->location : 0;
}
