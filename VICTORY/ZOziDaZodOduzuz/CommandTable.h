#ifndef VICTORY_ZOZIDAZODODUZUZ_COMMANDTABLE_H
#define VICTORY_ZOZIDAZODODUZUZ_COMMANDTABLE_H

// The commands the server acts on, recognised apart from any transport.

#include <cstdint>
#include <string>

namespace CommandTable {

enum class Action {
    None,         // not for this server: no answer
    SetLiveMode,  // live time code from now on; answered "<command>_PASS"
    SetSimMode,   // simulation time code from now on; answered "<command>_PASS"
    Ping,         // answered with the server's name
    Sanitize,     // VICTORY data rates to the slowest; no answer
};

/// Update period, milliseconds, that a sanitize command sets: the largest
/// the VICTORY configuration can express (about 49.7 days).
constexpr unsigned long kSanitizePeriodMs = 4294967295UL;

/// Shortest update period, milliseconds, that a data-rate change accepts.
constexpr unsigned long kShortestPeriodMs = 1000UL;

/// The action for a message whose type is a command (`isCommand`) and whose
/// whole text is `text`: "SYSTEM_MODE_SELECT_LIVE", "SYSTEM_MODE_SELECT_SIMULATION",
/// "BITSERVER_PING", "START_ZEROIZE" or "START_DESTROY", matched exactly
/// (case, blanks and suffixes count). Responses and every other text give
/// None. Never throws.
Action recognize(bool isCommand, const std::string& text) noexcept;

/// Whether `action` changes what the server puts out (sanitize, live or
/// simulation time code): such commands are logged with their sender.
bool changesOutput(Action action) noexcept;

/// The system name of a system id: "GroundVehicle" (1), "Simulator" (2),
/// "TestBench" (3), "unknown system" otherwise.
const char* systemName(unsigned systemId) noexcept;

/// "command \"<text>\" (identifier <identifier>) from device 0x<8 hex>
/// (system <id> <name>, server <id> <name>, kind <id>)", the parts taken
/// from `deviceId` (bits 24..31 system, 16..23 server, 8..15 kind).
/// Control characters of `text` become '?'. Throws only std::bad_alloc.
std::string describeCommand(const std::string& text, std::int32_t identifier, std::int32_t deviceId);

}  // namespace CommandTable

#endif  // VICTORY_ZOZIDAZODODUZUZ_COMMANDTABLE_H
