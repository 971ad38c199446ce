#include "FACE/FACE_IO_Parameter_Value_Type.h"

namespace FACE {
namespace IOSS {

IO_PARAMETER_VALUE_TYPE::IO_PARAMETER_VALUE_TYPE() noexcept
    : m_discriminator(SHORT),
      m_short(0),
      m_long(0),
      m_longlong(0),
      m_ushort(0),
      m_ulong(0),
      m_ulonglong(0),
      m_float(0.0F),
      m_double(0.0),
      m_longdouble(0.0L),
      m_char(0),
      m_boolean(false),
      m_octet(0) {}

// The three accessors of one kind, all alike.
#define CORVANE_IO_PARAMETER_KIND(NAME, TYPE, MEMBER, KIND_VALUE)                           \
    void IO_PARAMETER_VALUE_TYPE::NAME##_value(TYPE v) noexcept {                           \
        MEMBER = v;                                                                         \
        m_discriminator = KIND_VALUE;                                                       \
    }                                                                                       \
    TYPE& IO_PARAMETER_VALUE_TYPE::NAME##_value() noexcept {                                \
        m_discriminator = KIND_VALUE;                                                       \
        return MEMBER;                                                                      \
    }                                                                                       \
    void IO_PARAMETER_VALUE_TYPE::NAME##_value(TYPE& out, RETURN_CODE& rc) const noexcept { \
        if (m_discriminator != KIND_VALUE) {                                                \
            rc = WRONG_KIND;                                                                \
            return;                                                                         \
        }                                                                                   \
        out = MEMBER;                                                                       \
        rc = NO_ERROR;                                                                      \
    }

CORVANE_IO_PARAMETER_KIND(short, std::int16_t, m_short, SHORT)
CORVANE_IO_PARAMETER_KIND(long, std::int32_t, m_long, LONG)
CORVANE_IO_PARAMETER_KIND(longlong, std::int64_t, m_longlong, LONGLONG)
CORVANE_IO_PARAMETER_KIND(ushort, std::uint16_t, m_ushort, USHORT)
CORVANE_IO_PARAMETER_KIND(ulong, std::uint32_t, m_ulong, ULONG)
CORVANE_IO_PARAMETER_KIND(ulonglong, std::uint64_t, m_ulonglong, ULONGLONG)
CORVANE_IO_PARAMETER_KIND(float, float, m_float, FLOAT)
CORVANE_IO_PARAMETER_KIND(double, double, m_double, DOUBLE)
CORVANE_IO_PARAMETER_KIND(longdouble, long double, m_longdouble, LONGDOUBLE)
CORVANE_IO_PARAMETER_KIND(char, std::int8_t, m_char, CHAR)
CORVANE_IO_PARAMETER_KIND(boolean, bool, m_boolean, BOOLEAN)
CORVANE_IO_PARAMETER_KIND(octet, std::uint8_t, m_octet, OCTET)

#undef CORVANE_IO_PARAMETER_KIND

}  // namespace IOSS
}  // namespace FACE
