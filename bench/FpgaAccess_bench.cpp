// Cost of reading the FPGA system counter through FpgaFace and the I/O
// service, against a plain volatile load of the same register in the same
// mapping; and a check that the read makes no allocation and no system call.
//
// The registers live in a memory file in a temporary directory (named by
// CORVANE_DEVMEM before anything maps), never in the real memory device.

#include "FACE/CV_Config.h"
#include "FACE/CV_Devmem.h"
#include "platform/FPGA.h"
#include "platform/MemoryAccess.h"
#include "platform/MemoryMap.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <string>

// --- Allocation counting ----------------------------------------------------

namespace {
std::atomic<unsigned long long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// malloc and friends too (C code and the C++ library below operator new).
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
}
#define CORVANE_BENCH_STRICT_CHECKS 1
#else
#define CORVANE_BENCH_STRICT_CHECKS 0
#endif

namespace {

// --- The simulated registers -------------------------------------------------

constexpr std::uint32_t kTimeStampBase = 0x30000;  // third block of the devices file below

struct Board {
    Board() {
        dir = (std::filesystem::temp_directory_path() / "fpga_bench_XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        memory = dir + "/memory";
        ::setenv("CORVANE_DEVMEM", memory.c_str(), 1);
        devices = dir + "/devices.xml";
        std::ofstream xml(devices);
        xml << "<CV_Configurations>\n";
        char const* const names[] = {"Processor_Interface", "Peripheral_Interface", "TimeStamp_Interface",
                                     "PpsSlave_Interface", "PtpClock_Interface"};
        std::uint32_t base = 0x10000;
        for (char const* name : names) {
            xml << "<B><Name>" << name << "</Name><Parameters><BaseAddress>" << base
                << "</BaseAddress><Size>0x1000</Size></Parameters></B>\n";
            base += 0x10000;
        }
        xml << "</CV_Configurations>\n";
        xml.close();
        // Clock rate and inventory (no PTFE unit); the counter at 0x80.
        int const fd = ::open(memory.c_str(), O_RDWR | O_CREAT, 0600);
        std::uint64_t const regs[] = {58982400, 2, 0, 2, 4};
        bool ok = fd >= 0 && ::ftruncate(fd, 0x100000) == 0 &&
                  ::pwrite(fd, regs, sizeof regs, kTimeStampBase) == static_cast<ssize_t>(sizeof regs);
        std::uint64_t const counter = 0x0123456789ABCDEFull;
        ok = ok && ::pwrite(fd, &counter, sizeof counter, kTimeStampBase + 0x80) == 8;
        // A firmware name in the processor block: a programmed FPGA.
        char const name[] = "PNTTIMFW";
        ok = ok && ::pwrite(fd, name, 8, 0x10000) == 8;
        if (fd >= 0) ::close(fd);
        if (!ok) {
            std::perror("memory file");
            std::exit(1);
        }
    }
    ~Board() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir, memory, devices;
};

Board& board() {
    static Board b;
    return b;
}

std::shared_ptr<FACE::IOSS::CV_Devmem> g_io;
std::unique_ptr<MemoryMap> g_baselineMap;  // the time stamp block, mapped directly

void setUp() {
    board();
    g_io = std::make_shared<FACE::IOSS::CV_Devmem>();
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    g_io->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    g_io->Initialize(FACE::String(board().devices.c_str()), rc);
    FpgaFace::Instance().InitFpga(g_io);
    g_baselineMap = std::make_unique<MemoryMap>(kTimeStampBase, 0x1000);
}

// --- Benchmarks --------------------------------------------------------------

void BM_PlainVolatileLoad(benchmark::State& state) {
    auto const* reg = reinterpret_cast<std::uint64_t const volatile*>(
        static_cast<unsigned char const*>(g_baselineMap->basePointer()) + 0x80);
    for (auto _ : state) {
        benchmark::DoNotOptimize(*reg);
    }
}
BENCHMARK(BM_PlainVolatileLoad);

void BM_RegisterLoad64WithBarrier(benchmark::State& state) {
    void const* reg = static_cast<unsigned char const*>(g_baselineMap->basePointer()) + 0x80;
    for (auto _ : state) {
        benchmark::DoNotOptimize(MemoryAccess::load64(reg));
    }
}
BENCHMARK(BM_RegisterLoad64WithBarrier);

void BM_FpgaSystemCount(benchmark::State& state) {
    FpgaFace const& fpga = FpgaFace::Instance();
    unsigned long long const before = g_allocations.load();
    for (auto _ : state) {
        benchmark::DoNotOptimize(fpga.fpga_get_SystemCount());
    }
    state.counters["allocs_per_call"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FpgaSystemCount);

// Keeps the real time per call of each benchmark while printing as usual.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(std::vector<Run> const& runs) override {
        // The mean of repetitions when there is one, else the last run.
        for (Run const& run : runs) {
            std::string const& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean") {
                ns[name] = run.GetAdjustedRealTime();
                haveMean[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !haveMean[name]) {
                ns[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> ns;
    std::map<std::string, bool> haveMean;
};

#if CORVANE_BENCH_STRICT_CHECKS
// Runs the counter read `calls` times in a child process that may make no
// system call but write and exit (strict seccomp): any other call kills it.
bool runsWithoutSystemCalls(unsigned long calls) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid_t const pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::uint64_t sum = 0;
        if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) != 0) ::syscall(SYS_exit, 3);
        for (unsigned long i = 0; i < calls; ++i) sum += FpgaFace::Instance().fpga_get_SystemCount();
        ::syscall(SYS_write, fds[1], &sum, sizeof sum);
        ::syscall(SYS_exit, 0);  // exit_group is not allowed in strict mode
    }
    ::close(fds[1]);
    std::uint64_t sum = 0;
    ssize_t const got = ::read(fds[0], &sum, sizeof sum);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return got == static_cast<ssize_t>(sizeof sum) && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           sum == calls * 0x0123456789ABCDEFull;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    setUp();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    unsigned long long const before = g_allocations.load();
    std::uint64_t sum = 0;
    for (int i = 0; i < 1000000; ++i) sum += FpgaFace::Instance().fpga_get_SystemCount();
    benchmark::DoNotOptimize(sum);
    unsigned long long const allocations = g_allocations.load() - before;

    std::printf("\nfpga_get_SystemCount: %llu allocations in 1000000 calls%s\n", allocations,
                CORVANE_BENCH_STRICT_CHECKS ? "" : " (operator new only under sanitizers)");
#if CORVANE_BENCH_STRICT_CHECKS
    std::printf("fpga_get_SystemCount: system calls in 1000000 calls under strict seccomp: %s\n",
                runsWithoutSystemCalls(1000000) ? "none" : "SOME (child killed or wrong result)");
#endif
    auto const count = reporter.ns.find("BM_FpgaSystemCount");
    for (char const* baseline : {"BM_PlainVolatileLoad", "BM_RegisterLoad64WithBarrier"}) {
        auto const base = reporter.ns.find(baseline);
        if (count != reporter.ns.end() && base != reporter.ns.end() && base->second > 0) {
            std::printf("fpga_get_SystemCount %.2f ns/call, %s %.2f ns/call, ratio %.1f\n", count->second, baseline + 3,
                        base->second, count->second / base->second);
        }
    }
    FpgaFace::Instance().DoneFpga();
    g_baselineMap.reset();
    g_io.reset();
    benchmark::Shutdown();
    return allocations == 0 ? 0 : 1;
}
