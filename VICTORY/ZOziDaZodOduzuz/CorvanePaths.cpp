#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

const char* const positionConfigFileName = "/opt/corvane/config/PositionServiceConfig_1_9.xml";
const char* const positionVclFileName = "/opt/corvane/config/Position_VCL_1_9.xml";
const char* const orientationConfigFileName = "/opt/corvane/config/OrientationServiceConfig_1_9.xml";
const char* const orientationVclFileName = "/opt/corvane/config/Orientation_VCL_1_9.xml";
const char* const DOTconfigFileName = "/opt/corvane/config/DoTServiceConfig_1_9.xml";
const char* const DOTvclFileName = "/opt/corvane/config/DoT_VCL_1_9.xml";
const char* const GeoidFilePath = "/opt/corvane/geoids";
const char* const corvaneFixedRoot = "/opt/corvane";

namespace {

// CORVANE_ROOT as read at the first use; empty when unset.
const std::string& configuredRoot() {
    static const std::string root = [] {
        const char* value = std::getenv("CORVANE_ROOT");
        return std::string(value != nullptr ? value : "");
    }();
    return root;
}

bool underFixedRoot(const char* path) {
    const std::size_t prefix = std::strlen(corvaneFixedRoot);
    return std::strncmp(path, corvaneFixedRoot, prefix) == 0 && (path[prefix] == '\0' || path[prefix] == '/');
}

}  // namespace

std::string relocateCorvanePath(const char* fixedPath, const char* root) {
    if (fixedPath == nullptr) {
        return std::string();
    }
    if (root == nullptr || *root == '\0' || !underFixedRoot(fixedPath)) {
        return fixedPath;
    }
    std::string r(root);
    while (!r.empty() && r.back() == '/') {
        r.pop_back();
    }
    if (r.empty()) {
        r = "/.";
    }
    return r + (fixedPath + std::strlen(corvaneFixedRoot));
}

const char* corvanePath(const char* fixedPath) {
    const std::string& root = configuredRoot();
    if (fixedPath == nullptr || root.empty() || !underFixedRoot(fixedPath)) {
        return fixedPath;
    }
    const std::string relocated = relocateCorvanePath(fixedPath, root.c_str());

    // Each distinct result is kept once for the life of the process, so the
    // pointer can serve as long-lived user data (e.g. of library callbacks).
    static std::mutex mutex;
    static std::deque<std::string> interned;
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& s : interned) {
        if (s == relocated) {
            return s.c_str();
        }
    }
    interned.push_back(relocated);
    return interned.back().c_str();
}
