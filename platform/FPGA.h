#ifndef PLATFORM_FPGA_H
#define PLATFORM_FPGA_H

// FpgaFace: the process-wide access to the board's FPGA, a set of register
// blocks each reached as one connection of the memory-mapped I/O service.
//
// Blocks (connection names = container names of the devices file):
//   processor         "Processor_Interface"   firmware identity
//   peripheral        "Peripheral_Interface"  control word per peripheral
//   time stamp        "TimeStamp_Interface"   clock rate, inventory, system
//                                             counter, pulse and UART stamps
//   PPS slave         "PpsSlave_Interface"    9 control words
//   PTP clock         "PtpClock_Interface"    30 control words
//   PTFE unit n       "Ptfe_Interface<n>"     frequency/time engine n
//   pulse generator n "PulseGen_Interface<n>" one per PTFE unit
//
// InitFpga opens the blocks, reads the inventory and checks the clock rate;
// after that any thread may call the accessors (the counts and ids are only
// written by InitFpga). Accessors never throw: an index out of range, no
// service or a failed read gives 0 (the frequency estimate: 1) without a
// register access; failed writes are ignored. Read-modify-write accessors
// are not atomic with respect to each other.

#include "FACE/CV_Devmem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FpgaFace {
public:
    /// Rate of the FPGA clock and of its system counter, in Hz.
    static constexpr std::uint64_t kTicksPerSecond = 58982400;

    /// The process-wide instance, created on first use (thread-safe).
    static FpgaFace& Instance();

    /// A fresh instance: no service, all ids -1, all counts 0. The server
    /// uses Instance(); separate instances serve tools and tests.
    FpgaFace();
    FpgaFace(FpgaFace const&) = delete;
    FpgaFace& operator=(FpgaFace const&) = delete;

    /// Bounds of the inventory counts. Each matches the register map: UART
    /// delays and time stamps are 16 slots each, pulse time stamps 30 slots
    /// (0x88 to 0x180), peripheral control words fill a 4 KiB block (1024);
    /// 64 PTFE units (each with two blocks of its own) is far above any
    /// board. A count beyond its bound is a dead FPGA, not a board.
    static constexpr std::uint32_t kMaxUarts = 16;
    static constexpr std::uint32_t kMaxPtfes = 64;
    static constexpr std::uint32_t kMaxPulses = 30;
    static constexpr std::uint32_t kMaxPeriphs = 1024;

    /// Keeps `io`, opens the five fixed blocks, reads the inventory, opens a
    /// PTFE and a pulse generator block per PTFE unit and checks that the
    /// clock runs at 58,982,400 Hz. Earlier ids and counts are forgotten
    /// first. Throws std::runtime_error (through the return-code guard, which
    /// also prints the text) at the first failure, each with its fixed
    /// message code in brackets, e.g.
    ///   platform/FPGA[62]:INVALID_CONFIG FpgaFace() FAILED to open timestamp interface
    ///   platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 58982401, expected 58982400
    /// and, before anything is sized from it, a count beyond its bound
    /// (kMaxUarts ... kMaxPeriphs: a dead FPGA or a wrong block address):
    ///   platform/FPGA[146]:INVALID_MODE FpgaFace() TimeStamp_Interface number of UARTs reads ...
    /// Only the time stamp block is read. A block that could not be mapped
    /// gets a warning line ("FpgaFace() warning: ...") and start-up goes on
    /// (reading the time stamp block then fails on its own line); a clock
    /// rate of 0 or all ones gets a warning line before the mismatch line.
    /// Blocks already opened stay open. `io` must not be empty (it throws
    /// like a failed open of the processor block otherwise).
    void InitFpga(std::shared_ptr<FACE::IOSS::Devmem::IO_Service> const& io);

    /// Closes every block (fixed blocks, then PTFE n and pulse generator n
    /// for increasing n), ignoring the results. Ids, counts and the service
    /// stay as they are.
    void DoneFpga();

    /// 58,982,400; reads no register.
    static std::uint64_t fpga_timestamp_get_ticks_per_sec() noexcept { return kTicksPerSecond; }

    /// The free-running 64-bit system counter (ticks of 1/58,982,400 s).
    /// One register read: no system call, no allocation.
    std::uint64_t fpga_get_SystemCount() const noexcept;

    /// Time stamp (counter ticks) of the last data of UART `uart` < numUarts.
    std::uint64_t getUARTDataTimestampRaw(unsigned uart) const noexcept;
    /// Time stamp (counter ticks) of the last edge of pulse input
    /// 0 <= `pulse` < numPulses.
    std::uint64_t getPulseTimestampRaw(int pulse) const noexcept;

    /// Delay of UART `uart` < numUarts, in counter ticks.
    void setUartDelay(unsigned uart, unsigned ticks) noexcept;
    /// Delay of 58,982,400 / a * b * c ticks (double precision, truncated to
    /// 32 bits): e.g. a = baud rate, b = bits per character, c = characters.
    /// a = 0 writes nothing.
    void setUartDelay(unsigned uart, unsigned a, unsigned b, unsigned c) noexcept;
    std::uint32_t getUartDelay(unsigned uart) const noexcept;

    /// Control word of peripheral 0 <= i < numPeriphs.
    void fpga_set_periph_control(int i, unsigned value) noexcept;
    std::uint32_t fpga_get_periph_control(int i) const noexcept;
    /// Reads the control word, writes 0 there, returns what was read.
    std::uint32_t fpga_reset_periph_control(int i) noexcept;

    /// Control word 0 <= i < 9 of the PPS slave.
    void fpga_set_ppsSlave_control(int i, unsigned value) noexcept;
    std::uint32_t fpga_get_ppsSlave_control(int i) const noexcept;
    /// Control word 0 <= i < 30 of the PTP clock.
    void fpga_set_ptpClock_control(int i, unsigned value) noexcept;
    std::uint32_t fpga_get_ptpClock_control(int i) const noexcept;

    /// Starts PTFE unit n < numPtfes: remembers `period` (ticks) for the
    /// phase adjusters, sets the pulse generator period, enables the time
    /// stamp unit and writes `setting` to the PTFE's two setting registers.
    void fpga_ptfe_init(unsigned n, unsigned setting, unsigned period) noexcept;
    /// Pulses the soft-reset bit of PTFE unit n for about 1 microsecond.
    void fpga_ptfe_soft_reset(unsigned n) noexcept;

    /// PTFE unit n < numPtfes.
    std::uint64_t getPtfeFirmwareId(unsigned n) const noexcept;
    std::uint32_t getPtfeStatus(unsigned n) const noexcept;
    /// The status, then cleared (written with 0).
    std::uint32_t getAndClearPtfeStatus(unsigned n) noexcept;
    /// DF NCO rate, 44 bits.
    std::uint64_t getDfNcoRate(unsigned n) const noexcept;
    /// DT NCO phase, 40 bits.
    std::uint64_t getDtNcoPhase(unsigned n) const noexcept;
    std::uint32_t getDtCycles(unsigned n) const noexcept;
    /// Measured frequency estimate; 1 when refused or unreadable.
    std::uint32_t getPtfeMeasuredFreqEstimate(unsigned n) const noexcept;
    void setPtfeDefaultNcoRate(unsigned n, unsigned long long rate) noexcept;

    /// Phases of pulse generator n < numPtfes, in ticks.
    void fpga_pulsegen_set_Int_phase(unsigned n, unsigned phase) noexcept;
    std::uint32_t fpga_pulsegen_get_Int_phase(unsigned n) const noexcept;
    void fpga_pulsegen_set_Ext_phase(unsigned n, unsigned phase) noexcept;
    std::uint32_t fpga_pulsegen_get_Ext_phase(unsigned n) const noexcept;
    /// phase + delta (signed 32-bit), wrapped once into [0, period) with the
    /// period given to fpga_ptfe_init; written back and returned. 0 when n
    /// is out of range.
    std::uint32_t fpga_pulsegen_adjust_Int_phase(unsigned n, int delta) noexcept;
    std::uint32_t fpga_pulsegen_adjust_Ext_phase(unsigned n, int delta) noexcept;

    /// Firmware build date and time, "YYYY-MM-DDTHH:MM:00".
    std::string getFirmwareBuildStamp() const;
    /// One line describing the firmware: name, build date and time, part
    /// number and revision.
    std::string getFirmwareConfiguration() const;

    /// Inventory read by InitFpga (0 before).
    std::uint32_t getNumUarts() const noexcept { return numUarts; }
    std::uint32_t getNumPtfes() const noexcept { return numPtfes; }
    std::uint32_t getNumPulses() const noexcept { return numPulses; }
    std::uint32_t getNumPeriphs() const noexcept { return numPeriphs; }

private:
    // A warning line when block `name` is open but could not be mapped.
    void warnIfUnmapped(std::string const& name, long long connection) const;
    std::uint64_t read(long long connection, std::uint32_t offset, std::uint8_t width) const noexcept;
    void write(long long connection, std::uint32_t offset, std::uint8_t width, std::uint64_t value) const noexcept;
    bool okPtfe(unsigned n) const noexcept;
    // 32-bit word `i` of a control block of `count` words; out of range the
    // write does nothing and the read gives 0.
    void writeControl(long long connection, std::uint32_t count, int i, unsigned value) const noexcept;
    std::uint32_t readControl(long long connection, std::uint32_t count, int i) const noexcept;
    std::uint32_t adjustPhase(unsigned n, std::uint32_t offset, int delta) noexcept;

    std::shared_ptr<FACE::IOSS::Devmem::IO_Service> ioService;
    long long processorConn;
    long long peripheralConn;
    long long timestampConn;
    long long ppsSlaveConn;
    long long ptpClockConn;
    std::vector<long long> ptfeConns;
    std::vector<long long> pulseGenConns;
    std::vector<std::uint32_t> pulsePeriods;
    std::uint32_t numUarts;
    std::uint32_t numPtfes;
    std::uint32_t numPulses;
    std::uint32_t numPeriphs;
    std::uint32_t numPpsSlaveRegs;
    std::uint32_t numPtpClockRegs;
};

#endif  // PLATFORM_FPGA_H
