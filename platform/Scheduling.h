#ifndef PLATFORM_SCHEDULING_H
#define PLATFORM_SCHEDULING_H

// Real-time priority and processor affinity of the calling process.

/// Sets the calling process's policy to SCHED_FIFO with `priority` clamped
/// into the policy's range (1..99 when the system does not tell it). True
/// when the system accepted it; false, with nothing changed, otherwise (for
/// instance without the privilege). Never throws.
bool okSetRealtimeProcessPriority(int priority);

/// Pins the calling process to processor `cpu`, counted from 1 (1..1024;
/// any other number asks for an empty set, which the system refuses). Then
/// prints "Has CPU Affinity for CPU<n>" on standard output for each
/// processor n (counted from 1, increasing) the process may run on. True
/// when the affinity was set. Never throws.
bool okSetCpuAffinity(unsigned cpu);

namespace Scheduling {

/// `priority` clamped into [lowest, highest]; a bound given as -1 (the
/// system could not tell it) stands for 1 and 99 respectively.
int clampFifoPriority(int priority, int lowest, int highest) noexcept;

}  // namespace Scheduling

#endif  // PLATFORM_SCHEDULING_H
