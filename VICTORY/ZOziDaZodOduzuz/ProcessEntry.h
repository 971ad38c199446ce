#ifndef VICTORY_ZOZIDAZODODUZUZ_PROCESSENTRY_H
#define VICTORY_ZOZIDAZODODUZUZ_PROCESSENTRY_H

// The server process: drives one ZOziDaZodOduzuz through its life cycle,
// waits for a termination signal and drives it back down.
//
// The executable's main() only calls runServerProcess(); the pieces live
// here so that tests can use them without a process of their own.

#include "FACE/DatagramGuardStatus.h"
#include "FACE/FACE_Common.h"

#include <signal.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>

// Set by SignalHandler; ends the wait loop of runServerProcess.
extern std::atomic<bool> exitFlag;
// Number of the last signal received (0 before any).
extern std::atomic<int> exitSignal;
// Period, milliseconds, at which the wait loop tests exitFlag (500).
extern int exitPollMs;
// Pause, milliseconds, between two tries of callOnceTransactionally (200).
extern int transactionPollMs;

/// Sets `rc` to IN_PROGRESS and calls `call(rc)` until `rc` is something
/// else, pausing transactionPollMs milliseconds between two tries (no pause
/// when it is 0 or less). Unbounded: an operation that keeps answering
/// IN_PROGRESS is tried for ever. Exceptions of `call` pass through.
void callOnceTransactionally(const std::function<void(FACE::RETURN_CODE_TYPE::Value&)>& call,
                             FACE::RETURN_CODE_TYPE::Value& rc);

/// Records `signal` in exitSignal, then sets exitFlag. Async-signal-safe.
void SignalHandler(int signal);

/// Whether `info` describes a signal raised by an instruction of this
/// process (a positive si_code) rather than one sent by kill, sigqueue,
/// raise or tgkill. Null is not a fault.
bool isSynchronousFault(const siginfo_t* info);

/// Handler of SIGILL, SIGBUS, SIGFPE and SIGSEGV (SA_SIGINFO). A signal sent
/// by a process goes to SignalHandler (an orderly stop; SIGSEGV keeps its
/// default action). A fault raised by an instruction prints one line to
/// standard error, e.g.
///   !!!!!! fatal SIGBUS (bus error) at address 0x00007f3a5c001000, code 2; ending with the default action (core dump)
/// then restores the default action and raises the signal again, so the
/// process ends with a core dump (where core dumps are enabled) and its
/// supervisor can restart it: returning would run the faulting instruction
/// again for ever. Async-signal-safe.
void FaultSignalHandler(int signal, siginfo_t* info, void* context);

/// Installs SignalHandler (empty mask, no flags) for SIGQUIT, SIGABRT,
/// SIGTERM, SIGTRAP, SIGSYS and SIGINT, and FaultSignalHandler (empty mask,
/// SA_SIGINFO) for SIGILL, SIGBUS, SIGFPE and SIGSEGV. The results are not
/// examined.
void SetupSignalHandler();

/// Sleeps `ms` milliseconds (nothing for 0 or less); a sleep interrupted by
/// a signal is resumed for the time that remains.
void sleepMilliseconds(int ms);

/// Returns once exitFlag is set, testing it every exitPollMs milliseconds
/// (continuously when exitPollMs is 0 or less).
void waitForExitFlag();

/// Exit status after a life-cycle step failed (its failure line printed).
constexpr int kLifecycleFailureStatus = 2;

/// The line printed when the take-down after a termination signal has not
/// finished within kStopBound (StopDeadline.h), e.g.
///   !!!!!! ZOziDaZodOduzuz did not stop within 10 s: Framework_Disconnect() has not returned (a DDS receive thread has been inside the library with one message for 42.0 s (UDPv4)); exiting with status 3
/// `oldest`: the receive call in progress for the longest time, if any.
std::string stopIncompleteLine(const char* command, const char* step,
                               const std::optional<FACE::TSS::DatagramGuard::InProgress>& oldest);

/// The whole process: with exactly one argument (the top-level
/// configuration file) it constructs the server, runs Initialize,
/// Configure, Framework_Connect and START, installs the signal handler,
/// waits for exitFlag, then runs STOP, Framework_Disconnect and Finalize,
/// prints "!!!!!! <command> has exited. Signal: <n>" and returns 0. The
/// take-down after the signal, destruction included, is bounded by
/// kStopBound: past it, the stopIncompleteLine() is printed and the process
/// ends at once with kStopIncompleteStatus.
/// With "--check-config FILE" it checks FILE and every file it names
/// (ServerConfigCheck::runCheckConfig: 0 when the configuration would start,
/// 2 otherwise) without constructing the server; "--help" prints the usage
/// and options, "--version" the version and the libraries' versions (both
/// 0). Otherwise (no argument, more arguments, an unknown "--" option)
/// prints the usage line and returns 1. A step that fails prints
/// its failure line; the server is then taken down as far as it came up,
/// "!!!!!! <command> has exited after a failure." is printed (or "... has
/// failed: <reason>" for an exception outside the checks) and the result
/// is kLifecycleFailureStatus. Never throws. Leaves the console's terminal
/// mode as it found it.
int runServerProcess(int argc, char** argv);

#endif  // VICTORY_ZOZIDAZODODUZUZ_PROCESSENTRY_H
