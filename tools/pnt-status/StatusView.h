#ifndef TOOLS_PNT_STATUS_STATUSVIEW_H
#define TOOLS_PNT_STATUS_STATUSVIEW_H

// What pnt-status makes of the server's status answer: the one screen, the
// exit status, and the command line. Pure functions; the answer is the
// JSON object documented in docs/status.md.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace PntStatus {

/// Exit statuses.
constexpr int kHealthy = 0;      ///< a service is switched on and every switched-on service is live
constexpr int kUnhealthy = 1;    ///< no data yet, lost, invalid solution, all switched off, or sanitized
constexpr int kUnreachable = 2;  ///< no answer from the server (or not a status answer)
constexpr int kUsage = 3;        ///< bad command line

/// kHealthy when at least one service is switched on and each service that
/// is switched on reports the state "live"; kUnhealthy otherwise, also for
/// an answer without a "services" array.
int exitStatusFor(const nlohmann::json& status);

/// The screen: one "Label : value" line per item (see docs/status.md).
/// Missing or mistyped fields show as "-"; never throws for any JSON.
std::string renderScreen(const nlohmann::json& status);

struct Options {
    bool json = false;
    bool watch = false;
    bool help = false;
    std::string socket;  ///< empty: the default path
    std::string error;   ///< not empty: the command line is wrong (why)
};

/// --json, --watch, --socket PATH (or --socket=PATH), --help / -h.
Options parseOptions(const std::vector<std::string>& args);

/// The usage text.
std::string usage(const std::string& command);

}  // namespace PntStatus

#endif  // TOOLS_PNT_STATUS_STATUSVIEW_H
