#include "ASPN/AspnDeviceIds.h"

#include <array>
#include <cstring>

namespace ASPN2 {

namespace {

constexpr std::uint32_t makeBase(unsigned char systemId, unsigned char serverId) {
    return std::uint32_t{systemId} << 24 | std::uint32_t{serverId} << 16;
}

struct ServerRow {
    unsigned char id;
    const char* name;
};

using namespace ServerIds;

constexpr ServerRow kServers[] = {
    {1, SystemManager_name},
    {2, ConfigurationServer_name},
    {3, TimeServer_name},
    {4, BitServer_name},
    {5, HealthMonitor_name},
    {6, MaintenanceServer_name},
    {7, DataRecorder_name},
    {8, SoftwareLoader_name},
    {10, GpsReceiverServer_name},
    {11, GpsAntennaServer_name},
    {12, AuxGpsReceiverServer_name},
    {13, GnssAlmanacServer_name},
    {20, ImuServer_name},
    {21, AuxImuServer_name},
    {22, OdometerServer_name},
    {23, MagnetometerServer_name},
    {24, BarometerServer_name},
    {25, CompassServer_name},
    {26, InclinometerServer_name},
    {27, WheelSpeedServer_name},
    {30, DisplayServer_name},
    {31, OperatorConsoleServer_name},
    {32, MapServer_name},
    {33, RouteServer_name},
    {34, TerrainServer_name},
    {40, VehicleBusServer_name},
    {41, CanGatewayServer_name},
    {42, EthernetGatewayServer_name},
    {43, SerialGatewayServer_name},
    {44, DiscreteIoServer_name},
    {kZOziDaZodOduzuz, ZOziDaZodOduzuz_name},
    {46, TimeDistributionServer_name},
    {47, PpsServer_name},
    {50, CommandServer_name},
    {51, SimulationServer_name},
    {52, ReplayServer_name},
    {60, AlignmentServer_name},
    {61, CalibrationServer_name},
    {kFusionNavigator, FusionNavigator_name},
    {97, BackupNavigator_name},
};
static_assert(sizeof kServers / sizeof kServers[0] == 40, "the system has 40 servers");

// Direct index by id, built once.
const std::array<const char*, 256>& serverNames() {
    static const std::array<const char*, 256> names = [] {
        std::array<const char*, 256> n{};
        for (const auto& row : kServers) {
            n[row.id] = row.name;
        }
        return n;
    }();
    return names;
}

}  // namespace

DeviceIdFactory::DeviceIdFactory(unsigned char systemId, unsigned char serverId) : base(makeBase(systemId, serverId)) {}

DeviceIdFactory::DeviceIdFactory(const char* systemName, unsigned char serverId)
    : base(makeBase(SystemIds::from_string(systemName), serverId)) {}

void DeviceIdFactory::reset(unsigned char systemId, unsigned char serverId) { base = makeBase(systemId, serverId); }

void DeviceIdFactory::reset(const char* systemName, unsigned char serverId) {
    base = makeBase(SystemIds::from_string(systemName), serverId);
}

std::uint32_t DeviceIdFactory::makeDeviceId(unsigned char kind, unsigned char topic) const {
    return base | std::uint32_t{kind} << 8 | topic;
}

const char* ServerIds::to_string(unsigned char id) {
    const char* name = serverNames()[id];
    return name != nullptr ? name : kInvalidServerId;
}

unsigned ServerIds::count() { return sizeof kServers / sizeof kServers[0]; }

unsigned char SystemIds::from_string(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    const char* const names[] = {GroundVehicle_name, Simulator_name, TestBench_name};
    for (unsigned char i = 0; i < 3; ++i) {
        if (std::strcmp(name, names[i]) == 0) {
            return static_cast<unsigned char>(i + 1);
        }
    }
    return 0;
}

const char* Components::to_component(unsigned char serverId, unsigned char systemId) {
    switch (systemId) {
        case 1:
            return "GroundVehicleNavigation";
        case 2:
            return "SimulatorNavigation";
        case 0:
            switch (serverId) {
                case 3:
                    return "TimingComponent";
                case 10:
                    return "GnssComponent";
                case 20:
                    return "InertialComponent";
                case ServerIds::kZOziDaZodOduzuz:
                    return "PositionServiceComponent";
                case ServerIds::kFusionNavigator:
                    return "FusionComponent";
                default:
                    return ServerIds::kInvalidServerId;
            }
        default:
            return ServerIds::kInvalidServerId;
    }
}

}  // namespace ASPN2
