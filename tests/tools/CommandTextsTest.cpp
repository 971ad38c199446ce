// Escaped command text lines: every byte can be written, and a bad escape
// is refused with its column rather than sent half-decoded.

#include "tools/aspn2-tool/CommandTexts.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(CommandTexts, DecodesEscapes) {
    struct Case {
        std::string line;
        std::string text;
    };
    Case const cases[] = {
        {"BITSERVER_PING", "BITSERVER_PING"},
        {"", ""},
        {"a\\\\b", "a\\b"},
        {"\\n\\r\\t", "\n\r\t"},
        {"\\x00\\xff\\x7F", std::string("\0\xff\x7f", 3)},
        {"PING\\x20junk", "PING junk"},
        {"\\\\x41", "\\x41"},  // an escaped backslash, then plain text
    };
    for (Case const& c : cases) {
        std::string text = "unchanged";
        std::string error;
        EXPECT_TRUE(aspn2_tool::decodeCommandText(c.line, text, error)) << c.line << ": " << error;
        EXPECT_EQ(text, c.text) << c.line;
    }
}

TEST(CommandTexts, RefusesBadEscapesWithTheirColumn) {
    std::pair<char const*, char const*> const cases[] = {
        {"abc\\", "column 4: a backslash at the end"},
        {"\\q", "column 1: unknown escape \\q"},
        {"xy\\x4", "column 3: \\x needs two hexadecimal digits"},
        {"\\xg0", "column 1: \\x needs two"},
        {"\\x", "column 1: \\x needs two"},
    };
    for (auto const& [line, expected] : cases) {
        std::string text = "unchanged";
        std::string error;
        EXPECT_FALSE(aspn2_tool::decodeCommandText(line, text, error)) << line;
        EXPECT_EQ(text, "unchanged") << line;
        EXPECT_NE(error.find(expected), std::string::npos) << line << " -> " << error;
    }
}

TEST(CommandTexts, ReadsEveryLineAndNamesTheBadOne) {
    corvane_test::TempDir dir;
    std::string const good = dir.path() + "/good.txt";
    std::ofstream(good, std::ios::binary) << "ONE\n\n\\x41\\x42\nlast without line feed";
    std::vector<std::string> texts;
    std::string error;
    ASSERT_TRUE(aspn2_tool::readCommandTexts(good, texts, error)) << error;
    EXPECT_EQ(texts, (std::vector<std::string>{"ONE", "", "AB", "last without line feed"}));

    std::string const bad = dir.path() + "/bad.txt";
    std::ofstream(bad, std::ios::binary) << "ok\nstill ok\nbroken\\\n";
    EXPECT_FALSE(aspn2_tool::readCommandTexts(bad, texts, error));
    EXPECT_NE(error.find(bad + ":3: column 7"), std::string::npos) << error;
    EXPECT_EQ(texts.size(), 4u) << "left as it was";

    EXPECT_FALSE(aspn2_tool::readCommandTexts(dir.path() + "/missing.txt", texts, error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

}  // namespace
