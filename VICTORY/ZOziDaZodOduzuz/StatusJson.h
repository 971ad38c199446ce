#ifndef VICTORY_ZOZIDAZODODUZUZ_STATUSJSON_H
#define VICTORY_ZOZIDAZODODUZUZ_STATUSJSON_H

// The status socket's answer (one JSON object; its fields are documented
// in docs/status.md and stay stable) and the service manager's one-line
// status, both made from the status record and what the server knows at
// the time of the request. Pure functions: the caller gathers the inputs.

#include "VICTORY/ZOziDaZodOduzuz/StatusRecord.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Status {

/// Version of the JSON layout: grows only when a field changes meaning or
/// goes away (new fields may appear without it).
constexpr int kFormat = 1;

/// One DDS connection of the server.
struct Connection {
    std::string name;  ///< the connection and topic name
    std::string role;  ///< "publisher" or "subscriber"
    int matched = 0;   ///< matched remote readers (publisher) or writers (subscriber)
};

/// Everything one answer is made of.
struct Report {
    bool haveSnapshot = false;  ///< false before the worker's first cycle
    Snapshot snapshot;
    double now = 0.0;  ///< steady seconds, the clock of the snapshot
    std::string name;
    std::string state;  ///< "started", "stopped"
    std::string version;
    std::string configFile;
    int pvaSource = 0;  ///< accepted navigator server id; 0 any
    int utcSource = 0;
    std::uint64_t pvaCount = 0, utcCount = 0, pvaFiltered = 0, utcFiltered = 0;
    int lastForeignSource = -1;
    std::uint64_t healthQueued = 0, healthSent = 0, healthDropped = 0, maintenanceSent = 0;
    bool ddsSecure = false;
    std::string ddsIdentity;  ///< participant name, and the certificate when secure
    std::vector<Connection> connections;
};

/// The answer: one line of JSON.
std::string toJson(const Report& report);

/// The overall state of the running services: the worst of the switched-on
/// ones (sanitized, lost, invalid solution, no data yet, live); "off" when
/// none is switched on.
ServiceState overallState(const Snapshot& snapshot) noexcept;

/// The service manager's status line, e.g.
///   "live: 4.0 pairs/s from navigator 96, age 0.12 s, 0 faults"
///   "lost (no PVA and no UTC): 0.0 pairs/s from navigator 96, age 3.25 s, 3 faults"
///   "no data yet: waiting for navigator 96"
/// `source` the accepted PVA source (0: any), `now` steady seconds.
std::string summaryLine(const Snapshot& snapshot, int source, double now);

}  // namespace Status

#endif  // VICTORY_ZOZIDAZODODUZUZ_STATUSJSON_H
