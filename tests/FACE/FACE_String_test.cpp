#include "FACE/FACE_String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

using FACE::String;

std::string text(String const& s) {
    return s.buffer() == nullptr ? std::string("<null>") : std::string(s.buffer(), s.length());
}

void expectInvalid(String const& s) {
    EXPECT_FALSE(s.is_valid());
    EXPECT_FALSE(s.is_managed());
    EXPECT_FALSE(s.is_bounded());
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(s.bound(), 0u);
    EXPECT_EQ(s.capacity(), 0u);
    EXPECT_EQ(s.buffer(), nullptr);
    EXPECT_EQ(s[0], '\0');
    EXPECT_EQ(s[12345], '\0');
}

TEST(FaceString, ConstructorsSetKindBoundAndValidity) {
    String::RETURN_CODE rc;

    String const plain;
    EXPECT_TRUE(plain.is_valid());
    EXPECT_TRUE(plain.is_managed());
    EXPECT_FALSE(plain.is_bounded());
    EXPECT_EQ(plain.bound(), String::UNBOUNDED);
    EXPECT_EQ(text(plain), "");

    String const bounded(10, rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_TRUE(bounded.is_managed());
    EXPECT_EQ(bounded.bound(), 10u);

    for (unsigned int bad : {0u, 0xFFFFFFFFu}) {
        rc = String::NO_ERROR;
        String const s(bad, rc);
        EXPECT_EQ(rc, String::PRECONDITION_VIOLATED) << bad;
        expectInvalid(s);
    }

    String const copied("abc", rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_TRUE(copied.is_managed());
    EXPECT_EQ(copied.bound(), 3u);
    EXPECT_EQ(text(copied), "abc");

    String const fromNull(static_cast<char const*>(nullptr), rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
    expectInvalid(fromNull);

    char const literal[] = "view";
    String const view(literal);
    EXPECT_TRUE(view.is_valid());
    EXPECT_FALSE(view.is_managed());
    EXPECT_EQ(view.buffer(), literal);  // no copy
    EXPECT_EQ(view.bound(), 4u);
    EXPECT_EQ(view.capacity(), 4u);

    String const nullView(static_cast<char const*>(nullptr));
    expectInvalid(nullView);
}

TEST(FaceString, WrappingACallerBuffer) {
    struct Case {
        unsigned int length;
        unsigned int bound;
        bool valid;
    };
    Case const cases[] = {
        {4, 4, true}, {0, 4, true}, {5, 4, false}, {0, 0, false}, {0, 0xFFFFFFFFu, false},
    };
    for (Case const& c : cases) {
        char buf[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
        String::RETURN_CODE rc;
        String const s(buf, c.length, c.bound, rc);
        SCOPED_TRACE(testing::Message() << c.length << "/" << c.bound);
        EXPECT_EQ(rc, c.valid ? String::NO_ERROR : String::PRECONDITION_VIOLATED);
        EXPECT_EQ(s.is_valid(), c.valid);
        if (c.valid) {
            EXPECT_FALSE(s.is_managed());
            EXPECT_EQ(s.length(), c.length);
            EXPECT_EQ(buf[c.length], '\0');  // terminated in place
            EXPECT_EQ(buf[c.length + 1], "abcdefgh"[c.length + 1]);
        } else {
            EXPECT_EQ(std::string(buf, 8), "abcdefgh");  // untouched
        }
    }
    String::RETURN_CODE rc;
    String const s(nullptr, 0, 4, rc);
    EXPECT_EQ(rc, String::PRECONDITION_VIOLATED);
}

TEST(FaceString, EmptyCopiedTextIsValidWithBoundZero) {
    String::RETURN_CODE rc;
    String s("", rc);
    EXPECT_EQ(rc, String::NO_ERROR);
    EXPECT_TRUE(s.is_valid());
    EXPECT_TRUE(s.is_bounded());
    EXPECT_EQ(s.bound(), 0u);
    EXPECT_EQ(s.append('x'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(text(s), "");
}

// Appending to each kind of string: the code, and what the target holds
// afterwards.
TEST(FaceString, AppendRespectsBoundsOnEveryKind) {
    struct Case {
        char const* name;
        unsigned int bound;  // 0: unbounded managed
        bool managed;
        char const* start;
        char const* add;
        String::RETURN_CODE expected;
        char const* result;
    };
    Case const cases[] = {
        {"managed full", 5, true, "abc", "def", String::INSUFFICIENT_BOUND, "abc"},
        {"managed fits", 5, true, "abc", "de", String::NO_ERROR, "abcde"},
        {"managed empty add", 3, true, "abc", "", String::NO_ERROR, "abc"},
        {"unbounded", 0, true, "abc", "defghijklmnopqrstuvwxyz", String::NO_ERROR,
         "abcdefghijklmnopqrstuvwxyz"},
        {"wrapped full", 5, false, "abc", "def", String::INSUFFICIENT_BOUND, "abc"},
        {"wrapped fits", 5, false, "abc", "de", String::NO_ERROR, "abcde"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        char buf[16] = {};
        std::strcpy(buf, c.start);
        String::RETURN_CODE rc = String::NO_ERROR;
        String s = !c.managed ? String(buf, static_cast<unsigned int>(std::strlen(c.start)), c.bound, rc)
                   : c.bound == 0 ? String()
                                  : String(c.bound, rc);
        ASSERT_EQ(rc, String::NO_ERROR);
        if (c.managed) {
            ASSERT_EQ(s.append(String(c.start)), String::NO_ERROR);
        }
        EXPECT_EQ(s.append(String(c.add)), c.expected);
        EXPECT_EQ(text(s), c.result);
        EXPECT_EQ(s.buffer()[s.length()], '\0');
        if (!c.managed) {
            EXPECT_STREQ(buf, c.result);
        }
    }
}

TEST(FaceString, AppendCharacterToWrappedBufferStopsAtBound) {
    char buf[4];
    String::RETURN_CODE rc;
    String s(buf, 0, 3, rc);
    EXPECT_EQ(s.append('a'), String::NO_ERROR);
    EXPECT_EQ(s.append('b'), String::NO_ERROR);
    EXPECT_EQ(s.append('c'), String::NO_ERROR);
    EXPECT_EQ(s.append('d'), String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::string(buf, 4), std::string("abc\0", 4));
}

TEST(FaceString, AppendWithInvalidOperandsIsRefused) {
    String::RETURN_CODE rc;
    String invalid(0u, rc);
    String valid("ab", rc);
    String unbounded;
    EXPECT_EQ(invalid.append(valid), String::PRECONDITION_VIOLATED);
    EXPECT_EQ(invalid.append('c'), String::PRECONDITION_VIOLATED);
    EXPECT_EQ(unbounded.append(invalid), String::PRECONDITION_VIOLATED);
    EXPECT_EQ(text(unbounded), "");
}

TEST(FaceString, AppendToItself) {
    String s;
    s.append(String("abc"));
    EXPECT_EQ(s.append(s), String::NO_ERROR);
    EXPECT_EQ(text(s), "abcabc");

    char buf[16] = "xy";
    String::RETURN_CODE rc;
    String w(buf, 2, 10, rc);
    EXPECT_EQ(w.append(w), String::NO_ERROR);
    EXPECT_EQ(w.append(w[0]), String::NO_ERROR);
    EXPECT_STREQ(buf, "xyxyx");
}

TEST(FaceString, IndexPastTheEndYieldsTheTerminator) {
    String::RETURN_CODE rc;
    String const s("abc", rc);
    EXPECT_EQ(s[0], 'a');
    EXPECT_EQ(s[2], 'c');
    EXPECT_EQ(s[3], '\0');
    EXPECT_EQ(s[100], '\0');
    EXPECT_EQ(&s[100], &s[3]);
}

TEST(FaceString, AssignmentMakesManagedCopies) {
    char buf[8] = "wrap";
    String::RETURN_CODE rc;
    String const wrapped(buf, 4, 7, rc);

    String target("old text", rc);
    target = wrapped;
    EXPECT_TRUE(target.is_managed());
    EXPECT_EQ(target.bound(), 7u);
    EXPECT_EQ(text(target), "wrap");
    EXPECT_NE(target.buffer(), buf);
    buf[0] = 'W';
    EXPECT_EQ(text(target), "wrap");

    String invalid(0u, rc);
    target = invalid;
    EXPECT_FALSE(target.is_valid());
    expectInvalid(target);

    // An invalid target becomes valid again from a valid source.
    target = String("again");
    EXPECT_TRUE(target.is_managed());
    EXPECT_EQ(text(target), "again");

    String const copy(wrapped);
    EXPECT_TRUE(copy.is_managed());
    EXPECT_EQ(copy.bound(), 7u);
    String const invalidCopy(invalid);
    expectInvalid(invalidCopy);

    // Self-assignment of a wrapping string turns it into a managed copy.
    char own[8] = "self";
    String selfish(own, 4, 7, rc);
    String& alias = selfish;
    selfish = alias;
    EXPECT_TRUE(selfish.is_managed());
    EXPECT_EQ(text(selfish), "self");
    EXPECT_NE(selfish.buffer(), own);
}

TEST(FaceString, ClearKeepsBoundAndTerminates) {
    char buf[8] = "abcd";
    String::RETURN_CODE rc;
    String wrapped(buf, 4, 7, rc);
    wrapped.clear();
    EXPECT_EQ(wrapped.length(), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(wrapped.bound(), 7u);

    String managed("xyz", rc);
    managed.clear();
    EXPECT_EQ(text(managed), "");
    EXPECT_EQ(managed.append(String("123")), String::NO_ERROR);
    EXPECT_EQ(managed.append('4'), String::INSUFFICIENT_BOUND);

    String invalid(0u, rc);
    invalid.clear();
    EXPECT_FALSE(invalid.is_valid());

    // A view of constant text is never written through.
    String view("constant");
    view.clear();
    EXPECT_EQ(text(view), "constant");
}

TEST(FaceString, ComparisonAndStreaming) {
    String::RETURN_CODE rc;
    String const a("abc", rc);
    EXPECT_TRUE(a == "abc");
    EXPECT_TRUE("abc" == a);
    EXPECT_TRUE(a != "abcd");
    EXPECT_TRUE(a == String("abc"));
    EXPECT_TRUE(String(0u, rc) == "");
    EXPECT_TRUE(String() == static_cast<char const*>(nullptr));

    std::ostringstream os;
    os << a << '|' << String(0u, rc) << '|';
    EXPECT_EQ(os.str(), "abc||");
}

}  // namespace
