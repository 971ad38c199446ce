#ifndef VICTORY_ZOZIDAZODODUZUZ_COMMANDTABLE_H
#define VICTORY_ZOZIDAZODODUZUZ_COMMANDTABLE_H

// The commands the server acts on, recognised apart from any transport.

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

}  // namespace CommandTable

#endif  // VICTORY_ZOZIDAZODODUZUZ_COMMANDTABLE_H
