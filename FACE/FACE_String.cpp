#include "FACE/FACE_String.h"

#include <cstring>
#include <new>
#include <ostream>

namespace FACE {

namespace {

// Largest number of characters any string may hold, so that length() and
// bound() stay representable next to the UNBOUNDED marker.
constexpr std::uint32_t kMaxLength = String::UNBOUNDED - 1u;

// The NUL that operator[] hands out for an invalid string. One per thread,
// reset on every use, so a caller that writes through it harms nobody.
char& orphanNul() noexcept {
    thread_local char nul = '\0';
    nul = '\0';
    return nul;
}

}  // namespace

String::String() noexcept
    : m_bound(UNBOUNDED), m_valid(true), m_managed(true), m_extBuffer(nullptr), m_extLength(0), m_readOnly(false) {}

String::String(unsigned int bound, RETURN_CODE& rc) noexcept
    : m_bound(bound), m_valid(false), m_managed(true), m_extBuffer(nullptr), m_extLength(0), m_readOnly(false) {
    if (bound == 0 || bound == UNBOUNDED) {
        rc = PRECONDITION_VIOLATED;
        return;
    }
    m_valid = true;
    rc = NO_ERROR;
}

String::String(char const* text, RETURN_CODE& rc) noexcept
    : m_bound(0), m_valid(false), m_managed(true), m_extBuffer(nullptr), m_extLength(0), m_readOnly(false) {
    if (text == nullptr) {
        rc = PRECONDITION_VIOLATED;
        return;
    }
    std::size_t const n = std::strlen(text);
    if (n > kMaxLength) {
        rc = PRECONDITION_VIOLATED;
        return;
    }
    m_bound = static_cast<std::uint32_t>(n);
    try {
        m_text.assign(text, n);
    } catch (...) {
        rc = INSUFFICIENT_MEMORY;
        return;
    }
    m_valid = true;
    rc = NO_ERROR;
}

String::String(char* data, unsigned int length, unsigned int bound, RETURN_CODE& rc) noexcept
    : m_bound(bound), m_valid(false), m_managed(false), m_extBuffer(nullptr), m_extLength(0), m_readOnly(false) {
    if (data == nullptr || bound == 0 || bound == UNBOUNDED || length > bound) {
        rc = PRECONDITION_VIOLATED;
        return;
    }
    m_extBuffer = data;
    m_extLength = length;
    m_extBuffer[length] = '\0';
    m_valid = true;
    rc = NO_ERROR;
}

String::String(char const* text) noexcept
    : m_bound(0), m_valid(false), m_managed(false), m_extBuffer(nullptr), m_extLength(0), m_readOnly(true) {
    if (text == nullptr) {
        return;
    }
    std::size_t const n = std::strlen(text);
    if (n > kMaxLength) {
        return;
    }
    // The view is never written through (see m_readOnly), so dropping const
    // here only lets one pointer field serve both kinds of external buffer.
    m_extBuffer = const_cast<char*>(text);
    m_extLength = static_cast<std::uint32_t>(n);
    m_bound = m_extLength;
    m_valid = true;
}

String::String(String const& other) noexcept
    : m_bound(other.m_bound), m_valid(false), m_managed(true), m_extBuffer(nullptr), m_extLength(0), m_readOnly(false) {
    if (!other.m_valid) {
        return;
    }
    try {
        m_text.assign(other.buffer(), other.length());
    } catch (...) {
        return;
    }
    m_valid = true;
}

String& String::operator=(String const& other) noexcept {
    if (this == &other) {
        if (!m_managed && m_valid) {
            // Becoming managed: take a copy of the wrapped text first.
            try {
                m_text.assign(m_extBuffer, m_extLength);
            } catch (...) {
                m_text.clear();
                m_valid = false;
            }
        }
        m_managed = true;
        m_extBuffer = nullptr;
        m_extLength = 0;
        m_readOnly = false;
        return *this;
    }
    // Read the source before touching the target: other's text may live in
    // storage that the target is about to drop.
    bool const valid = other.m_valid;
    std::uint32_t const bound = other.m_bound;
    bool copied = false;
    if (valid) {
        try {
            m_text.assign(other.buffer(), other.length());
            copied = true;
        } catch (...) {
            copied = false;
        }
    }
    if (!copied) {
        m_text.clear();
    }
    m_managed = true;
    m_extBuffer = nullptr;
    m_extLength = 0;
    m_readOnly = false;
    m_bound = bound;
    m_valid = valid && copied;
    return *this;
}

char const* String::buffer() const noexcept {
    if (!m_valid) {
        return nullptr;
    }
    return m_managed ? m_text.c_str() : m_extBuffer;
}

char* String::buffer() noexcept {
    if (!m_valid) {
        return nullptr;
    }
    return m_managed ? m_text.data() : m_extBuffer;
}

unsigned int String::length() const noexcept {
    if (!m_valid) {
        return 0;
    }
    return m_managed ? static_cast<unsigned int>(m_text.size()) : m_extLength;
}

char const& String::operator[](unsigned int i) const noexcept {
    if (!m_valid) {
        return orphanNul();
    }
    unsigned int const n = length();
    return buffer()[i < n ? i : n];
}

char& String::operator[](unsigned int i) noexcept {
    if (!m_valid) {
        return orphanNul();
    }
    unsigned int const n = length();
    return buffer()[i < n ? i : n];
}

unsigned int String::capacity() const noexcept {
    if (!m_valid) {
        return 0;
    }
    if (!m_managed) {
        return m_bound;
    }
    std::size_t const c = m_text.capacity();
    return c > UNBOUNDED ? UNBOUNDED : static_cast<unsigned int>(c);
}

unsigned int String::bound() const noexcept { return m_valid ? m_bound : 0; }

bool String::is_managed() const noexcept { return m_valid && m_managed; }

bool String::is_bounded() const noexcept { return m_valid && m_bound != UNBOUNDED; }

bool String::is_valid() const noexcept { return m_valid; }

void String::clear() noexcept {
    if (!m_valid || m_readOnly) {
        return;
    }
    if (m_managed) {
        m_text.clear();
    } else {
        m_extLength = 0;
        m_extBuffer[0] = '\0';
    }
}

String::RETURN_CODE String::append(String const& s) noexcept {
    if (!m_valid || !s.m_valid) {
        return PRECONDITION_VIOLATED;
    }
    std::uint64_t const have = length();
    std::uint64_t const add = s.length();
    if (m_bound != UNBOUNDED && have + add > m_bound) {
        return INSUFFICIENT_BOUND;
    }
    if (add == 0) {
        return NO_ERROR;
    }
    if (m_managed) {
        if (have + add > kMaxLength) {
            return INSUFFICIENT_MEMORY;
        }
        try {
            // std::string::append copes with a source inside its own storage.
            m_text.append(s.buffer(), static_cast<std::size_t>(add));
        } catch (...) {
            return INSUFFICIENT_MEMORY;
        }
        return NO_ERROR;
    }
    std::memmove(m_extBuffer + have, s.buffer(), static_cast<std::size_t>(add));
    m_extLength = static_cast<std::uint32_t>(have + add);
    m_extBuffer[m_extLength] = '\0';
    return NO_ERROR;
}

String::RETURN_CODE String::append(char const& c) noexcept {
    if (!m_valid) {
        return PRECONDITION_VIOLATED;
    }
    std::uint64_t const have = length();
    if (m_bound != UNBOUNDED && have + 1 > m_bound) {
        return INSUFFICIENT_BOUND;
    }
    if (m_managed) {
        if (have + 1 > kMaxLength) {
            return INSUFFICIENT_MEMORY;
        }
        char const value = c;  // c may refer into m_text
        try {
            m_text.push_back(value);
        } catch (...) {
            return INSUFFICIENT_MEMORY;
        }
        return NO_ERROR;
    }
    char const value = c;
    m_extBuffer[m_extLength] = value;
    ++m_extLength;
    m_extBuffer[m_extLength] = '\0';
    return NO_ERROR;
}

namespace {

bool sameText(char const* a, std::size_t na, char const* b, std::size_t nb) noexcept {
    return na == nb && (na == 0 || std::memcmp(a, b, na) == 0);
}

}  // namespace

bool operator==(String const& a, String const& b) noexcept {
    return sameText(a.buffer(), a.length(), b.buffer(), b.length());
}

bool operator==(String const& a, char const* b) noexcept {
    std::size_t const nb = b == nullptr ? 0 : std::strlen(b);
    return sameText(a.buffer(), a.length(), b, nb);
}

bool operator==(char const* a, String const& b) noexcept { return b == a; }

bool operator!=(String const& a, String const& b) noexcept { return !(a == b); }

bool operator!=(String const& a, char const* b) noexcept { return !(a == b); }

bool operator!=(char const* a, String const& b) noexcept { return !(b == a); }

std::ostream& operator<<(std::ostream& os, String const& s) {
    if (s.is_valid()) {
        os.write(s.buffer(), static_cast<std::streamsize>(s.length()));
    }
    return os;
}

}  // namespace FACE
