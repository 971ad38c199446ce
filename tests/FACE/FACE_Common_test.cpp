// Return codes and their guards, FACE::String and FACE::Sequence.

#include "FACE/FACE_Common.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using FACE::String;
using FACE::RETURN_CODE_TYPE::Value;

TEST(ReturnCode, ToStringNamesEveryCodeAndUnknownBeyond) {
    char const* const names[] = {
        "NO_ERROR",     "NO_ACTION",         "NOT_AVAILABLE",         "INVALID_PARAM",     "INVALID_CONFIG",
        "INVALID_MODE", "TIMED_OUT",         "ADDR_IN_USE",           "PERMISSION_DENIED", "MESSAGE_STALE",
        "IN_PROGRESS",  "CONNECTION_CLOSED", "DATA_BUFFER_TOO_SMALL", "DATA_OVERFLOW"};
    for (std::uint32_t i = 0; i < 16; ++i) {
        std::uint32_t const value = i < 15 ? i : 0xFFFFFFFFu;
        EXPECT_EQ(FACE::RETURN_CODE_TYPE::ToString(static_cast<Value>(value)), i < 14 ? names[i] : "RC_UNKNOWN")
            << value;
    }
}

TEST(ReturnCode, GuardsPassOrPrintAndThrowTheSameText) {
    std::tuple<bool, Value, char const*, char const*, char const*> const cases[] = {
        // NO_ACTION allowed, code, file, message, text (null: returns normally)
        {false, FACE::RETURN_CODE_TYPE::NO_ERROR, "a.cpp", "m", nullptr},
        {false, FACE::RETURN_CODE_TYPE::NO_ACTION, "a.cpp", "Step() failed", "a.cpp[7]:NO_ACTION Step() failed"},
        {false, static_cast<Value>(99), "a.cpp", "m", "a.cpp[7]:RC_UNKNOWN m"},
        {true, FACE::RETURN_CODE_TYPE::NO_ACTION, "a.cpp", "m", nullptr},
        {true, FACE::RETURN_CODE_TYPE::TIMED_OUT, nullptr, nullptr, "[7]:TIMED_OUT "},
    };
    for (auto const& [noAction, rc, file, message, text] : cases) {
        auto const guard = noAction ? &FACE::Return_Code_Value_No_Error_No_Action : &FACE::Return_Code_Value_No_Error;
        std::string what = "<returned>";
        testing::internal::CaptureStdout();
        try {
            guard(file, 7, message, rc);
        } catch (std::runtime_error const& e) {
            what = e.what();
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), text == nullptr ? "" : std::string(text) + "\n");
        EXPECT_EQ(what, text == nullptr ? "<returned>" : text);
    }
}

// An element whose copies throw while s_fail is set.
struct Fragile {
    static inline bool s_fail = false;
    Fragile() = default;
    Fragile(Fragile const& other) { *this = other; }
    Fragile& operator=(Fragile const&) { return s_fail ? throw std::bad_alloc() : *this; }
};

TEST(Sequence, BoundsValidityCopiesAndFailures) {
    FACE::Sequence<int>::RETURN_CODE rc;
    FACE::Sequence<int> bounded(2, rc);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bounded.append(i), i < 2 ? String::NO_ERROR : String::INSUFFICIENT_BOUND);
    for (unsigned int bad : {0u, 0xFFFFFFFFu}) {
        FACE::Sequence<int> invalid(bad, rc);
        EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
        EXPECT_EQ(invalid.append(1), String::PRECONDITION_VIOLATED);
        EXPECT_EQ(invalid.begin(), invalid.end());
    }
    FACE::Sequence<int>(nullptr, 0, 3, rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
    int slots[3] = {7, 0, 0};
    FACE::Sequence<int>(slots, 4, 3, rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);

    FACE::Sequence<int> wrapped(slots, 1, 3, rc);
    EXPECT_EQ(wrapped.append(8), String::NO_ERROR);
    EXPECT_EQ(wrapped.append(9), String::NO_ERROR);
    EXPECT_EQ(wrapped.append(10), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::vector<int>(wrapped.begin(), wrapped.end()), (std::vector<int>{7, 8, 9}));
    FACE::Sequence<int> copy(wrapped);
    copy[0] = 0;
    EXPECT_EQ(slots[0], 7);  // a copy never writes into the caller's array

    // Throwing element copies become code 2 and leave the sequence as it was.
    FACE::Sequence<Fragile> managed;
    Fragile external[1];
    FACE::Sequence<Fragile> unmanaged(external, 0, 1, rc);
    Fragile::s_fail = true;
    EXPECT_EQ(managed.append(Fragile()), String::INSUFFICIENT_MEMORY);
    EXPECT_EQ(unmanaged.append(Fragile()), String::INSUFFICIENT_MEMORY);
    EXPECT_EQ(managed.size() + unmanaged.size(), 0u);
    Fragile::s_fail = false;
    EXPECT_EQ(managed.append(Fragile()), String::NO_ERROR);
    Fragile::s_fail = true;
    EXPECT_FALSE(FACE::Sequence<Fragile>(managed).is_valid());
    Fragile::s_fail = false;
}

std::string text(String const& s) { return s.buffer() == nullptr ? "<null>" : std::string(s.buffer(), s.length()); }

TEST(FaceString, InvalidConstructionsAnswerNothingAndValidOnesWrapViewOrCopy) {
    String::RETURN_CODE rc[5];
    char buf[8] = "abcdefg";
    String const strings[] = {String(0u, rc[0]),
                              String(0xFFFFFFFFu, rc[1]),
                              String(static_cast<char const*>(nullptr), rc[2]),
                              String(nullptr, 0, 4, rc[3]),
                              String(buf, 5, 4, rc[4]),
                              String(static_cast<char const*>(nullptr))};
    for (String::RETURN_CODE r : rc) EXPECT_EQ(r, String::PRECONDITION_VIOLATED);
    EXPECT_STREQ(buf, "abcdefg");  // an invalid wrap does not touch the buffer
    for (String const& s : strings) {
        for (String const& t : {s, String(s)}) {  // copies of invalid strings are invalid
            EXPECT_FALSE(t.is_valid() || t.is_managed() || t.is_bounded());
            EXPECT_EQ(std::make_tuple(t.length(), t.bound(), t.capacity(), t.buffer(), t[7]),
                      std::make_tuple(0u, 0u, 0u, nullptr, '\0'));
        }
    }

    String const wrapped(buf, 4, 4, rc[0]);
    EXPECT_EQ(rc[0], String::NO_ERROR);
    EXPECT_EQ(std::string(buf, 6), std::string("abcd\0f", 6));  // terminated in place
    char const literal[] = "view";
    EXPECT_EQ(String(literal).buffer(), literal);  // wrapped, not copied
    String const copied("abc", rc[0]);
    EXPECT_TRUE(copied.is_managed() && copied.bound() == 3u);
    EXPECT_EQ(&copied[100], &copied[3]);  // past the end: the terminator
    EXPECT_EQ(String("", rc[0]).append('x'), String::INSUFFICIENT_BOUND);
}

TEST(FaceString, AppendStaysWithinBoundsOnEveryKind) {
    std::tuple<bool, unsigned int, char const*, String::RETURN_CODE, char const*> const cases[] = {
        // managed, bound (0: unbounded), appended, code, result; each starts from "abc"
        {true, 5, "def", String::INSUFFICIENT_BOUND, "abc"},
        {true, 5, "de", String::NO_ERROR, "abcde"},
        {true, 3, "", String::NO_ERROR, "abc"},
        {true, 0, "defghijklmnopqrstuvwxyz", String::NO_ERROR, "abcdefghijklmnopqrstuvwxyz"},
        {false, 5, "def", String::INSUFFICIENT_BOUND, "abc"},
        {false, 5, "de", String::NO_ERROR, "abcde"},
    };
    for (auto const& [managed, bound, add, expected, result] : cases) {
        char buf[16];
        std::memset(buf, 'X', sizeof buf);
        String::RETURN_CODE rc = String::NO_ERROR;
        String s = !managed ? String(buf, 0, bound, rc) : bound == 0 ? String() : String(bound, rc);
        ASSERT_EQ(s.append(String("abc")), String::NO_ERROR);
        EXPECT_EQ(s.append(String(add)), expected) << managed << "/" << bound << "/" << add;
        EXPECT_STREQ(managed ? s.buffer() : buf, result) << managed << "/" << bound << "/" << add;
    }

    char buf[4];
    String::RETURN_CODE rc;
    String chars(buf, 0, 3, rc);
    for (char c : std::string("abc")) EXPECT_EQ(chars.append(c), String::NO_ERROR);
    EXPECT_EQ(chars.append('d'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::string(buf, 4), std::string("abc\0", 4));  // never past bound + 1

    String invalid(0u, rc);
    String unbounded;
    EXPECT_EQ(invalid.append(unbounded), String::PRECONDITION_VIOLATED);
    EXPECT_EQ(invalid.append('c'), String::PRECONDITION_VIOLATED);
    EXPECT_EQ(unbounded.append(invalid), String::PRECONDITION_VIOLATED);

    // Appending a string to itself, managed and wrapped.
    EXPECT_EQ(unbounded.append(String("abc")), String::NO_ERROR);
    EXPECT_EQ(unbounded.append(unbounded), String::NO_ERROR);
    EXPECT_EQ(text(unbounded), "abcabc");
    char own[16] = "xy";
    String w(own, 2, 10, rc);
    EXPECT_EQ(w.append(w), String::NO_ERROR);
    EXPECT_EQ(w.append(w[0]), String::NO_ERROR);
    EXPECT_STREQ(own, "xyxyx");
}

TEST(FaceString, AssignmentMakesManagedCopiesAndClearEmptiesWritableStringsOnly) {
    char buf[8] = "wrap";
    String::RETURN_CODE rc;
    String wrapped(buf, 4, 7, rc);
    String target("old text", rc);
    target = wrapped;
    buf[0] = 'W';
    EXPECT_TRUE(target.is_managed() && target.bound() == 7u);
    EXPECT_EQ(text(target), "wrap");
    String view("abc");
    view = view;  // self-assignment makes a managed copy of the view
    EXPECT_TRUE(view.is_managed());
    EXPECT_EQ(text(view), "abc");

    wrapped.clear();
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(wrapped.length(), 0u);
    target.clear();
    EXPECT_EQ(target.append(String("1234567")), String::NO_ERROR);  // the bound stays
    EXPECT_EQ(target.append('8'), String::INSUFFICIENT_BOUND);
    String constant("constant");  // never written through
    constant.clear();
    EXPECT_EQ(constant.append('x'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(text(constant), "constant");
}

}  // namespace
