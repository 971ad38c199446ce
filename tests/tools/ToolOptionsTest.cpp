// Command lines the tool refuses, with the reason it gives.

#include "tools/aspn2-tool/ToolOptions.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(ToolOptions, RejectedCommandLines) {
    std::pair<char const*, char const*> const cases[] = {
        // command line, part of the error
        {"", "a mode is required"},
        {"fly", "unknown mode \"fly\""},
        {"nav --bogus", "unknown option --bogus"},
        {"nav --rate", "--rate needs a value"},
        {"nav --rate fast", "--rate needs a rate 0..1000 Hz, not \"fast\""},
        {"nav --rate nan", "--rate needs"},
        {"nav --rate 10x", "--rate needs"},
        {"nav --domain 233", "--domain needs"},
        {"nav --nan speed", "--nan needs"},
        {"nav --rate 0 --utc-rate 0", "cannot both be 0"},
        {"nav --all", "option --all does not apply to nav"},
        {"command", "command needs the command TEXT"},
        {"command A B", "unexpected argument \"B\""},
        {"command A --type -1", "--type needs"},
        {"listen --source-id 5", "does not apply to listen"},
    };
    for (auto const& [line, expected] : cases) {
        std::istringstream in(line);
        nav_sim::ToolOptions o;
        std::string error;
        std::vector<std::string> const words{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
        EXPECT_FALSE(nav_sim::parseToolOptions(words, o, error)) << line;
        EXPECT_NE(error.find(expected), std::string::npos) << line << " -> " << error;
    }
}

}  // namespace
