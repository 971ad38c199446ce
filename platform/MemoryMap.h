#ifndef PLATFORM_MEMORYMAP_H
#define PLATFORM_MEMORYMAP_H

// Mappings of physical address ranges into the process through the memory
// device.
//
// The memory device is "/dev/mem". When the environment variable
// CORVANE_DEVMEM is set (and not empty) at the first mapping, it names a
// file to map instead; offsets in that file stand for physical addresses,
// so the same devices configuration serves the board and a simulator.

#include <cstdint>
#include <string>

/// The open descriptor of the memory device and the page size. One process-
/// wide instance (Instance()) lives from the first mapping until process
/// exit; further instances over other files serve tools and tests.
class MemoryDeviceFileDescriptor {
public:
    /// The process-wide instance, opened on first use over DevicePath()
    /// (thread-safe). Throws std::runtime_error with "Unable to open /dev/mem
    /// file descriptor." when the device cannot be opened; the next call
    /// tries again.
    static MemoryDeviceFileDescriptor& Instance();

    /// "/dev/mem", or the value of CORVANE_DEVMEM when that is set and not
    /// empty. Read anew at every call.
    static std::string DevicePath();

    /// Opens `path` read-write with synchronous writes (O_RDWR | O_SYNC) and
    /// reads the page size. Throws std::runtime_error with "Unable to open
    /// /dev/mem file descriptor." when the open fails.
    explicit MemoryDeviceFileDescriptor(std::string const& path);

    /// Closes the descriptor.
    ~MemoryDeviceFileDescriptor();

    MemoryDeviceFileDescriptor(MemoryDeviceFileDescriptor const&) = delete;
    MemoryDeviceFileDescriptor& operator=(MemoryDeviceFileDescriptor const&) = delete;

    /// One past the highest physical address that can be mapped, in bytes:
    /// the file's present size when the device is a regular file (the
    /// stand-in; beyond its end an access would raise SIGBUS), else 2^32,
    /// the reach of the 32-bit physical addresses of the windows.
    std::uint64_t limit() const noexcept;

    /// Page size in bytes (sysconf(_SC_PAGESIZE)).
    long pageSize() const noexcept { return m_pageSize; }
    int fd() const noexcept { return m_fd; }

private:
    long m_pageSize;
    int m_fd;
};

/// One shared, read-write mapping of the physical range [physAddress,
/// physAddress + size), page aligned. The mapping starts at the page that
/// holds physAddress and spans pageCount() pages, where
///   pageOffset = physAddress mod pageSize
///   pageCount  = (pageOffset + size) / pageSize + 1
/// so a range that ends exactly on a page boundary gets one page more than
/// it covers. Not copyable; unmapped on destruction.
class MemoryMap {
public:
    /// Maps through the process-wide MemoryDeviceFileDescriptor::Instance().
    /// Throws std::runtime_error: "Unable to open /dev/mem file descriptor."
    /// (device not opened), "Unable to map memory space." (mmap refused,
    /// or a map length that does not fit 32 bits) or "Unable to map memory
    /// space: the window ends beyond the memory device." (physAddress + size
    /// above the device's limit()).
    MemoryMap(std::uint32_t physAddress, std::uint32_t size);

    /// The same over a given device. The mapping stays valid after that
    /// device is closed.
    MemoryMap(MemoryDeviceFileDescriptor const& device, std::uint32_t physAddress, std::uint32_t size);

    /// munmap; a failure is reported through perror("Unable to mumap memory
    /// space") and otherwise ignored.
    ~MemoryMap();

    MemoryMap(MemoryMap const&) = delete;
    MemoryMap& operator=(MemoryMap const&) = delete;

    /// Start of the mapping (page aligned).
    void* mapBase() const noexcept { return m_mapBase; }
    /// The address in the process of physAddress: mapBase() + pageOffset().
    void* basePointer() const noexcept { return m_basePointer; }
    std::uint32_t pageOffset() const noexcept { return m_pageOffset; }
    std::uint32_t pageCount() const noexcept { return m_pageCount; }
    /// pageCount() * page size, in bytes.
    std::uint32_t mapLength() const noexcept { return m_mapLength; }

private:
    void map(MemoryDeviceFileDescriptor const& device, std::uint32_t physAddress, std::uint32_t size);

    void* m_mapBase;
    void* m_basePointer;
    std::uint32_t m_pageOffset;
    std::uint32_t m_pageCount;
    std::uint32_t m_mapLength;
};

#endif  // PLATFORM_MEMORYMAP_H
