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
// Each value is judged by what the server then does with it. An error is
// a value with which the server does not start: its message names how
// start-up then fails (a missing key, a file that cannot be read, a
// processor that is not there, no transport, a QoS Fast DDS refuses), or
// says that the server itself refuses it because what would follow is a
// crash or an exhausted memory:
//   DomainId      above kMaxDomainId: Fast DDS computes ports above 65535
//                 and ends the process from inside the library
//   HistoryDepth  above historyDepthBound(): the histories would reserve
//                 more than the machine's memory
// A warning is a value that is read but probably not meant: the server
// starts and does what the value says (e.g. PRI 200 gives priority 99).
// --check-config exits 0 exactly when there is no error.

#include "FACE/ConfigDiagnostics.h"

#include <cstdint>
#include <string>

namespace ServerConfigCheck {

using FACE::ConfigDiagnostics::Diagnostics;

/// Highest DDS domain id whose well-known ports fit in 16 bits.
constexpr unsigned kMaxDomainId = 232;
/// Memory Fast DDS reserves per sample of history depth over the server's
/// six publishers and subscribers, bytes (measured: 4.1 kB per sample of
/// depth, preallocated when they are made).
constexpr long long kHistoryBytesPerSample = 4096;
/// A history depth above this gets a warning with the memory it reserves.
constexpr long long kLargeHistoryDepth = 1000;
/// Largest history depth whose reservation fits this machine's physical
/// memory (at least kLargeHistoryDepth).
long long historyDepthBound();

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
    bool refused = false;  // a value the server refuses before making the transport
    std::string transport;
    std::uint16_t tcpPort = 0;  // as stored (low 16 bits)
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

/// Start-up only: a warning naming the port when a TCP server transport's
/// listening port is taken by another socket (Fast DDS then makes the
/// participant without listening).
void checkTcpPortFree(std::string const& connectionsFile, Transport const& transport, Diagnostics& diagnostics);

/// Everything above over `topLevelFile` and the files it names.
Diagnostics checkAll(std::string const& topLevelFile);

/// `--check-config FILE`: prints every problem as "file:line: message" and
/// a last summary line; 0 when the configuration would start, 2 otherwise.
int runCheckConfig(std::string const& topLevelFile, std::ostream& out);

}  // namespace ServerConfigCheck

#endif  // VICTORY_ZOZIDAZODODUZUZ_CONFIGCHECK_H
