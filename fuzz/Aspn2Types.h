// The ASPN2 message type supports a fuzz input can select: its first byte,
// modulo the count, picks one; the rest is the serialized payload.
#ifndef FUZZ_ASPN2TYPES_H
#define FUZZ_ASPN2TYPES_H

#include <cstddef>
#include <iterator>

namespace fuzz {

inline constexpr const char* kAspn2TypeSupports[] = {
    "AltitudePubSubType",
    "AssuranceStatePubSubType",
    "BitEntryStatusPubSubType",
    "BitReportPubSubType",
    "ChallengedEnvironmentPubSubType",
    "ChannelStatusPubSubType",
    "CommandResponsePubSubType",
    "CorvanePNTPubSubType",
    "DeltaTimeAndFrequencyPubSubType",
    "EventLogPubSubType",
    "ForwardReverseStatusPubSubType",
    "GNSSPubSubType",
    "GNSSSubframePubSubType",
    "GPSCryptoStatusPubSubType",
    "GPSLineOfSightPubSubType",
    "GPSTimePubSubType",
    "GSSIPPubSubType",
    "IMUPubSubType",
    "MaintenanceEventPubSubType",
    "MeasurementIncorporationStatusPubSubType",
    "NavigationModePubSubType",
    "PlatformDynamicsPubSubType",
    "PositionVelocityPubSubType",
    "PositionVelocityAttitudePubSubType",
    "ReceiverStatusPubSubType",
    "SVStatusPubSubType",
    "ThreeAxisMagnetometerPubSubType",
    "TimeAtTheTonePubSubType",
    "TimeSyncPubSubType",
    "UTCTimePubSubType",
    "UtcDownlinkPubSubType",
    "Velocity3DPubSubType",
};

inline constexpr std::size_t kAspn2TypeCount = std::size(kAspn2TypeSupports);

}  // namespace fuzz

#endif  // FUZZ_ASPN2TYPES_H
