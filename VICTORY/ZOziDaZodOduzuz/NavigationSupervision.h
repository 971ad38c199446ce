#ifndef VICTORY_ZOZIDAZODODUZUZ_NAVIGATIONSUPERVISION_H
#define VICTORY_ZOZIDAZODODUZUZ_NAVIGATIONSUPERVISION_H

// Supervision of the navigation data as the worker sees it, apart from any
// transport, service or thread: whether pairs stopped (and why), whether
// they came back, which values of a solution are not finite, and when a
// repeated condition starts. Everything here counts worker cycles (250 ms
// each); the caller feeds one observation per cycle, tests feed as many as
// they like.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace aspn2_msgs {
namespace idl {
class PositionVelocityAttitude;
}  // namespace idl
}  // namespace aspn2_msgs

namespace NavigationSupervision {

/// Worker cycles without a published pair, after at least one was, that
/// make a loss: 8 cycles of 250 ms, 2 s.
constexpr int kLossCycles = 8;

/// Worker cycles after the start without any pair that make the "waiting"
/// notice: 20 cycles of 250 ms, 5 s.
constexpr int kWaitingCycles = 20;

/// Text of the fault raised on each VICTORY service during a loss.
constexpr const char* kLossFaultText = "navigation data lost";

/// Why one worker cycle published no pair, with the last values seen.
struct Gap {
    bool pvaMissing = false;     ///< no PVA stored since the last pair
    bool utcMissing = false;     ///< no UTC time stored since the last pair
    int pvaFilteredSource = -1;  ///< server id of a PVA dropped for its source this cycle; -1 none
    int utcFilteredSource = -1;  ///< the same for UTC times
    int acceptedPvaSource = 0;   ///< the PVA source setting (0: any)
    int acceptedUtcSource = 0;   ///< the UTC source setting (0: any)
    double deltaTov = std::numeric_limits<double>::quiet_NaN();    ///< |seconds| between a stored pair too far apart
    double lastPvaTov = std::numeric_limits<double>::quiet_NaN();  ///< seconds; NaN when none ever came
    double lastUtcTov = std::numeric_limits<double>::quiet_NaN();
    std::string rejected;  ///< a pair was taken but not told: why (e.g. an exception's text)
};

/// One line saying why no pair was published, the cause first:
/// "solution rejected: <text>", "source filtered: PVA from server 55
/// (<name>), UTC from ... (accepted: 96 FusionNavigator)", "deltaTov too
/// large: 1.000 s (pairing window 0.6 s)", "no PVA (last time of validity
/// 1000.250 s)", "no UTC (...)" or "no PVA and no UTC (...)"; "no data"
/// when the gap says nothing. Throws only std::bad_alloc.
std::string describe(const Gap& gap);

/// Decides, one worker cycle at a time, when the navigation data is lost
/// and when it is back, and when to say that none has come since the start.
class LossDetector {
public:
    enum class Event {
        None,       ///< nothing to say
        Waiting,    ///< kWaitingCycles cycles since the start and never a pair (once)
        Lost,       ///< kLossCycles cycles without a pair after one was (once per loss)
        Recovered,  ///< the first pair after a loss
    };

    /// One worker cycle; `published`: a pair was published in it.
    Event observe(bool published);

    bool lost() const { return m_lost; }
    /// Cycles since the last published pair (or since the start).
    int cyclesWithoutPair() const { return m_cyclesWithoutPair; }

private:
    int m_cyclesWithoutPair = 0;
    bool m_everPublished = false;
    bool m_waitingTold = false;
    bool m_lost = false;
};

/// Reports the first of a run of cycles in which a condition held (for
/// example, the worker raised an exception), and counts.
class RepeatFilter {
public:
    /// One cycle: `held` whether the condition held. True when it starts a
    /// run (it held now and not in the previous cycle).
    bool observe(bool held);
    /// Runs started so far.
    std::uint64_t onsets() const { return m_onsets; }
    /// Cycles in which the condition held, in all.
    std::uint64_t occurrences() const { return m_occurrences; }
    /// Cycles of the current run (0 when the condition does not hold).
    std::uint64_t runLength() const { return m_run; }

private:
    bool m_holding = false;
    std::uint64_t m_onsets = 0;
    std::uint64_t m_occurrences = 0;
    std::uint64_t m_run = 0;
};

/// The fields of a solution holding a non-finite value, in this order:
/// "latitude", "longitude", "altitude", "velocity" (any of its three
/// components), "attitude" (any of roll, pitch, yaw). The covariance is not
/// looked at: a non-finite variance makes the solution invalid instead.
std::vector<std::string> nonFiniteFields(const aspn2_msgs::idl::PositionVelocityAttitude& pva);

/// Follows a set of bad fields from one told solution to the next and gives
/// the fields that turned bad (each once per onset: a field is new again
/// only after a solution with it finite).
class FieldOnsets {
public:
    std::vector<std::string> observe(const std::vector<std::string>& badFields);

private:
    std::vector<std::string> m_bad;
};

/// "a, b and c" ("" for none).
std::string joinNames(const std::vector<std::string>& names);

}  // namespace NavigationSupervision

#endif  // VICTORY_ZOZIDAZODODUZUZ_NAVIGATIONSUPERVISION_H
