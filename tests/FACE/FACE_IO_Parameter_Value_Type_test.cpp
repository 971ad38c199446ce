#include "FACE/FACE_IO_Parameter_Value_Type.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace {

using V = FACE::IOSS::IO_PARAMETER_VALUE_TYPE;

// The operations of one kind, bound to a sample value and a sentinel.
struct Kind {
    char const* name;
    std::int32_t discriminator;
    std::function<void(V&)> set;              // K_value(sample)
    std::function<void(V&)> setByReference;   // K_value() = sample
    std::function<V::RETURN_CODE(V const&, bool& holdsSample)> get;  // K_value(out, rc)
    std::function<bool(V&)> memberIsZero;     // through K_value()
};

template <typename T>
Kind kind(char const* name, std::int32_t discriminator, void (V::*setter)(T), T& (V::*reference)(),
          void (V::*getter)(T&, V::RETURN_CODE&) const, T sample, T sentinel) {
    return Kind{name,
                discriminator,
                [=](V& v) { (v.*setter)(sample); },
                [=](V& v) { (v.*reference)() = sample; },
                [=](V const& v, bool& holdsSample) {
                    T out = sentinel;
                    V::RETURN_CODE rc = V::NO_ERROR;
                    (v.*getter)(out, rc);
                    // A refused read must leave the output alone.
                    holdsSample = rc == V::NO_ERROR ? out == sample : out == sentinel;
                    return rc;
                },
                [=](V& v) { return (v.*reference)() == T{}; }};
}

std::vector<Kind> allKinds() {
    return {
        kind<std::int16_t>("short", V::SHORT, &V::short_value, &V::short_value, &V::short_value, -7, 99),
        kind<std::int32_t>("long", V::LONG, &V::long_value, &V::long_value, &V::long_value, -70000, 99),
        kind<std::int64_t>("longlong", V::LONGLONG, &V::longlong_value, &V::longlong_value,
                           &V::longlong_value, -(1LL << 40), 99),
        kind<std::uint16_t>("ushort", V::USHORT, &V::ushort_value, &V::ushort_value, &V::ushort_value,
                            65535, 99),
        kind<std::uint32_t>("ulong", V::ULONG, &V::ulong_value, &V::ulong_value, &V::ulong_value,
                            0xFFFFFFF0u, 99),
        kind<std::uint64_t>("ulonglong", V::ULONGLONG, &V::ulonglong_value, &V::ulonglong_value,
                            &V::ulonglong_value, 1ULL << 63, 99),
        kind<float>("float", V::FLOAT, &V::float_value, &V::float_value, &V::float_value, 1.5F, 99.0F),
        kind<double>("double", V::DOUBLE, &V::double_value, &V::double_value, &V::double_value, -2.25, 99.0),
        kind<long double>("longdouble", V::LONGDOUBLE, &V::longdouble_value, &V::longdouble_value,
                          &V::longdouble_value, 3.125L, 99.0L),
        kind<std::int8_t>("char", V::CHAR, &V::char_value, &V::char_value, &V::char_value, -100, 99),
        kind<bool>("boolean", V::BOOLEAN, &V::boolean_value, &V::boolean_value, &V::boolean_value, true, false),
        kind<std::uint8_t>("octet", V::OCTET, &V::octet_value, &V::octet_value, &V::octet_value, 200, 99),
    };
}

TEST(IoParameterValue, DefaultIsShortZeroWithEveryMemberZero) {
    V const fresh;
    EXPECT_EQ(fresh.descriminator(), 0);
    std::int16_t out = 5;
    V::RETURN_CODE rc = V::WRONG_KIND;
    fresh.short_value(out, rc);
    EXPECT_EQ(rc, V::NO_ERROR);
    EXPECT_EQ(out, 0);
    for (Kind const& k : allKinds()) {
        V v;
        EXPECT_TRUE(k.memberIsZero(v)) << k.name;
    }
}

TEST(IoParameterValue, EachKindAnswersOnlyToItself) {
    std::vector<Kind> const kinds = allKinds();
    ASSERT_EQ(kinds.size(), 12u);
    for (Kind const& k : kinds) {
        for (bool byReference : {false, true}) {
            SCOPED_TRACE(testing::Message() << k.name << (byReference ? " by reference" : " by value"));
            V v;
            (byReference ? k.setByReference : k.set)(v);
            EXPECT_EQ(v.descriminator(), k.discriminator);
            for (Kind const& other : kinds) {
                bool ok = false;
                V::RETURN_CODE const rc = other.get(v, ok);
                EXPECT_EQ(rc, &other == &k ? V::NO_ERROR : V::WRONG_KIND) << "read as " << other.name;
                EXPECT_TRUE(ok) << "read as " << other.name;
            }
        }
    }
}

TEST(IoParameterValue, MembersDoNotShareStorage) {
    V v;
    v.long_value(5);
    v.ulong_value() = 7;          // switches the kind, keeps the long
    EXPECT_EQ(v.descriminator(), V::ULONG);
    std::uint32_t asUlong = 0;
    V::RETURN_CODE rc = V::WRONG_KIND;
    v.ulong_value(asUlong, rc);
    EXPECT_EQ(asUlong, 7u);
    std::int32_t asLong = 0;
    v.long_value(asLong, rc);
    EXPECT_EQ(rc, V::WRONG_KIND);
    EXPECT_EQ(v.long_value(), 5);  // still there once the kind is back
    V const copy = v;
    EXPECT_EQ(copy.descriminator(), V::LONG);
}

}  // namespace
