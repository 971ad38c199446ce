#include "FACE/FACE_IO_Parameter_Value_Type.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <utility>

namespace {

using V = FACE::IOSS::IO_PARAMETER_VALUE_TYPE;

TEST(IoParameterValue, EverySetterSelectsItsKind) {
    V v;
    EXPECT_EQ(v.descriminator(), V::SHORT);
    std::pair<void (*)(V&), std::int32_t> const setters[] = {
        {[](V& x) { x.short_value(1); }, V::SHORT},         {[](V& x) { x.long_value(1); }, V::LONG},
        {[](V& x) { x.longlong_value(1); }, V::LONGLONG},   {[](V& x) { x.ushort_value(1); }, V::USHORT},
        {[](V& x) { x.ulong_value(1); }, V::ULONG},         {[](V& x) { x.ulonglong_value(1); }, V::ULONGLONG},
        {[](V& x) { x.float_value(1); }, V::FLOAT},         {[](V& x) { x.double_value(1); }, V::DOUBLE},
        {[](V& x) { x.longdouble_value(1); }, V::LONGDOUBLE}, {[](V& x) { x.char_value(1); }, V::CHAR},
        {[](V& x) { x.boolean_value(true); }, V::BOOLEAN},  {[](V& x) { x.octet_value(1); }, V::OCTET},
        {[](V& x) { x.short_value() = 2; }, V::SHORT},      {[](V& x) { x.double_value() = 2; }, V::DOUBLE},
    };
    for (std::size_t i = 0; i < std::size(setters); ++i) {
        setters[i].first(v);
        EXPECT_EQ(v.descriminator(), setters[i].second) << "setter " << i;
    }
}

TEST(IoParameterValue, ReadingAnotherKindIsRefusedAndMembersStaySeparate) {
    V v;
    v.long_value(5);
    std::uint32_t asUlong = 99;
    V::RETURN_CODE rc = V::NO_ERROR;
    v.ulong_value(asUlong, rc);
    EXPECT_EQ(rc, V::WRONG_KIND);
    EXPECT_EQ(asUlong, 99u);  // left alone
    v.ulong_value() = 7;  // another member: the long keeps its value
    EXPECT_EQ(v.long_value(), 5);
}

}  // namespace
