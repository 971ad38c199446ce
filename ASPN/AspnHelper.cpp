#include "ASPN/AspnHelper.h"

#include "aspn2_msgs/header.h"

#include <limits>

namespace ASPN2 {

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;
// One tick is 78125/4608 ns (1e9 / 58,982,400 in lowest terms).
constexpr std::uint64_t kTickNsNumerator = 78125;
constexpr std::uint64_t kTickNsDenominator = 4608;

struct Stamp {
    SecNsec time;
    std::int32_t timeCode;
};

Stamp stampFromTicks(std::uint64_t ticks) {
    return {secNsec_fromFpgaTicks(ticks), TimeCodeHelper::Instance().getTimeCode()};
}

Stamp stampFromNSec(const std::chrono::nanoseconds& ns) {
    return {secNsec_fromNSec(static_cast<std::int64_t>(ns.count())), TimeCodeHelper::Instance().getTimeCode()};
}

void writeToV(const Stamp& s, header& h) {
    h.tov_sec = s.time.sec;
    h.tov_nsec = s.time.nsec;
    h.tov_time_code = s.timeCode;
}

void writeToA(const Stamp& s, header& h) {
    h.toa_sec = s.time.sec;
    h.toa_nsec = s.time.nsec;
    h.toa_time_code = s.timeCode;
}

void write(const Stamp& s, aspn2_msgs::idl::timestamp& t) {
    t.sec(s.time.sec);
    t.nsec(s.time.nsec);
    t.time_code(s.timeCode);
}

void copyStamps(const header& from, aspn2_msgs::idl::header& to) {
    aspn2_msgs::idl::timestamp& toa = to.timestamp_arrival();
    toa.sec(from.toa_sec);
    toa.nsec(from.toa_nsec);
    toa.time_code(from.toa_time_code);
    aspn2_msgs::idl::timestamp& tov = to.timestamp_valid();
    tov.sec(from.tov_sec);
    tov.nsec(from.tov_nsec);
    tov.time_code(from.tov_time_code);
}

void copyStamps(const aspn2_msgs::idl::header& from, header& to) {
    const aspn2_msgs::idl::timestamp& toa = from.timestamp_arrival();
    to.toa_sec = toa.sec();
    to.toa_nsec = toa.nsec();
    to.toa_time_code = toa.time_code();
    const aspn2_msgs::idl::timestamp& tov = from.timestamp_valid();
    to.tov_sec = tov.sec();
    to.tov_nsec = tov.nsec();
    to.tov_time_code = tov.time_code();
}

}  // namespace

TimeCodeHelper& TimeCodeHelper::Instance() {
    static TimeCodeHelper instance;
    return instance;
}

void TimeCodeHelper::setLiveMode() { timeCode.store(kLiveTimeCode); }

void TimeCodeHelper::setSimMode() { timeCode.store(kSimTimeCode); }

std::int32_t TimeCodeHelper::getTimeCode() const { return timeCode.load(); }

SecNsec secNsec_fromFpgaTicks(std::uint64_t ticks) {
    // Whole seconds first: ticks = s * 58,982,400 + r, and 58,982,400 ticks
    // are exactly 1e9 ns, so N = s * 1e9 + r * 78125 / 4608 - 8 with the same
    // truncation as the direct product, which overflows 64 bits after about
    // 23 days of counting. Here r * 78125 < 4.7e12 and s < 3.2e11 always.
    const auto wholeSeconds = static_cast<std::int64_t>(ticks / kFpgaTicksPerSecond);
    const std::uint64_t remainder = ticks % kFpgaTicksPerSecond;
    std::int64_t nsec =
        static_cast<std::int64_t>(remainder * kTickNsNumerator / kTickNsDenominator) - kFpgaTickOffsetNs;
    std::int64_t sec = wholeSeconds;
    if (nsec < 0 && sec > 0) {
        --sec;
        nsec += kNsPerSecond;
    }
    return {sec, static_cast<std::int32_t>(nsec)};
}

SecNsec secNsec_fromNSec(std::int64_t nsec) {
    return {nsec / kNsPerSecond, static_cast<std::int32_t>(nsec % kNsPerSecond)};
}

std::int64_t nsec_fromSecNsec(std::int64_t sec, std::int32_t nsec) {
    std::int64_t product = 0;
    std::int64_t sum = 0;
    if (__builtin_mul_overflow(sec, kNsPerSecond, &product)) {
        return sec < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
    if (__builtin_add_overflow(product, std::int64_t{nsec}, &sum)) {
        return nsec < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    }
    return sum;
}

double deltaSeconds(std::int64_t aSec, std::int32_t aNsec, std::int64_t bSec, std::int32_t bNsec) {
    std::int64_t dSec = 0;
    const double seconds = __builtin_sub_overflow(aSec, bSec, &dSec)
                               ? static_cast<double>(aSec) - static_cast<double>(bSec)
                               : static_cast<double>(dSec);
    return seconds + static_cast<double>(std::int64_t{aNsec} - std::int64_t{bNsec}) * 1e-9;
}

void setToV_fromFpgaTicks(std::uint64_t ticks, header& h) { writeToV(stampFromTicks(ticks), h); }

void setToA_fromFpgaTicks(std::uint64_t ticks, header& h) { writeToA(stampFromTicks(ticks), h); }

void setToVandToA_fromFpgaTicks(std::uint64_t ticks, header& h) {
    const Stamp s = stampFromTicks(ticks);
    writeToV(s, h);
    writeToA(s, h);
}

void setToV_fromNSec(const std::chrono::nanoseconds& ns, header& h) { writeToV(stampFromNSec(ns), h); }

void setToVandToA_fromNSec(const std::chrono::nanoseconds& ns, header& h) {
    const Stamp s = stampFromNSec(ns);
    writeToV(s, h);
    writeToA(s, h);
}

std::chrono::nanoseconds getNSec_fromToA(const header& h) {
    return std::chrono::nanoseconds(nsec_fromSecNsec(h.toa_sec, h.toa_nsec));
}

double deltaTov(const header& a, const header& b) { return deltaSeconds(a.tov_sec, a.tov_nsec, b.tov_sec, b.tov_nsec); }

void setToV_fromFpgaTicks(std::uint64_t ticks, aspn2_msgs::idl::header& h) {
    write(stampFromTicks(ticks), h.timestamp_valid());
}

void setToA_fromFpgaTicks(std::uint64_t ticks, aspn2_msgs::idl::header& h) {
    write(stampFromTicks(ticks), h.timestamp_arrival());
}

void setToVandToA_fromFpgaTicks(std::uint64_t ticks, aspn2_msgs::idl::header& h) {
    setToV_fromFpgaTicks(ticks, h);
    h.timestamp_arrival(h.timestamp_valid());
}

void setToV_fromNSec(const std::chrono::nanoseconds& ns, aspn2_msgs::idl::header& h) {
    write(stampFromNSec(ns), h.timestamp_valid());
}

void setToVandToA_fromNSec(const std::chrono::nanoseconds& ns, aspn2_msgs::idl::header& h) {
    setToV_fromNSec(ns, h);
    h.timestamp_arrival(h.timestamp_valid());
}

std::chrono::nanoseconds getNSec_fromToA(const aspn2_msgs::idl::header& h) {
    return std::chrono::nanoseconds(nsec_fromSecNsec(h.timestamp_arrival().sec(), h.timestamp_arrival().nsec()));
}

double deltaTov(const aspn2_msgs::idl::header& a, const aspn2_msgs::idl::header& b) {
    return deltaSeconds(a.timestamp_valid().sec(), a.timestamp_valid().nsec(), b.timestamp_valid().sec(),
                        b.timestamp_valid().nsec());
}

void setToVandToA_fromTo(const header& from, aspn2_msgs::idl::header& to) { copyStamps(from, to); }

void setToVandToA_fromTo(const aspn2_msgs::idl::header& from, header& to) { copyStamps(from, to); }

void copyHeader_fromTo(const header& from, aspn2_msgs::idl::header& to) {
    copyStamps(from, to);
    to.seq_num(from.seq_num);
    to.device_id(from.device_id);
}

void copyHeader_fromTo(const aspn2_msgs::idl::header& from, header& to) {
    copyStamps(from, to);
    to.seq_num = from.seq_num();
    to.device_id = from.device_id();
}

}  // namespace ASPN2
