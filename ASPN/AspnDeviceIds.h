#pragma once

#include <cstdint>

// Device ids: who sent an ASPN2 message and what kind it is.
//
//   bits 24..31  system id (SystemIds)
//   bits 16..23  server id (ServerIds)
//   bits  8..15  message kind (kEventLogKind, kCommandResponseKind,
//                kMaintenanceEventKind)
//   bits  0..7   topic id (0 unless a sender sets one)
//
// The value is unsigned; message headers carry it in a signed 32-bit field.
namespace ASPN2 {

constexpr unsigned char kEventLogKind = 1;
constexpr unsigned char kCommandResponseKind = 2;
constexpr unsigned char kMaintenanceEventKind = 59;

// Builds the device ids of one server. Not synchronised: reset it before
// other threads use it.
class DeviceIdFactory {
public:
    // Base 0 (system 0, server 0).
    DeviceIdFactory() = default;
    DeviceIdFactory(unsigned char systemId, unsigned char serverId);
    // The system id is looked up with SystemIds::from_string (0 for an
    // unknown or null name).
    DeviceIdFactory(const char* systemName, unsigned char serverId);

    void reset(unsigned char systemId, unsigned char serverId);
    void reset(const char* systemName, unsigned char serverId);

    // base | kind << 8 | topic.
    std::uint32_t makeDeviceId(unsigned char kind, unsigned char topic) const;

private:
    std::uint32_t base = 0;  // system id << 24 | server id << 16
};

// Server id to server name. The names are also held as named global texts.
namespace ServerIds {

inline constexpr char SystemManager_name[] = "SystemManager";
inline constexpr char ConfigurationServer_name[] = "ConfigurationServer";
inline constexpr char TimeServer_name[] = "TimeServer";
inline constexpr char BitServer_name[] = "BitServer";
inline constexpr char HealthMonitor_name[] = "HealthMonitor";
inline constexpr char MaintenanceServer_name[] = "MaintenanceServer";
inline constexpr char DataRecorder_name[] = "DataRecorder";
inline constexpr char SoftwareLoader_name[] = "SoftwareLoader";
inline constexpr char GpsReceiverServer_name[] = "GpsReceiverServer";
inline constexpr char GpsAntennaServer_name[] = "GpsAntennaServer";
inline constexpr char AuxGpsReceiverServer_name[] = "AuxGpsReceiverServer";
inline constexpr char GnssAlmanacServer_name[] = "GnssAlmanacServer";
inline constexpr char ImuServer_name[] = "ImuServer";
inline constexpr char AuxImuServer_name[] = "AuxImuServer";
inline constexpr char OdometerServer_name[] = "OdometerServer";
inline constexpr char MagnetometerServer_name[] = "MagnetometerServer";
inline constexpr char BarometerServer_name[] = "BarometerServer";
inline constexpr char CompassServer_name[] = "CompassServer";
inline constexpr char InclinometerServer_name[] = "InclinometerServer";
inline constexpr char WheelSpeedServer_name[] = "WheelSpeedServer";
inline constexpr char DisplayServer_name[] = "DisplayServer";
inline constexpr char OperatorConsoleServer_name[] = "OperatorConsoleServer";
inline constexpr char MapServer_name[] = "MapServer";
inline constexpr char RouteServer_name[] = "RouteServer";
inline constexpr char TerrainServer_name[] = "TerrainServer";
inline constexpr char VehicleBusServer_name[] = "VehicleBusServer";
inline constexpr char CanGatewayServer_name[] = "CanGatewayServer";
inline constexpr char EthernetGatewayServer_name[] = "EthernetGatewayServer";
inline constexpr char SerialGatewayServer_name[] = "SerialGatewayServer";
inline constexpr char DiscreteIoServer_name[] = "DiscreteIoServer";
inline constexpr char ZOziDaZodOduzuz_name[] = "ZOziDaZodOduzuz";
inline constexpr char TimeDistributionServer_name[] = "TimeDistributionServer";
inline constexpr char PpsServer_name[] = "PpsServer";
inline constexpr char CommandServer_name[] = "CommandServer";
inline constexpr char SimulationServer_name[] = "SimulationServer";
inline constexpr char ReplayServer_name[] = "ReplayServer";
inline constexpr char AlignmentServer_name[] = "AlignmentServer";
inline constexpr char CalibrationServer_name[] = "CalibrationServer";
inline constexpr char FusionNavigator_name[] = "FusionNavigator";
inline constexpr char BackupNavigator_name[] = "BackupNavigator";

// This server's id.
constexpr unsigned char kZOziDaZodOduzuz = 45;
// The fusion navigator, source of the navigation solution.
constexpr unsigned char kFusionNavigator = 96;

// Returned for ids that name no server.
inline constexpr char kInvalidServerId[] = "INVALID_SERVER_ID";

// The server's name, or "INVALID_SERVER_ID"; never null.
const char* to_string(unsigned char id);

// Number of servers in the table (40).
unsigned count();

}  // namespace ServerIds

// System name to system id.
namespace SystemIds {

inline constexpr char GroundVehicle_name[] = "GroundVehicle";
inline constexpr char Simulator_name[] = "Simulator";
inline constexpr char TestBench_name[] = "TestBench";

// 1, 2 or 3 for the three names above (exact, case-sensitive match); 0 for
// any other text and for null.
unsigned char from_string(const char* name);

}  // namespace SystemIds

// Component names of the wider system, by system and server id.
namespace Components {

// System id 1 and 2 name their system's navigation component; system id 0
// names the component of one of five servers (time, GPS receiver, IMU,
// this server, fusion navigator); anything else gives "INVALID_SERVER_ID".
// Never null.
const char* to_component(unsigned char serverId, unsigned char systemId);

}  // namespace Components

}  // namespace ASPN2
