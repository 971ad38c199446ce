#ifndef FACE_FACE_IO_PARAMETER_VALUE_TYPE_H
#define FACE_FACE_IO_PARAMETER_VALUE_TYPE_H

// FACE::IOSS::IO_PARAMETER_VALUE_TYPE: the tagged value carried by the I/O
// service's parameter transactions. A signed 32-bit discriminator names the
// kind in use; every kind has its own member (they do not share storage).
//
// For each kind K there are three accessors:
//   K_value(v)          stores v and makes K the kind;
//   K_value()           makes K the kind and returns the member to modify;
//   K_value(out, rc)    const: when K is the kind, copies the member to out
//                       and sets rc = NO_ERROR; otherwise leaves out alone
//                       and sets rc = WRONG_KIND.
// Plain value type: copyable, no locking, nothing throws.

#include <cstdint>

namespace FACE {
namespace IOSS {

class IO_PARAMETER_VALUE_TYPE {
public:
    /// Result of the reading accessors.
    enum RETURN_CODE : std::int32_t {
        NO_ERROR = 0,   ///< the value held is of the kind asked for
        WRONG_KIND = 1  ///< it is not; the output was left alone
    };

    /// Discriminator values.
    enum KIND : std::int32_t {
        SHORT = 0,       ///< signed 16-bit
        LONG = 1,        ///< signed 32-bit
        LONGLONG = 2,    ///< signed 64-bit
        USHORT = 3,      ///< unsigned 16-bit
        ULONG = 4,       ///< unsigned 32-bit
        ULONGLONG = 5,   ///< unsigned 64-bit
        FLOAT = 6,       ///< 32-bit float
        DOUBLE = 7,      ///< 64-bit float
        LONGDOUBLE = 8,  ///< long double
        CHAR = 9,        ///< signed 8-bit
        BOOLEAN = 10,    ///< bool
        OCTET = 11       ///< unsigned 8-bit
    };

    /// Discriminator 0 (SHORT) and every member zero.
    IO_PARAMETER_VALUE_TYPE() noexcept;

    /// The discriminator of the kind held.
    std::int32_t descriminator() const noexcept { return m_discriminator; }

    void short_value(std::int16_t v) noexcept;
    std::int16_t& short_value() noexcept;
    void short_value(std::int16_t& out, RETURN_CODE& rc) const noexcept;

    void long_value(std::int32_t v) noexcept;
    std::int32_t& long_value() noexcept;
    void long_value(std::int32_t& out, RETURN_CODE& rc) const noexcept;

    void longlong_value(std::int64_t v) noexcept;
    std::int64_t& longlong_value() noexcept;
    void longlong_value(std::int64_t& out, RETURN_CODE& rc) const noexcept;

    void ushort_value(std::uint16_t v) noexcept;
    std::uint16_t& ushort_value() noexcept;
    void ushort_value(std::uint16_t& out, RETURN_CODE& rc) const noexcept;

    void ulong_value(std::uint32_t v) noexcept;
    std::uint32_t& ulong_value() noexcept;
    void ulong_value(std::uint32_t& out, RETURN_CODE& rc) const noexcept;

    void ulonglong_value(std::uint64_t v) noexcept;
    std::uint64_t& ulonglong_value() noexcept;
    void ulonglong_value(std::uint64_t& out, RETURN_CODE& rc) const noexcept;

    void float_value(float v) noexcept;
    float& float_value() noexcept;
    void float_value(float& out, RETURN_CODE& rc) const noexcept;

    void double_value(double v) noexcept;
    double& double_value() noexcept;
    void double_value(double& out, RETURN_CODE& rc) const noexcept;

    void longdouble_value(long double v) noexcept;
    long double& longdouble_value() noexcept;
    void longdouble_value(long double& out, RETURN_CODE& rc) const noexcept;

    void char_value(std::int8_t v) noexcept;
    std::int8_t& char_value() noexcept;
    void char_value(std::int8_t& out, RETURN_CODE& rc) const noexcept;

    void boolean_value(bool v) noexcept;
    bool& boolean_value() noexcept;
    void boolean_value(bool& out, RETURN_CODE& rc) const noexcept;

    void octet_value(std::uint8_t v) noexcept;
    std::uint8_t& octet_value() noexcept;
    void octet_value(std::uint8_t& out, RETURN_CODE& rc) const noexcept;

private:
    std::int32_t m_discriminator;
    std::int16_t m_short;
    std::int32_t m_long;
    std::int64_t m_longlong;
    std::uint16_t m_ushort;
    std::uint32_t m_ulong;
    std::uint64_t m_ulonglong;
    float m_float;
    double m_double;
    long double m_longdouble;
    std::int8_t m_char;
    bool m_boolean;
    std::uint8_t m_octet;
};

}  // namespace IOSS
}  // namespace FACE

#endif  // FACE_FACE_IO_PARAMETER_VALUE_TYPE_H
