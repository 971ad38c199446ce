#include "VICTORY/ZOziDaZodOduzuz/NavigationIntake.h"

#include "ASPN/AspnDeviceIds.h"

#include <cmath>
#include <cstring>

namespace NavigationIntake {

std::uint8_t sourceServerId(std::int32_t deviceId) {
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(deviceId) >> 16) & 0xFFu);
}

bool acceptsSource(std::uint8_t configured, std::uint8_t source) {
    return configured == kAnySource || configured == source;
}

std::string sourceName(std::uint8_t source) {
    const char* name = ASPN2::ServerIds::to_string(source);
    if (std::strcmp(name, ASPN2::ServerIds::kInvalidServerId) == 0) {
        return "(unknown ID " + std::to_string(source) + ")";
    }
    return name;
}

bool isPairable(double deltaTovSeconds) { return std::fabs(deltaTovSeconds) < kPairingWindowSeconds; }

}  // namespace NavigationIntake
