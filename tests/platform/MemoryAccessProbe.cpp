// One out-of-line function per register accessor, called exactly as the
// I/O service calls them (an address it computed, of unknown alignment), so
// that check_accessor_code.py can read the machine code the compiler makes
// of each accessor. Built only for the board's architecture.

#include "platform/MemoryAccess.h"

#include <cstdint>

extern "C" {

std::uint8_t corvane_probe_load8(void const* address) { return MemoryAccess::load8(address); }
std::uint16_t corvane_probe_load16(void const* address) { return MemoryAccess::load16(address); }
std::uint32_t corvane_probe_load32(void const* address) { return MemoryAccess::load32(address); }
std::uint64_t corvane_probe_load64(void const* address) { return MemoryAccess::load64(address); }

void corvane_probe_store8(void* address, std::uint8_t value) { MemoryAccess::store8(address, value); }
void corvane_probe_store16(void* address, std::uint16_t value) { MemoryAccess::store16(address, value); }
void corvane_probe_store32(void* address, std::uint32_t value) { MemoryAccess::store32(address, value); }
void corvane_probe_store64(void* address, std::uint64_t value) { MemoryAccess::store64(address, value); }

}  // extern "C"
