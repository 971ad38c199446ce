#include "utilities/StringUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

using Pieces = std::vector<std::string>;
using std::string;

TEST(StringUtilsTrim, RemovesOnlyTheSixWhitespaceCharacters) {
    const std::tuple<string, string, string, string> cases[] = {
        // input, ltrim, rtrim, trim
        {" \t abc \r\n", "abc \r\n", " \t abc", "abc"},
        {"\f\v ", "", "", ""},
        {"", "", "", ""},
        {"a b", "a b", "a b", "a b"},
        {"\x01x\x01", "\x01x\x01", "\x01x\x01", "\x01x\x01"},  // other control characters are text
        {string(" \0x ", 4), string("\0x ", 3), string(" \0x", 3), string("\0x", 2)},
    };
    for (const auto& [in, l, r, both] : cases) {
        EXPECT_EQ(std::make_tuple(StringUtils::ltrim(in), StringUtils::rtrim(in), StringUtils::trim(in)),
                  std::make_tuple(l, r, both))
            << in;
    }
}

TEST(StringUtilsSplit, SplitFollowsStreamReadingRulesJoinInvertsItChunksCutFixedSizes) {
    const std::pair<string, Pieces> cases[] = {
        {"a,,b,", {"a", "", "b"}}, {",a", {"", "a"}}, {"", {}}, {",,", {"", ""}}, {"abc", {"abc"}}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(StringUtils::split(in, ','), out) << in;
        EXPECT_EQ(StringUtils::join(out, ','), in.empty() || in.back() != ',' ? in : in.substr(0, in.size() - 1));
    }
    const std::tuple<string, unsigned, Pieces> chunks[] = {{"0123456789", 4, {"0123", "4567", "89"}},
                                                           {"0123456789", 11, {"0123456789"}},
                                                           {"", 4, {}},
                                                           {"abc", 0, {"abc"}}};
    for (const auto& [in, size, out] : chunks)
        EXPECT_EQ(StringUtils::splitToChunks(in, size), out) << in << "/" << size;
    Pieces out{"kept"};
    StringUtils::splitToChunks("abcde", 2, out);
    EXPECT_EQ(out, (Pieces{"kept", "ab", "cd", "e"}));
}

TEST(StringUtilsCstr, ReplaceKeepsLengthAndBoundedCopyAlwaysTerminates) {
    // A NUL replacement must not hide the rest of the text from later characters.
    char text[] = "x-y_z";
    StringUtils::cstr_replace(text, "-_", '\0');
    EXPECT_EQ(std::memcmp(text, "x\0y\0z", 6), 0);
    const std::tuple<const char*, std::size_t, const char*> copies[] = {
        {"abcdef", 4, "abc\0XXXX"}, {"ab", 6, "ab\0\0\0\0XX"}, {"abc", 0, "XXXXXXXX"}};
    for (const auto& [src, n, after] : copies) {
        char dst[8];
        std::memset(dst, 'X', sizeof dst);
        EXPECT_EQ(StringUtils::strncpy_prot(dst, src, n), dst);
        EXPECT_EQ(std::memcmp(dst, after, 8), 0) << src << "/" << n;
    }
}

}  // namespace
