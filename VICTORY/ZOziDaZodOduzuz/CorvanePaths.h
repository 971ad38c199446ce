#ifndef VICTORY_ZOZIDAZODODUZUZ_CORVANEPATHS_H
#define VICTORY_ZOZIDAZODODUZUZ_CORVANEPATHS_H

// Fixed file paths of the server and their relocation.
//
// Every fixed path lies under "/opt/corvane". When the environment variable
// CORVANE_ROOT is set (and not empty), that leading "/opt/corvane" is
// replaced by its value, so the server, its tests and demos can run from a
// folder of their own without root rights. The variable is read once, at
// the first call of corvanePath(); later changes of the environment are not
// seen.

#include <string>

// Configuration text and VCL text of the three VICTORY services.
extern const char* const positionConfigFileName;     // "/opt/corvane/config/PositionServiceConfig_1_9.xml"
extern const char* const positionVclFileName;        // "/opt/corvane/config/Position_VCL_1_9.xml"
extern const char* const orientationConfigFileName;  // "/opt/corvane/config/OrientationServiceConfig_1_9.xml"
extern const char* const orientationVclFileName;     // "/opt/corvane/config/Orientation_VCL_1_9.xml"
extern const char* const DOTconfigFileName;          // "/opt/corvane/config/DoTServiceConfig_1_9.xml"
extern const char* const DOTvclFileName;             // "/opt/corvane/config/DoT_VCL_1_9.xml"

// Directory of the geoid data sets: "/opt/corvane/geoids".
extern const char* const GeoidFilePath;

// The leading directory of every fixed path: "/opt/corvane".
extern const char* const corvaneFixedRoot;

/// The path to use for `fixedPath`: `fixedPath` itself when CORVANE_ROOT is
/// unset or empty, or when `fixedPath` does not start with the directory
/// "/opt/corvane"; otherwise CORVANE_ROOT (without trailing slashes)
/// followed by the rest of `fixedPath`. The returned text stays valid for
/// the life of the process (the same pointer for the same text). Null gives
/// null. Thread-safe. Throws only std::bad_alloc.
const char* corvanePath(const char* fixedPath);

/// The relocation rule of corvanePath() with an explicit root: `fixedPath`
/// unchanged when `root` is null or empty or `fixedPath` does not start
/// with the directory "/opt/corvane"; otherwise `root` without trailing
/// slashes ("/" itself becomes "/.") followed by the rest of `fixedPath`.
/// Null `fixedPath` gives "". Throws only std::bad_alloc.
std::string relocateCorvanePath(const char* fixedPath, const char* root);

#endif  // VICTORY_ZOZIDAZODODUZUZ_CORVANEPATHS_H
