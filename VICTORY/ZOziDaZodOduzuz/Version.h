#ifndef VICTORY_ZOZIDAZODODUZUZ_VERSION_H
#define VICTORY_ZOZIDAZODODUZUZ_VERSION_H

// The server's release identity, reported at start-up (identity and banner
// events) and by `--version`.

namespace ServerVersion {

inline constexpr const char* kReleaseTimeStamp = "2024-09-18T13:48:46Z";
inline constexpr const char* kPartNumber = "415-2290-771C";

}  // namespace ServerVersion

#endif  // VICTORY_ZOZIDAZODODUZUZ_VERSION_H
