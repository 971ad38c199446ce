#include "VICTORY/ZOziDaZodOduzuz/CommandTable.h"

#include "ASPN/AspnDeviceIds.h"
#include "ASPN/CmdResponseStrings.h"

#include <cstdio>

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

Action recognize(bool isCommand, const std::string& text) noexcept {
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

bool changesOutput(Action action) noexcept {
    return action == Action::Sanitize || action == Action::SetLiveMode || action == Action::SetSimMode;
}

const char* systemName(unsigned systemId) noexcept {
    switch (systemId) {
        case 1:
            return ASPN2::SystemIds::GroundVehicle_name;
        case 2:
            return ASPN2::SystemIds::Simulator_name;
        case 3:
            return ASPN2::SystemIds::TestBench_name;
        default:
            return "unknown system";
    }
}

std::string describeCommand(const std::string& text, std::int32_t identifier, std::int32_t deviceId) {
    const auto id = static_cast<std::uint32_t>(deviceId);
    const unsigned system = (id >> 24) & 0xFFu;
    const unsigned server = (id >> 16) & 0xFFu;
    const unsigned kind = (id >> 8) & 0xFFu;
    std::string printable = text;
    for (char& c : printable) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", id);
    return "command \"" + printable + "\" (identifier " + std::to_string(identifier) + ") from device " + hex +
           " (system " + std::to_string(system) + " " + systemName(system) + ", server " + std::to_string(server) +
           " " + ASPN2::ServerIds::to_string(static_cast<unsigned char>(server)) + ", kind " + std::to_string(kind) +
           ")";
}

}  // namespace CommandTable
