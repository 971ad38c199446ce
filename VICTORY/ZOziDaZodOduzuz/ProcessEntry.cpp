#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

#include "FACE/DatagramGuardStatus.h"
#include "VICTORY/ZOziDaZodOduzuz/ConfigCheck.h"
#include "platform/JournalPriority.h"
#include "platform/ServiceManagerNotifier.h"
#include "VICTORY/ZOziDaZodOduzuz/StopDeadline.h"
#include "VICTORY/ZOziDaZodOduzuz/Version.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"
#include "VICTORY/ZOziDaZodOduzuz/kbhit.h"

#include <GeographicLib/Config.h>
#include <fastcdr/config.h>
#include <fastrtps/config.h>
#include <signal.h>
#include <tinyxml2.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

std::atomic<bool> exitFlag{false};
std::atomic<int> exitSignal{0};
int exitPollMs = 500;
int transactionPollMs = 200;

namespace {

// The file named in the failure lines of the life-cycle checks.
constexpr const char* kEntryFile = "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuzMain";

using FACE::RETURN_CODE_TYPE::Value;
using RequestedState = FACE::LCM::Corvane::RequestedState::Value;
using ReportedState = FACE::LCM::Corvane::ReportedState::Value;

// A failed life-cycle check; its line is printed already.
struct LifecycleFailure {};

void check(int line, const char* message, Value rc) {
    try {
        FACE::Return_Code_Value_No_Error_No_Action(kEntryFile, line, message, rc);
    } catch (const std::runtime_error&) {
        throw LifecycleFailure{};
    }
}

// How far a failed start-up came, so that the server is taken down as far
// as it came up; once stopping, the bound on the take-down.
struct Progress {
    bool connectTried = false;
    const char* command = "ZOziDaZodOduzuz";
    std::unique_ptr<StopDeadline> stop;

    void step(const char* name) {
        if (stop) {
            stop->step(name);
        }
    }
};

// The take-down did not finish within kStopBound: says why and ends the
// process without running destructors (they would wait for the same
// thread).
[[noreturn]] void endIncompleteStop(const char* command, const char* step) {
    std::cout << stopIncompleteLine(command, step, FACE::TSS::DatagramGuard::oldestReceive()) << std::endl;
    std::cerr.flush();
    std::_Exit(kStopIncompleteStatus);
}

// Stops and disconnects what a failed start-up left running: the worker,
// the health publisher's thread, the transport's listeners and the VICTORY
// services. Failures here are ignored: the process ends anyway.
void tearDownAfterFailure(ZOziDaZodOduzuz& server, const Progress& progress) {
    try {
        Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        ReportedState state = ReportedState::STOPPED;
        server.Query_State(state, rc);
        if (state == ReportedState::STARTED) {
            server.Request_State_Transition(RequestedState::STOP, rc);
        }
        if (progress.connectTried) {
            server.Framework_Disconnect(rc);
        }
    } catch (...) {
    }
}

// The life cycle from Initialize to Finalize; a failed check throws.
void runLifecycle(ZOziDaZodOduzuz& server, const FACE::String& configFile, Progress& progress) {
    Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;

    callOnceTransactionally([&](Value& r) { server.Initialize(r); }, rc);
    check(__LINE__, "Initialize() failed", rc);

    server.Configure(configFile, rc);
    check(__LINE__, "Configure() failed", rc);

    progress.connectTried = true;
    callOnceTransactionally([&](Value& r) { server.Framework_Connect(configFile, r); }, rc);
    check(__LINE__, "Framework_Connect() failed", rc);

    callOnceTransactionally([&](Value& r) { server.Request_State_Transition(RequestedState::START, r); }, rc);
    check(__LINE__, "Request_State_Transition(START) failed", rc);

    // Only now: a signal that arrives during start-up keeps its default
    // action and ends the process at once.
    SetupSignalHandler();
    ServiceManagerNotifier::instance().ready();
    waitForExitFlag();
    const char* command = progress.command;
    progress.stop =
        std::make_unique<StopDeadline>(kStopBound, [command](const char* step) { endIncompleteStop(command, step); });
    ServiceManagerNotifier::instance().stopping();

    progress.step("Request_State_Transition(STOP)");
    callOnceTransactionally([&](Value& r) { server.Request_State_Transition(RequestedState::STOP, r); }, rc);
    check(__LINE__, "Request_State_Transition(STOP) failed", rc);

    progress.step("Framework_Disconnect()");
    callOnceTransactionally([&](Value& r) { server.Framework_Disconnect(r); }, rc);
    progress.connectTried = false;
    check(__LINE__, "Framework_Disconnect() failed", rc);

    progress.step("Finalize()");
    callOnceTransactionally([&](Value& r) { server.Finalize(r); }, rc);
    check(__LINE__, "Finalize() failed", rc);
}

void printUsage(const char* command) { std::cout << "Usage: " << command << " <top-level-config-file> " << std::endl; }

void printHelp(const char* command) {
    printUsage(command);
    std::cout << "       " << command << " --check-config <top-level-config-file>\n"
              << "       " << command << " --help | --version\n"
              << "\n"
              << "Runs the PNT position server with the given top-level configuration file until\n"
              << "SIGTERM or SIGINT. Exit status 0 after an orderly stop, 1 on a bad command line,\n"
              << "2 when a start-up step fails (a line before the failure line says why).\n"
              << "\n"
              << "  --check-config FILE  read FILE and every file it names (connections, devices,\n"
              << "                       VICTORY service files, geoid) without touching a device,\n"
              << "                       the network or DDS; print each problem as\n"
              << "                       \"file:line: error|warning: message\"; exit 0 when the\n"
              << "                       configuration would start, 2 otherwise\n"
              << "  --help               this text\n"
              << "  --version            the server's version and those of its libraries\n"
              << "\n"
              << "Environment: CORVANE_ROOT replaces the leading /opt/corvane of the fixed paths;\n"
              << "CORVANE_DEVMEM names a file mapped instead of /dev/mem." << std::endl;
}

void printVersion() {
    std::cout << "ZOziDaZodOduzuz " << ServerVersion::kPartNumber << " (" << ServerVersion::kReleaseTimeStamp << ")\n"
              << "Fast DDS " << FASTRTPS_VERSION_STR << "\n"
              << "Fast CDR " << FASTCDR_VERSION_STR << "\n"
              << "TinyXML-2 " << TIXML2_MAJOR_VERSION << "." << TIXML2_MINOR_VERSION << "." << TIXML2_PATCH_VERSION
              << "\n"
              << "GeographicLib " << GEOGRAPHICLIB_VERSION_STRING << std::endl;
}

}  // namespace

void callOnceTransactionally(const std::function<void(Value&)>& call, Value& rc) {
    rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
    for (;;) {
        call(rc);
        if (rc != FACE::RETURN_CODE_TYPE::IN_PROGRESS) {
            return;
        }
        sleepMilliseconds(transactionPollMs);
    }
}

void SignalHandler(int signal) {
    exitSignal = signal;
    exitFlag = true;
}

namespace {

// Appends `text` to `out` (capacity `size`, position `used`); async-signal-safe.
void appendText(char* out, std::size_t size, std::size_t& used, const char* text) {
    while (*text != '\0' && used + 1 < size) {
        out[used++] = *text++;
    }
}

void appendHex(char* out, std::size_t size, std::size_t& used, std::uintptr_t value) {
    char digits[2 + 2 * sizeof value + 1];
    std::size_t n = 0;
    digits[n++] = '0';
    digits[n++] = 'x';
    for (int shift = static_cast<int>(8 * sizeof value) - 4; shift >= 0; shift -= 4) {
        digits[n++] = "0123456789abcdef"[(value >> shift) & 0xFu];
    }
    digits[n] = '\0';
    appendText(out, size, used, digits);
}

void appendDecimal(char* out, std::size_t size, std::size_t& used, long value) {
    char digits[24];
    std::size_t n = sizeof digits - 1;
    digits[n] = '\0';
    const bool negative = value < 0;
    unsigned long magnitude = negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[--n] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 && n > 1);
    if (negative && n > 0) {
        digits[--n] = '-';
    }
    appendText(out, size, used, digits + n);
}

// Set once the handlers are installed: standard error is the journal
// stream, so the fault line carries the error priority as the console's
// other failure lines do (the handler cannot go through std::cout).
volatile sig_atomic_t faultLineToJournal = 0;

const char* faultSignalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV (invalid memory access)";
        case SIGBUS:
            return "SIGBUS (bus error)";
        case SIGILL:
            return "SIGILL (illegal instruction)";
        case SIGFPE:
            return "SIGFPE (arithmetic fault)";
        default:
            return "signal";
    }
}

}  // namespace

bool isSynchronousFault(const siginfo_t* info) {
    // The kernel gives a positive si_code to a signal raised by an
    // instruction (SEGV_MAPERR, BUS_ADRERR, ILL_ILLOPC, FPE_INTDIV, ...,
    // SI_KERNEL); kill, sigqueue, raise and tgkill give SI_USER (0) or a
    // negative code.
    return info != nullptr && info->si_code > 0;
}

void FaultSignalHandler(int signal, siginfo_t* info, void* /*context*/) {
    if (!isSynchronousFault(info)) {
        if (signal == SIGSEGV) {
            // Nothing catches SIGSEGV but this handler: sent by another
            // process it keeps its default action, as without a handler.
            ::signal(SIGSEGV, SIG_DFL);
            ::raise(SIGSEGV);
            return;
        }
        SignalHandler(signal);
        return;
    }
    const int savedErrno = errno;
    char line[200];
    std::size_t used = 0;
    if (faultLineToJournal) {
        appendText(line, sizeof line, used, "<3>");
    }
    appendText(line, sizeof line, used, "!!!!!! fatal ");
    appendText(line, sizeof line, used, faultSignalName(signal));
    appendText(line, sizeof line, used, " at address ");
    appendHex(line, sizeof line, used, reinterpret_cast<std::uintptr_t>(info->si_addr));
    appendText(line, sizeof line, used, ", code ");
    appendDecimal(line, sizeof line, used, info->si_code);
    appendText(line, sizeof line, used, "; ending with the default action (core dump)\n");
    ssize_t ignored = ::write(STDERR_FILENO, line, used);
    (void)ignored;
    // Returning would run the faulting instruction again for ever. With the
    // default action back, the signal raised here is delivered as soon as
    // the handler returns (it is blocked until then) and ends the process.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    errno = savedErrno;
}

void SetupSignalHandler() {
    faultLineToJournal = JournalPriority::isJournalStream(STDERR_FILENO, std::getenv("JOURNAL_STREAM")) ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = SignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    struct sigaction faultAction {};
    faultAction.sa_sigaction = FaultSignalHandler;
    sigemptyset(&faultAction.sa_mask);
    faultAction.sa_flags = SA_SIGINFO;
    for (int signal : {SIGQUIT, SIGILL, SIGABRT, SIGBUS, SIGTERM, SIGTRAP, SIGSYS, SIGFPE, SIGINT}) {
        const bool fault = signal == SIGILL || signal == SIGBUS || signal == SIGFPE;
        ::sigaction(signal, fault ? &faultAction : &action, nullptr);
    }
    ::sigaction(SIGSEGV, &faultAction, nullptr);
}

void sleepMilliseconds(int ms) {
    if (ms <= 0) {
        return;
    }
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void waitForExitFlag() {
    while (!exitFlag) {
        sleepMilliseconds(exitPollMs);
    }
}

int runServerProcess(int argc, char** argv) {
    const char* command = argc > 0 && argv[0] != nullptr ? argv[0] : "ZOziDaZodOduzuz";
    // Under systemd the fault lines get their syslog priority in the journal.
    const JournalPriority::ConsoleScope journal;
    const std::string first = argc > 1 && argv[1] != nullptr ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "-h")) {
        printHelp(command);
        return 0;
    }
    if (argc == 2 && first == "--version") {
        printVersion();
        return 0;
    }
    if (argc == 3 && first == "--check-config") {
        return ServerConfigCheck::runCheckConfig(argv[2], std::cout);
    }
    if (argc != 2 || (first.size() > 2 && first.compare(0, 2, "--") == 0)) {
        printUsage(command);
        return 1;
    }

    // The datagram guard's drop reports join the server's console lines.
    FACE::TSS::DatagramGuard::DropCounters::instance().setSink(
        [](const std::string& line) { std::cout << "ZOziDaZodOduzuz: " << line << std::endl; });
    int status = 0;
    try {
        const FACE::String configFile(argv[1]);
        auto server = std::make_unique<ZOziDaZodOduzuz>();
        Progress progress;
        progress.command = command;
        try {
            runLifecycle(*server, configFile, progress);
            std::cout << "!!!!!! " << command << " has exited. Signal: " << exitSignal.load() << std::endl;
        } catch (const LifecycleFailure&) {
            tearDownAfterFailure(*server, progress);
            std::cout << "!!!!!! " << command << " has exited after a failure." << std::endl;
            status = kLifecycleFailureStatus;
        } catch (const std::exception& e) {
            tearDownAfterFailure(*server, progress);
            std::cout << "!!!!!! " << command << " has failed: " << e.what() << std::endl;
            status = kLifecycleFailureStatus;
        } catch (...) {
            tearDownAfterFailure(*server, progress);
            std::cout << "!!!!!! " << command << " has failed: unknown exception" << std::endl;
            status = kLifecycleFailureStatus;
        }
        progress.step("the server's destruction (its DDS participant)");
        server.reset();
        progress.stop.reset();
    } catch (const std::exception& e) {
        std::cout << "!!!!!! " << command << " has failed: " << e.what() << std::endl;
        status = kLifecycleFailureStatus;
    } catch (...) {
        std::cout << "!!!!!! " << command << " has failed: unknown exception" << std::endl;
        status = kLifecycleFailureStatus;
    }
    restoreKbhitTerminal();
    return status;
}

std::string stopIncompleteLine(const char* command, const char* step,
                               const std::optional<FACE::TSS::DatagramGuard::InProgress>& oldest) {
    std::string why = "no DDS receive call in progress";
    if (oldest) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f",
                      std::chrono::duration_cast<std::chrono::duration<double>>(oldest->age).count());
        why = std::string("a DDS receive thread has been inside the library with one message for ") + seconds + " s (" +
              FACE::TSS::DatagramGuard::transportName(oldest->transport) + ")";
    }
    return std::string("!!!!!! ") + command + " did not stop within " + std::to_string(kStopBound.count()) +
           " s: " + step + " has not returned (" + why + "); exiting with status " +
           std::to_string(kStopIncompleteStatus);
}
