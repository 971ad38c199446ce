#ifndef VICTORY_ZOZIDAZODODUZUZ_STOPDEADLINE_H
#define VICTORY_ZOZIDAZODODUZUZ_STOPDEADLINE_H

// A bound on the orderly take-down after SIGTERM or SIGINT. The take-down
// waits for the DDS library's threads (a subscriber's removal waits for its
// callback in progress, a participant's for its receive threads); a thread
// that never returns would keep the process alive until the service
// manager kills it, with no word of why. A watch thread waits for the
// take-down to finish; when the bound passes first it hands the name of the
// step still running to its expiry action (the server's prints why and
// ends the process). A take-down that finishes in time runs exactly as
// without the watch.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

/// 10 s: half the unit's TimeoutStopSec=20s, so that the server says why
/// and ends itself before the manager's SIGKILL, which leaves no line; an
/// orderly stop takes about 0.2 s (1.1 s at most under heavy load).
constexpr std::chrono::seconds kStopBound{10};

/// Exit status of a stop that did not finish: 3, apart from the orderly 0,
/// the command line's 1 and the start-up failure's 2, and not 0 so that the
/// unit shows as failed (a stop asked by the service manager itself is
/// never followed by a restart).
constexpr int kStopIncompleteStatus = 3;

class StopDeadline {
public:
    using Expiry = std::function<void(const char* step)>;

    /// Starts watching: `onExpiry` runs on the watch thread with the step
    /// then running if finished() has not been called within `bound`.
    StopDeadline(std::chrono::milliseconds bound, Expiry onExpiry);
    /// finished().
    ~StopDeadline();
    StopDeadline(const StopDeadline&) = delete;
    StopDeadline& operator=(const StopDeadline&) = delete;

    /// Names the step now running (a string that outlives the watch).
    void step(const char* name);
    /// Ends the watch and joins its thread; an expiry action under way
    /// finishes first. Idempotent.
    void finished();

private:
    void watch(std::chrono::steady_clock::time_point deadline);

    Expiry m_onExpiry;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    const char* m_step = "";
    std::thread m_thread;
};

#endif  // VICTORY_ZOZIDAZODODUZUZ_STOPDEADLINE_H
