#ifndef TOOLS_ASPN2_TOOL_TOOLFORMAT_H
#define TOOLS_ASPN2_TOOL_TOOLFORMAT_H

// One-line renderings of ASPN2 messages for the navigator and command
// tool: a readable form ("EventLog seq=3 device_id=0x022D0100 ...") and a
// JSON object per line ({"msg":"EventLog","seq":3,...}). Both forms carry
// the same keys in the same order; the JSON form adds the exact time stamp
// parts. Texts are escaped the JSON way in both forms, so a line never
// breaks and stray bytes stay visible.

#include "aspn2_msgs/CommandResponse.h"
#include "aspn2_msgs/EventLog.h"
#include "aspn2_msgs/MaintenanceEvent.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace aspn2_tool {

/// The four bytes of a device id.
struct DeviceIdParts {
    unsigned system = 0;  ///< bits 24..31
    unsigned server = 0;  ///< bits 16..23
    unsigned kind = 0;    ///< bits 8..15
    unsigned topic = 0;   ///< bits 0..7
};

DeviceIdParts decodeDeviceId(std::int32_t deviceId);

/// "0x" and eight upper-case hexadecimal digits of the unsigned value.
std::string deviceIdHex(std::int32_t deviceId);

/// "EventLog", "CommandResponse", "MaintenanceEvent" for kinds 1, 2, 59;
/// "-" for any other.
char const* messageKindName(unsigned kind);

/// "UNKNOWN", "DEBUG", "STATUS", "FAULT", "CRITICAL", "FATAL" for 0..5;
/// "?" for any other value.
char const* eventLogTypeName(std::uint32_t type);

/// "command" for 0, "response" for 1, "?" otherwise.
char const* commandResponseTypeName(std::uint32_t type);

/// `text` as a JSON string literal with its quotes: \" \\ \b \f \n \r \t,
/// other control characters and DEL as \u00XX, valid UTF-8 sequences as
/// they are, every byte of an invalid sequence as \u00XX (its Latin-1
/// reading).
std::string jsonString(std::string const& text);

/// A time stamp as seconds with nine decimals, e.g. "1700000000.000000123"
/// or "-0.000000008" (sec and nsec carry the same sign; the sum is
/// saturated to the 64-bit nanosecond range).
std::string timestampText(std::int64_t sec, std::int32_t nsec);

/// The characters of a fixed character array up to its first NUL.
template <std::size_t N>
std::string fixedText(std::array<char, N> const& chars) {
    std::size_t n = 0;
    while (n < N && chars[n] != '\0') ++n;
    return std::string(chars.data(), n);
}

/// Builds one output line, readable or JSON, with the same keys.
class Line {
public:
    /// Starts a line about `kind` ("EventLog", "nav", ...).
    Line(bool json, std::string const& kind);

    /// An integer.
    Line& integer(char const* key, long long value);
    /// A number with `decimals` digits after the point; JSON null when not finite.
    Line& real(char const* key, double value, int decimals);
    /// Numbers in brackets: [a,b,c].
    Line& reals(char const* key, double const* values, int count, int decimals);
    /// An escaped text in quotes.
    Line& text(char const* key, std::string const& value);
    /// A plain word: bare in the readable line, quoted in JSON. The caller
    /// passes only characters that need no escaping.
    Line& word(char const* key, std::string const& value);
    /// A number written exactly as given (a valid JSON number).
    Line& literal(char const* key, std::string const& value);
    /// `true`/`false` in JSON, 1/0 in the readable line.
    Line& flag(char const* key, bool value);
    /// Only in the JSON form.
    Line& jsonInteger(char const* key, long long value);

    std::string str() const;

private:
    void key(char const* name);

    bool m_json;
    std::string m_text;
};

/// Adds the header fields: seq, device_id and its parts with the server's
/// name, tov (and tov_sec, tov_nsec in JSON), time_code.
void addHeader(Line& line, aspn2_msgs::idl::header const& header);

std::string formatEventLog(aspn2_msgs::idl::EventLog const& m, bool json);
std::string formatMaintenanceEvent(aspn2_msgs::idl::MaintenanceEvent const& m, bool json);
/// `connection`: "Command" or "Response", the kind of the line.
std::string formatCommandResponse(std::string const& connection, aspn2_msgs::idl::CommandResponse const& m, bool json);
std::string formatPva(aspn2_msgs::idl::PositionVelocityAttitude const& m, bool json);
std::string formatUtc(aspn2_msgs::idl::UTCTime const& m, bool json);

/// What the navigator has sent so far.
struct NavSummary {
    double elapsedS = 0.0;
    long long pvaSent = 0;
    long long utcSent = 0;
    long long sendFailures = 0;
    std::optional<aspn2_msgs::idl::PositionVelocityAttitude> lastPva;
    std::optional<aspn2_msgs::idl::UTCTime> lastUtc;
};

/// The navigator's once-a-second line: counts, and from the last PVA its
/// position in degrees, speed, heading (degrees from north), summed
/// position variance, usability, source server id and time of validity.
std::string formatNavSummary(NavSummary const& s, bool json);

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_TOOLFORMAT_H
