// The data bus message of a VICTORY service: one XML document per UDP
// datagram, written by the services library and read by inspection tools.
//
//   <VictoryData service="position" source="1.1.1" seq="12">
//     <Value name="latitude" unit="rad" value="0.8" uncertainty="1e-07" basis="MEASURED"/>
//     <Value name="longitude" .../>
//     <Value name="altitude" unit="m" .../>
//     <Mgrs>32UPU9171832133</Mgrs>                       (only when told)
//     <Time year="2024" month="1" day="1" hour="0" minute="0" second="0"
//           nanosecond="250000000"/>                      (only when told)
//     <Told count="12" realtime="1733540000.123456789"/> (after the first tell)
//     <Faults count="1">
//       <Fault id="1" severity="35" category="22" action="1" acknowledged="1">text</Fault>
//     </Faults>
//   </VictoryData>
//
// Numbers are written so that they read back to the same double; an
// infinite or NaN value is written as "inf", "-inf" or "nan".
#ifndef PLATFORM_VICTORY_VICTORYDATAMESSAGE_H
#define PLATFORM_VICTORY_VICTORYDATAMESSAGE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/victory/victory.h"

namespace victory {

enum class ServiceKind { Position, Orientation, DirectionOfTravel, GpsReceiver, GenericEndNode, Apnt };

// "position", "orientation", "directionOfTravel", "gpsReceiver",
// "genericEndNode", "apnt".
const char* serviceKindName(ServiceKind kind);
// Inverse of serviceKindName; false for an unknown name.
bool serviceKindFromName(const std::string& name, ServiceKind& kind);

// Describes one told quantity of a service kind.
struct ValueSpec {
    const char* name;       // name in the message, e.g. "latitude"
    const char* shortName;  // name in console lines, e.g. "lat"
    const char* unit;       // "rad", "m" or "m/s"
};

// The three quantities told to a Position, Orientation or Direction of
// Travel service, in tell order; empty for the fault-only kinds.
std::vector<ValueSpec> valueSpecs(ServiceKind kind);

// "INVALID", "ESTIMATED", "MEASURED"; "UNKNOWN" for any other value.
const char* basisName(int basis);

struct NamedValue {
    std::string name;
    std::string unit;
    VictoryValue value{0.0, 0.0, VPOSC_BASIS_INVALID};
};

struct FaultRecord {
    int id = 0;
    std::string description;
    bool acknowledged = false;
    int severity = 0;
    int category = 0;
    int action = 0;
};

// When the library received the latest tell: the number of tells so far
// (so a reader can tell a new tell from a repeated one) and the
// CLOCK_REALTIME time of the latest, in seconds and nanoseconds since
// 1970-01-01 UTC. Inspection and latency tools compare it with the time a
// navigation sample was published on the same machine.
struct TellStamp {
    std::uint64_t count = 0;
    std::int64_t seconds = 0;      // seconds since the epoch
    std::int32_t nanoseconds = 0;  // 0..999999999
};

struct DataMessage {
    ServiceKind kind = ServiceKind::Position;
    std::string source;  // "system.unit.instance"
    std::uint64_t seq = 0;
    std::vector<NamedValue> values;
    std::optional<std::string> mgrs;
    std::optional<VictoryTime> time;
    std::optional<TellStamp> told;
    // Listed faults; faultCount is the number of active faults, which can be
    // larger when the list was cut to fit one datagram.
    std::vector<FaultRecord> faults;
    std::size_t faultCount = 0;
};

// Most faults listed in one message; the rest are only counted.
constexpr std::size_t kMaxListedFaults = 64;

// The XML text of a message. Control characters in texts become '?'.
std::string formatDataMessage(const DataMessage& message);

// Reads a message; false with a reason in `error` when the text is not a
// well-formed data message (unknown service, missing or bad attribute).
bool parseDataMessage(const char* data, std::size_t size, DataMessage& message, std::string& error);

// A double in the shortest form that reads back exactly; "inf", "-inf",
// "nan" for non-finite values.
std::string formatNumber(double value);

}  // namespace victory

#endif  // PLATFORM_VICTORY_VICTORYDATAMESSAGE_H
