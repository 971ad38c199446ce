#include "platform/MemoryAccess.h"
#include "platform/MemoryMap.h"

#include "tests/FACE/ConfigTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

using devmem_test::memoryFile;

std::string errorText(void (*action)()) {
    try {
        action();
    } catch (std::runtime_error const& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST(MemoryMap, PageArithmeticAndPhysicalOffset) {
    if (::sysconf(_SC_PAGESIZE) != 4096) GTEST_SKIP() << "expectations assume 4096-byte pages";
    MemoryDeviceFileDescriptor const device(memoryFile());
    struct Case {
        std::uint32_t phys, size;
        std::uint32_t pageOffset, pageCount;
    };
    Case const cases[] = {
        {0x1010, 16, 16, 1},     // one page at 0x1000
        {0x1010, 4080, 16, 2},   // ends on the page boundary: one page more
        {0x1010, 4079, 16, 1},   // ends just before it
        {0x1000, 4096, 0, 2},    // whole page: still one more
        {0x1FFF, 1, 4095, 2},    // last byte of a page
        {0x3000, 0, 0, 1},       // empty window
        {0x200000, 3 * 4096 + 5, 0, 4},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.phys << "/" << std::dec << c.size);
        std::uint32_t const marker = 0xC0DE0000u + c.phys;
        devmem_test::pokeValue(c.phys, marker);
        MemoryMap const map(device, c.phys, c.size);
        EXPECT_EQ(map.pageOffset(), c.pageOffset);
        EXPECT_EQ(map.pageCount(), c.pageCount);
        EXPECT_EQ(map.mapLength(), c.pageCount * 4096u);
        EXPECT_EQ(static_cast<char*>(map.basePointer()) - static_cast<char*>(map.mapBase()),
                  static_cast<long>(c.pageOffset));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(map.mapBase()) % 4096u, 0u);
        std::uint32_t seen = 0;
        std::memcpy(&seen, map.basePointer(), sizeof seen);
        EXPECT_EQ(seen, marker) << "basePointer is not the physical address";
    }
}

TEST(MemoryMap, FailuresThrowTheirTexts) {
    EXPECT_EQ(errorText([] { MemoryDeviceFileDescriptor("/nonexistent/memory"); }),
              "Unable to open /dev/mem file descriptor.");
    // A map length beyond 32 bits cannot be described.
    EXPECT_EQ(errorText([] { MemoryMap(0x1000, 0xFFFFFFFFu); }), "Unable to map memory space.");
    // A FIFO opens read-write but cannot be mapped.
    static face_test::TempDir const dir;
    static std::string const fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(errorText([] {
                  MemoryDeviceFileDescriptor const device(fifo);
                  MemoryMap(device, 0, 16);
              }),
              "Unable to map memory space.");
}

TEST(MemoryMap, DeviceIsTheStandInFileWhenNamed) {
    std::string const saved = memoryFile();
    struct Case {
        char const* value;  // null: unset
        char const* path;
    };
    Case const cases[] = {{nullptr, "/dev/mem"}, {"", "/dev/mem"}, {"/tmp/x", "/tmp/x"}};
    for (Case const& c : cases) {
        if (c.value == nullptr) {
            ::unsetenv("CORVANE_DEVMEM");
        } else {
            ::setenv("CORVANE_DEVMEM", c.value, 1);
        }
        EXPECT_EQ(MemoryDeviceFileDescriptor::DevicePath(), c.path);
    }
    ::setenv("CORVANE_DEVMEM", saved.c_str(), 1);

    // The process-wide device is this process's memory file.
    struct stat viaInstance {};
    struct stat viaPath {};
    ASSERT_EQ(::fstat(MemoryDeviceFileDescriptor::Instance().fd(), &viaInstance), 0);
    ASSERT_EQ(::stat(memoryFile().c_str(), &viaPath), 0);
    EXPECT_EQ(viaInstance.st_ino, viaPath.st_ino);
    EXPECT_EQ(&MemoryDeviceFileDescriptor::Instance(), &MemoryDeviceFileDescriptor::Instance());
}

TEST(MemoryMap, WritesReachTheFileAndSurviveTheMapping) {
    {
        MemoryMap const map(0x5008, 8);
        MemoryAccess::store64(map.basePointer(), 0x0123456789ABCDEFull);
    }
    EXPECT_EQ(devmem_test::peekValue<std::uint64_t>(0x5008), 0x0123456789ABCDEFull);
}

TEST(MemoryAccess, EachWidthIsOneLittleEndianSlice) {
    alignas(8) unsigned char buffer[24] = {};
    MemoryAccess::store64(buffer, 0x8877665544332211ull);
    EXPECT_EQ(MemoryAccess::load8(buffer + 7), 0x88u);
    EXPECT_EQ(MemoryAccess::load16(buffer + 2), 0x4433u);
    EXPECT_EQ(MemoryAccess::load32(buffer + 4), 0x88776655u);
    EXPECT_EQ(MemoryAccess::load64(buffer), 0x8877665544332211ull);

    MemoryAccess::store8(buffer + 8, 0xAB);
    MemoryAccess::store16(buffer + 10, 0xCDEF);
    MemoryAccess::store32(buffer + 12, 0x01020304u);
    EXPECT_EQ(MemoryAccess::load64(buffer + 8), 0x01020304CDEF00ABull);

    // Unaligned addresses still give the value.
    MemoryAccess::store64(buffer + 9, 0xA1A2A3A4A5A6A7A8ull);
    EXPECT_EQ(MemoryAccess::load64(buffer + 9), 0xA1A2A3A4A5A6A7A8ull);
    MemoryAccess::store32(buffer + 1, 0xDEADBEEFu);
    EXPECT_EQ(MemoryAccess::load32(buffer + 1), 0xDEADBEEFu);
    MemoryAccess::store16(buffer + 21, 0x7E7Fu);
    EXPECT_EQ(MemoryAccess::load16(buffer + 21), 0x7E7Fu);
}

}  // namespace
