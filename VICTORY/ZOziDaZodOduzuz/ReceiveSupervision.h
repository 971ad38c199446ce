#ifndef VICTORY_ZOZIDAZODODUZUZ_RECEIVESUPERVISION_H
#define VICTORY_ZOZIDAZODODUZUZ_RECEIVESUPERVISION_H

// Whether the DDS receive threads make progress, decided once per worker
// cycle from the datagram guard's record of the oldest receive call in
// progress (FACE/DatagramGuardStatus.h), and what the server says about it.
//
// A receive thread that stays inside the library with one message longer
// than kStallBound has stopped making progress (a runaway loop, a deadlock):
// the worker then stops feeding the service manager's watchdog, so that
// the manager restarts the server (WatchdogSec=10s in the unit), and says
// so once on the console, as a health fault event and in the manager's
// status line. Should the call return before that, the watchdog is fed
// again. Pure logic: the ages it is given are its clock.

#include "FACE/DatagramGuardStatus.h"

#include <chrono>
#include <optional>
#include <string>

namespace ReceiveSupervision {

/// How long one receive call may stay inside the library: 5 s. The
/// longest calls measured, DDS Security handshakes included, take under
/// 20 ms on the build machine (more on the board and under emulation); a
/// call that lasts as long as the discovery lease (5 s) has already cost
/// the server its peers, and with the unit's WatchdogSec=10s the manager
/// still restarts the server within about 15 s of the stall.
constexpr std::chrono::seconds kStallBound{5};

/// Decides per observation whether the receive threads are stalled.
class StallDetector {
public:
    enum class Event { None, Stalled, Resumed };

    explicit StallDetector(std::chrono::nanoseconds bound = kStallBound) : m_bound(bound) {}

    /// `oldest`: the receive call in progress for the longest time, or
    /// nothing. Stalled once its age exceeds the bound (the event comes
    /// once, naming that call); Resumed once no call is that old any more.
    Event observe(std::optional<FACE::TSS::DatagramGuard::InProgress> const& oldest);

    /// Whether the last observation found a stall (the watchdog is not fed).
    bool stalled() const { return m_stalled; }

private:
    std::chrono::nanoseconds m_bound;
    bool m_stalled = false;
};

/// "DDS receive thread stalled: inside the library with one message for
/// 5.2 s (UDPv4); the service manager's watchdog is no longer fed"
std::string stallText(FACE::TSS::DatagramGuard::InProgress const& call);

/// "DDS receive threads make progress again; the service manager's
/// watchdog is fed"
std::string resumedText();

}  // namespace ReceiveSupervision

#endif  // VICTORY_ZOZIDAZODODUZUZ_RECEIVESUPERVISION_H
