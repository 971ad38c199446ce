// FpgaFace through the memory-mapped I/O service against the FPGA
// simulator's memory file (this process's CORVANE_DEVMEM).

#include "platform/FPGA.h"

#include "FACE/CV_Config.h"
#include "FACE/CV_Devmem.h"
#include "tests/FACE/ConfigTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"
#include "tests/platform/SimProcess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace Code = FACE::RETURN_CODE_TYPE;
using face_test::RC;
using sim_test::runSimulator;

constexpr std::uint64_t kRate = 58982400;
std::string const kSampleDevices = CORVANE_SOURCE_DIR "/config/devices.xml";

// A devices file of the sample's blocks without those named in `drop`.
std::string devicesWithout(face_test::TempDir const& dir, std::vector<std::string> const& drop) {
    std::vector<std::string> const names = {"Processor_Interface", "Peripheral_Interface", "TimeStamp_Interface",
                                            "PpsSlave_Interface", "PtpClock_Interface", "Ptfe_Interface0",
                                            "PulseGen_Interface0"};
    std::string body;
    std::uint32_t base = 0x100000;
    for (std::string const& name : names) {
        base += 0x10000;
        bool dropped = false;
        for (std::string const& d : drop) dropped = dropped || d == name;
        if (dropped) continue;
        body += face_test::container("Block", name,
                                     "<BaseAddress>" + std::to_string(base) + "</BaseAddress><Size>0x400</Size>");
    }
    return dir.write("devices.xml", face_test::document(body));
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

class FpgaOnSim : public testing::Test {
protected:
    // Fills the memory file with the simulator, then opens the FPGA over
    // `devices`. The exception text of InitFpga, or "".
    std::string start(std::string const& devices, std::vector<std::string> simArgs = {}) {
        simArgs.insert(simArgs.end(), {"--once", "--memory", devmem_test::memoryFile(), devices});
        sim_test::Outcome const filled = runSimulator(simArgs);
        EXPECT_EQ(filled.exitCode, 0) << filled.output;
        return open(devices);
    }
    std::string open(std::string const& devices) {
        m_io = std::make_shared<FACE::IOSS::CV_Devmem>();
        RC rc = Code::NOT_AVAILABLE;
        m_io->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        m_io->Initialize(FACE::String(devices.c_str()), rc);
        EXPECT_EQ(rc, Code::NO_ERROR);
        testing::internal::CaptureStdout();
        std::string error;
        try {
            m_fpga.InitFpga(m_io);
        } catch (std::runtime_error const& e) {
            error = e.what();
        }
        m_console = testing::internal::GetCapturedStdout();
        return error;
    }

    face_test::TempDir m_dir;
    std::shared_ptr<FACE::IOSS::CV_Devmem> m_io;
    FpgaFace m_fpga;
    std::string m_console;
};

TEST_F(FpgaOnSim, SampleDevicesFileAndDefaultFpga) {
    ASSERT_EQ(start(kSampleDevices), "");
    EXPECT_EQ(m_fpga.getNumUarts(), 2u);
    EXPECT_EQ(m_fpga.getNumPtfes(), 1u);
    EXPECT_EQ(m_fpga.getNumPulses(), 2u);
    EXPECT_EQ(m_fpga.getNumPeriphs(), 4u);
    EXPECT_EQ(m_fpga.getFirmwareBuildStamp(), "2021-03-09T14:05:00");
    EXPECT_EQ(m_fpga.getFirmwareConfiguration(),
              "Keystel FPGA Firmware:, PNTTIMFW,Date YMD:,2021-03-09,Time  HHMM:,14:05,CPN:,PNT4-1023-0001Rev:A003");
    EXPECT_EQ(m_fpga.getPtfeFirmwareId(0), 0x5054464501020000ull);
    EXPECT_EQ(m_fpga.getPtfeMeasuredFreqEstimate(0), 10000000u);

    // The counter was set from the monotonic clock when the file was filled.
    std::uint64_t const count = m_fpga.fpga_get_SystemCount();
    std::uint64_t const now = idealCount(monotonicNs());
    EXPECT_LE(count, now);
    EXPECT_GT(count, now - 60 * kRate);

    // Writes land at the block's physical address in the file.
    m_fpga.setUartDelay(1, 115200, 10, 1);
    EXPECT_EQ(devmem_test::peekValue<std::uint32_t>(0x43C20000 + 0x188), 5120u);
    EXPECT_EQ(m_fpga.getUartDelay(1), 5120u);

    m_fpga.DoneFpga();
    EXPECT_EQ(m_fpga.fpga_get_SystemCount(), 0u);  // the connection is closed
}

TEST_F(FpgaOnSim, SimulatorOptionsShapeTheFpga) {
    struct Case {
        std::vector<std::string> args;
        char const* error;  // of InitFpga; "" for success
        std::uint32_t ptfes, uarts;
    };
    Case const cases[] = {
        {{"--clock-rate", "58982401"},
         "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 58982401, expected 58982400", 0, 0},
        {{"--ptfes", "3", "--uarts", "16", "--build-date", "20240229", "--build-time", "2359"}, "", 3, 16},
        {{"--ptfes", "5"}, "platform/FPGA[115]:INVALID_CONFIG FpgaFace() FAILED to open PTFE 4 interface", 0, 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.args[1]);
        EXPECT_EQ(start(kSampleDevices, c.args), c.error);
        if (std::string(c.error).empty()) {
            EXPECT_EQ(m_fpga.getNumPtfes(), c.ptfes);
            EXPECT_EQ(m_fpga.getNumUarts(), c.uarts);
            EXPECT_EQ(m_fpga.getPtfeFirmwareId(2), 0x5054464501020002ull);
            EXPECT_EQ(m_fpga.getFirmwareBuildStamp(), "2024-02-29T23:59:00");
        } else {
            EXPECT_EQ(m_console, std::string(c.error) + "\n");
        }
    }
}

TEST_F(FpgaOnSim, MissingBlocks) {
    // No PTFE unit: its blocks are not needed.
    ASSERT_EQ(start(devicesWithout(m_dir, {"Ptfe_Interface0", "PulseGen_Interface0"}), {"--ptfes", "0"}), "");
    EXPECT_EQ(m_fpga.getNumPtfes(), 0u);
    EXPECT_EQ(m_fpga.getPtfeMeasuredFreqEstimate(0), 1u);
    EXPECT_EQ(m_fpga.getPtfeFirmwareId(0), 0u);

    EXPECT_EQ(start(devicesWithout(m_dir, {"PpsSlave_Interface"})),
              "platform/FPGA[65]:INVALID_CONFIG FpgaFace() FAILED to open PPS Slave interface");
    EXPECT_EQ(start(devicesWithout(m_dir, {"PulseGen_Interface0"})),
              "platform/FPGA[122]:INVALID_CONFIG FpgaFace() FAILED to open PulseGen 0 interface");
}

TEST(FpgaSimulator, RefusesBadInputWithAClearMessage) {
    face_test::TempDir dir;
    std::string const noSize = dir.write(
        "nosize.xml", face_test::document(face_test::container("B", "TimeStamp_Interface", "<BaseAddress>0</BaseAddress>")));
    std::string const small = dir.write(
        "small.xml",
        face_test::document(face_test::container("B", "TimeStamp_Interface", "<BaseAddress>0</BaseAddress><Size>0x100</Size>")));
    std::string const memory = dir.path() + "/memory";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        char const* says;
    };
    Case const cases[] = {
        {{"--once", "--memory", memory, noSize}, 1, "container TimeStamp_Interface lacks BaseAddress or Size"},
        {{"--once", "--memory", memory, small}, 1, "TimeStamp_Interface is 0x100 bytes; its registers need 0x184"},
        {{"--once", "--memory", memory, dir.path() + "/none.xml"}, 1, "cannot be read as XML"},
        {{"--once", "--memory", "/dev/null", kSampleDevices}, 1, "/dev/null: not a regular file"},
        {{"--once", "--memory", memory, "--uarts", "17", kSampleDevices}, 2, "--uarts: not a number up to 16"},
        {{"--once", "--memory", memory, "--clock-rate", "fast", kSampleDevices}, 2, "--clock-rate: not a number"},
        {{"--once", "--memory", memory, "--build-date", "2021-3-9", kSampleDevices}, 2, "8 decimal digits"},
        {{"--once", "--bogus", kSampleDevices}, 2, "unknown option --bogus"},
        {{"--once", "--memory", memory}, 2, "no devices file"},
    };
    for (Case const& c : cases) {
        sim_test::Outcome const outcome = runSimulator(c.args);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.output;
        EXPECT_NE(outcome.output.find(c.says), std::string::npos) << outcome.output;
    }
}

TEST(FpgaSimulator, StopsOnSignalsAndRemovesOnlyWhenAsked) {
    face_test::TempDir dir;
    for (int signal : {SIGINT, SIGTERM}) {
        for (bool remove : {false, true}) {
            std::string const memory = dir.path() + "/memory" + std::to_string(signal) + (remove ? "r" : "");
            std::string const readyFile = memory + ".ready";
            std::vector<std::string> args = {"--memory", memory, "--ready-file", readyFile, kSampleDevices};
            if (remove) args.push_back("--remove");
            sim_test::RunningSimulator sim(args);
            ASSERT_TRUE(sim.ready());
            struct stat info {};
            EXPECT_EQ(::stat(readyFile.c_str(), &info), 0);
            sim_test::Outcome const outcome = sim.stop(signal);
            EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
            EXPECT_NE(outcome.output.find("fpga-sim: stopped"), std::string::npos) << outcome.output;
            EXPECT_EQ(::stat(memory.c_str(), &info) == 0, !remove) << memory;
        }
    }
}

// One (counter, monotonic time) pair: the clock read just before and after
// the counter, taken at the midpoint. The counter's lag behind the ideal
// count is smallest right after the simulator's update, so of a burst of
// samples the one with the largest offset is the freshest.
struct Sample {
    std::uint64_t count = 0;
    std::uint64_t ns = 0;
    std::int64_t offset = INT64_MIN;  // count - idealCount(ns)
};

Sample freshestSample(FpgaFace const& fpga, std::chrono::milliseconds burst) {
    Sample best;
    auto const end = std::chrono::steady_clock::now() + burst;
    while (std::chrono::steady_clock::now() < end) {
        std::uint64_t const before = monotonicNs();
        std::uint64_t const count = fpga.fpga_get_SystemCount();
        std::uint64_t const after = monotonicNs();
        if (after - before > 20000) continue;  // preempted in between
        std::uint64_t const mid = before + (after - before) / 2;
        std::int64_t const offset = static_cast<std::int64_t>(count - idealCount(mid));
        if (offset > best.offset) best = {count, mid, offset};
    }
    return best;
}

TEST_F(FpgaOnSim, SystemCounterRunsAt58982400TicksPerSecond) {
    sim_test::RunningSimulator sim({"--memory", devmem_test::memoryFile(), kSampleDevices});
    ASSERT_TRUE(sim.ready());
    ASSERT_EQ(open(kSampleDevices), "");

    Sample const first = freshestSample(m_fpga, std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the measured interval, not a synchronisation
    Sample const last = freshestSample(m_fpga, std::chrono::milliseconds(100));
    ASSERT_NE(first.offset, INT64_MIN);
    ASSERT_NE(last.offset, INT64_MIN);
    double const seconds = static_cast<double>(last.ns - first.ns) / 1e9;
    double const rate = static_cast<double>(last.count - first.count) / seconds;
    EXPECT_GE(seconds, 2.0);
    EXPECT_NEAR(rate, 58982400.0, 58982.4) << "over " << seconds << " s";

    // Pulse inputs are stamped at whole seconds of the counter.
    std::uint64_t const pulse = m_fpga.getPulseTimestampRaw(0);
    EXPECT_EQ(pulse % kRate, 0u);
    EXPECT_GT(pulse, first.count);

    sim_test::Outcome const outcome = sim.stop(SIGTERM);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}

}  // namespace
