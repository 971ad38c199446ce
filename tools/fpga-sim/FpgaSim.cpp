#include "tools/fpga-sim/FpgaSim.h"

#include "FACE/CV_Config_Helpers.h"
#include "platform/MemoryAccess.h"
#include "platform/MemoryMap.h"

#include <tinyxml2.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace fpga_sim {

namespace {

std::runtime_error failure(std::string const& text) { return std::runtime_error(text); }

std::string childText(tinyxml2::XMLElement const* parent, char const* name) {
    tinyxml2::XMLElement const* const child = parent == nullptr ? nullptr : parent->FirstChildElement(name);
    char const* const text = child == nullptr ? nullptr : child->GetText();
    return text == nullptr ? std::string() : std::string(text);
}

std::string hex(std::uint64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
    return buffer;
}

// Four characters as one register, the first in the most significant byte.
std::uint32_t word(std::string const& text, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        unsigned char const c = at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : ' ';
        value = (value << 8) | c;
    }
    return value;
}

constexpr std::uint64_t kNsPerSecond = 1000000000ull;

}  // namespace

std::vector<Block> readDevices(std::string const& path) {
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        throw failure(path + ": cannot be read as XML (" + (doc.ErrorStr() == nullptr ? "?" : doc.ErrorStr()) + ")");
    }
    tinyxml2::XMLElement const* const root = doc.FirstChildElement("CV_Configurations");
    if (root == nullptr) {
        throw failure(path + ": no CV_Configurations root");
    }
    std::vector<Block> blocks;
    for (tinyxml2::XMLElement const* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        std::string const name = childText(e, "Name");
        if (name.empty()) {
            continue;
        }
        tinyxml2::XMLElement const* const params = e->FirstChildElement("Parameters");
        std::string const base = childText(params, "BaseAddress");
        std::string const size = childText(params, "Size");
        if (base.empty() || size.empty()) {
            throw failure(path + ": container " + name + " lacks BaseAddress or Size");
        }
        Block block;
        block.name = name;
        block.base = static_cast<std::uint32_t>(CV_Config_Helpers::Details::Parse_Unsigned(base));
        block.size = static_cast<std::uint32_t>(CV_Config_Helpers::Details::Parse_Unsigned(size));
        blocks.push_back(block);
    }
    if (blocks.empty()) {
        throw failure(path + ": no register blocks");
    }
    return blocks;
}

std::uint64_t monotonicNow() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kNsPerSecond + static_cast<std::uint64_t>(now.tv_nsec);
}

// One mapped block with bounds-checked register stores.
struct Simulator::Mapped {
    Block block;
    std::unique_ptr<MemoryMap> map;
    unsigned char* base = nullptr;

    void require(std::uint32_t bytes) const {
        if (block.size < bytes) {
            throw failure(block.name + " is " + hex(block.size) + " bytes; its registers need " + hex(bytes));
        }
    }
    void put32(std::uint32_t offset, std::uint32_t value) const {
        require(offset + 4);
        MemoryAccess::store32(base + offset, value);
    }
    void put64(std::uint32_t offset, std::uint64_t value) const {
        require(offset + 8);
        MemoryAccess::store64(base + offset, value);
    }
};

Simulator::Simulator(std::string const& memoryPath, std::vector<Block> const& blocks, Inventory const& inventory,
                     std::uint64_t memoryBase)
    : m_inventory(inventory) {
    if (inventory.clockRate == 0 || inventory.clockRate > 0xFFFFFFFFull) {
        throw failure("clock rate must lie between 1 and 4294967295 Hz");
    }
    std::uint64_t const page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    if (memoryBase % page != 0) {
        throw failure("memory base " + hex(memoryBase) + " is not a multiple of the page size");
    }
    for (Block const& b : blocks) {
        if (b.base < memoryBase) {
            throw failure(b.name + " at " + hex(b.base) + " lies below the memory base " + hex(memoryBase));
        }
    }
    int const fd = ::open(memoryPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw failure(memoryPath + ": " + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        // Never a device: the simulator writes to whatever it maps.
        throw failure(memoryPath + ": not a regular file");
    }
    std::uint64_t needed = 0;
    for (Block const& b : blocks) {
        std::uint64_t const offset = b.base % page;
        std::uint64_t const end = (b.base - memoryBase - offset) + ((offset + b.size) / page + 1) * page;
        needed = end > needed ? end : needed;
    }
    m_fileSize = static_cast<std::uint64_t>(info.st_size);
    if (needed > m_fileSize) {
        // Only ever grown: a process that maps the file keeps its pages.
        if (::ftruncate(fd, static_cast<off_t>(needed)) != 0) {
            int const error = errno;
            ::close(fd);
            throw failure(memoryPath + ": cannot size to " + std::to_string(needed) +
                          " bytes: " + std::strerror(error));
        }
        m_fileSize = needed;
    }
    ::close(fd);

    MemoryDeviceFileDescriptor const device(memoryPath);
    for (Block const& b : blocks) {
        auto mapped = std::make_unique<Mapped>();
        mapped->block = b;
        try {
            mapped->map = std::make_unique<MemoryMap>(device, static_cast<std::uint32_t>(b.base - memoryBase), b.size);
        } catch (std::exception const& e) {
            throw failure(b.name + ": " + e.what());
        }
        mapped->base = static_cast<unsigned char*>(mapped->map->basePointer());
        m_blocks.push_back(std::move(mapped));
    }
}

Simulator::~Simulator() = default;

Simulator::Mapped* Simulator::find(std::string const& name) const noexcept {
    for (auto const& b : m_blocks) {
        if (b->block.name == name) {
            return b.get();
        }
    }
    return nullptr;
}

std::vector<std::string> Simulator::missingBlocks() const {
    std::vector<std::string> names = {"Processor_Interface", "Peripheral_Interface", "TimeStamp_Interface",
                                      "PpsSlave_Interface", "PtpClock_Interface"};
    for (std::uint32_t n = 0; n < m_inventory.ptfes; ++n) {
        names.push_back("Ptfe_Interface" + std::to_string(n));
        names.push_back("PulseGen_Interface" + std::to_string(n));
    }
    std::vector<std::string> missing;
    for (std::string const& name : names) {
        if (find(name) == nullptr) {
            missing.push_back(name);
        }
    }
    return missing;
}

void Simulator::fill() {
    Inventory const& inv = m_inventory;
    // Pulse stamps end before the UART delays, which end before the UART stamps.
    if (inv.pulses > (0x180 - 0x88) / 8) {
        throw failure("at most " + std::to_string((0x180 - 0x88) / 8) + " pulse inputs fit the register map");
    }
    if (inv.uarts > (0x200 - 0x180) / 8) {
        throw failure("at most " + std::to_string((0x200 - 0x180) / 8) + " UARTs fit the register map");
    }
    Mapped const* const ts = find("TimeStamp_Interface");
    if (ts == nullptr) {
        throw failure("the devices file has no TimeStamp_Interface block");
    }
    m_timestamp = nullptr;
    if (inv.unprogrammed) {
        for (auto const& b : m_blocks) {
            std::memset(b->base, 0xFF, b->block.size);
        }
        return;
    }
    for (auto const& b : m_blocks) {
        std::memset(b->base, 0, b->block.size);
    }

    ts->put64(0x00, inv.clockRate);
    ts->put64(0x08, inv.uarts);
    ts->put64(0x10, inv.ptfes);
    ts->put64(0x18, inv.pulses);
    ts->put64(0x20, inv.periphs);
    ts->put64(0x80, 0);
    for (std::uint32_t i = 0; i < inv.pulses; ++i) {
        ts->put64(0x88 + 8 * i, 0);
    }
    for (std::uint32_t i = 0; i < inv.uarts; ++i) {
        ts->put32(0x180 + 8 * i, 0);
        ts->put64(0x200 + 8 * i, 0);
    }

    if (Mapped const* const cpu = find("Processor_Interface")) {
        cpu->put32(0x00, word(inv.firmwareName, 0));
        cpu->put32(0x04, word(inv.firmwareName, 4));
        cpu->put32(0x08, inv.buildDate);
        cpu->put32(0x0C, inv.buildTime & 0xFFFFu);
        cpu->put32(0x10, word(inv.partNumber, 0));
        cpu->put32(0x14, word(inv.partNumber, 4));
        cpu->put32(0x18, word(inv.partNumber, 8));
        cpu->put32(0x1C, word(inv.revision, 0));
    }
    if (Mapped const* const periph = find("Peripheral_Interface")) {
        periph->require(4 * inv.periphs);
    }
    if (Mapped const* const pps = find("PpsSlave_Interface")) {
        pps->require(4 * 9);
    }
    if (Mapped const* const ptp = find("PtpClock_Interface")) {
        ptp->require(4 * 30);
    }
    for (std::uint32_t n = 0; n < inv.ptfes; ++n) {
        if (Mapped const* const ptfe = find("Ptfe_Interface" + std::to_string(n))) {
            ptfe->require(0x124);
            ptfe->put64(0x00, 0x5054464501020000ull + n);  // "PTFE", version 1.2, unit n
            ptfe->put32(0x10, 9999999);                    // 10 MHz reference, minus one
            ptfe->put64(0x20, 0x00028F5C28Full);           // DF NCO rate (44 bits)
            ptfe->put64(0x30, 0x0080000000ull);            // DT NCO phase (40 bits)
            ptfe->put32(0x38, 10000000);
        }
        if (Mapped const* const gen = find("PulseGen_Interface" + std::to_string(n))) {
            gen->require(0x0C);
        }
    }
    bool counterRuns = true;
    for (std::string const& name : inv.absent) {
        if (Mapped const* const b = find(name)) {
            std::memset(b->base, 0, b->block.size);
            counterRuns = counterRuns && b != ts;
        }
    }
    m_lastSecond = 0;
    m_timestamp = counterRuns ? ts : nullptr;
}

std::uint64_t Simulator::counterAt(std::uint64_t monotonicNs) const noexcept {
    std::uint64_t const seconds = monotonicNs / kNsPerSecond;
    std::uint64_t const nanos = monotonicNs % kNsPerSecond;
    return seconds * m_inventory.clockRate + nanos * m_inventory.clockRate / kNsPerSecond;
}

void Simulator::tick(std::uint64_t monotonicNs) noexcept {
    Mapped const* const ts = m_timestamp;
    if (ts == nullptr || ts->block.size < 0x88) {
        return;
    }
    std::uint64_t const count = counterAt(monotonicNs);
    MemoryAccess::store64(ts->base + 0x80, count);
    std::uint64_t const second = count / m_inventory.clockRate;
    if (second != m_lastSecond) {
        // A pulse at every whole second of the counter on every input.
        m_lastSecond = second;
        for (std::uint32_t i = 0; i < m_inventory.pulses && 0x88 + 8 * i + 8 <= ts->block.size; ++i) {
            MemoryAccess::store64(ts->base + 0x88 + 8 * i, second * m_inventory.clockRate);
        }
    }
}

}  // namespace fpga_sim
