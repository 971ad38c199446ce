#include "platform/MemoryMap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

char const* const kDefaultDevice = "/dev/mem";
char const* const kDeviceVariable = "CORVANE_DEVMEM";

}  // namespace

MemoryDeviceFileDescriptor& MemoryDeviceFileDescriptor::Instance() {
    // A constructor that throws leaves the static uninitialised, so the
    // next call opens again.
    static MemoryDeviceFileDescriptor device(DevicePath());
    return device;
}

std::string MemoryDeviceFileDescriptor::DevicePath() {
    char const* const stand_in = std::getenv(kDeviceVariable);
    return (stand_in != nullptr && stand_in[0] != '\0') ? stand_in : kDefaultDevice;
}

MemoryDeviceFileDescriptor::MemoryDeviceFileDescriptor(std::string const& path)
    : m_pageSize(::sysconf(_SC_PAGESIZE)), m_fd(-1) {
    if (m_pageSize <= 0) {
        m_pageSize = 4096;
    }
    do {
        m_fd = ::open(path.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        throw std::runtime_error("Unable to open /dev/mem file descriptor.");
    }
}

std::uint64_t MemoryDeviceFileDescriptor::limit() const noexcept {
    struct stat info {};
    if (::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode)) {
        return info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }
    return std::uint64_t{1} << 32;
}

MemoryDeviceFileDescriptor::~MemoryDeviceFileDescriptor() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

MemoryMap::MemoryMap(std::uint32_t physAddress, std::uint32_t size)
    : m_mapBase(nullptr), m_basePointer(nullptr), m_pageOffset(0), m_pageCount(0), m_mapLength(0) {
    map(MemoryDeviceFileDescriptor::Instance(), physAddress, size);
}

MemoryMap::MemoryMap(MemoryDeviceFileDescriptor const& device, std::uint32_t physAddress, std::uint32_t size)
    : m_mapBase(nullptr), m_basePointer(nullptr), m_pageOffset(0), m_pageCount(0), m_mapLength(0) {
    map(device, physAddress, size);
}

void MemoryMap::map(MemoryDeviceFileDescriptor const& device, std::uint32_t physAddress, std::uint32_t size) {
    std::uint64_t const page = static_cast<std::uint64_t>(device.pageSize());
    std::uint64_t const offset = physAddress % page;
    std::uint64_t const count = (offset + size) / page + 1;
    std::uint64_t const length = count * page;
    if (length > UINT32_MAX) {
        // The length is kept in 32 bits; such a window cannot be described.
        throw std::runtime_error("Unable to map memory space.");
    }
    if (static_cast<std::uint64_t>(physAddress) + size > device.limit()) {
        throw std::runtime_error("Unable to map memory space: the window ends beyond the memory device.");
    }
    off_t const start = static_cast<off_t>(physAddress - offset);
    void* const base =
        ::mmap(nullptr, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED, device.fd(), start);
    if (base == MAP_FAILED) {
        throw std::runtime_error("Unable to map memory space.");
    }
    m_mapBase = base;
    m_pageOffset = static_cast<std::uint32_t>(offset);
    m_pageCount = static_cast<std::uint32_t>(count);
    m_mapLength = static_cast<std::uint32_t>(length);
    m_basePointer = static_cast<char*>(base) + offset;
}

MemoryMap::~MemoryMap() {
    if (m_mapBase != nullptr && ::munmap(m_mapBase, m_mapLength) != 0) {
        std::perror("Unable to mumap memory space");
    }
}
