#ifndef VICTORY_ZOZIDAZODODUZUZ_CONFIGCHECK_H
#define VICTORY_ZOZIDAZODODUZUZ_CONFIGCHECK_H

// The server's configuration checks: one set of checks used both by the
// start-up steps (Configure, Framework_Connect print what they find before
// their own lines and fail on an error) and by `--check-config`, which runs
// them all over the top-level file and every file it names.
//
// The checks only read files: no device, network or DDS participant is
// touched (except checkTcpPortFree, which start-up alone uses).
//
// Errors are what stops the server (or would, further on, with a reason
// that blames the wrong thing); warnings are values that are read but mean
// something other than they seem (the value keeps its meaning).
//
// Bounds refused as dangerous:
//   PRI           0 (scheduling left alone) or the SCHED_FIFO range (1..99)
//   CPU           0 (affinity left alone) or 1..number of configured CPUs
//   DomainId      0..kMaxDomainId (higher ids give UDP ports above 65535)
//   HistoryDepth  1..kMaxHistoryDepth (memory is preallocated per sample)
//   TcpPort       0..65535

#include "FACE/ConfigDiagnostics.h"

#include <cstdint>
#include <string>

namespace ServerConfigCheck {

using FACE::ConfigCheck::Diagnostics;

/// Highest DDS domain id whose well-known ports fit in 16 bits.
constexpr unsigned kMaxDomainId = 232;
/// Highest history depth accepted: samples kept per writer and per reader.
constexpr long long kMaxHistoryDepth = 1000;

/// What the top-level file names, as the server will read it.
struct TopLevel {
    std::string connectionsFile;  // empty when missing
    int connectionsLine = 0;
    std::string devicesFile;  // empty when missing
    int devicesLine = 0;
    std::string geoidModel;  // empty when missing
    int geoidLine = 0;
    bool position = true;  // the three service switches as read
    bool orientation = true;
    bool directionOfTravel = true;
};

/// The top-level file: containers "Corvane" and "ZOziDaZodOduzuz", their
/// keys and values.
TopLevel checkTopLevel(std::string const& path, Diagnostics& diagnostics);

/// The geoid data set `model` (the PARAM_5 value at `line` of `topLevelFile`)
/// in the geoid directory (CORVANE_ROOT applied).
void checkGeoid(std::string const& topLevelFile, int line, std::string const& model, Diagnostics& diagnostics);

/// The transport settings as checked.
struct Transport {
    bool refused = false;  // a transport value that must not reach Fast DDS
    std::string transport;
    unsigned long long tcpPort = 0;
    int tcpPortLine = 0;
};

/// The connections file: "FastRtps" and its seven settings, the server's
/// six connections with their types.
Transport checkConnections(std::string const& path, Diagnostics& diagnostics);

/// The devices file: the FPGA's fixed register blocks, and every block's
/// address and size.
void checkDevices(std::string const& path, Diagnostics& diagnostics);

/// The configuration and VCL files of each switched-on VICTORY service.
void checkVictoryFiles(bool position, bool orientation, bool directionOfTravel, Diagnostics& diagnostics);

/// Start-up only: false, with an error naming the port, when a TCP server
/// transport's listening port is taken by another socket.
bool checkTcpPortFree(std::string const& connectionsFile, Transport const& transport, Diagnostics& diagnostics);

/// Everything above over `topLevelFile` and the files it names.
Diagnostics checkAll(std::string const& topLevelFile);

/// `--check-config FILE`: prints every problem as "file:line: message" and
/// a last summary line; 0 when the configuration would start, 2 otherwise.
int runCheckConfig(std::string const& topLevelFile, std::ostream& out);

}  // namespace ServerConfigCheck

#endif  // VICTORY_ZOZIDAZODODUZUZ_CONFIGCHECK_H
