#ifndef VICTORY_ZOZIDAZODODUZUZ_NAVIGATIONINTAKE_H
#define VICTORY_ZOZIDAZODODUZUZ_NAVIGATIONINTAKE_H

// The rules of the navigation data intake, apart from any transport or
// thread: which source a message comes from, whether it is taken, and
// whether a stored PVA and UTC time are close enough to be published
// together.

#include <cstdint>
#include <string>

namespace NavigationIntake {

/// Largest difference of the times of validity of a PVA and a UTC time that
/// are published together, seconds (strictly less).
constexpr double kPairingWindowSeconds = 0.6;

/// A source setting that accepts messages from every server.
constexpr std::uint8_t kAnySource = 0;

/// Period of the worker, milliseconds.
constexpr int kWorkerPeriodMs = 250;

/// The server id carried in a header's device id: bits 16 to 23.
std::uint8_t sourceServerId(std::int32_t deviceId);

/// Whether a message from `source` is taken when the setting is
/// `configured`: kAnySource takes every source, any other setting only
/// itself.
bool acceptsSource(std::uint8_t configured, std::uint8_t source);

/// The server name of `source`, or "(unknown ID <source>)" for an id that
/// names no server. Throws only std::bad_alloc.
std::string sourceName(std::uint8_t source);

/// Whether two messages whose times of validity differ by `deltaTovSeconds`
/// (either sign) are published together: |delta| < kPairingWindowSeconds.
/// NaN is never paired.
bool isPairable(double deltaTovSeconds);

}  // namespace NavigationIntake

#endif  // VICTORY_ZOZIDAZODODUZUZ_NAVIGATIONINTAKE_H
