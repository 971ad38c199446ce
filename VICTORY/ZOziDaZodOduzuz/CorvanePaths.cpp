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

// CORVANE_ROOT as read at the first use, without trailing slashes; empty
// when unset or empty. A root of "/" alone becomes "/." so that relocated
// paths stay absolute.
const std::string& relocatedRoot()
{
    static const std::string root = [] {
        const char* value = std::getenv("CORVANE_ROOT");
        std::string r = value != nullptr ? value : "";
        const bool set = !r.empty();
        while (!r.empty() && r.back() == '/') {
            r.pop_back();
        }
        return set && r.empty() ? std::string("/.") : r;
    }();
    return root;
}

}  // namespace

const char* corvanePath(const char* fixedPath)
{
    if (fixedPath == nullptr) {
        return nullptr;
    }
    const std::string& root = relocatedRoot();
    const std::size_t prefix = std::strlen(corvaneFixedRoot);
    if (root.empty() || std::strncmp(fixedPath, corvaneFixedRoot, prefix) != 0 ||
        (fixedPath[prefix] != '\0' && fixedPath[prefix] != '/')) {
        return fixedPath;
    }
    const std::string relocated = root + (fixedPath + prefix);

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
