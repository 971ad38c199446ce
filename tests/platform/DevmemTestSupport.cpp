#include "tests/platform/DevmemTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace devmem_test {

namespace {

class MemoryFile {
public:
    MemoryFile() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "devmem_XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::perror("devmem test: mkdtemp");
            std::abort();
        }
        m_dir = tmpl;
        m_file = m_dir + "/memory";
        int const fd = ::open(m_file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(kMemoryFileSize)) != 0) {
            std::perror("devmem test: memory file");
            std::abort();
        }
        ::close(fd);
        ::setenv("CORVANE_DEVMEM", m_file.c_str(), 1);
    }
    ~MemoryFile() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string m_dir;
    std::string m_file;
};

MemoryFile const& theFile() {
    static MemoryFile const file;
    return file;
}

// Created before main(), ahead of any use of the memory device.
[[maybe_unused]] MemoryFile const& g_created = theFile();

void transfer(bool write, std::uint64_t physAddress, void* data, std::size_t size) {
    int const fd = ::open(memoryFile().c_str(), write ? O_WRONLY : O_RDONLY);
    ASSERT_GE(fd, 0) << memoryFile();
    ssize_t const done = write ? ::pwrite(fd, data, size, static_cast<off_t>(physAddress))
                               : ::pread(fd, data, size, static_cast<off_t>(physAddress));
    ::close(fd);
    ASSERT_EQ(done, static_cast<ssize_t>(size)) << "at " << physAddress;
}

}  // namespace

std::string const& memoryFile() { return theFile().m_file; }
std::string const& memoryDir() { return theFile().m_dir; }

void poke(std::uint64_t physAddress, void const* data, std::size_t size) {
    transfer(true, physAddress, const_cast<void*>(data), size);
}

void peek(std::uint64_t physAddress, void* data, std::size_t size) {
    transfer(false, physAddress, data, size);
}

}  // namespace devmem_test
