// Syslog priority prefixes on the console's fault lines, only when the
// console is the journal stream.
#include "platform/JournalPriority.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>

namespace {

TEST(JournalPriority, FaultLinesGetErrorOrWarningTheRestNothing) {
    const struct {
        const char* line;
        const char* prefix;
    } rows[] = {
        {"!!!!!! ./ZOziDaZodOduzuz has exited after a failure.", "<3>"},
        {"!!!!!! ZOziDaZodOduzuz has failed: bad_alloc", "<3>"},
        {"!!!!!! ZOziDaZodOduzuz has exited. Signal: 15", ""},
        {"ZOziDaZodOduzuz.cpp[88]:INVALID_CONFIG Framework_Connect() failed", "<3>"},
        {"ZOziDaZodOduzuz: Configure: /opt/corvane/config/ZOziDaZodOduzuz.xml:69: error: <PRI> \"-1\"", "<3>"},
        {"ZOziDaZodOduzuz: workerThreadFunction() EXCEPTION: boom (onset 1, 1 cycles)", "<3>"},
        {"ZOziDaZodOduzuz: config.xml:3: warning: <Debug> \"yes\" read as false", "<4>"},
        {"ZOziDaZodOduzuz started successfully.", ""},
        {"", ""},
    };
    for (const auto& row : rows) {
        EXPECT_STREQ(JournalPriority::prefixFor(row.line), row.prefix) << row.line;
    }
}

TEST(JournalPriority, BufferPrefixesWholeLinesAndKeepsAPartialOneForItsNewline) {
    std::stringstream target;
    {
        JournalPriority::PrefixingBuffer buffer(target.rdbuf());
        std::ostream out(&buffer);
        out << "first line\n!!!!!! x has failed: y" << std::flush;
        EXPECT_EQ(target.str(), "first line\n");
        out << " and more\nwarning: last";
    }
    EXPECT_EQ(target.str(), "first line\n<3>!!!!!! x has failed: y and more\n<4>warning: last\n");
}

TEST(JournalPriority, OnlyTheStreamJournalStreamNamesCounts) {
    corvane_test::TempDir dir("journal-stream");
    const int fd = ::open((dir.path() + "/out").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    const std::string match = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const std::string other = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);
    EXPECT_TRUE(JournalPriority::isJournalStream(fd, match.c_str()));
    for (const std::string& text : {other, std::string(), std::string("12"), match + "x", std::string("a:b")}) {
        EXPECT_FALSE(JournalPriority::isJournalStream(fd, text.c_str())) << text;
    }
    EXPECT_FALSE(JournalPriority::isJournalStream(fd, nullptr));
    ::close(fd);
}

}  // namespace
