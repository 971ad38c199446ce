#include "FACE/FACE_String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

using FACE::String;

std::string text(String const& s) {
    return s.buffer() == nullptr ? "<null>" : std::string(s.buffer(), s.length());
}

void expectInvalid(String const& s) {
    EXPECT_FALSE(s.is_valid() || s.is_managed() || s.is_bounded());
    EXPECT_EQ(s.length() + s.bound() + s.capacity(), 0u);
    EXPECT_EQ(s.buffer(), nullptr);
    EXPECT_EQ(s[7], '\0');
}

TEST(FaceString, InvalidConstructionsAnswerNothing) {
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
        expectInvalid(s);
        expectInvalid(String(s));  // copies of invalid strings are invalid
    }
}

TEST(FaceString, ValidConstructionsWrapViewOrCopy) {
    String::RETURN_CODE rc = String::PRECONDITION_VIOLATED;
    char buf[8] = "abcdefg";
    String const wrapped(buf, 4, 4, rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_EQ(std::string(buf, 6), std::string("abcd\0f", 6));  // terminated in place
    char const literal[] = "view";
    EXPECT_EQ(String(literal).buffer(), literal);  // wrapped, not copied
    String const copied("abc", rc);
    EXPECT_TRUE(copied.is_managed());
    EXPECT_EQ(copied.bound(), 3u);
    EXPECT_EQ(&copied[100], &copied[3]);  // past the end: the terminator
    EXPECT_EQ(copied[100], '\0');
    String empty("", rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_EQ(empty.append('x'), String::INSUFFICIENT_BOUND);
}

TEST(FaceString, AppendStaysWithinBoundsOnEveryKind) {
    std::tuple<bool, unsigned int, char const*, String::RETURN_CODE, char const*> const cases[] = {
        // managed, bound (0: unbounded), appended, code, result; each starts from "abc"
        {true, 5, "def", String::INSUFFICIENT_BOUND, "abc"},  {true, 5, "de", String::NO_ERROR, "abcde"},
        {true, 3, "", String::NO_ERROR, "abc"},               {true, 0, "defghijklmnopqrstuvwxyz", String::NO_ERROR,
                                                               "abcdefghijklmnopqrstuvwxyz"},
        {false, 5, "def", String::INSUFFICIENT_BOUND, "abc"}, {false, 5, "de", String::NO_ERROR, "abcde"},
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

TEST(FaceString, AssignmentMakesManagedCopies) {
    char buf[8] = "wrap";
    String::RETURN_CODE rc;
    String const wrapped(buf, 4, 7, rc);
    String target("old text", rc);
    target = wrapped;
    buf[0] = 'W';
    EXPECT_TRUE(target.is_managed());
    EXPECT_EQ(target.bound(), 7u);
    EXPECT_EQ(text(target), "wrap");
    target = String(0u, rc);
    expectInvalid(target);

    String view("abc");
    view = view;  // self-assignment makes a managed copy of the view
    EXPECT_TRUE(view.is_managed());
    EXPECT_EQ(text(view), "abc");
}

TEST(FaceString, ClearEmptiesWritableStringsOnly) {
    char buf[8] = "abcd";
    String::RETURN_CODE rc;
    String wrapped(buf, 4, 7, rc);
    wrapped.clear();
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(wrapped.length(), 0u);

    String managed("xyz", rc);
    managed.clear();
    EXPECT_EQ(managed.append(String("123")), String::NO_ERROR);  // the bound stays
    EXPECT_EQ(managed.append('4'), String::INSUFFICIENT_BOUND);

    String view("constant");  // never written through
    view.clear();
    EXPECT_EQ(view.append('x'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(text(view), "constant");
}

}  // namespace
