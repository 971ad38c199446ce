#include "tests/platform/DevmemTestSupport.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace devmem_test {

namespace {

struct MemoryFile {
    MemoryFile() : dir("devmem"), file(dir.file("memory")) {
        int const fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::ftruncate(fd, 64 << 20) != 0) {
            std::perror("devmem test: memory file");
            std::abort();
        }
        ::close(fd);
        ::setenv("CORVANE_DEVMEM", file.c_str(), 1);
    }
    corvane_test::TempDir dir;
    std::string file;
};

MemoryFile const& theFile() {
    static MemoryFile const file;
    return file;
}

// Created before main(), ahead of any use of the memory device.
[[maybe_unused]] MemoryFile const& g_created = theFile();

}  // namespace

std::string const& memoryFile() { return theFile().file; }

void transfer(bool write, std::uint64_t physAddress, void* data, std::size_t size) {
    int const fd = ::open(memoryFile().c_str(), write ? O_WRONLY : O_RDONLY);
    ASSERT_GE(fd, 0) << memoryFile();
    ssize_t const done = write ? ::pwrite(fd, data, size, static_cast<off_t>(physAddress))
                               : ::pread(fd, data, size, static_cast<off_t>(physAddress));
    ::close(fd);
    ASSERT_EQ(done, static_cast<ssize_t>(size)) << "at " << physAddress;
}

}  // namespace devmem_test
