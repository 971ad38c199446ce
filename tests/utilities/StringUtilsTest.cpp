#include "utilities/StringUtils.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Pieces = std::vector<std::string>;

TEST(StringUtilsTrim, RemovesOnlyTheSixWhitespaceCharacters)
{
    struct Case {
        std::string in, l, r, both;
    };
    const Case cases[] = {
        {" \t abc \r\n", "abc \r\n", " \t abc", "abc"},
        {"\f\v ", "", "", ""},
        {"", "", "", ""},
        {"abc ", "abc ", "abc", "abc"},
        {"a b", "a b", "a b", "a b"},
        {"\x01x\x01", "\x01x\x01", "\x01x\x01", "\x01x\x01"},  // other control characters are text
        {std::string(" \0x ", 4), std::string("\0x ", 3), std::string(" \0x", 3), std::string("\0x", 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(StringUtils::ltrim(c.in), c.l);
        EXPECT_EQ(StringUtils::rtrim(c.in), c.r);
        EXPECT_EQ(StringUtils::trim(c.in), c.both);
    }
}

TEST(StringUtilsSplitJoin, SplitFollowsStreamReadingRulesAndJoinInvertsIt)
{
    struct Case {
        std::string in;
        Pieces out;
    };
    const Case cases[] = {
        {"a,,b,", {"a", "", "b"}}, {",a", {"", "a"}}, {"", {}},           {",", {""}},
        {",,", {"", ""}},          {"abc", {"abc"}},  {"PING,1,2", {"PING", "1", "2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        const Pieces pieces = StringUtils::split(c.in, ',');
        EXPECT_EQ(pieces, c.out);
        if (c.in.empty() || c.in.back() != ',') {
            EXPECT_EQ(StringUtils::join(pieces, ','), c.in);
        }
    }
    EXPECT_EQ(StringUtils::join({"a", "b", "c"}, '/'), "a/b/c");
    EXPECT_EQ(StringUtils::join({"only"}, '/'), "only");
}

TEST(StringUtilsChunks, CutsIntoFixedSizePiecesWithShortLast)
{
    struct Case {
        std::string in;
        unsigned size;
        Pieces out;
    };
    const Case cases[] = {
        {"0123456789", 4, {"0123", "4567", "89"}}, {"0123456789", 10, {"0123456789"}},
        {"0123456789", 11, {"0123456789"}},        {"0123456789", 5, {"01234", "56789"}},
        {"", 4, {}},                               {"abc", 0, {"abc"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in + "/" + std::to_string(c.size));
        EXPECT_EQ(StringUtils::splitToChunks(c.in, c.size), c.out);
    }
    Pieces out{"kept"};
    StringUtils::splitToChunks("abcde", 2, out);
    EXPECT_EQ(out, (Pieces{"kept", "ab", "cd", "e"}));
}

TEST(StringUtilsCstr, ReplaceKeepsLengthAndBoundedCopyAlwaysTerminates)
{
    char text[] = "a-b_c";
    StringUtils::cstr_replace(text, "-_", ' ');
    EXPECT_STREQ(text, "a b c");
    // A NUL replacement must not hide the rest of the text from later characters.
    char withNul[] = "x-y_z";
    StringUtils::cstr_replace(withNul, "-_", '\0');
    EXPECT_EQ(std::memcmp(withNul, "x\0y\0z", 6), 0);

    char dst[8];
    std::memset(dst, 'X', sizeof dst);
    EXPECT_EQ(StringUtils::strncpy_prot(dst, "abcdef", 4), dst);
    EXPECT_EQ(std::memcmp(dst, "abc\0XXXX", 8), 0);
    std::memset(dst, 'X', sizeof dst);
    StringUtils::strncpy_prot(dst, "ab", 6);
    EXPECT_EQ(std::memcmp(dst, "ab\0\0\0\0XX", 8), 0);
    std::memset(dst, 'X', sizeof dst);
    StringUtils::strncpy_prot(dst, "abc", 0);
    EXPECT_EQ(dst[0], 'X');
}

}  // namespace
