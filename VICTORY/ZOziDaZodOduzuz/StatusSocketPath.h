#ifndef VICTORY_ZOZIDAZODODUZUZ_STATUSSOCKETPATH_H
#define VICTORY_ZOZIDAZODODUZUZ_STATUSSOCKETPATH_H

// Where the server's status socket is, for the server and its status tool
// alike, so that a runtime root's server and tool find each other.

#include <string>

/// "$CORVANE_ROOT/run/status.sock" when `corvaneRoot` is set and not empty
/// (trailing slashes of the root dropped), otherwise
/// "/run/corvane-pnt/status.sock" (the unit's RuntimeDirectory).
inline std::string statusSocketPath(const char* corvaneRoot) {
    if (corvaneRoot != nullptr && *corvaneRoot != '\0') {
        std::string root(corvaneRoot);
        while (root.size() > 1 && root.back() == '/') {
            root.pop_back();
        }
        return (root == "/" ? std::string() : root) + "/run/status.sock";
    }
    return "/run/corvane-pnt/status.sock";
}

#endif  // VICTORY_ZOZIDAZODODUZUZ_STATUSSOCKETPATH_H
