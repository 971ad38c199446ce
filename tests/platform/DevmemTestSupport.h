#ifndef TESTS_PLATFORM_DEVMEM_TEST_SUPPORT_H
#define TESTS_PLATFORM_DEVMEM_TEST_SUPPORT_H

// The memory file of a test process. Linking DevmemTestSupport.cpp into a
// test executable makes CORVANE_DEVMEM name a fresh, sparse file in a
// temporary directory before main() runs, so nothing in that process can
// reach the real memory device. The directory is removed at exit.
//
// The memory device stays open for the whole process once it is first
// used, so every test of the process shares this one file; tests use
// distinct address ranges or refill what they use.

#include <cstddef>
#include <cstdint>
#include <string>

namespace devmem_test {

/// Size the file is created with (sparse).
constexpr std::uint64_t kMemoryFileSize = 64ull << 20;

/// Path of the memory file (the value of CORVANE_DEVMEM).
std::string const& memoryFile();

/// Directory the memory file lies in; tests may put their own files there.
std::string const& memoryDir();

/// Copies bytes to / from the memory file at a physical address, without
/// any mapping. Fail the current test when the file cannot be accessed.
void poke(std::uint64_t physAddress, void const* data, std::size_t size);
void peek(std::uint64_t physAddress, void* data, std::size_t size);

template <typename T>
void pokeValue(std::uint64_t physAddress, T value) {
    poke(physAddress, &value, sizeof value);
}
template <typename T>
T peekValue(std::uint64_t physAddress) {
    T value{};
    peek(physAddress, &value, sizeof value);
    return value;
}

}  // namespace devmem_test

#endif  // TESTS_PLATFORM_DEVMEM_TEST_SUPPORT_H
