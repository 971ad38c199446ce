#ifndef TOOLS_FPGA_SIM_FPGASIM_H
#define TOOLS_FPGA_SIM_FPGASIM_H

// A simulated FPGA in a memory file: the register blocks named by a devices
// file, filled as the board's FPGA presents them, with a system counter that
// runs from CLOCK_MONOTONIC. Offsets in the memory file are the physical
// addresses of the devices file (less an optional base address), so the
// server maps the same file through CORVANE_DEVMEM, or a virtual machine
// whose RAM the file backs sees the registers at their physical addresses.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class MemoryMap;

namespace fpga_sim {

/// One register block of the devices file.
struct Block {
    std::string name;
    std::uint32_t base = 0;
    std::uint32_t size = 0;
};

/// Every container of the devices file at `path` (children of the
/// "CV_Configurations" root with a "Name") that has "BaseAddress" and
/// "Size" (automatic base, kept to 32 bits), in file order. Throws
/// std::runtime_error naming the file and the problem.
std::vector<Block> readDevices(std::string const& path);

/// What the simulated FPGA reports.
struct Inventory {
    std::uint64_t clockRate = 58982400;  ///< Hz; also the counter's rate
    std::uint32_t uarts = 2;
    std::uint32_t ptfes = 1;
    std::uint32_t pulses = 2;
    std::uint32_t periphs = 4;
    std::string firmwareName = "PNTTIMFW";    ///< 8 characters
    std::uint32_t buildDate = 0x20210309;     ///< BCD YYYYMMDD
    std::uint32_t buildTime = 0x1405;         ///< BCD HHMM
    std::string partNumber = "PNT410230001";  ///< 12 characters
    std::string revision = "A003";            ///< 4 characters
    /// An FPGA that was never loaded: every block reads all ones and the
    /// counter does not run.
    bool unprogrammed = false;
    /// Blocks with nothing behind them: they read all zeros (a missing time
    /// stamp block also stops the counter).
    std::vector<std::string> absent;
};

/// The simulated FPGA over one memory file.
class Simulator {
public:
    /// Opens (creating it when missing) the memory file at `memoryPath`,
    /// which must be a regular file, grows it (sparse) to cover the mapping
    /// of every block and maps the blocks. The file's first byte stands for
    /// the physical address `memoryBase` (bytes, a multiple of the page
    /// size; 0: offsets are physical addresses); every block must lie at or
    /// above it. Throws std::runtime_error.
    Simulator(std::string const& memoryPath, std::vector<Block> const& blocks, Inventory const& inventory,
              std::uint64_t memoryBase = 0);
    ~Simulator();
    Simulator(Simulator const&) = delete;
    Simulator& operator=(Simulator const&) = delete;

    /// Zeroes every block and writes the registers of a freshly started
    /// FPGA (an unprogrammed one: all ones everywhere; absent blocks stay
    /// zero). Throws std::runtime_error when a block is too small for its
    /// registers or the time stamp block is missing. Blocks the FPGA would
    /// open but the devices file lacks are listed by missingBlocks().
    void fill();

    /// Names of blocks the server opens that are not in the devices file.
    std::vector<std::string> missingBlocks() const;

    /// Counter value at CLOCK_MONOTONIC time `monotonicNs`.
    std::uint64_t counterAt(std::uint64_t monotonicNs) const noexcept;

    /// Writes the system counter for `monotonicNs` (one 64-bit store) and,
    /// at each whole second of the counter, the pulse input time stamps.
    /// Does nothing before fill().
    void tick(std::uint64_t monotonicNs) noexcept;

    /// Size of the memory file in bytes.
    std::uint64_t fileSize() const noexcept { return m_fileSize; }

private:
    struct Mapped;
    Mapped* find(std::string const& name) const noexcept;

    Inventory m_inventory;
    std::vector<std::unique_ptr<Mapped>> m_blocks;
    std::uint64_t m_fileSize = 0;
    std::uint64_t m_lastSecond = 0;
    Mapped const* m_timestamp = nullptr;  // set by fill()
};

/// CLOCK_MONOTONIC in nanoseconds.
std::uint64_t monotonicNow() noexcept;

}  // namespace fpga_sim

#endif  // TOOLS_FPGA_SIM_FPGASIM_H
