#ifndef TOOLS_ASPN2_TOOL_NAVPHASES_H
#define TOOLS_ASPN2_TOOL_NAVPHASES_H

// Timed phases of the simulated navigator: each phase runs for a number of
// seconds with its own faults, in place of the command line's, and may stop
// one or both streams; after the last phase the command line's faults apply
// again. Lets one run show a navigator that goes silent, loses a stream,
// changes its source or breaks a value, and comes back.

#include "tools/aspn2-tool/NavSimulator.h"

#include <string>
#include <vector>

namespace aspn2_tool {

struct NavPhase {
    double seconds = 0.0;  ///< duration, > 0
    bool pva = true;       ///< PositionVelocityAttitude is sent
    bool utc = true;       ///< UTCTime is sent
    FaultInjection faults;
};

/// Reads "SECONDS:ITEM[,ITEM...]" where SECONDS is in (0, 86400] and each
/// ITEM is "ok" (no fault), "silent" (neither stream), "no-pva", "no-utc",
/// "nan=FIELD", "wrong-source=N" (0..255), "utc-lag=S" (-3600..3600) or
/// "sigma=M" (every position sigma M metres, 0 < M <= 1e7).
/// False with a one-line `error` otherwise. Never throws except
/// std::bad_alloc.
bool parsePhase(std::string const& text, NavPhase& phase, std::string& error);

/// "3 s silent", "2.5 s no-utc nan=latitude", "4 s ok".
std::string describePhase(NavPhase const& phase);

/// Index of the phase in force `elapsedS` seconds after the start (phases
/// run back to back from 0); -1 after the last one (or for none).
int phaseAt(std::vector<NavPhase> const& phases, double elapsedS);

/// Seconds from the start to the end of phase `index` (0 for index < 0).
double phaseEnd(std::vector<NavPhase> const& phases, int index);

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_NAVPHASES_H
