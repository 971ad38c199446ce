#ifndef TESTS_PLATFORM_DEVMEM_TEST_SUPPORT_H
#define TESTS_PLATFORM_DEVMEM_TEST_SUPPORT_H

// The memory file of a test process. Linking DevmemTestSupport.cpp into a
// test executable makes CORVANE_DEVMEM name a fresh, sparse 64 MiB file in a
// temporary directory before main() runs, so nothing in the process can
// reach the real memory device; the directory is removed at exit. The
// device stays open once used, so all tests of the process share the file.

#include <cstddef>
#include <cstdint>
#include <string>

namespace devmem_test {

/// Path of the memory file (the value of CORVANE_DEVMEM).
std::string const& memoryFile();

/// Copies bytes to / from the memory file at a physical address, without a
/// mapping; fails the current test when that is not possible.
void transfer(bool write, std::uint64_t physAddress, void* data, std::size_t size);

template <typename T>
void pokeValue(std::uint64_t physAddress, T value) {
    transfer(true, physAddress, &value, sizeof value);
}
template <typename T>
T peekValue(std::uint64_t physAddress) {
    T value{};
    transfer(false, physAddress, &value, sizeof value);
    return value;
}

}  // namespace devmem_test

#endif  // TESTS_PLATFORM_DEVMEM_TEST_SUPPORT_H
