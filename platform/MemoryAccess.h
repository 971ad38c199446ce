#ifndef PLATFORM_MEMORYACCESS_H
#define PLATFORM_MEMORYACCESS_H

// Single accesses to device registers in a memory mapping, and the full
// memory barrier that orders them against the accesses around them.
//
// Each load and store is one access of its width: the compiler may neither
// split, merge, elide nor reorder it (volatile for 8, 16 and 32 bits; a
// single-copy-atomic load or store for 64 bits). An address that is not
// aligned to the width is still accessed, as one unaligned copy; devices
// only ever get aligned offsets, the fallback keeps a stray caller away
// from undefined behaviour.
//
// Header-only so that callers on hot paths (the I/O service, benchmarks)
// get the accesses inlined. No function here allocates or enters the kernel.

#include <cstdint>
#include <cstring>

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

inline void compilerBarrier() noexcept { asm volatile("" ::: "memory"); }

template <typename T>
inline bool aligned(void const* address) noexcept {
    return (reinterpret_cast<std::uintptr_t>(address) & (sizeof(T) - 1)) == 0;
}

// One access of sizeof(T), aligned or not.
template <typename T>
inline T loadOnce(void const* address) noexcept {
    if (aligned<T>(address)) {
        return *static_cast<T const volatile*>(address);
    }
    T value;
    compilerBarrier();
    std::memcpy(&value, address, sizeof(T));
    compilerBarrier();
    return value;
}

template <typename T>
inline void storeOnce(void* address, T value) noexcept {
    if (aligned<T>(address)) {
        *static_cast<T volatile*>(address) = value;
        return;
    }
    compilerBarrier();
    std::memcpy(address, &value, sizeof(T));
    compilerBarrier();
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

/// One single-copy-atomic 64-bit load (when aligned), then a barrier.
inline std::uint64_t load64(void const* address) noexcept {
    std::uint64_t v;
#if defined(__x86_64__) || defined(__aarch64__)
    // An aligned 64-bit mov / ldr is single-copy atomic on these targets.
    v = detail::loadOnce<std::uint64_t>(address);
#else
    if (detail::aligned<std::uint64_t>(address)) {
        v = __atomic_load_n(static_cast<std::uint64_t const volatile*>(address), __ATOMIC_RELAXED);
    } else {
        v = detail::loadOnce<std::uint64_t>(address);
    }
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

/// One doubleword store (single-copy atomic when aligned), no barrier.
inline void store64(void* address, std::uint64_t value) noexcept {
#if defined(__x86_64__) || defined(__aarch64__)
    detail::storeOnce(address, value);
#else
    if (detail::aligned<std::uint64_t>(address)) {
        __atomic_store_n(static_cast<std::uint64_t volatile*>(address), value, __ATOMIC_RELAXED);
    } else {
        detail::storeOnce(address, value);
    }
#endif
}

}  // namespace MemoryAccess

#endif  // PLATFORM_MEMORYACCESS_H
