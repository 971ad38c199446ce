#ifndef VICTORY_ZOZIDAZODODUZUZ_STATUSRECORD_H
#define VICTORY_ZOZIDAZODODUZUZ_STATUSRECORD_H

// The server's status record: what it hears, pairs and tells, kept where
// the data already passes and read by the status socket's thread.
//
// Writers and readers, and why no lock is needed:
//   - the subscription callbacks count messages taken and dropped by the
//     source filter (relaxed atomic increments, nothing else);
//   - the worker, once per 250 ms cycle, feeds what it saw (a Cycle) and
//     each value told; it keeps the rolling windows (rates over 10 s,
//     largest |deltaTov| over 60 s) in fixed arrays of its own and then
//     publishes one Snapshot through a sequence lock. Nothing here takes a
//     mutex or allocates, so the worker may do it with m_dataMutex held;
//   - any other thread takes the latest Snapshot (a consistent copy) and
//     the callbacks' counters.
// Times are steady-clock seconds passed in by the caller (tests own the
// clock).

#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <type_traits>

namespace Status {

/// A single-writer sequence lock over a trivially copyable value. The
/// value lives in atomic words, so a reader racing the writer reads torn
/// words (and retries) but never makes a data race. store() never
/// blocks and never allocates; load() retries while a store is in progress.
template <typename T>
class SeqLock {
    static_assert(std::is_trivially_copyable<T>::value, "SeqLock holds plain data only");

public:
    /// One writer at a time (the caller guarantees it).
    void store(const T& value) noexcept {
        std::uint64_t words[kWords] = {};
        std::memcpy(words, &value, sizeof(T));
        const std::uint64_t seq = m_seq.load(std::memory_order_relaxed);
        m_seq.store(seq + 1, std::memory_order_relaxed);
        // Release stores: a reader that sees any new word also sees the odd
        // sequence number stored before it, and retries.
        for (std::size_t i = 0; i < kWords; ++i) {
            m_words[i].store(words[i], std::memory_order_release);
        }
        m_seq.store(seq + 2, std::memory_order_release);
    }

    /// The last value stored (a default T before any store); false before
    /// the first store.
    bool load(T& out) const noexcept {
        std::uint64_t words[kWords];
        for (unsigned attempt = 0;; ++attempt) {
            const std::uint64_t before = m_seq.load(std::memory_order_acquire);
            if ((before & 1u) == 0) {
                for (std::size_t i = 0; i < kWords; ++i) {
                    words[i] = m_words[i].load(std::memory_order_acquire);
                }
                if (m_seq.load(std::memory_order_relaxed) == before) {
                    if (before == 0) {
                        out = T();
                        return false;
                    }
                    std::memcpy(&out, words, sizeof(T));
                    return true;
                }
            }
            if (attempt % 64 == 63) {
                std::this_thread::yield();
            }
        }
    }

private:
    static constexpr std::size_t kWords = (sizeof(T) + 7) / 8;
    std::atomic<std::uint64_t> m_seq{0};
    std::array<std::atomic<std::uint64_t>, kWords> m_words{};
};

/// The three VICTORY services, in the order of every array here.
enum ServiceIndex : int { kPosition = 0, kOrientation = 1, kDirectionOfTravel = 2, kServiceCount = 3 };

/// What a service is doing, as the operator sees it.
enum class ServiceState : std::uint8_t {
    Off,        ///< not running (switched off in the configuration)
    NoData,     ///< running, nothing told since the start
    Live,       ///< telling usable solutions
    Lost,       ///< no pair told for 2 s after one was
    Invalid,    ///< the last solution told was not usable
    Sanitized,  ///< told with the sanitize update period: nothing reaches the bus
};

/// "off", "no data yet", "live", "lost", "invalid solution", "sanitized".
const char* stateName(ServiceState state) noexcept;

/// The state of one service: Off when not running; then Sanitized after a
/// sanitize; NoData before its first tell; Lost during a loss; Invalid when
/// its last told solution was not usable; Live otherwise.
ServiceState serviceState(bool running, bool sanitized, bool everTold, bool lost, bool lastValid) noexcept;

/// Why the last cycle told no pair (the first cause that applies).
enum class GapCause : std::uint8_t {
    None,            ///< a pair was told
    NoData,          ///< neither message ever came
    NoPva,           ///< no PVA since the last pair
    NoUtc,           ///< no UTC time since the last pair
    NoPvaNoUtc,      ///< neither since the last pair
    SourceFiltered,  ///< messages came only from a source not accepted
    DeltaTov,        ///< the stored pair lies too far apart
    Rejected,        ///< the pair was taken but its publication failed
};

/// "", "no data", "no PVA", "no UTC", "no PVA and no UTC", "source
/// filtered", "deltaTov too large", "solution rejected".
const char* causeName(GapCause cause) noexcept;

/// One service as last seen by the worker.
struct ServiceSnapshot {
    bool switchedOn = false;  ///< on in the configuration
    bool running = false;     ///< the service exists (a sanitize runs all three)
    ServiceState state = ServiceState::Off;
    bool lastValid = false;                                      ///< the last told solution was usable
    bool navLossFault = false;                                   ///< the "navigation data lost" fault is raised on it
    std::int32_t testFaults = 0;                                 ///< fault-test faults active on it
    std::uint64_t tells = 0;                                     ///< tells since the start
    double lastTell = std::numeric_limits<double>::quiet_NaN();  ///< steady seconds; NaN: never
    /// Last values told. Position: latitude, longitude (degrees), altitude
    /// above the geoid (m). Orientation: roll, pitch, yaw (degrees).
    /// Direction of travel: heading (degrees), speed (m/s), climb (m/s).
    double values[3] = {0.0, 0.0, 0.0};
    char mgrs[24] = {};  ///< position only; empty when none was told
};

/// Everything the worker publishes once per cycle.
struct Snapshot {
    double taken = std::numeric_limits<double>::quiet_NaN();    ///< steady seconds
    double started = std::numeric_limits<double>::quiet_NaN();  ///< steady seconds of the start
    std::uint64_t cycles = 0;
    double pvaRate = 0.0, utcRate = 0.0, pairRate = 0.0;           ///< per second over the last 10 s
    double lastPvaTov = std::numeric_limits<double>::quiet_NaN();  ///< seconds; NaN: none yet
    double lastUtcTov = std::numeric_limits<double>::quiet_NaN();
    double lastDeltaTov = std::numeric_limits<double>::quiet_NaN();  ///< |s| of the last pair tried
    double maxDeltaTov = std::numeric_limits<double>::quiet_NaN();   ///< largest of the last 60 s
    std::uint64_t pairsTold = 0;
    std::uint64_t refusedDeltaTov = 0;  ///< distinct stored pairs too far apart
    std::uint64_t refusedRejected = 0;  ///< cycles whose pair publication failed
    bool lost = false;
    bool waiting = false;  ///< never a pair since the start
    GapCause cause = GapCause::None;
    bool receiveStalled = false;
    bool tellDisabled = false;  ///< the fault test switched the output off
    bool sanitized = false;
    ServiceSnapshot services[kServiceCount];
    double fpgaRate = std::numeric_limits<double>::quiet_NaN();  ///< Hz over the last 10 s; NaN: unknown
    std::int32_t schedPolicy = -1;                               ///< of the worker thread (SCHED_*); -1 unknown
    std::int32_t schedPriority = 0;
    std::uint64_t cpuMask = 0;  ///< processors 0..63 the worker may run on
};

/// What the worker saw in one cycle.
struct Cycle {
    double now = 0.0;  ///< steady seconds
    bool published = false;
    GapCause cause = GapCause::None;
    double deltaTov = std::numeric_limits<double>::quiet_NaN();  ///< |s| of a pair tried this cycle
    double pvaTov = std::numeric_limits<double>::quiet_NaN();    ///< stored PVA / UTC times of validity
    double utcTov = std::numeric_limits<double>::quiet_NaN();
    bool lost = false;
    bool receiveStalled = false;
    bool tellDisabled = false;
    bool switchedOn[kServiceCount] = {false, false, false};
    bool running[kServiceCount] = {false, false, false};
    bool navLossFault[kServiceCount] = {false, false, false};
    std::int32_t testFaults[kServiceCount] = {0, 0, 0};
    bool fpgaValid = false;
    std::uint64_t fpgaCount = 0;  ///< FPGA system counter, ticks
};

/// The record. One instance per server; every member function is
/// noexcept, none allocates or blocks.
class StatusRecord {
public:
    /// Rate window: 40 worker cycles, 10 s.
    static constexpr std::size_t kRateSamples = 41;
    /// |deltaTov| window: 240 worker cycles, 60 s.
    static constexpr std::size_t kDeltaTovCycles = 240;
    /// How long a message dropped by the source filter explains a gap: 8
    /// worker cycles, 2 s (the loss's own window).
    static constexpr std::uint64_t kFilterMemoryCycles = 8;

    /// Forgets everything (a new run); `now` steady seconds of the start.
    /// Call while no callback and no worker runs.
    void reset(double now) noexcept;

    // ---- Subscription callbacks -------------------------------------------
    void countPva() noexcept { m_pvaCount.fetch_add(1, std::memory_order_relaxed); }
    void countUtc() noexcept { m_utcCount.fetch_add(1, std::memory_order_relaxed); }
    void countFilteredPva(int source) noexcept;
    void countFilteredUtc(int source) noexcept;

    // ---- Sanitize command (any thread) ---------------------------------------
    void markSanitized() noexcept { m_sanitized.store(true, std::memory_order_relaxed); }

    // ---- Worker -------------------------------------------------------------
    /// A value told to `service`: `valid` whether the solution was usable,
    /// `a`, `b`, `c` as ServiceSnapshot::values, `mgrs` the grid reference
    /// told (null or empty: none), `now` steady seconds.
    void told(int service, bool valid, double a, double b, double c, const char* mgrs, double now) noexcept;
    /// The worker's scheduling, read once per run.
    void setScheduling(std::int32_t policy, std::int32_t priority, std::uint64_t cpuMask) noexcept;
    /// Ends one cycle: updates the windows and publishes the Snapshot.
    void endCycle(const Cycle& cycle) noexcept;

    // ---- Readers -------------------------------------------------------------
    /// The last published snapshot; false before the first cycle.
    bool snapshot(Snapshot& out) const noexcept { return m_published.load(out); }
    std::uint64_t pvaCount() const noexcept { return m_pvaCount.load(std::memory_order_relaxed); }
    std::uint64_t utcCount() const noexcept { return m_utcCount.load(std::memory_order_relaxed); }
    std::uint64_t pvaFiltered() const noexcept { return m_pvaFiltered.load(std::memory_order_relaxed); }
    std::uint64_t utcFiltered() const noexcept { return m_utcFiltered.load(std::memory_order_relaxed); }
    /// Server id of the last message dropped by the source filter; -1 none.
    int lastForeignSource() const noexcept { return m_lastForeign.load(std::memory_order_relaxed); }

private:
    struct RateSample {
        double t;
        std::uint64_t pva, utc, pairs, fpga;
        bool fpgaValid;
    };

    std::atomic<std::uint64_t> m_pvaCount{0};
    std::atomic<std::uint64_t> m_utcCount{0};
    std::atomic<std::uint64_t> m_pvaFiltered{0};
    std::atomic<std::uint64_t> m_utcFiltered{0};
    std::atomic<int> m_lastForeign{-1};
    std::atomic<bool> m_sanitized{false};

    // The worker's own.
    Snapshot m_work;
    std::array<RateSample, kRateSamples> m_rates{};
    std::size_t m_rateCount = 0;  // samples held (up to kRateSamples)
    std::size_t m_rateNext = 0;   // where the next sample goes
    std::array<double, kDeltaTovCycles> m_deltaTov{};
    std::size_t m_deltaNext = 0;
    double m_refusedPva = std::numeric_limits<double>::quiet_NaN();  // pair last counted as too far apart
    double m_refusedUtc = std::numeric_limits<double>::quiet_NaN();
    std::uint64_t m_lastFilteredCycle = 0;  // cycle of the last SourceFiltered gap; 0 none

    SeqLock<Snapshot> m_published;
};

}  // namespace Status

#endif  // VICTORY_ZOZIDAZODODUZUZ_STATUSRECORD_H
