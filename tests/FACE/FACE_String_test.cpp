#include "FACE/FACE_String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using FACE::String;

std::string text(String const& s) {
    return s.buffer() == nullptr ? "<null>" : std::string(s.buffer(), s.length());
}

void expectInvalid(String const& s) {
    EXPECT_FALSE(s.is_valid());
    EXPECT_FALSE(s.is_managed());
    EXPECT_FALSE(s.is_bounded());
    EXPECT_EQ(s.length() + s.bound() + s.capacity(), 0u);
    EXPECT_EQ(s.buffer(), nullptr);
    EXPECT_EQ(s[7], '\0');
}

TEST(FaceString, InvalidConstructionsAnswerNothing) {
    String::RETURN_CODE rc = String::NO_ERROR;
    char buf[8] = "abcdefg";
    String const zeroBound(0u, rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
    String const maxBound(0xFFFFFFFFu, rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
    String const nullText(static_cast<char const*>(nullptr), rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
    String const nullData(nullptr, 0, 4, rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
    String const lengthBeyondBound(buf, 5, 4, rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
    EXPECT_STREQ(buf, "abcdefg");  // an invalid wrap does not touch the buffer
    String const nullView(static_cast<char const*>(nullptr));
    for (String const* s : {&zeroBound, &maxBound, &nullText, &nullData, &lengthBeyondBound, &nullView}) {
        expectInvalid(*s);
        expectInvalid(String(*s));  // copies of invalid strings are invalid
    }
}

TEST(FaceString, ValidConstructionsSetKindAndBound) {
    String::RETURN_CODE rc = String::PRECONDITION_VIOLATED;
    char buf[8] = "abcdefg";
    String const wrapped(buf, 4, 4, rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_FALSE(wrapped.is_managed());
    EXPECT_EQ(buf[4], '\0');  // terminated in place
    EXPECT_EQ(buf[5], 'f');
    EXPECT_EQ(wrapped.capacity(), 4u);

    char const literal[] = "view";
    String const view(literal);
    EXPECT_EQ(view.buffer(), literal);  // wrapped, not copied
    EXPECT_EQ(view.bound(), 4u);

    String const copied("abc", rc);
    EXPECT_TRUE(copied.is_managed());
    EXPECT_EQ(copied.bound(), 3u);
    EXPECT_EQ(copied[2], 'c');
    EXPECT_EQ(&copied[100], &copied[3]);  // past the end: the terminator
    EXPECT_EQ(copied[100], '\0');
    EXPECT_EQ(String().bound(), String::UNBOUNDED);
    EXPECT_FALSE(String().is_bounded());

    String empty("", rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_TRUE(empty.is_valid());
    EXPECT_EQ(empty.bound(), 0u);
    EXPECT_EQ(empty.append('x'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(text(empty), "");
}

TEST(FaceString, AppendStaysWithinBoundsOnEveryKind) {
    struct Case {
        bool managed;
        unsigned int bound;  // 0: unbounded (managed only)
        char const* add;
        String::RETURN_CODE expected;
        char const* result;
    };
    Case const cases[] = {
        {true, 5, "def", String::INSUFFICIENT_BOUND, "abc"}, {true, 5, "de", String::NO_ERROR, "abcde"},
        {true, 3, "", String::NO_ERROR, "abc"},              {true, 0, "defghijklmnopqrstuvwxyz", String::NO_ERROR,
                                                              "abcdefghijklmnopqrstuvwxyz"},
        {false, 5, "def", String::INSUFFICIENT_BOUND, "abc"}, {false, 5, "de", String::NO_ERROR, "abcde"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.managed << "/" << c.bound << "/" << c.add);
        char buf[16];
        std::memset(buf, 'X', sizeof buf);
        std::memcpy(buf, "abc", 3);
        String::RETURN_CODE rc = String::NO_ERROR;
        String s = !c.managed ? String(buf, 3, c.bound, rc) : c.bound == 0 ? String() : String(c.bound, rc);
        if (c.managed) {
            ASSERT_EQ(s.append(String("abc")), String::NO_ERROR);
        }
        EXPECT_EQ(s.append(String(c.add)), c.expected);
        EXPECT_EQ(text(s), c.result);
        EXPECT_EQ(s[s.length()], '\0');
        if (!c.managed) {
            EXPECT_STREQ(buf, c.result);
        }
    }

    char buf[4];
    String::RETURN_CODE rc;
    String chars(buf, 0, 3, rc);
    for (char c : std::string("abc")) {
        EXPECT_EQ(chars.append(c), String::NO_ERROR);
    }
    EXPECT_EQ(chars.append('d'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::string(buf, 4), std::string("abc\0", 4));  // never past bound + 1

    String invalid(0u, rc);
    String unbounded;
    EXPECT_EQ(invalid.append(unbounded), String::PRECONDITION_VIOLATED);
    EXPECT_EQ(invalid.append('c'), String::PRECONDITION_VIOLATED);
    EXPECT_EQ(unbounded.append(invalid), String::PRECONDITION_VIOLATED);

    // Appending a string to itself, managed and wrapped.
    String view("abc");
    view = view;  // self-assignment makes a managed copy of the view
    EXPECT_TRUE(view.is_managed());
    EXPECT_EQ(view.bound(), 3u);
    EXPECT_EQ(text(view), "abc");

    String twice;
    EXPECT_EQ(twice.append(view), String::NO_ERROR);
    EXPECT_EQ(twice.append(twice), String::NO_ERROR);
    EXPECT_EQ(text(twice), "abcabc");

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
    target = String("again");
    EXPECT_TRUE(target.is_managed());
    EXPECT_EQ(text(target), "again");
}

TEST(FaceString, ClearEmptiesWritableStringsOnly) {
    char buf[8] = "abcd";
    String::RETURN_CODE rc;
    String wrapped(buf, 4, 7, rc);
    wrapped.clear();
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(wrapped.length(), 0u);
    EXPECT_EQ(wrapped.bound(), 7u);

    String managed("xyz", rc);
    managed.clear();
    EXPECT_EQ(managed.append(String("123")), String::NO_ERROR);  // the bound stays
    EXPECT_EQ(managed.append('4'), String::INSUFFICIENT_BOUND);

    String view("constant");  // never written through
    view.clear();
    EXPECT_EQ(text(view), "constant");
}

}  // namespace
