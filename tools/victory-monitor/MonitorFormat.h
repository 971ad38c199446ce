// Console lines of the VICTORY data bus monitor: one line per data message,
// either for people or as one JSON object.
#ifndef TOOLS_VICTORY_MONITOR_MONITORFORMAT_H
#define TOOLS_VICTORY_MONITOR_MONITORFORMAT_H

#include <cstdint>
#include <string>

#include "platform/victory/VictoryDataMessage.h"

namespace victory_monitor {

// For example:
//   position #12 src=1.1.1 lat=48.1234567+-8.6e-06 deg lon=11.5000000+-1.3e-05 deg
//   alt=512.250+-3.5 m basis=MEASURED mgrs=32UPU9171832133
//   time=2024-01-01T00:00:00.250000000Z faults=1 [1:Critical:ack]
// (one line). Angles are shown in degrees, lengths in metres, speeds in
// metres per second; "time=-" when the message carries no time. No newline.
std::string formatHuman(const victory::DataMessage& message);

// One JSON object, no newline, its fields always in this order: service,
// source, seq, port (the port the message arrived on), values (object keyed
// by value name in tell order, each with value, uncertainty, unit, basis),
// mgrs and time (strings or null), told (null before the first tell, else
// count and realtime, the latter a string "SECONDS.NNNNNNNNN"), faultCount
// and faults. Numbers have fixed formats: values in rad with 10 decimals,
// in m or m/s with 4, uncertainties as %.5e; non-finite numbers are null.
std::string formatJson(const victory::DataMessage& message, std::uint16_t port);

// The text as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

// "Warning", "Error", "Critical", "Alert", "Emergency", "Other" for 32, or
// the number for any other value.
std::string severityName(int severity);

}  // namespace victory_monitor

#endif  // TOOLS_VICTORY_MONITOR_MONITORFORMAT_H
