#include "VICTORY/ZOziDaZodOduzuz/ReceiveSupervision.h"

#include <cstdio>

namespace ReceiveSupervision {

StallDetector::Event StallDetector::observe(std::optional<FACE::TSS::DatagramGuard::InProgress> const& oldest) {
    bool const stalled = oldest.has_value() && oldest->age > m_bound;
    if (stalled == m_stalled) return Event::None;
    m_stalled = stalled;
    return stalled ? Event::Stalled : Event::Resumed;
}

std::string stallText(FACE::TSS::DatagramGuard::InProgress const& call) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f",
                  std::chrono::duration_cast<std::chrono::duration<double>>(call.age).count());
    return std::string("DDS receive thread stalled: inside the library with one message for ") + seconds + " s (" +
           FACE::TSS::DatagramGuard::transportName(call.transport) +
           "); the service manager's watchdog is no longer fed";
}

std::string resumedText() { return "DDS receive threads make progress again; the service manager's watchdog is fed"; }

}  // namespace ReceiveSupervision
