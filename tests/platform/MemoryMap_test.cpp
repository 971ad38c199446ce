#include "platform/MemoryMap.h"

#include "tests/FACE/ConfigTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

namespace {

TEST(MemoryMap, PageArithmeticAndPhysicalOffset) {
    if (::sysconf(_SC_PAGESIZE) != 4096) GTEST_SKIP() << "expectations assume 4096-byte pages";
    MemoryDeviceFileDescriptor const device(devmem_test::memoryFile());
    struct Case {
        std::uint32_t phys, size, pageOffset, pageCount;
    };
    Case const cases[] = {
        {0x1010, 16, 16, 1},   {0x1010, 4080, 16, 2},  // ends on the page boundary: one page more
        {0x1010, 4079, 16, 1}, {0x1000, 4096, 0, 2},           {0x1FFF, 1, 4095, 2},
        {0x3000, 0, 0, 1},     {0x200000, 3 * 4096 + 5, 0, 4},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.phys << "/" << std::dec << c.size);
        std::uint32_t const marker = 0xC0DE0000u + c.phys;
        devmem_test::pokeValue(c.phys, marker);
        MemoryMap const map(device, c.phys, c.size);
        EXPECT_EQ(std::make_tuple(map.pageOffset(), map.pageCount(), map.mapLength()),
                  std::make_tuple(c.pageOffset, c.pageCount, c.pageCount * 4096u));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(map.mapBase()) % 4096u, 0u);
        std::uint32_t seen = 0;
        std::memcpy(&seen, map.basePointer(), sizeof seen);
        EXPECT_EQ(seen, marker) << "basePointer is not at the physical address";
    }
}

TEST(MemoryMap, FailuresThrowTheirTexts) {
    face_test::TempDir const dir;
    std::string const fifo = dir.path() + "/fifo";  // opens read-write but cannot be mapped
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::pair<std::function<void()>, char const*> const cases[] = {
        {[] { MemoryDeviceFileDescriptor("/nonexistent/memory"); }, "Unable to open /dev/mem file descriptor."},
        {[] { MemoryMap(0x1000, 0xFFFFFFFFu); }, "Unable to map memory space."},  // length beyond 32 bits
        {[&] { MemoryMap(MemoryDeviceFileDescriptor(fifo), 0, 16); }, "Unable to map memory space."},
        // Beyond the end of a memory file an access would raise SIGBUS.
        {[] { MemoryMap(0x7FFF0000u, 0x1000); },
         "Unable to map memory space: the window ends beyond the memory device."},
        {[] { MemoryMap(64u << 20, 4); }, "Unable to map memory space: the window ends beyond the memory device."},
    };
    for (auto const& [action, text] : cases) {
        std::string what = "<no exception>";
        try {
            action();
        } catch (std::runtime_error const& e) {
            what = e.what();
        }
        EXPECT_EQ(what, text);
    }
}

TEST(MemoryMap, DeviceIsTheStandInFileUnlessEmpty) {
    EXPECT_EQ(MemoryDeviceFileDescriptor::DevicePath(), devmem_test::memoryFile());
    ::setenv("CORVANE_DEVMEM", "", 1);
    EXPECT_EQ(MemoryDeviceFileDescriptor::DevicePath(), "/dev/mem");
    ::setenv("CORVANE_DEVMEM", devmem_test::memoryFile().c_str(), 1);
}

}  // namespace
