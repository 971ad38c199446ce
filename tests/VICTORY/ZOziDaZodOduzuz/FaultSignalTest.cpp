// Fault signals: a fault raised by an instruction of the process ends it
// with the default action after one line naming the signal and address; the
// same signal sent by another process is only recorded (an orderly stop).
// Each case runs in a child process (a death test) with the real fault.
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// No core file from the children of this test.
void noCoreFile() {
    struct rlimit none {
        0, 0
    };
    ::setrlimit(RLIMIT_CORE, &none);
}

// A store to an unmapped low address (the address is opaque to the
// compiler, so the store is not turned into a trap instruction).
void invalidStore() {
    volatile std::uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
}

// A read of a mapped page whose file was truncated under it: what a device
// mapping beyond the end of the device does.
void truncatedMappingRead() {
    std::string const path = "fault-signal-device-" + std::to_string(::getpid());
    int const fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, 4096) != 0) std::_Exit(90);
    void* const map = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED || ::ftruncate(fd, 0) != 0) std::_Exit(91);
    ::unlink(path.c_str());
    volatile int value = *static_cast<volatile int*>(map);
    (void)value;
}

void illegalInstruction() {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("ud2");
#elif defined(__aarch64__)
    asm volatile(".inst 0x00000000");  // permanently undefined
#endif
}

#if defined(__x86_64__)
// Integer division by zero in the processor (arm64 does not trap on it).
void integerDivisionByZero() {
    int zero = 0;
    int dividend = 7;
    asm volatile("cltd\n\tidivl %1" : "+a"(dividend) : "r"(zero) : "edx", "cc");
}
#endif

struct FaultCase {
    const char* name;
    int signal;
    void (*fault)();
    const char* line;  // regular expression for the line on standard error
};

FaultCase const kFaults[] = {
    {"InvalidStore", SIGSEGV, invalidStore,
     "!!!!!! fatal SIGSEGV \\(invalid memory access\\) at address 0x0+10, code 1"},
    {"TruncatedMapping", SIGBUS, truncatedMappingRead,
     "!!!!!! fatal SIGBUS \\(bus error\\) at address 0x[0-9a-f]+, code 2"},
    {"IllegalInstruction", SIGILL, illegalInstruction,
     "!!!!!! fatal SIGILL \\(illegal instruction\\) at address 0x[0-9a-f]+, code [0-9]+"},
#if defined(__x86_64__)
    {"DivisionByZero", SIGFPE, integerDivisionByZero,
     "!!!!!! fatal SIGFPE \\(arithmetic fault\\) at address 0x[0-9a-f]+, code 1"},
#endif
};

class FaultSignal : public ::testing::TestWithParam<FaultCase> {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Guards against a handler that returns, so that the instruction faults
// again for ever: the child would never end (the death test times out).
TEST_P(FaultSignal, RaisedByAnInstructionEndsTheProcessWithOneLine) {
    FaultCase const& c = GetParam();
    EXPECT_EXIT(
        {
            noCoreFile();
            SetupSignalHandler();
            c.fault();
            std::_Exit(0);  // not reached
        },
        ::testing::KilledBySignal(c.signal), c.line);
}

// Under systemd (standard error is the stream JOURNAL_STREAM names) the
// fault line carries the error priority "<3>", so the journal files it as
// an error; on any other stream it has no prefix.
TEST(FaultSignalLine, CarriesTheErrorPriorityOnlyOnTheJournalStream) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Row {
        bool journal;  // JOURNAL_STREAM names standard error
        const char* line;
    };
    for (Row const& row : {Row{true, "^<3>!!!!!! fatal SIGBUS \\(bus error\\)"}, Row{false, "^!!!!!! fatal SIGBUS"}}) {
        SCOPED_TRACE(row.journal ? "journal" : "other stream");
        EXPECT_EXIT(
            {
                noCoreFile();
                struct stat st {};
                ::fstat(STDERR_FILENO, &st);
                std::string const stream = row.journal
                                               ? std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)
                                               : std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);
                ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
                SetupSignalHandler();
                truncatedMappingRead();
                std::_Exit(0);  // not reached
            },
            ::testing::KilledBySignal(SIGBUS), row.line);
    }
}

// Sent by another process: recorded, the wait loop ends, nothing printed.
// SIGSEGV has no orderly stop: it keeps its default action.
TEST_P(FaultSignal, SentByAnotherProcessIsOnlyRecorded) {
    FaultCase const& c = GetParam();
    auto sendFromChild = [](int signal) {
        pid_t const parent = ::getpid();
        pid_t const child = ::fork();
        if (child == 0) {
            ::kill(parent, signal);
            std::_Exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
    };
    if (c.signal == SIGSEGV) {
        EXPECT_EXIT(
            {
                noCoreFile();
                SetupSignalHandler();
                sendFromChild(SIGSEGV);
                std::this_thread::sleep_for(std::chrono::seconds(10));
                std::_Exit(0);
            },
            // Nothing of ours; under user-mode emulation the emulator
            // itself reports the signal the guest died of.
            ::testing::KilledBySignal(SIGSEGV), "^(qemu: uncaught target signal 11 [^\n]*\n)?$");
        return;
    }
    EXPECT_EXIT(
        {
            noCoreFile();
            SetupSignalHandler();
            exitPollMs = 5;
            sendFromChild(c.signal);
            waitForExitFlag();
            std::_Exit(exitSignal == c.signal ? 42 : 1);
        },
        ::testing::ExitedWithCode(42), "^$");
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSignal, ::testing::ValuesIn(kFaults),
                         [](::testing::TestParamInfo<FaultCase> const& info) { return std::string(info.param.name); });

// Only a positive si_code marks a fault of the process's own instruction.
TEST(FaultSignalCode, SentSignalsAreNotFaults) {
    siginfo_t info{};
    struct Row {
        int code;
        bool fault;
    } const rows[] = {{SI_USER, false},   {SI_QUEUE, false},   {SI_TKILL, false},
                      {SI_TIMER, false},  {SEGV_MAPERR, true}, {BUS_ADRERR, true},
                      {ILL_ILLOPN, true}, {FPE_INTDIV, true},  {SI_KERNEL, true}};
    for (Row const& row : rows) {
        info.si_code = row.code;
        EXPECT_EQ(isSynchronousFault(&info), row.fault) << row.code;
    }
    EXPECT_FALSE(isSynchronousFault(nullptr));
}

}  // namespace
