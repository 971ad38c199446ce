#ifndef FACE_FACE_STRING_H
#define FACE_FACE_STRING_H

// FACE::String: the character string that carries every name, path and
// parameter text across the FACE interfaces of the system.
//
// A string is either managed (it owns growable storage) or unmanaged (it
// wraps a character buffer that the caller owns), and either bounded (it may
// never hold more than bound() characters) or unbounded. No operation
// throws: failures are reported by a RETURN_CODE or by the valid flag.
// Instances have no internal locking; use one from one thread at a time.

#include <cstdint>
#include <iosfwd>
#include <string>

namespace FACE {

class String {
public:
    /// Result of the constructors and of append().
    enum RETURN_CODE : std::uint32_t {
        NO_ERROR = 0,              ///< success
        INSUFFICIENT_BOUND = 1,    ///< the result would exceed the bound
        INSUFFICIENT_MEMORY = 2,   ///< storage could not be obtained
        PRECONDITION_VIOLATED = 3  ///< invalid string, null text or impossible bound
    };

    /// The bound value that means "unbounded" (largest unsigned 32-bit value).
    static constexpr std::uint32_t UNBOUNDED = 0xFFFFFFFFu;

    /// Managed, unbounded, valid, empty.
    String() noexcept;

    /// Managed, empty, bounded to `bound` characters. Valid when
    /// 1 <= bound <= 4294967294; otherwise rc = PRECONDITION_VIOLATED and the
    /// string is invalid.
    String(unsigned int bound, RETURN_CODE& rc) noexcept;

    /// Managed copy of the NUL-terminated `text`, bounded to its length.
    /// Null text: rc = PRECONDITION_VIOLATED, invalid, bound 0. No storage:
    /// rc = INSUFFICIENT_MEMORY, invalid.
    String(char const* text, RETURN_CODE& rc) noexcept;

    /// Unmanaged string over the caller's buffer `data`, which must have
    /// room for bound + 1 characters and holds `length` characters. Valid
    /// when data is not null, 1 <= bound <= 4294967294 and length <= bound;
    /// then data[length] is set to NUL. Otherwise rc = PRECONDITION_VIOLATED
    /// and the string is invalid. The buffer is never freed or reallocated.
    String(char* data, unsigned int length, unsigned int bound, RETURN_CODE& rc) noexcept;

    /// Unmanaged, read-only view of the NUL-terminated `text` (no copy),
    /// bounded to its length; meant for handing a literal to an operation
    /// that takes `String const&`. A null text gives an invalid string with
    /// bound 0. The text must outlive the string. Such a string is never
    /// written through: append() refuses (length equals bound) and clear()
    /// leaves it unchanged.
    String(char const* text) noexcept;  // NOLINT: implicit by design

    /// Managed copy with other's bound; invalid when other is invalid or
    /// storage could not be obtained.
    String(String const& other) noexcept;

    /// The target becomes managed (any external buffer is dropped), takes
    /// other's bound and validity and, when other is valid, a copy of its
    /// text. Lack of storage makes the target invalid.
    String& operator=(String const& other) noexcept;

    /// Frees the managed storage only.
    ~String() = default;

    /// First character (managed text or external buffer); null when invalid.
    char const* buffer() const noexcept;
    char* buffer() noexcept;

    /// Number of characters; 0 when invalid.
    unsigned int length() const noexcept;

    /// Character at min(i, length()): an index past the end yields the
    /// terminating NUL (for an invalid string, a NUL that belongs to nobody).
    char const& operator[](unsigned int i) const noexcept;
    char& operator[](unsigned int i) noexcept;

    /// Managed: capacity of the managed storage; unmanaged: the bound;
    /// invalid: 0.
    unsigned int capacity() const noexcept;

    /// The bound (UNBOUNDED when unbounded); 0 when invalid.
    unsigned int bound() const noexcept;

    bool is_managed() const noexcept;  ///< valid and managed
    bool is_bounded() const noexcept;  ///< valid and bound != UNBOUNDED
    bool is_valid() const noexcept;    ///< the valid flag

    /// Valid string: length 0 and NUL at the first position. An invalid
    /// string, or a read-only view, is left unchanged.
    void clear() noexcept;

    /// Appends the text of `s`. PRECONDITION_VIOLATED when either string is
    /// invalid; INSUFFICIENT_BOUND (target unchanged) when the result would
    /// exceed the target's bound; INSUFFICIENT_MEMORY when managed storage
    /// cannot grow. `s` may be the target itself or overlap its buffer.
    RETURN_CODE append(String const& s) noexcept;

    /// Appends one character; codes as above.
    RETURN_CODE append(char const& c) noexcept;

private:
    std::string m_text;     // managed text (used while managed)
    std::uint32_t m_bound;  // UNBOUNDED or a real bound
    bool m_valid;
    bool m_managed;
    char* m_extBuffer;          // caller's buffer (used while unmanaged)
    std::uint32_t m_extLength;  // characters in m_extBuffer
    bool m_readOnly;            // unmanaged view of constant text
};

/// Texts equal, character by character; an invalid string compares as empty
/// text. A null `char const*` compares as empty text.
bool operator==(String const& a, String const& b) noexcept;
bool operator==(String const& a, char const* b) noexcept;
bool operator==(char const* a, String const& b) noexcept;
bool operator!=(String const& a, String const& b) noexcept;
bool operator!=(String const& a, char const* b) noexcept;
bool operator!=(char const* a, String const& b) noexcept;

/// Writes the characters of `s` (nothing for an invalid string).
std::ostream& operator<<(std::ostream& os, String const& s);

}  // namespace FACE

#endif  // FACE_FACE_STRING_H
