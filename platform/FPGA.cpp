#include "platform/FPGA.h"

#include "FACE/FACE_Common.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

#include <unistd.h>

namespace Code = FACE::RETURN_CODE_TYPE;
using Io = FACE::IOSS::Devmem::IO_Service;

namespace {

// Failures of InitFpga are reported as "platform/FPGA[<code>]:<return code>
// <text>", e.g. "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate
// mismatch, ...". The code in brackets names the failure: it is fixed (no
// source line), so that a failure reads the same on every build and
// operators, logs and tests can tell them apart by it.
char const* const kSource = "platform/FPGA";

namespace MessageCode {
// A fixed block could not be opened.
constexpr int kOpenProcessor = 56;
constexpr int kOpenPeripheral = 59;
constexpr int kOpenTimeStamp = 62;
constexpr int kOpenPpsSlave = 65;
constexpr int kOpenPtpClock = 68;
// A count of the time stamp block could not be read.
constexpr int kReadUartCount = 73;
constexpr int kReadPtfeCount = 79;
constexpr int kReadPulseCount = 85;
constexpr int kReadPeriphCount = 91;
// A PTFE unit's blocks could not be opened.
constexpr int kOpenPtfe = 115;
constexpr int kOpenPulseGen = 122;
// The clock rate could not be read, or is not kTicksPerSecond.
constexpr int kReadClockRate = 128;
constexpr int kClockRateMismatch = 135;
// A count beyond its bound (a dead FPGA or a wrong block address).
constexpr int kCountBeyondBound = 146;
}  // namespace MessageCode

void check(int code, std::string const& message, Code::Value rc) {
    FACE::Return_Code_Value_No_Error(kSource, code, message.c_str(), rc);
}

// Register offsets.
namespace Processor {
constexpr std::uint32_t kName0 = 0x00, kName1 = 0x04, kBuildDate = 0x08, kBuildTime = 0x0C;
constexpr std::uint32_t kPart0 = 0x10, kPart1 = 0x14, kPart2 = 0x18, kRevision = 0x1C;
}  // namespace Processor
namespace TimeStamp {
constexpr std::uint32_t kClockRate = 0x00, kNumUarts = 0x08, kNumPtfes = 0x10, kNumPulses = 0x18;
constexpr std::uint32_t kNumPeriphs = 0x20, kEnable = 0x40, kSystemCount = 0x80;
constexpr std::uint32_t kPulseStamp = 0x88, kUartDelay = 0x180, kUartStamp = 0x200;
}  // namespace TimeStamp
namespace Ptfe {
constexpr std::uint32_t kFirmwareId = 0x00, kFreqEstimate = 0x10, kStatus = 0x18, kDfNcoRate = 0x20;
constexpr std::uint32_t kDtNcoPhase = 0x30, kDtCycles = 0x38, kControl = 0x80, kSettingA = 0x90;
constexpr std::uint32_t kSettingB = 0x98, kDefaultNcoRate = 0xC8, kConstant = 0x120;
constexpr std::uint32_t kConstantValue = 160;
}  // namespace Ptfe
namespace PulseGen {
constexpr std::uint32_t kPeriod = 0x00, kIntPhase = 0x04, kExtPhase = 0x08;
}  // namespace PulseGen

std::string hex64(std::uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

// What a register full of ones or zeros most likely means.
std::string deadHint(std::uint64_t value) {
    if (value == ~0ull || value == 0xFFFFFFFFull) {
        return ": all ones, the FPGA is not programmed or the block is not there";
    }
    return ": the FPGA or the block address is wrong";
}

constexpr std::uint32_t kPpsSlaveRegs = 9;
constexpr std::uint32_t kPtpClockRegs = 30;

bool inRange(int i, std::uint32_t count) noexcept { return i >= 0 && static_cast<std::uint32_t>(i) < count; }

unsigned nibble(std::uint32_t value, unsigned index) noexcept { return (value >> (4 * index)) & 0xFu; }
char byte(std::uint32_t value, unsigned index) noexcept { return static_cast<char>((value >> (8 * index)) & 0xFFu); }

// The four bytes of `word`, most significant first, through `format`; the
// text ends at a zero byte as a C string does.
std::string chars(char const* format, std::uint32_t word) {
    char buffer[100];
    std::snprintf(buffer, sizeof buffer, format, byte(word, 3), byte(word, 2), byte(word, 1), byte(word, 0));
    return buffer;
}

std::string digits(char const* format, unsigned a, unsigned b, unsigned c, unsigned d) {
    char buffer[100];
    std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
    return buffer;
}

}  // namespace

FpgaFace& FpgaFace::Instance() {
    static FpgaFace instance;
    return instance;
}

FpgaFace::FpgaFace()
    : processorConn(-1),
      peripheralConn(-1),
      timestampConn(-1),
      ppsSlaveConn(-1),
      ptpClockConn(-1),
      numUarts(0),
      numPtfes(0),
      numPulses(0),
      numPeriphs(0),
      numPpsSlaveRegs(0),
      numPtpClockRegs(0) {}

void FpgaFace::InitFpga(std::shared_ptr<Io> const& io) {
    ioService = io;
    processorConn = peripheralConn = timestampConn = ppsSlaveConn = ptpClockConn = -1;
    ptfeConns.clear();
    pulseGenConns.clear();
    pulsePeriods.clear();
    numUarts = numPtfes = numPulses = numPeriphs = numPpsSlaveRegs = numPtpClockRegs = 0;

    auto openBlock = [this](std::string const& name, long long& connection, int code, std::string const& text) {
        Code::Value rc = Code::NOT_AVAILABLE;
        connection = -1;
        if (ioService) {
            ioService->Open_Connection(FACE::String(name.c_str()), -1, connection, rc);
        }
        check(code, text, rc);
        warnIfUnmapped(name, connection);
    };
    auto readCount = [this](std::uint32_t offset, int code, char const* text) {
        Io::READ_PAYLOAD_TYPE payload;
        payload.offset = offset;
        payload.width = 64;
        Code::Value rc = Code::NOT_AVAILABLE;
        ioService->Read(timestampConn, -1, payload, rc);
        check(code, text, rc);
        return payload.data;
    };

    openBlock("Processor_Interface", processorConn, MessageCode::kOpenProcessor,
              "FpgaFace() FAILED to open processor interface");
    openBlock("Peripheral_Interface", peripheralConn, MessageCode::kOpenPeripheral,
              "FpgaFace() FAILED to open peripheral interface");
    openBlock("TimeStamp_Interface", timestampConn, MessageCode::kOpenTimeStamp,
              "FpgaFace() FAILED to open timestamp interface");
    openBlock("PpsSlave_Interface", ppsSlaveConn, MessageCode::kOpenPpsSlave,
              "FpgaFace() FAILED to open PPS Slave interface");
    openBlock("PtpClock_Interface", ptpClockConn, MessageCode::kOpenPtpClock,
              "FpgaFace() FAILED to open PTP Clock interface");

    // Each count is the low 32 bits of its 64-bit register; nothing is sized
    // from a count before it has been found within its bound: a dead FPGA
    // (all ones) would otherwise have the tables sized for 4 billion units
    // and every unit's blocks opened.
    auto boundedCount = [&](std::uint32_t offset, int code, char const* text, char const* what, std::uint64_t max) {
        std::uint64_t const value = readCount(offset, code, text);
        if (value > max) {
            check(MessageCode::kCountBeyondBound,
                  "FpgaFace() TimeStamp_Interface " + std::string(what) + " reads " + std::to_string(value) + " (" +
                      hex64(value) + "), more than " + std::to_string(max) + deadHint(value),
                  Code::INVALID_MODE);
        }
        return static_cast<std::uint32_t>(value);
    };
    numUarts = boundedCount(TimeStamp::kNumUarts, MessageCode::kReadUartCount,
                            "FpgaFace() FAILED to read FPGA number of UARTs", "number of UARTs", kMaxUarts);
    std::uint32_t const ptfes =
        boundedCount(TimeStamp::kNumPtfes, MessageCode::kReadPtfeCount,
                     "FpgaFace() FAILED to read FPGA number of PTFEs", "number of PTFE units", kMaxPtfes);
    numPtfes = ptfes;  // the PTFE accessors also check the tables sized below
    numPulses = boundedCount(TimeStamp::kNumPulses, MessageCode::kReadPulseCount,
                             "FpgaFace() FAILED to read FPGA number of Pulses", "number of pulse inputs", kMaxPulses);
    numPeriphs = boundedCount(TimeStamp::kNumPeriphs, MessageCode::kReadPeriphCount,
                              "FpgaFace() FAILED to read FPGA number of Periphs", "number of peripherals", kMaxPeriphs);
    numPpsSlaveRegs = kPpsSlaveRegs;
    numPtpClockRegs = kPtpClockRegs;

    ptfeConns.assign(ptfes, -1);
    pulseGenConns.assign(ptfes, -1);
    pulsePeriods.assign(ptfes, 0);
    for (std::uint32_t n = 0; n < ptfes; ++n) {
        std::string const unit = std::to_string(n);
        pulsePeriods[n] = 0;
        openBlock("Ptfe_Interface" + unit, ptfeConns[n], MessageCode::kOpenPtfe,
                  "FpgaFace() FAILED to open PTFE " + unit + " interface");
        openBlock("PulseGen_Interface" + unit, pulseGenConns[n], MessageCode::kOpenPulseGen,
                  "FpgaFace() FAILED to open PulseGen " + unit + " interface");
    }

    std::uint64_t const rate =
        readCount(TimeStamp::kClockRate, MessageCode::kReadClockRate, "FpgaFace() FAILED to read FPGA clock rate");
    if (rate != kTicksPerSecond) {
        if (rate == 0 || rate == ~0ull || rate == 0xFFFFFFFFull) {
            // What such a rate most likely means, before the mismatch line.
            std::cout << "FpgaFace() warning: TimeStamp_Interface clock rate reads " << hex64(rate)
                      << (rate == 0 ? " (all zeros)" : " (all ones)")
                      << ": the FPGA is not programmed or the block is not there" << std::endl;
        }
        check(MessageCode::kClockRateMismatch,
              "FpgaFace() FPGA clock rate mismatch, got " + std::to_string(rate) + ", expected " +
                  std::to_string(kTicksPerSecond),
              Code::INVALID_MODE);
    }
}

void FpgaFace::warnIfUnmapped(std::string const& name, long long connection) const {
    // A block that could not be mapped (the reason is on standard error)
    // answers every access with a failure, which its accessors turn into
    // 0; start-up goes on unless it reads the block itself. Only the
    // connection's status is asked: no register is read for it.
    Io::CONNECTION_STATUS_TYPE status;
    Code::Value rc = Code::NOT_AVAILABLE;
    ioService->Get_Connection_Status(connection, status, rc);
    if (rc == Code::NO_ERROR && status.status == FACE::IOSS::CV_Devmem::STATUS_FAILED) {
        std::cout << "FpgaFace() warning: " << name << " could not be mapped: its registers read as 0 and "
                  << "writes to it are lost" << std::endl;
    }
}

void FpgaFace::DoneFpga() {
    if (!ioService) {
        return;
    }
    Code::Value rc = Code::NO_ERROR;
    for (long long const connection : {processorConn, peripheralConn, timestampConn, ppsSlaveConn, ptpClockConn}) {
        ioService->Close_Connection(connection, rc);
    }
    for (std::size_t n = 0; n < ptfeConns.size() && n < pulseGenConns.size(); ++n) {
        ioService->Close_Connection(ptfeConns[n], rc);
        ioService->Close_Connection(pulseGenConns[n], rc);
    }
}

std::uint64_t FpgaFace::read(long long connection, std::uint32_t offset, std::uint8_t width) const noexcept {
    if (!ioService) {
        return 0;
    }
    Io::READ_PAYLOAD_TYPE payload;
    payload.offset = offset;
    payload.width = width;
    Code::Value rc = Code::NOT_AVAILABLE;
    try {
        ioService->Read(connection, -1, payload, rc);
    } catch (...) {
        return 0;
    }
    return rc == Code::NO_ERROR ? payload.data : 0;
}

void FpgaFace::write(long long connection, std::uint32_t offset, std::uint8_t width,
                     std::uint64_t value) const noexcept {
    if (!ioService) {
        return;
    }
    Io::WRITE_PAYLOAD_TYPE payload;
    payload.offset = offset;
    payload.width = width;
    payload.data = value;
    Code::Value rc = Code::NOT_AVAILABLE;
    try {
        ioService->Write(connection, -1, payload, rc);
    } catch (...) {
        // Writes ignore their outcome.
    }
}

bool FpgaFace::okPtfe(unsigned n) const noexcept {
    return ioService && n < numPtfes && n < ptfeConns.size() && n < pulseGenConns.size() && n < pulsePeriods.size();
}

// --- Time stamp block --------------------------------------------------------

std::uint64_t FpgaFace::fpga_get_SystemCount() const noexcept {
    return read(timestampConn, TimeStamp::kSystemCount, 64);
}

std::uint64_t FpgaFace::getUARTDataTimestampRaw(unsigned uart) const noexcept {
    return uart < numUarts ? read(timestampConn, TimeStamp::kUartStamp + 8 * uart, 64) : 0;
}

std::uint64_t FpgaFace::getPulseTimestampRaw(int pulse) const noexcept {
    return inRange(pulse, numPulses)
               ? read(timestampConn, TimeStamp::kPulseStamp + 8 * static_cast<std::uint32_t>(pulse), 64)
               : 0;
}

void FpgaFace::setUartDelay(unsigned uart, unsigned ticks) noexcept {
    if (uart < numUarts) {
        write(timestampConn, TimeStamp::kUartDelay + 8 * uart, 32, ticks);
    }
}

void FpgaFace::setUartDelay(unsigned uart, unsigned a, unsigned b, unsigned c) noexcept {
    if (a == 0) {
        return;
    }
    double const ticks = static_cast<double>(kTicksPerSecond) / a * b * c;
    // Truncated, then kept to its low 32 bits.
    double const low = std::fmod(std::trunc(ticks), 4294967296.0);
    setUartDelay(uart, static_cast<unsigned>(low));
}

std::uint32_t FpgaFace::getUartDelay(unsigned uart) const noexcept {
    return uart < numUarts ? static_cast<std::uint32_t>(read(timestampConn, TimeStamp::kUartDelay + 8 * uart, 32)) : 0;
}

// --- Control words -----------------------------------------------------------

void FpgaFace::writeControl(long long connection, std::uint32_t count, int i, unsigned value) const noexcept {
    if (inRange(i, count)) {
        write(connection, 4 * static_cast<std::uint32_t>(i), 32, value);
    }
}

std::uint32_t FpgaFace::readControl(long long connection, std::uint32_t count, int i) const noexcept {
    return inRange(i, count) ? static_cast<std::uint32_t>(read(connection, 4 * static_cast<std::uint32_t>(i), 32)) : 0;
}

void FpgaFace::fpga_set_periph_control(int i, unsigned value) noexcept {
    writeControl(peripheralConn, numPeriphs, i, value);
}

std::uint32_t FpgaFace::fpga_get_periph_control(int i) const noexcept {
    return readControl(peripheralConn, numPeriphs, i);
}

std::uint32_t FpgaFace::fpga_reset_periph_control(int i) noexcept {
    if (!inRange(i, numPeriphs)) {
        return 0;
    }
    std::uint32_t const value = fpga_get_periph_control(i);
    fpga_set_periph_control(i, 0);
    return value;
}

void FpgaFace::fpga_set_ppsSlave_control(int i, unsigned value) noexcept {
    writeControl(ppsSlaveConn, numPpsSlaveRegs, i, value);
}

std::uint32_t FpgaFace::fpga_get_ppsSlave_control(int i) const noexcept {
    return readControl(ppsSlaveConn, numPpsSlaveRegs, i);
}

void FpgaFace::fpga_set_ptpClock_control(int i, unsigned value) noexcept {
    writeControl(ptpClockConn, numPtpClockRegs, i, value);
}

std::uint32_t FpgaFace::fpga_get_ptpClock_control(int i) const noexcept {
    return readControl(ptpClockConn, numPtpClockRegs, i);
}

// --- PTFE units and pulse generators ----------------------------------------

void FpgaFace::fpga_ptfe_init(unsigned n, unsigned setting, unsigned period) noexcept {
    if (!okPtfe(n)) {
        return;
    }
    pulsePeriods[n] = period;
    write(pulseGenConns[n], PulseGen::kPeriod, 32, static_cast<std::uint32_t>(period - 1u));
    write(timestampConn, TimeStamp::kEnable, 32, 1);
    write(ptfeConns[n], Ptfe::kSettingA, 32, setting);
    write(ptfeConns[n], Ptfe::kSettingB, 32, setting);
    write(ptfeConns[n], Ptfe::kConstant, 32, Ptfe::kConstantValue);
}

void FpgaFace::fpga_ptfe_soft_reset(unsigned n) noexcept {
    if (!okPtfe(n)) {
        return;
    }
    std::uint32_t const control = static_cast<std::uint32_t>(read(ptfeConns[n], Ptfe::kControl, 32));
    write(ptfeConns[n], Ptfe::kControl, 32, control | 1u);
    timespec remaining{0, 1000};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
    write(ptfeConns[n], Ptfe::kControl, 32, control & ~1u);
}

std::uint64_t FpgaFace::getPtfeFirmwareId(unsigned n) const noexcept {
    return okPtfe(n) ? read(ptfeConns[n], Ptfe::kFirmwareId, 64) : 0;
}

std::uint32_t FpgaFace::getPtfeStatus(unsigned n) const noexcept {
    return okPtfe(n) ? static_cast<std::uint32_t>(read(ptfeConns[n], Ptfe::kStatus, 32)) : 0;
}

std::uint32_t FpgaFace::getAndClearPtfeStatus(unsigned n) noexcept {
    if (!okPtfe(n)) {
        return 0;
    }
    std::uint32_t const status = getPtfeStatus(n);
    write(ptfeConns[n], Ptfe::kStatus, 32, 0);
    return status;
}

std::uint64_t FpgaFace::getDfNcoRate(unsigned n) const noexcept {
    return okPtfe(n) ? read(ptfeConns[n], Ptfe::kDfNcoRate, 64) & 0xFFFFFFFFFFFull : 0;
}

std::uint64_t FpgaFace::getDtNcoPhase(unsigned n) const noexcept {
    return okPtfe(n) ? read(ptfeConns[n], Ptfe::kDtNcoPhase, 64) & 0xFFFFFFFFFFull : 0;
}

std::uint32_t FpgaFace::getDtCycles(unsigned n) const noexcept {
    return okPtfe(n) ? static_cast<std::uint32_t>(read(ptfeConns[n], Ptfe::kDtCycles, 32)) : 0;
}

std::uint32_t FpgaFace::getPtfeMeasuredFreqEstimate(unsigned n) const noexcept {
    if (!okPtfe(n)) {
        return 1;
    }
    Io::READ_PAYLOAD_TYPE payload;
    payload.offset = Ptfe::kFreqEstimate;
    payload.width = 32;
    Code::Value rc = Code::NOT_AVAILABLE;
    try {
        ioService->Read(ptfeConns[n], -1, payload, rc);
    } catch (...) {
        return 1;
    }
    return rc == Code::NO_ERROR ? static_cast<std::uint32_t>(payload.data) + 1u : 1u;
}

void FpgaFace::setPtfeDefaultNcoRate(unsigned n, unsigned long long rate) noexcept {
    if (okPtfe(n)) {
        write(ptfeConns[n], Ptfe::kDefaultNcoRate, 64, rate);
    }
}

void FpgaFace::fpga_pulsegen_set_Int_phase(unsigned n, unsigned phase) noexcept {
    if (okPtfe(n)) {
        write(pulseGenConns[n], PulseGen::kIntPhase, 32, phase);
    }
}

std::uint32_t FpgaFace::fpga_pulsegen_get_Int_phase(unsigned n) const noexcept {
    return okPtfe(n) ? static_cast<std::uint32_t>(read(pulseGenConns[n], PulseGen::kIntPhase, 32)) : 0;
}

void FpgaFace::fpga_pulsegen_set_Ext_phase(unsigned n, unsigned phase) noexcept {
    if (okPtfe(n)) {
        write(pulseGenConns[n], PulseGen::kExtPhase, 32, phase);
    }
}

std::uint32_t FpgaFace::fpga_pulsegen_get_Ext_phase(unsigned n) const noexcept {
    return okPtfe(n) ? static_cast<std::uint32_t>(read(pulseGenConns[n], PulseGen::kExtPhase, 32)) : 0;
}

std::uint32_t FpgaFace::adjustPhase(unsigned n, std::uint32_t offset, int delta) noexcept {
    if (!okPtfe(n)) {
        return 0;
    }
    std::uint32_t const current = static_cast<std::uint32_t>(read(pulseGenConns[n], offset, 32));
    // The sum wraps as a signed 32-bit value would.
    std::int64_t phase = static_cast<std::int32_t>(current + static_cast<std::uint32_t>(delta));
    std::int64_t const period = pulsePeriods[n];
    if (phase < 0) {
        phase += period;
    } else if (phase >= period) {
        phase -= period;
    }
    std::uint32_t const result = static_cast<std::uint32_t>(phase);
    write(pulseGenConns[n], offset, 32, result);
    return result;
}

std::uint32_t FpgaFace::fpga_pulsegen_adjust_Int_phase(unsigned n, int delta) noexcept {
    return adjustPhase(n, PulseGen::kIntPhase, delta);
}

std::uint32_t FpgaFace::fpga_pulsegen_adjust_Ext_phase(unsigned n, int delta) noexcept {
    return adjustPhase(n, PulseGen::kExtPhase, delta);
}

// --- Firmware identity -------------------------------------------------------

std::string FpgaFace::getFirmwareBuildStamp() const {
    std::uint32_t const d = static_cast<std::uint32_t>(read(processorConn, Processor::kBuildDate, 32));
    std::uint32_t const t = static_cast<std::uint32_t>(read(processorConn, Processor::kBuildTime, 32));
    char buffer[100];
    std::snprintf(buffer, sizeof buffer, "%1u%1u%1u%1u-%1u%1u-%1u%1uT%1u%1u:%1u%1u:00", nibble(d, 7), nibble(d, 6),
                  nibble(d, 5), nibble(d, 4), nibble(d, 3), nibble(d, 2), nibble(d, 1), nibble(d, 0), nibble(t, 3),
                  nibble(t, 2), nibble(t, 1), nibble(t, 0));
    return buffer;
}

std::string FpgaFace::getFirmwareConfiguration() const {
    std::uint32_t regs[8];
    for (std::uint32_t i = 0; i < 8; ++i) {
        regs[i] = static_cast<std::uint32_t>(read(processorConn, Processor::kName0 + 4 * i, 32));
    }
    std::uint32_t const date = regs[Processor::kBuildDate / 4];
    std::uint32_t const time = regs[Processor::kBuildTime / 4];
    std::string text = "Keystel FPGA ";
    text += chars("Firmware:, %c%c%c%c", regs[Processor::kName0 / 4]);
    text += chars("%c%c%c%c,", regs[Processor::kName1 / 4]);
    text += digits("Date YMD:,%1u%1u%1u%1u-", nibble(date, 7), nibble(date, 6), nibble(date, 5), nibble(date, 4));
    text += digits("%1u%1u-%1u%1u,", nibble(date, 3), nibble(date, 2), nibble(date, 1), nibble(date, 0));
    text += digits("Time  HHMM:,%1u%1u:%1u%1u,", nibble(time, 3), nibble(time, 2), nibble(time, 1), nibble(time, 0));
    text += chars("CPN:,%c%c%c%c-", regs[Processor::kPart0 / 4]);
    text += chars("%c%c%c%c-", regs[Processor::kPart1 / 4]);
    text += chars("%c%c%c%c", regs[Processor::kPart2 / 4]);
    text += chars("Rev:%c%c%c%c", regs[Processor::kRevision / 4]);
    return text;
}
