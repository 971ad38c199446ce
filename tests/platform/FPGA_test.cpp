// FpgaFace through the memory-mapped I/O service over this process's memory
// file (CORVANE_DEVMEM), filled by the FPGA simulator. Register effects are
// checked in the file itself.

#include "platform/FPGA.h"

#include "FACE/CV_Config.h"
#include "FACE/CV_Devmem.h"
#include "tests/FACE/ConfigTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"
#include "tests/platform/SimProcess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

using devmem_test::peekValue;
using devmem_test::pokeValue;

constexpr std::uint64_t kRate = 58982400;
std::string const kSample = CORVANE_SOURCE_DIR "/config/devices.xml";
// Block addresses of the sample devices file.
constexpr std::uint64_t kCpu = 0x43C00000, kPeriph = 0x43C10000, kTs = 0x43C20000, kPps = 0x43C30000, kPtp = 0x43C40000,
                        kPtfe0 = 0x43C50000, kGen0 = 0x43C60000;

// The sample's blocks at the same addresses, without those in `drop` and
// with the time stamp block `tsSize` long.
std::string devices(face_test::TempDir const& dir, std::vector<std::string> const& drop,
                    char const* tsSize = "0x1000") {
    std::pair<char const*, std::uint64_t> const blocks[] = {
        {"Processor_Interface", kCpu}, {"Peripheral_Interface", kPeriph}, {"TimeStamp_Interface", kTs},
        {"PpsSlave_Interface", kPps},  {"PtpClock_Interface", kPtp},      {"Ptfe_Interface0", kPtfe0},
        {"PulseGen_Interface0", kGen0}};
    std::string body;
    for (auto const& [name, base] : blocks) {
        if (std::find(drop.begin(), drop.end(), name) != drop.end()) continue;
        body += face_test::container("B", name,
                                     "<BaseAddress>" + std::to_string(base) + "</BaseAddress><Size>" +
                                         (base == kTs ? tsSize : "0x1000") + "</Size>");
    }
    static int files = 0;
    return dir.write("devices" + std::to_string(++files) + ".xml", face_test::document(body));
}

std::uint64_t monotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(t.tv_nsec);
}

// The count of a counter at kRate that read 0 at monotonic time 0.
std::uint64_t idealCount(std::uint64_t ns) {
    return ns / 1000000000ull * kRate + ns % 1000000000ull * kRate / 1000000000ull;
}

class Fpga : public testing::Test {
protected:
    // Fills the memory file from the sample devices file, then opens the
    // FPGA over `serverDevices`. The text InitFpga raised, or "".
    std::string start(std::vector<std::string> simArgs = {}, std::string const& serverDevices = kSample) {
        simArgs.insert(simArgs.end(), {"--once", "--memory", devmem_test::memoryFile(), kSample});
        sim_test::Outcome const filled = sim_test::runSimulator(simArgs);
        EXPECT_EQ(filled.exitCode, 0) << filled.output;
        return open(serverDevices);
    }
    std::string open(std::string const& serverDevices) {
        m_io = std::make_shared<FACE::IOSS::CV_Devmem>();
        face_test::RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        m_io->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        m_io->Initialize(FACE::String(serverDevices.c_str()), rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        return initFpga(m_io);
    }
    // The text raised, which is also the last console line; the warning
    // lines before it are left in m_warnings.
    std::string initFpga(std::shared_ptr<FACE::IOSS::Devmem::IO_Service> const& io) {
        std::string error;
        testing::internal::CaptureStdout();
        try {
            m_fpga.InitFpga(io);
        } catch (std::runtime_error const& e) {
            error = e.what();
        }
        std::string const said = testing::internal::GetCapturedStdout();
        std::string const last = error.empty() ? "" : error + "\n";
        EXPECT_EQ(said.substr(said.size() - std::min(said.size(), last.size())), last) << said;
        m_warnings = said.substr(0, said.size() - std::min(said.size(), last.size()));
        return error;
    }

    face_test::TempDir m_dir;
    std::shared_ptr<FACE::IOSS::CV_Devmem> m_io;
    FpgaFace m_fpga;
    std::string m_warnings;
};

TEST_F(Fpga, StartsOnTheSampleBoard) {
    EXPECT_EQ(m_fpga.fpga_get_SystemCount(), 0u);  // nothing before InitFpga
    ASSERT_EQ(start(), "");
    EXPECT_EQ(std::make_tuple(m_fpga.getNumUarts(), m_fpga.getNumPtfes(), m_fpga.getNumPulses(), m_fpga.getNumPeriphs(),
                              m_fpga.getFirmwareBuildStamp(), m_fpga.getPtfeFirmwareId(0)),
              std::make_tuple(2u, 1u, 2u, 4u, std::string("2021-03-09T14:05:00"), std::uint64_t{0x5054464501020000}));
    EXPECT_EQ(m_fpga.getFirmwareConfiguration(),
              "Keystel FPGA Firmware:, PNTTIMFW,Date YMD:,2021-03-09,Time  HHMM:,14:05,CPN:,PNT4-1023-0001Rev:A003");
    pokeValue<std::uint32_t>(kCpu + 4, 0x41420000);  // "AB" then zero bytes: the piece ends there
    EXPECT_EQ(m_fpga.getFirmwareConfiguration(),
              "Keystel FPGA Firmware:, PNTTABDate YMD:,2021-03-09,Time  HHMM:,14:05,CPN:,PNT4-1023-0001Rev:A003");

    // The counter was set from the monotonic clock when the file was filled.
    std::uint64_t const count = m_fpga.fpga_get_SystemCount(), now = idealCount(monotonicNs());
    EXPECT_TRUE(count <= now && count > now - 60 * kRate) << count << " " << now;
    m_fpga.DoneFpga();
    EXPECT_EQ(std::make_pair(m_fpga.fpga_get_SystemCount(), m_fpga.getNumPtfes()),
              std::make_pair(std::uint64_t{0}, 1u));
}

TEST_F(Fpga, EachStartFailureRaisesItsOwnText) {
    struct Case {
        std::vector<std::string> simArgs;
        std::string serverDevices;
        char const* text;
    } const cases[] = {
        {{"--clock-rate", "58982401"},
         kSample,
         "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 58982401, expected 58982400"},
        {{},
         devices(m_dir, {"Processor_Interface"}),
         "platform/FPGA[56]:INVALID_CONFIG FpgaFace() FAILED to open processor interface"},
        {{},
         devices(m_dir, {"PpsSlave_Interface"}),
         "platform/FPGA[65]:INVALID_CONFIG FpgaFace() FAILED to open PPS Slave interface"},
        {{},
         devices(m_dir, {"PulseGen_Interface0"}),
         "platform/FPGA[122]:INVALID_CONFIG FpgaFace() FAILED to open PulseGen 0 interface"},
        {{"--ptfes", "5"}, kSample, "platform/FPGA[115]:INVALID_CONFIG FpgaFace() FAILED to open PTFE 4 interface"},
        // A time stamp block too short for a register makes its read fail.
        {{}, devices(m_dir, {}, "0x08"), "platform/FPGA[73]:NO_ACTION FpgaFace() FAILED to read FPGA number of UARTs"},
        {{}, devices(m_dir, {}, "0x10"), "platform/FPGA[79]:NO_ACTION FpgaFace() FAILED to read FPGA number of PTFEs"},
        {{},
         devices(m_dir, {}, "0x20"),
         "platform/FPGA[91]:NO_ACTION FpgaFace() FAILED to read FPGA number of Periphs"},
        // Without PTFE units no PTFE or pulse generator block is needed.
        {{"--ptfes", "0"}, devices(m_dir, {"Ptfe_Interface0", "PulseGen_Interface0"}), ""},
    };
    for (Case const& c : cases) EXPECT_EQ(start(c.simArgs, c.serverDevices), c.text);
    EXPECT_EQ(initFpga(nullptr), "platform/FPGA[56]:NOT_AVAILABLE FpgaFace() FAILED to open processor interface");
}

// Only the time stamp block is read at start-up. A dead or absent FPGA
// ends InitFpga on the line of the step it breaks (a clock rate of 0 or all
// ones says first what it likely means); a count beyond its bound ends it
// before anything is sized from it (an all-ones time stamp block would size
// tables of 4,294,967,295 PTFE units). Blocks that are not read, dead or
// not, and blocks that start inside a page, do not stop it.
TEST_F(Fpga, DeadOrAbsentHardwareEndsTheStartOnlyWhereItIsRead) {
    auto withShiftedBlock = [&](char const* name) {
        // The sample's blocks with `name` 8 bytes above its page.
        std::pair<char const*, std::uint64_t> const blocks[] = {
            {"Processor_Interface", kCpu}, {"Peripheral_Interface", kPeriph}, {"TimeStamp_Interface", kTs},
            {"PpsSlave_Interface", kPps},  {"PtpClock_Interface", kPtp},      {"Ptfe_Interface0", kPtfe0},
            {"PulseGen_Interface0", kGen0}};
        std::string body;
        for (auto const& [block, base] : blocks) {
            std::uint64_t const at = std::string(block) == name ? base + 8 : base;
            body += face_test::container("B", block,
                                         "<BaseAddress>" + std::to_string(at) + "</BaseAddress><Size>0x1000</Size>");
        }
        return m_dir.write(std::string("shifted-") + name + ".xml", face_test::document(body));
    };
    std::string const ones = ": all ones, the FPGA is not programmed or the block is not there";
    std::string const zeroRate =
        "FpgaFace() warning: TimeStamp_Interface clock rate reads 0x0 (all zeros): the FPGA is not programmed or the "
        "block is not there\n";
    struct Case {
        std::vector<std::string> simArgs;  // with --once and the memory file
        std::string simDevices, serverDevices;
        std::string text, warnings;
        std::function<void()> poke;  // after the simulator filled the file
    } const cases[] = {
        {{"--unprogrammed"},
         kSample,
         kSample,
         "platform/FPGA[146]:INVALID_MODE FpgaFace() TimeStamp_Interface number of UARTs reads 18446744073709551615 "
         "(0xffffffffffffffff), more than 16" +
             ones,
         "",
         {}},
        {{"--absent-block", "Processor_Interface"}, kSample, kSample, "", "", {}},
        {{"--absent-block", "Ptfe_Interface0"}, kSample, kSample, "", "", {}},
        {{"--absent-block", "TimeStamp_Interface"},
         kSample,
         kSample,
         "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 0, expected 58982400",
         zeroRate,
         {}},
        {{},
         kSample,
         kSample,
         "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 18446744073709551615, expected "
         "58982400",
         "FpgaFace() warning: TimeStamp_Interface clock rate reads 0xffffffffffffffff (all ones): the FPGA is not "
         "programmed or the block is not there\n",
         [] { pokeValue<std::uint64_t>(kTs, ~0ull); }},
        {{},
         kSample,
         kSample,
         "platform/FPGA[146]:INVALID_MODE FpgaFace() TimeStamp_Interface number of PTFE units reads 4294967295 "
         "(0xffffffff), more than 64" +
             ones,
         "",
         [] { pokeValue<std::uint64_t>(kTs + 0x10, 0xFFFFFFFFu); }},
        {{},
         kSample,
         kSample,
         "platform/FPGA[146]:INVALID_MODE FpgaFace() TimeStamp_Interface number of UARTs reads 17 (0x11), more "
         "than 16: the FPGA or the block address is wrong",
         "",
         [] { pokeValue<std::uint64_t>(kTs + 0x08, 17); }},
        {{},
         kSample,
         kSample,
         "platform/FPGA[146]:INVALID_MODE FpgaFace() TimeStamp_Interface number of pulse inputs reads 31 (0x1f), "
         "more than 30: the FPGA or the block address is wrong",
         "",
         [] { pokeValue<std::uint64_t>(kTs + 0x18, 31); }},
        {{},
         kSample,
         kSample,
         "platform/FPGA[146]:INVALID_MODE FpgaFace() TimeStamp_Interface number of peripherals reads "
         "18446744073709551615 (0xffffffffffffffff), more than 1024" +
             ones,
         "",
         [] { pokeValue<std::uint64_t>(kTs + 0x20, ~0ull); }},
        // A block 8 bytes into its page is mapped from the page and read at
        // its offset: where the registers lie, the start goes on; where
        // they do not, it reads what is there.
        {{}, withShiftedBlock("TimeStamp_Interface"), withShiftedBlock("TimeStamp_Interface"), "", "", {}},
        {{}, withShiftedBlock("Processor_Interface"), withShiftedBlock("Processor_Interface"), "", "", {}},
        // (the count of pulse inputs, 2, read as the count of PTFE units)
        {{},
         kSample,
         withShiftedBlock("TimeStamp_Interface"),
         "platform/FPGA[115]:INVALID_CONFIG FpgaFace() FAILED to open PTFE 1 interface",
         "",
         {}},
    };
    if (::sysconf(_SC_PAGESIZE) != 4096) GTEST_SKIP() << "expectations assume 4096-byte pages";
    for (Case const& c : cases) {
        SCOPED_TRACE(c.text.empty() ? c.serverDevices : c.text);
        std::vector<std::string> args = c.simArgs;
        args.insert(args.end(), {"--once", "--memory", devmem_test::memoryFile(), c.simDevices});
        sim_test::Outcome const filled = sim_test::runSimulator(args);
        ASSERT_EQ(filled.exitCode, 0) << filled.output;
        if (c.poke) c.poke();
        EXPECT_EQ(open(c.serverDevices), c.text);
        EXPECT_EQ(m_warnings, c.warnings);
        EXPECT_LE(m_fpga.getNumPtfes(), FpgaFace::kMaxPtfes);
    }
}

// Registers with arithmetic or side effects; out of range every accessor
// changes nothing and gives 0 (the frequency estimate 1).
TEST_F(Fpga, RegisterEffectsAndBounds) {
    ASSERT_EQ(start({"--ptfes", "1"}), "");
    using Call = std::function<std::uint64_t(FpgaFace&)>;
    struct Case {
        std::uint64_t address;
        int width;
        std::uint64_t before;  // poked at address first
        Call call;
        std::uint64_t result, after;  // returned, then at address
    };
    std::uint64_t const ones = ~0ull;
    Case const cases[] = {
        {kTs + 0x188, 32, 0,
         [](FpgaFace& f) {
             f.setUartDelay(1, 77u);
             return f.getUartDelay(1);
         },
         77, 77},
        {kTs + 0x188, 32, 0,
         [](FpgaFace& f) {
             f.setUartDelay(1, 115200, 10, 1);
             return 0u;
         },
         0, 5120},
        {kTs + 0x188, 32, 0,
         [](FpgaFace& f) {
             f.setUartDelay(1, 7, 1, 1);
             return 0u;
         },
         0, 8426057},
        {kTs + 0x188, 32, 0,
         [](FpgaFace& f) {
             f.setUartDelay(1, 1, 73, 1);
             return 0u;
         },
         0, 10747904},
        {kTs + 0x188, 32, 3,
         [](FpgaFace& f) {
             f.setUartDelay(1, 0, 10, 1);
             return 0u;
         },
         0, 3},
        {kPeriph, 32, 6, [](FpgaFace& f) { return f.fpga_reset_periph_control(0); }, 6, 0},
        {kPtfe0 + 0x18, 32, 4, [](FpgaFace& f) { return f.getAndClearPtfeStatus(0); }, 4, 0},
        {kPtfe0 + 0x20, 64, ones, [](FpgaFace& f) { return f.getDfNcoRate(0); }, 0xFFFFFFFFFFFull, ones},
        {kPtfe0 + 0x30, 64, ones, [](FpgaFace& f) { return f.getDtNcoPhase(0); }, 0xFFFFFFFFFFull, ones},
        {kPtfe0 + 0xC8, 64, 0,
         [](FpgaFace& f) {
             f.setPtfeDefaultNcoRate(0, 0x123456789ABull);
             return 0u;
         },
         0, 0x123456789ABull},
    };
    for (Case const& c : cases) {
        c.width == 32 ? pokeValue(c.address, static_cast<std::uint32_t>(c.before)) : pokeValue(c.address, c.before);
        EXPECT_EQ(c.call(m_fpga), c.result) << std::hex << c.address;
        EXPECT_EQ(c.width == 32 ? peekValue<std::uint32_t>(c.address) : peekValue<std::uint64_t>(c.address), c.after)
            << std::hex << c.address;
    }

    Call const refused[] = {
        [](FpgaFace& f) {
            return f.getUARTDataTimestampRaw(2) + f.getPulseTimestampRaw(2) + f.getPulseTimestampRaw(-1);
        },
        [](FpgaFace& f) {
            f.setUartDelay(2, 5u);
            return f.getUartDelay(2) + f.fpga_get_periph_control(4);
        },
        [](FpgaFace& f) {
            f.fpga_set_periph_control(-1, 1);
            return f.fpga_reset_periph_control(4);
        },
        [](FpgaFace& f) {
            f.fpga_set_ppsSlave_control(9, 1);
            return f.fpga_get_ppsSlave_control(-1);
        },
        [](FpgaFace& f) {
            f.fpga_set_ptpClock_control(30, 1);
            return f.fpga_get_ptpClock_control(30);
        },
        [](FpgaFace& f) { return f.getPtfeFirmwareId(1) + f.getAndClearPtfeStatus(1) + f.getPtfeStatus(1); },
        [](FpgaFace& f) { return f.getDfNcoRate(1) + f.getDtNcoPhase(1) + f.getDtCycles(1); },
        [](FpgaFace& f) { return f.getPtfeMeasuredFreqEstimate(1) - 1; },
        [](FpgaFace& f) {
            f.setPtfeDefaultNcoRate(1, 5);
            f.fpga_ptfe_init(1, 1, 1);
            f.fpga_ptfe_soft_reset(1);
            return 0u;
        },
        [](FpgaFace& f) {
            f.fpga_pulsegen_set_Int_phase(1, 1);
            f.fpga_pulsegen_set_Ext_phase(1, 1);
            return 0u;
        },
        [](FpgaFace& f) { return f.fpga_pulsegen_adjust_Int_phase(1, 1) + f.fpga_pulsegen_adjust_Ext_phase(1, 1); },
    };
    auto snapshot = [] {
        std::vector<std::uint64_t> all;
        for (std::uint64_t block : {kPeriph, kTs, kPps, kPtp, kPtfe0, kGen0}) {
            for (std::uint64_t at = block; at < block + 0x300; at += 8) all.push_back(peekValue<std::uint64_t>(at));
        }
        return all;
    };
    std::vector<std::uint64_t> const before = snapshot();
    for (Call const& call : refused) EXPECT_EQ(call(m_fpga), 0u) << "call " << &call - refused;
    EXPECT_TRUE(snapshot() == before);
}

TEST_F(Fpga, PulseGeneratorPhaseWrapsIntoThePeriod) {
    ASSERT_EQ(start(), "");
    pokeValue<std::uint32_t>(kGen0 + 4, 5);
    EXPECT_EQ(m_fpga.fpga_pulsegen_adjust_Int_phase(0, -10), static_cast<std::uint32_t>(-5));  // no period yet
    m_fpga.fpga_ptfe_init(0, 0x55, 1000);  // sets the period: 1000 counts

    std::tuple<std::uint32_t, int, std::uint32_t> const cases[] = {
        // start, delta, result
        {5, -10, 995},
        {995, 10, 5},
        {0, 1000, 0},
        {999, 1, 0},
        {0, -1, 999},
        {500, 0, 500},
        {0, -2000, static_cast<std::uint32_t>(-1000)},  // wrapped only once
        {0x7FFFFFFF, 1, 0x80000000u + 1000u},           // the sum wraps negative
    };
    for (bool internal : {true, false}) {
        std::uint64_t const address = internal ? kGen0 + 4 : kGen0 + 8;
        for (auto const& [start, delta, expected] : cases) {
            pokeValue<std::uint32_t>(address, start);
            std::uint32_t const got = internal ? m_fpga.fpga_pulsegen_adjust_Int_phase(0, delta)
                                               : m_fpga.fpga_pulsegen_adjust_Ext_phase(0, delta);
            EXPECT_EQ(std::make_pair(got, peekValue<std::uint32_t>(address)), std::make_pair(expected, expected))
                << start << " " << delta;
        }
    }
}

// A block whose mapping failed (the service answers its open with 0 and
// marks it failed) is named in a warning; the start goes on unless it reads
// the block.
TEST_F(Fpga, AFailedMappingIsNamedAndTheStartGoesOn) {
    struct UnmappedBlock : FACE::IOSS::CV_Devmem {
        long long failing = 1;  // the second block opened
        void Get_Connection_Status(long long id, CONNECTION_STATUS_TYPE& status, face_test::RC& rc) override {
            CV_Devmem::Get_Connection_Status(id, status, rc);
            if (id == failing) status.status = STATUS_FAILED;
        }
    };
    sim_test::Outcome const filled = sim_test::runSimulator({"--once", "--memory", devmem_test::memoryFile(), kSample});
    ASSERT_EQ(filled.exitCode, 0) << filled.output;
    auto io = std::make_shared<UnmappedBlock>();
    face_test::RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    io->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    io->Initialize(FACE::String(kSample.c_str()), rc);
    EXPECT_EQ(initFpga(io), "");
    EXPECT_EQ(m_warnings,
              "FpgaFace() warning: Peripheral_Interface could not be mapped: its registers read as 0 and writes to it "
              "are lost\n");
}

// A file that backs a virtual machine's RAM from 0x40000000: every block at
// its physical address less that base, nothing written below the first.
TEST(FpgaSimulator, AMemoryBaseShiftsEveryBlockInTheFile) {
    face_test::TempDir dir;
    std::string const memory = dir.path() + "/ram";
    constexpr std::uint64_t kBase = 0x40000000;
    sim_test::Outcome const filled =
        sim_test::runSimulator({"--once", "--memory", memory, "--memory-base", "0x40000000", kSample});
    ASSERT_EQ(filled.exitCode, 0) << filled.output;
    std::ifstream in(memory, std::ios::binary);
    std::string const bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto at = [&](std::uint64_t phys) {
        std::uint64_t v = 0;
        std::memcpy(&v, bytes.data() + (phys - kBase), sizeof v);
        return v;
    };
    ASSERT_GT(bytes.size(), kTs - kBase + 8);
    EXPECT_LT(bytes.size(), kCpu) << "the file holds the blocks less the base";
    EXPECT_EQ(at(kTs), kRate);
    EXPECT_EQ(at(kTs + 0x08), 2u) << "UARTs";
    EXPECT_NE(at(kCpu), 0u) << "firmware name";
    EXPECT_EQ(bytes.find_first_not_of('\0'), kCpu - kBase) << "nothing below the first block";
}

TEST(FpgaSimulator, RefusesBadInputWithAClearMessage) {
    face_test::TempDir dir;
    std::string const memory = dir.path() + "/memory";
    std::string const small =
        dir.write("small.xml", face_test::document(face_test::container(
                                   "B", "TimeStamp_Interface", "<BaseAddress>0</BaseAddress><Size>0x100</Size>")));
    std::tuple<std::vector<std::string>, int, char const*> const cases[] = {
        {{"--once", "--memory", memory, small}, 1, "TimeStamp_Interface is 0x100 bytes; its registers need 0x184"},
        {{"--once", "--memory", memory, dir.path() + "/none.xml"}, 1, "cannot be read as XML"},
        {{"--once", "--memory", "/dev/null", kSample}, 1, "/dev/null: not a regular file"},
        {{"--once", "--memory", memory, "--uarts", "17", kSample}, 2, "--uarts: not a number up to 16"},
        {{"--once", "--bogus", kSample}, 2, "unknown option --bogus"},
        {{"--once", "--memory", memory, "--memory-base", "0x40000001", kSample},
         1,
         "memory base 0x40000001 is not a multiple of the page size"},
        {{"--once", "--memory", memory, "--memory-base", "0x43C10000", kSample},
         1,
         "Processor_Interface at 0x43C00000 lies below the memory base 0x43C10000"},
        {{"--once", "--memory", memory, "--memory-base", "0x100000000", kSample},
         2,
         "--memory-base: not a number up to 4294967295"},
    };
    for (auto const& [args, exitCode, says] : cases) {
        sim_test::Outcome const outcome = sim_test::runSimulator(args);
        EXPECT_EQ(outcome.exitCode, exitCode) << outcome.output;
        EXPECT_NE(outcome.output.find(says), std::string::npos) << outcome.output;
    }
}

}  // namespace
