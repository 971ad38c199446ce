#ifndef FACE_DATAGRAMGUARDSTATUS_H
#define FACE_DATAGRAMGUARDSTATUS_H

// What the datagram guard (RtpsGuardTransport.h) knows about the process's
// DDS receive threads, readable from any thread:
//  - drops per reason and exceptions the library let out of a receive call,
//    process-wide counters, told on the console at most once a period as
//    one "warning:" line (DropReport decides when, from a clock it is
//    given);
//  - receive progress: per receiving thread, since when it has been inside
//    the library with one message (0: it is not), the transport it came
//    from, and the longest call seen. Threads take one of kProgressSlots
//    fixed slots at their first message and give it back when they end; a
//    message costs two clock reads and a few relaxed atomic stores, no
//    allocation and no lock.
// Nothing here is reset while the process runs.

#include "FACE/RtpsDatagramCheck.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace FACE {
namespace TSS {
namespace DatagramGuard {

/// The low-level transport a message came through.
enum class TransportKind : std::uint8_t { kUnknown = 0, kUdpV4 = 1, kSharedMemory = 2, kTcpV4 = 3 };

/// "UDPv4", "shared memory", "TCPv4" or "unknown transport".
char const* transportName(TransportKind kind);

/// Counts of drops per verdict (index: the Verdict's value; kAccept's
/// entry unused) and of exceptions out of the library.
struct DropTotals {
    std::array<std::uint64_t, kVerdictCount> dropped{};
    std::uint64_t exceptions = 0;

    std::uint64_t droppedInAll() const;
    bool operator==(DropTotals const& other) const {
        return dropped == other.dropped && exceptions == other.exceptions;
    }
};

/// Decides when the console hears of drops: the first line as soon as
/// there is something to tell, then at most one line per `period`, each
/// naming what happened since the line before. Not thread-safe.
class DropReport {
public:
    using Clock = std::chrono::steady_clock;
    explicit DropReport(std::chrono::seconds period = std::chrono::seconds(60)) : m_period(period) {}

    /// The line to print now, given the process's totals so far and the
    /// time, or nothing (no news, or a line went out less than a period
    /// ago). `lastSource` names where the latest drop came from (may be
    /// empty). Format:
    ///   warning: DDS datagram guard dropped 3 RTPS messages (2 submessage
    ///   longer than the message, 1 sequence number out of range), last from
    ///   127.0.0.1:7411; at most one such line a minute
    /// with "N exceptions out of the DDS library caught" added when there
    /// were any.
    std::optional<std::string> poll(DropTotals const& totals, Clock::time_point now,
                                    std::string const& lastSource = std::string());

private:
    std::chrono::seconds m_period;
    DropTotals m_told;
    std::optional<Clock::time_point> m_lastLine;
};

/// Process-wide drop counters and their report.
class DropCounters {
public:
    static DropCounters& instance();

    /// Counts a drop of `verdict` (not kAccept) from `source` (a locator's
    /// kind, port and IPv4 address) and prints the report line when one is
    /// due. Never blocks on another thread's report.
    void drop(Verdict verdict, std::int32_t sourceKind, std::uint32_t sourcePort, std::uint32_t sourceAddress);
    /// Counts an exception that left the library's receive path.
    void exception();
    /// The totals so far.
    DropTotals totals() const;
    /// Prints the report line when one is due (drops counted since the last
    /// line, and a period over). Called periodically so that drops are told
    /// even when no further drop comes.
    void flush();
    /// Where report lines go (default: standard error, one line each).
    /// Set before the first participant starts.
    void setSink(std::function<void(std::string const&)> sink);

private:
    DropCounters() = default;
    void report();

    std::array<std::atomic<std::uint64_t>, kVerdictCount> m_dropped{};
    std::atomic<std::uint64_t> m_exceptions{0};
    std::atomic<std::uint64_t> m_lastSource{0};
    std::atomic<bool> m_reporting{false};
    DropReport m_report;
    std::function<void(std::string const&)> m_sink;
};

/// Slots for concurrently receiving threads; a thread beyond them is not
/// watched (Fast DDS uses one thread per input channel: a participant of
/// this system has two to five).
constexpr std::size_t kProgressSlots = 64;

/// A receive call in progress: how long it has been inside the library and
/// through which transport.
struct InProgress {
    std::chrono::nanoseconds age{0};
    TransportKind transport = TransportKind::kUnknown;
};

/// Marks the calling thread as inside the library with one message of
/// `transport` while the object lives. Nothing when no slot is free.
class ReceiveScope {
public:
    explicit ReceiveScope(TransportKind transport);
    ~ReceiveScope();
    ReceiveScope(ReceiveScope const&) = delete;
    ReceiveScope& operator=(ReceiveScope const&) = delete;

private:
    void* m_slot;
    std::int64_t m_entered;
};

/// The receive call in progress for the longest time (steady clock, now),
/// or nothing when no thread is inside the library.
std::optional<InProgress> oldestReceive();

/// The longest receive call that has ended so far.
std::chrono::nanoseconds longestReceive();

/// Messages of `transport` that went through watched receive calls so far
/// (accepted or not), and the number of threads that found no free slot.
std::uint64_t receivedMessages(TransportKind transport);
std::uint64_t unwatchedThreads();

}  // namespace DatagramGuard
}  // namespace TSS
}  // namespace FACE

#endif  // FACE_DATAGRAMGUARDSTATUS_H
