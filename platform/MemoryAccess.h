#ifndef PLATFORM_MEMORYACCESS_H
#define PLATFORM_MEMORYACCESS_H

// Single accesses to device registers in a memory mapping, and the full
// memory barrier that orders them against the accesses around them.
//
// Each load and store is one access of its width: the compiler may neither
// split, merge, elide nor reorder it (volatile for 8, 16 and 32 bits; a
// single-copy-atomic load or store for 64 bits). The address must be a
// multiple of the width: a device answers nothing else as one transaction,
// so callers refuse other addresses (the I/O service answers them with a
// return code) and nothing here ever splits an access into bytes.
//
// Header-only so that callers on hot paths (the I/O service, benchmarks)
// get the accesses inlined. No function here allocates or enters the kernel.

#include <cstdint>

namespace MemoryAccess {

/// Full memory barrier: every memory access before it is complete before
/// any access after it starts (device accesses included). Also a compiler
/// barrier.
inline void fullBarrier() noexcept {
#if defined(__aarch64__) || defined(__ARM_ARCH_7A__) || defined(__ARM_ARCH_8A__)
    asm volatile("dmb sy" ::: "memory");
#elif defined(__x86_64__) || defined(__i386__)
    asm volatile("mfence" ::: "memory");
#else
    __sync_synchronize();
#endif
}

namespace detail {

// One access of sizeof(T) at an address aligned to sizeof(T).
template <typename T>
inline T loadOnce(void const* address) noexcept {
    return *static_cast<T const volatile*>(address);
}

template <typename T>
inline void storeOnce(void* address, T value) noexcept {
    *static_cast<T volatile*>(address) = value;
}

}  // namespace detail

/// Barrier, one 8/16/32-bit volatile load, barrier.
inline std::uint8_t load8(void const* address) noexcept {
    fullBarrier();
    std::uint8_t const v = detail::loadOnce<std::uint8_t>(address);
    fullBarrier();
    return v;
}
inline std::uint16_t load16(void const* address) noexcept {
    fullBarrier();
    std::uint16_t const v = detail::loadOnce<std::uint16_t>(address);
    fullBarrier();
    return v;
}
inline std::uint32_t load32(void const* address) noexcept {
    fullBarrier();
    std::uint32_t const v = detail::loadOnce<std::uint32_t>(address);
    fullBarrier();
    return v;
}

/// One single-copy-atomic 64-bit load, then a barrier.
inline std::uint64_t load64(void const* address) noexcept {
    std::uint64_t v;
#if defined(__x86_64__) || defined(__aarch64__)
    // An aligned 64-bit mov / ldr is single-copy atomic on these targets.
    v = detail::loadOnce<std::uint64_t>(address);
#else
    v = __atomic_load_n(static_cast<std::uint64_t const volatile*>(address), __ATOMIC_RELAXED);
#endif
    fullBarrier();
    return v;
}

/// Barrier, one 8/16/32-bit volatile store, barrier.
inline void store8(void* address, std::uint8_t value) noexcept {
    fullBarrier();
    detail::storeOnce(address, value);
    fullBarrier();
}
inline void store16(void* address, std::uint16_t value) noexcept {
    fullBarrier();
    detail::storeOnce(address, value);
    fullBarrier();
}
inline void store32(void* address, std::uint32_t value) noexcept {
    fullBarrier();
    detail::storeOnce(address, value);
    fullBarrier();
}

/// One single-copy-atomic doubleword store, no barrier.
inline void store64(void* address, std::uint64_t value) noexcept {
#if defined(__x86_64__) || defined(__aarch64__)
    detail::storeOnce(address, value);
#else
    __atomic_store_n(static_cast<std::uint64_t volatile*>(address), value, __ATOMIC_RELAXED);
#endif
}

}  // namespace MemoryAccess

#endif  // PLATFORM_MEMORYACCESS_H
