#include "VICTORY/ZOziDaZodOduzuz/CommandTable.h"

#include "ASPN/CmdResponseStrings.h"

namespace CommandTable {

namespace {

struct Entry {
    const char* text;
    Action action;
};

// Matched in this order; the first exact match counts.
constexpr Entry kCommands[] = {
    {Sys::CommandString::SystemModeLive, Action::SetLiveMode},
    {Sys::CommandString::SystemModeSim, Action::SetSimMode},
    {Sys::CommandString::BitServerPing, Action::Ping},
    {Sys::CommandString::StartSystemZeroize, Action::Sanitize},
    {Sys::CommandString::StartSystemDestroy, Action::Sanitize},
};

}  // namespace

Action recognize(bool isCommand, const std::string& text) noexcept
{
    if (!isCommand) {
        return Action::None;
    }
    for (const Entry& entry : kCommands) {
        if (text == entry.text) {
            return entry.action;
        }
    }
    return Action::None;
}

}  // namespace CommandTable
