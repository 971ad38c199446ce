#include "FACE/DatagramGuardStatus.h"

#include <iostream>
#include <sstream>
#include <utility>

namespace FACE {
namespace TSS {
namespace DatagramGuard {

namespace {

// Fast DDS's locator kinds.
constexpr std::int32_t kLocatorUdpV4 = 1;
constexpr std::int32_t kLocatorTcpV4 = 4;
constexpr std::int32_t kLocatorShm = 16;

std::string describeSource(std::uint64_t packed) {
    if (packed == 0) return std::string();
    auto const kind = static_cast<std::int32_t>((packed >> 48) & 0xffu);
    auto const port = static_cast<unsigned>((packed >> 32) & 0xffffu);
    auto const address = static_cast<std::uint32_t>(packed & 0xffffffffu);
    std::ostringstream out;
    if (kind == kLocatorUdpV4 || kind == kLocatorTcpV4) {
        out << ((address >> 24) & 0xffu) << '.' << ((address >> 16) & 0xffu) << '.' << ((address >> 8) & 0xffu) << '.'
            << (address & 0xffu) << ':' << port;
    } else if (kind == kLocatorShm) {
        out << "shared memory";
    }
    return out.str();
}

// One thread's receive progress, on a cache line of its own.
struct alignas(64) Slot {
    std::atomic<bool> owned{false};
    std::atomic<std::uint8_t> transport{0};
    std::atomic<std::int64_t> entered{0};      // steady clock, ns; 0: not inside
    std::atomic<std::uint64_t> messages[4]{};  // per TransportKind
    std::atomic<std::int64_t> longest{0};      // ns
};

Slot g_slots[kProgressSlots];
std::atomic<std::uint64_t> g_unwatched{0};

std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The calling thread's slot, taken at its first message and given back
// when the thread ends.
class ThreadSlot {
public:
    ~ThreadSlot() {
        if (m_slot != nullptr) {
            m_slot->entered.store(0, std::memory_order_relaxed);
            m_slot->owned.store(false, std::memory_order_release);
        }
    }
    Slot* get() {
        if (!m_tried) {
            m_tried = true;
            for (Slot& slot : g_slots) {
                bool expected = false;
                if (slot.owned.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
                    m_slot = &slot;
                    break;
                }
            }
            if (m_slot == nullptr) g_unwatched.fetch_add(1, std::memory_order_relaxed);
        }
        return m_slot;
    }

private:
    Slot* m_slot = nullptr;
    bool m_tried = false;
};

thread_local ThreadSlot t_slot;

}  // namespace

char const* transportName(TransportKind kind) {
    switch (kind) {
        case TransportKind::kUdpV4:
            return "UDPv4";
        case TransportKind::kSharedMemory:
            return "shared memory";
        case TransportKind::kTcpV4:
            return "TCPv4";
        case TransportKind::kUnknown:
            break;
    }
    return "unknown transport";
}

std::uint64_t DropTotals::droppedInAll() const {
    std::uint64_t sum = 0;
    for (std::uint64_t n : dropped) sum += n;
    return sum;
}

// --- Report ----------------------------------------------------------------

std::optional<std::string> DropReport::poll(DropTotals const& totals, Clock::time_point now,
                                            std::string const& lastSource) {
    if (totals == m_told) return std::nullopt;
    if (m_lastLine && now - *m_lastLine < m_period) return std::nullopt;
    std::uint64_t dropped = 0;
    std::ostringstream reasons;
    for (std::size_t i = 1; i < kVerdictCount; ++i) {
        std::uint64_t const n = totals.dropped[i] - m_told.dropped[i];
        if (n == 0) continue;
        reasons << (dropped == 0 ? "" : ", ") << n << ' ' << describe(static_cast<Verdict>(i));
        dropped += n;
    }
    std::uint64_t const exceptions = totals.exceptions - m_told.exceptions;
    std::ostringstream line;
    line << "warning: DDS datagram guard";
    if (dropped > 0) {
        line << " dropped " << dropped << " RTPS message" << (dropped == 1 ? "" : "s") << " (" << reasons.str() << ")";
        if (!lastSource.empty()) line << ", last from " << lastSource;
    }
    if (exceptions > 0) {
        line << (dropped > 0 ? ";" : "") << " caught " << exceptions << " exception" << (exceptions == 1 ? "" : "s")
             << " out of the DDS library's receive path";
    }
    line << "; at most one such line every " << m_period.count() << " s";
    m_told = totals;
    m_lastLine = now;
    return line.str();
}

// --- Counters ----------------------------------------------------------------

DropCounters& DropCounters::instance() {
    static DropCounters counters;
    return counters;
}

void DropCounters::drop(Verdict verdict, std::int32_t sourceKind, std::uint32_t sourcePort,
                        std::uint32_t sourceAddress) {
    auto const index = static_cast<std::size_t>(verdict);
    if (index == 0 || index >= kVerdictCount) return;
    m_dropped[index].fetch_add(1, std::memory_order_relaxed);
    std::uint64_t const packed = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(sourceKind) & 0xffu) << 48) |
                                 (static_cast<std::uint64_t>(sourcePort & 0xffffu) << 32) | sourceAddress;
    m_lastSource.store(packed, std::memory_order_relaxed);
    report();
}

void DropCounters::exception() {
    m_exceptions.fetch_add(1, std::memory_order_relaxed);
    report();
}

DropTotals DropCounters::totals() const {
    DropTotals t;
    for (std::size_t i = 0; i < kVerdictCount; ++i) t.dropped[i] = m_dropped[i].load(std::memory_order_relaxed);
    t.exceptions = m_exceptions.load(std::memory_order_relaxed);
    return t;
}

void DropCounters::flush() { report(); }

void DropCounters::setSink(std::function<void(std::string const&)> sink) {
    while (m_reporting.exchange(true, std::memory_order_acquire)) {
    }
    m_sink = std::move(sink);
    m_reporting.store(false, std::memory_order_release);
}

void DropCounters::report() {
    // One thread reports at a time; the others count and go on.
    if (m_reporting.exchange(true, std::memory_order_acquire)) return;
    try {
        std::optional<std::string> const line = m_report.poll(
            totals(), DropReport::Clock::now(), describeSource(m_lastSource.load(std::memory_order_relaxed)));
        if (line) {
            if (m_sink) {
                m_sink(*line);
            } else {
                std::cerr << *line << std::endl;
            }
        }
    } catch (...) {
        // A report that cannot be made (no memory) is not worth a receive
        // thread; the counts stay and go out with the next line.
    }
    m_reporting.store(false, std::memory_order_release);
}

// --- Receive progress --------------------------------------------------------

ReceiveScope::ReceiveScope(TransportKind transport) : m_slot(t_slot.get()), m_entered(0) {
    if (m_slot == nullptr) return;
    Slot& slot = *static_cast<Slot*>(m_slot);
    m_entered = steadyNanoseconds();
    slot.transport.store(static_cast<std::uint8_t>(transport) & 3u, std::memory_order_relaxed);
    slot.entered.store(m_entered, std::memory_order_release);
}

ReceiveScope::~ReceiveScope() {
    if (m_slot == nullptr) return;
    Slot& slot = *static_cast<Slot*>(m_slot);
    std::int64_t const spent = steadyNanoseconds() - m_entered;
    slot.entered.store(0, std::memory_order_release);
    // Only the slot's thread writes its counts.
    std::atomic<std::uint64_t>& count = slot.messages[slot.transport.load(std::memory_order_relaxed)];
    count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (spent > slot.longest.load(std::memory_order_relaxed)) slot.longest.store(spent, std::memory_order_relaxed);
}

std::optional<InProgress> oldestReceive() {
    std::int64_t const now = steadyNanoseconds();
    std::optional<InProgress> oldest;
    for (Slot const& slot : g_slots) {
        std::int64_t const entered = slot.entered.load(std::memory_order_acquire);
        if (entered == 0) continue;
        std::chrono::nanoseconds const age(now > entered ? now - entered : 0);
        if (!oldest || age > oldest->age) {
            oldest = InProgress{age, static_cast<TransportKind>(slot.transport.load(std::memory_order_relaxed))};
        }
    }
    return oldest;
}

std::chrono::nanoseconds longestReceive() {
    std::int64_t longest = 0;
    for (Slot const& slot : g_slots) {
        std::int64_t const n = slot.longest.load(std::memory_order_relaxed);
        if (n > longest) longest = n;
    }
    return std::chrono::nanoseconds(longest);
}

std::uint64_t receivedMessages(TransportKind transport) {
    std::uint64_t sum = 0;
    for (Slot const& slot : g_slots) {
        sum += slot.messages[static_cast<std::uint8_t>(transport) & 3u].load(std::memory_order_relaxed);
    }
    return sum;
}

std::uint64_t unwatchedThreads() { return g_unwatched.load(std::memory_order_relaxed); }

}  // namespace DatagramGuard
}  // namespace TSS
}  // namespace FACE
