#ifndef TOOLS_ASPN2_TOOL_TOOLOPTIONS_H
#define TOOLS_ASPN2_TOOL_TOOLOPTIONS_H

// Command line of aspn2-tool: the mode (nav, command, listen) and its
// options, checked for range. The full usage text is kToolUsage.

#include "tools/aspn2-tool/NavPhases.h"
#include "tools/aspn2-tool/NavRoute.h"
#include "tools/aspn2-tool/NavSimulator.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aspn2_tool {

enum class ToolMode { Nav, Command, Listen, Record, Replay, Dump, Help };

/// Options every mode shares.
struct CommonOptions {
    std::string connections;               ///< connections file; empty: the caller's default
    int domain = -1;                       ///< DDS domain replacing the file's; -1 keeps it
    bool json = false;                     ///< JSON lines instead of readable ones
    bool verbose = false;                  ///< nav: a line per message instead of per second
    double seconds = -1.0;                 ///< stop after this time (nav, listen); < 0 no limit
    long long count = -1;                  ///< stop after this many messages; < 0 no limit
    std::string systemName = "Simulator";  ///< system name of the device ids
    int sourceId = -1;                     ///< server id of the device ids; -1: the mode's default
};

struct NavOptions {
    double latDeg = 45.0;
    double lonDeg = 7.5;
    double altM = 300.0;  ///< above the ellipsoid
    double speedMps = 10.0;
    RouteShape shape;
    double rateHz = 10.0;     ///< PositionVelocityAttitude; 0 sends none
    double utcRateHz = 10.0;  ///< UTCTime; 0 sends none
    double growCovarianceMps = 0.0;
    FaultInjection faults;
    std::vector<NavPhase> phases;  ///< run first, in order (--phase)
    std::string recordPath;        ///< also write what is sent to this recorded-samples file
};

struct CommandOptions {
    std::string text;
    std::uint32_t type = 0;  ///< 0 command, 1 response; any 32-bit value is sent as given
    double timeoutS = 3.0;
    bool all = false;                         ///< print every response, not only the matching ones
    std::optional<std::uint32_t> identifier;  ///< command identifier; none: a random one
    double retryS = 1.0;                      ///< resend while unanswered, this often; 0 sends once
    std::string textsFile;                    ///< --texts: send every text of this file once, no TEXT
    double paceHz = 500.0;                    ///< --texts: texts sent per second, 1..100000
};

struct ListenOptions {
    bool commands = false;  ///< also the "Command" connection
    bool nav = false;       ///< also PositionVelocityAttitude and UTCTime
};

struct RecordOptions {
    std::string path;  ///< recorded-samples file (record writes, replay and dump read)
    /// record: connections to record, in the file's topic names.
    std::vector<std::string> topics{"PositionVelocityAttitude", "UTCTime", "Command"};
};

struct ReplayOptions {
    double speed = 1.0;   ///< 1 keeps the recorded spacing, 2 halves it; 0 sends back to back
    bool loop = false;    ///< start again after the last sample until stopped
    double waitS = 10.0;  ///< wait up to this long for the readers of every topic before sending
    int readers = 1;      ///< readers each topic needs before the first sample
    bool hold = false;    ///< after the last sample, resend the last PVA and UTC twice a second until stopped
};

struct ToolOptions {
    ToolMode mode = ToolMode::Help;
    CommonOptions common;
    NavOptions nav;
    CommandOptions command;
    ListenOptions listen;
    RecordOptions record;
    ReplayOptions replay;
};

/// Default server ids: the fusion navigator for nav, the command server for
/// command.
constexpr int kDefaultNavSourceId = 96;
constexpr int kDefaultCommandSourceId = 50;

/// Parses the arguments after the program name. False with a one-line
/// `error` for an unknown mode or option, a missing or malformed value, a
/// value out of range, or an option of another mode. Never throws.
bool parseToolOptions(std::vector<std::string> const& args, ToolOptions& out, std::string& error);

/// The usage text.
extern char const* const kToolUsage;

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_TOOLOPTIONS_H
