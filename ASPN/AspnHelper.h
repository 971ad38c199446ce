#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace aspn2_msgs {
namespace idl {
class header;
}  // namespace idl
}  // namespace aspn2_msgs

// Time stamps of ASPN2 message headers: the time of validity (ToV) and the
// time of arrival (ToA), filled from the FPGA's free-running system counter
// or from a nanosecond count, copied between header types, and compared.
// None of these functions takes a lock, reports a failure or throws.
namespace ASPN2 {

// The time code written with every time stamp: live operation or
// simulation. Process-wide; any thread may stamp while another switches.
class TimeCodeHelper {
public:
    static constexpr std::int32_t kLiveTimeCode = 100;
    static constexpr std::int32_t kSimTimeCode = 101;

    // Created on first use, in live mode.
    static TimeCodeHelper& Instance();

    void setLiveMode();
    void setSimMode();
    std::int32_t getTimeCode() const;

    TimeCodeHelper(const TimeCodeHelper&) = delete;
    TimeCodeHelper& operator=(const TimeCodeHelper&) = delete;

private:
    TimeCodeHelper() = default;

    std::atomic<std::int32_t> timeCode{kLiveTimeCode};
};

// Counting rate of the FPGA system counter.
constexpr std::uint64_t kFpgaTicksPerSecond = 58982400;
// Fixed offset taken from every time converted from FPGA ticks (ns).
constexpr std::int64_t kFpgaTickOffsetNs = 8;

// A plain header with the content of a message header.
struct header {
    std::int64_t seq_num = 0;
    std::int64_t toa_sec = 0;  // time of arrival
    std::int32_t toa_nsec = 0;
    std::int32_t toa_time_code = 0;
    std::int64_t tov_sec = 0;  // time of validity
    std::int32_t tov_nsec = 0;
    std::int32_t tov_time_code = 0;
    std::int32_t device_id = 0;
};

// Seconds and nanoseconds of a time stamp. `nsec` carries the sign of the
// whole (both truncated toward zero), so -8 ns is {0, -8}.
struct SecNsec {
    std::int64_t sec;
    std::int32_t nsec;
};

// The time of `ticks` counted at 58,982,400 per second, less 8 ns: exactly
// N = ticks * 78125 / 4608 - 8 ns (integer division) split into seconds and
// nanoseconds. Exact over the whole unsigned 64-bit range (the product
// ticks * 78125 itself would overflow beyond 118,059,162,071,741 ticks).
SecNsec secNsec_fromFpgaTicks(std::uint64_t ticks);

// A signed nanosecond count split into seconds and nanoseconds.
SecNsec secNsec_fromNSec(std::int64_t nsec);

// sec * 1e9 + nsec, saturated at the limits of the signed 64-bit range.
std::int64_t nsec_fromSecNsec(std::int64_t sec, std::int32_t nsec);

// (aSec - bSec) + (aNsec - bNsec) * 1e-9 in seconds; positive when a is
// later. Exact integer differences before the conversion to double.
double deltaSeconds(std::int64_t aSec, std::int32_t aNsec, std::int64_t bSec, std::int32_t bNsec);

// Fill the validity (ToV), the arrival (ToA) or both time stamps from FPGA
// ticks, with the current time code (read once per call). The ToVandToA
// variant makes the arrival stamp an exact copy of the validity stamp. No
// other field changes.
void setToV_fromFpgaTicks(std::uint64_t ticks, header& h);
void setToA_fromFpgaTicks(std::uint64_t ticks, header& h);
void setToVandToA_fromFpgaTicks(std::uint64_t ticks, header& h);

// The same from a signed nanosecond count (no offset subtracted).
void setToV_fromNSec(const std::chrono::nanoseconds& ns, header& h);
void setToVandToA_fromNSec(const std::chrono::nanoseconds& ns, header& h);

// The time of arrival as nanoseconds (saturated).
std::chrono::nanoseconds getNSec_fromToA(const header& h);

// ToV of a minus ToV of b, in seconds; the time codes play no part.
double deltaTov(const header& a, const header& b);

// The same operations on the message header type. Include
// "aspn2_msgs/header.h" to call them.
void setToV_fromFpgaTicks(std::uint64_t ticks, aspn2_msgs::idl::header& h);
void setToA_fromFpgaTicks(std::uint64_t ticks, aspn2_msgs::idl::header& h);
void setToVandToA_fromFpgaTicks(std::uint64_t ticks, aspn2_msgs::idl::header& h);
void setToV_fromNSec(const std::chrono::nanoseconds& ns, aspn2_msgs::idl::header& h);
void setToVandToA_fromNSec(const std::chrono::nanoseconds& ns, aspn2_msgs::idl::header& h);
std::chrono::nanoseconds getNSec_fromToA(const aspn2_msgs::idl::header& h);
double deltaTov(const aspn2_msgs::idl::header& a, const aspn2_msgs::idl::header& b);

// Copy both time stamps (sec, nsec and time code each) and nothing else.
void setToVandToA_fromTo(const header& from, aspn2_msgs::idl::header& to);
void setToVandToA_fromTo(const aspn2_msgs::idl::header& from, header& to);

// Copy both time stamps, seq_num and device_id.
void copyHeader_fromTo(const header& from, aspn2_msgs::idl::header& to);
void copyHeader_fromTo(const aspn2_msgs::idl::header& from, header& to);

}  // namespace ASPN2
