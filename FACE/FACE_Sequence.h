#ifndef FACE_FACE_SEQUENCE_H
#define FACE_FACE_SEQUENCE_H

// FACE::Sequence<T>: the sequence type of the FACE interfaces, with the same
// shape as FACE::String: managed (owns a growable array of T) or unmanaged
// (wraps an array of T that the caller owns), bounded or unbounded. No
// operation throws: failures are reported by a RETURN_CODE or by the valid
// flag. No internal locking; use an instance from one thread at a time.
//
// Iteration: begin()/end() give plain pointers over the elements currently
// held (the managed array, or the first length() slots of the external
// buffer); an invalid sequence is an empty range. size() and length() give
// the element count, operator[] indexes it.

#include "FACE/FACE_String.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace FACE {

template <typename T>
class Sequence {
public:
    /// Same codes as FACE::String (0 no error, 1 insufficient bound,
    /// 2 insufficient memory, 3 precondition violated).
    using RETURN_CODE = String::RETURN_CODE;
    using value_type = T;
    using iterator = T*;
    using const_iterator = T const*;

    /// Bound value meaning "unbounded".
    static constexpr std::uint32_t UNBOUNDED = String::UNBOUNDED;

    /// Managed, unbounded, valid, empty.
    Sequence() noexcept : m_bound(UNBOUNDED), m_valid(true), m_managed(true), m_extBuffer(nullptr), m_extLength(0) {}

    /// Managed, empty, at most `bound` elements. Valid when
    /// 1 <= bound <= 4294967294; otherwise rc = 3 and invalid.
    Sequence(unsigned int bound, RETURN_CODE& rc) noexcept
        : m_bound(bound), m_valid(false), m_managed(true), m_extBuffer(nullptr), m_extLength(0) {
        if (bound == 0 || bound == UNBOUNDED) {
            rc = String::PRECONDITION_VIOLATED;
            return;
        }
        m_valid = true;
        rc = String::NO_ERROR;
    }

    /// Unmanaged sequence over the caller's array `data` with room for
    /// `bound` elements, of which the first `length` are in use. Valid when
    /// data is not null, 1 <= bound <= 4294967294 and length <= bound;
    /// otherwise rc = 3 and invalid. The array is never freed or resized.
    Sequence(T* data, unsigned int length, unsigned int bound, RETURN_CODE& rc) noexcept
        : m_bound(bound), m_valid(false), m_managed(false), m_extBuffer(nullptr), m_extLength(0) {
        if (data == nullptr || bound == 0 || bound == UNBOUNDED || length > bound) {
            rc = String::PRECONDITION_VIOLATED;
            return;
        }
        m_extBuffer = data;
        m_extLength = length;
        m_valid = true;
        rc = String::NO_ERROR;
    }

    /// Managed copy of other's elements with other's bound; invalid when
    /// other is invalid or a copy failed.
    Sequence(Sequence const& other) noexcept
        : m_bound(other.m_bound), m_valid(false), m_managed(true), m_extBuffer(nullptr), m_extLength(0) {
        if (!other.m_valid) {
            return;
        }
        try {
            m_elements.assign(other.begin(), other.end());
        } catch (...) {
            return;
        }
        m_valid = true;
    }

    /// Takes over other's storage; other is left managed, unbounded, valid
    /// and empty.
    Sequence(Sequence&& other) noexcept
        : m_elements(std::move(other.m_elements)),
          m_bound(other.m_bound),
          m_valid(other.m_valid),
          m_managed(other.m_managed),
          m_extBuffer(other.m_extBuffer),
          m_extLength(other.m_extLength) {
        other.reset();
    }

    /// The target becomes a managed copy (any external buffer is dropped)
    /// with other's bound and validity; a failed copy makes it invalid.
    Sequence& operator=(Sequence const& other) noexcept {
        if (this == &other) {
            return *this;
        }
        std::vector<T> copy;
        bool copied = false;
        if (other.m_valid) {
            try {
                copy.assign(other.begin(), other.end());
                copied = true;
            } catch (...) {
                copied = false;
            }
        }
        m_elements.swap(copy);
        m_bound = other.m_bound;
        m_valid = other.m_valid && copied;
        m_managed = true;
        m_extBuffer = nullptr;
        m_extLength = 0;
        return *this;
    }

    /// Takes over other's storage; other is left managed, unbounded, valid
    /// and empty.
    Sequence& operator=(Sequence&& other) noexcept {
        if (this != &other) {
            m_elements = std::move(other.m_elements);
            m_bound = other.m_bound;
            m_valid = other.m_valid;
            m_managed = other.m_managed;
            m_extBuffer = other.m_extBuffer;
            m_extLength = other.m_extLength;
            other.reset();
        }
        return *this;
    }

    /// Destroys the managed elements only.
    ~Sequence() = default;

    /// Appends a copy of `value`.
    /// Invalid sequence: 3. Managed: 1 when bounded and full; 2 when the
    /// copy or the growth fails; else 0. Unmanaged: 1 when length + 1 >
    /// bound; 2 when the copy assignment fails (length unchanged); else 0.
    RETURN_CODE append(T const& value) noexcept {
        if (!m_valid) {
            return String::PRECONDITION_VIOLATED;
        }
        if (m_managed) {
            if (m_bound != UNBOUNDED && static_cast<std::uint64_t>(m_elements.size()) + 1 > m_bound) {
                return String::INSUFFICIENT_BOUND;
            }
            if (m_elements.size() >= UNBOUNDED - 1u) {
                return String::INSUFFICIENT_MEMORY;
            }
            try {
                m_elements.push_back(value);
            } catch (...) {
                return String::INSUFFICIENT_MEMORY;
            }
            return String::NO_ERROR;
        }
        if (static_cast<std::uint64_t>(m_extLength) + 1 > m_bound) {
            return String::INSUFFICIENT_BOUND;
        }
        try {
            m_extBuffer[m_extLength] = value;
        } catch (...) {
            return String::INSUFFICIENT_MEMORY;
        }
        ++m_extLength;
        return String::NO_ERROR;
    }

    /// Number of elements; 0 when invalid.
    unsigned int length() const noexcept {
        if (!m_valid) {
            return 0;
        }
        return m_managed ? static_cast<unsigned int>(m_elements.size()) : m_extLength;
    }
    unsigned int size() const noexcept { return length(); }
    bool empty() const noexcept { return length() == 0; }

    /// Managed: capacity of the managed array; unmanaged: the bound;
    /// invalid: 0.
    unsigned int capacity() const noexcept {
        if (!m_valid) {
            return 0;
        }
        if (!m_managed) {
            return m_bound;
        }
        std::size_t const c = m_elements.capacity();
        return c > UNBOUNDED ? UNBOUNDED : static_cast<unsigned int>(c);
    }

    unsigned int bound() const noexcept { return m_valid ? m_bound : 0; }
    bool is_managed() const noexcept { return m_valid && m_managed; }
    bool is_bounded() const noexcept { return m_valid && m_bound != UNBOUNDED; }
    bool is_valid() const noexcept { return m_valid; }

    /// First element; null when invalid or (managed) empty.
    T const* buffer() const noexcept {
        if (!m_valid) {
            return nullptr;
        }
        return m_managed ? (m_elements.empty() ? nullptr : m_elements.data()) : m_extBuffer;
    }
    T* buffer() noexcept { return const_cast<T*>(static_cast<Sequence const&>(*this).buffer()); }

    /// Element i; requires i < length().
    T const& operator[](unsigned int i) const noexcept { return buffer()[i]; }
    T& operator[](unsigned int i) noexcept { return buffer()[i]; }

    const_iterator begin() const noexcept { return buffer(); }
    const_iterator end() const noexcept {
        T const* b = buffer();
        return b == nullptr ? nullptr : b + length();
    }
    iterator begin() noexcept { return buffer(); }
    iterator end() noexcept {
        T* b = buffer();
        return b == nullptr ? nullptr : b + length();
    }

    /// Valid sequence: no elements afterwards (managed elements are
    /// destroyed; an unmanaged sequence only forgets its slots). An invalid
    /// sequence is left as it is.
    void clear() noexcept {
        if (!m_valid) {
            return;
        }
        if (m_managed) {
            m_elements.clear();
        } else {
            m_extLength = 0;
        }
    }

private:
    void reset() noexcept {
        m_elements.clear();
        m_bound = UNBOUNDED;
        m_valid = true;
        m_managed = true;
        m_extBuffer = nullptr;
        m_extLength = 0;
    }

    std::vector<T> m_elements;  // managed elements (used while managed)
    std::uint32_t m_bound;      // UNBOUNDED or a real bound
    bool m_valid;
    bool m_managed;
    T* m_extBuffer;             // caller's array (used while unmanaged)
    std::uint32_t m_extLength;  // slots in use in m_extBuffer
};

}  // namespace FACE

#endif  // FACE_FACE_SEQUENCE_H
