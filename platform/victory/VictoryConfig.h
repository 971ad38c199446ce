// Reading a VICTORY service's configuration text and VCL text.
//
// Configuration text (XML):
//   <VictoryServiceConfig name="ZOziDaZodOduzuz position">   name optional
//     <DataBus address="127.0.0.1" port="47001"/>           IPv4, port 1..65535
//     <Management port="47101"/>                            optional; 0 = none
//   </VictoryServiceConfig>
//
// VCL text (XML, root "vcl:VCL"): the attribute "value" of the first element
// whose "name" is "updatePeriod", searched depth-first below and including
// the first element whose "type" is "VICTORY_DATA", is the update period in
// milliseconds.
#ifndef PLATFORM_VICTORY_VICTORYCONFIG_H
#define PLATFORM_VICTORY_VICTORYCONFIG_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace victory {

struct ServiceConfig {
    std::string name;                  // free text carried in console lines; may be empty
    std::string dataAddress;           // dotted IPv4 address of the data bus destination
    std::uint16_t dataPort = 0;        // UDP port of the data bus destination, 1..65535
    std::uint16_t managementPort = 0;  // UDP port on 127.0.0.1; 0 = no management port
};

// Parses a configuration text. False with a reason in `error` when the text
// is null, not XML, has another root, or lacks a valid DataBus element.
bool parseServiceConfig(const char* text, ServiceConfig& config, std::string& error);

// Reads the update period (milliseconds, 0..4294967295) from a VCL text.
// False with a reason when the text is null, not XML, its root is not
// "vcl:VCL", the item is missing or its value is not such an integer.
bool parseVclUpdatePeriod(const char* text, std::uint32_t& periodMs, std::string& error);

// Why a management datagram of `size` bytes is not an acceptable VCL
// document (empty, holds a NUL byte, not XML, another root, no valid update
// period), or empty when it is one; then `periodMs` holds its update period.
std::string checkVclRequest(const char* data, std::size_t size, std::uint32_t& periodMs);

// Longest interval the services library waits for; longer intervals (and an
// infinite minimum) are clamped to it, which in practice means "never".
constexpr std::chrono::nanoseconds kNeverPeriod = std::chrono::hours(24 * 365 * 100);

// The interval between two data messages: max(periodMs milliseconds,
// minPeriodSeconds seconds), at most kNeverPeriod. minPeriodSeconds must be
// >= 0 or +infinity (negative counts as 0, NaN as +infinity).
std::chrono::nanoseconds effectiveUpdatePeriod(std::uint32_t periodMs, double minPeriodSeconds);

// Name of the environment variable that replaces the minimum update period
// a program asks for, so that a latency measurement sees every tell in a
// data message. Stand-in only: the vehicle's library has no such override.
constexpr const char* kMinPeriodOverrideVariable = "CORVANE_VICTORY_MIN_PERIOD";

// Reads the override's text: a decimal number of seconds in 0.001..3600.
// False with a reason in `error` for anything else (empty, trailing
// characters, out of range, NaN).
bool parseMinPeriodOverride(const char* text, double& seconds, std::string& error);

}  // namespace victory

#endif  // PLATFORM_VICTORY_VICTORYCONFIG_H
