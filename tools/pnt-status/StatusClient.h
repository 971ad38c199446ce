#ifndef TOOLS_PNT_STATUS_STATUSCLIENT_H
#define TOOLS_PNT_STATUS_STATUSCLIENT_H

// One request to the server's status socket.

#include <chrono>
#include <optional>
#include <string>

namespace PntStatus {

/// Connects to `path`, sends "status\n" and reads the answer up to the end
/// of the connection (at most 4 MiB), each step bounded by `timeout`. The
/// answer without its final newline, or nothing with `error` set (e.g.
/// "/run/corvane-pnt/status.sock: No such file or directory").
std::optional<std::string> fetchStatus(const std::string& path, std::chrono::milliseconds timeout, std::string& error);

}  // namespace PntStatus

#endif  // TOOLS_PNT_STATUS_STATUSCLIENT_H
