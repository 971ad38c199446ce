// Redirection of the C standard output streams. Assertions wait until the
// redirection and the descriptor capture are undone: GoogleTest itself
// prints through stdout.
#include "VICTORY/ZOziDaZodOduzuz/OutputRedirector.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using zozi_test::Fd1Capture;

// A writer that records every text and answers `result`, or the length
// when `result` is negative.
struct Recorder {
    std::mutex mutex;
    std::string text;
    int calls = 0;
    int result = -1;

    COutputRedirector::Writer writer() {
        return [this](const char* t, unsigned length) {
            std::lock_guard<std::mutex> lock(mutex);
            text.append(t, length);
            ++calls;
            return result < 0 ? static_cast<int>(length) : result;
        };
    }
};

TEST(OutputRedirector, ConsumedTextGoesToTheWriterOnly) {
    Recorder recorder;
    Fd1Capture fd1;
    FILE* const savedOut = stdout;
    FILE* const savedErr = stderr;
    bool redirected = false;
    {
        COutputRedirector redirector;
        redirected = redirector.redirect(recorder.writer());
        std::fputs("to stdout\n", stdout);
        std::fprintf(stderr, "to stderr %d\n", 42);
        std::cout << "through std::cout\n" << std::flush;
        std::fputs("unterminated", stdout);
    }  // the destructor delivers the pending text and puts the streams back
    const bool restored = stdout == savedOut && stderr == savedErr;
    std::fputs("after\n", stdout);
    fd1.restore();

    EXPECT_TRUE(redirected);
    EXPECT_TRUE(restored);
    EXPECT_EQ(recorder.text, "to stdout\nto stderr 42\nunterminated");
    EXPECT_EQ(fd1.text(), "through std::cout\nafter\n");
}

TEST(OutputRedirector, UnconsumedTextReachesTheSavedStdoutUnchanged) {
    Recorder recorder;
    recorder.result = 0;
    const std::string binary("x\0y\xff\n", 5);
    Fd1Capture fd1;
    COutputRedirector redirector;
    const bool redirected = redirector.redirect(recorder.writer());
    std::fputs("not mine\n", stdout);
    std::fwrite(binary.data(), 1, binary.size(), stdout);
    COutputRedirector::reset();
    fd1.restore();

    EXPECT_TRUE(redirected);
    EXPECT_EQ(fd1.text(), "not mine\n" + binary);
    EXPECT_EQ(recorder.text, "not mine\n" + binary);  // offered first
}

// A fault text of several lines, written in one call, must reach the
// writer whole: the writer recognises it by its first line.
TEST(OutputRedirector, EachCallReachesTheWriterAsOneText) {
    std::vector<std::string> texts;
    Fd1Capture fd1;
    COutputRedirector redirector;
    const bool redirected = redirector.redirect([&](const char* text, unsigned length) {
        texts.emplace_back(text, length);
        return static_cast<int>(length);
    });
    const std::string fault = "SOAP 1.2 fault SOAP-ENV:Sender\n\"reason\"\nDetail: detail\n";
    std::fputs(fault.c_str(), stdout);
    std::fprintf(stderr, "first\nsecond %d\n", 2);
    std::fputs("no end of line", stdout);
    const std::size_t beforeReset = texts.size();
    COutputRedirector::reset();
    fd1.restore();

    EXPECT_TRUE(redirected);
    EXPECT_EQ(beforeReset, 3u);  // nothing waits for a flush
    EXPECT_EQ(texts, (std::vector<std::string>{fault, "first\nsecond 2\n", "no end of line"}));
}

TEST(OutputRedirector, OneRedirectionAtATime) {
    Recorder first, second;
    Fd1Capture fd1;
    COutputRedirector a, b;
    const bool firstOk = a.redirect(first.writer());
    const bool secondOk = b.redirect(second.writer());
    std::fputs("one\n", stdout);
    COutputRedirector::reset();
    COutputRedirector::reset();  // nothing left to undo
    const bool again = b.redirect(second.writer());
    std::fputs("two\n", stdout);
    COutputRedirector::reset();
    fd1.restore();

    EXPECT_TRUE(firstOk);
    EXPECT_FALSE(secondOk);
    EXPECT_TRUE(again);
    EXPECT_EQ(first.text, "one\n");
    EXPECT_EQ(second.text, "two\n");
    EXPECT_EQ(fd1.text(), "");
}

TEST(OutputRedirector, ThrowingOrMissingWriterDropsTheText) {
    int calls = 0;
    std::string kept;
    Fd1Capture fd1;
    COutputRedirector redirector;
    const bool redirected = redirector.redirect([&](const char* text, unsigned length) -> int {
        if (++calls == 1) throw std::runtime_error("writer failed");
        kept.assign(text, length);
        return static_cast<int>(length);
    });
    std::fputs("dropped\n", stdout);
    std::fputs("kept\n", stdout);
    COutputRedirector::reset();
    COutputRedirector empty;
    const bool emptyRedirected = empty.redirect(nullptr);
    std::fputs("no writer\n", stdout);
    COutputRedirector::reset();
    fd1.restore();

    EXPECT_TRUE(redirected && emptyRedirected);
    EXPECT_EQ(kept, "kept\n");
    EXPECT_EQ(fd1.text(), "");
    EXPECT_EQ(COutputRedirector::file_write(nullptr, "x", 1), 0);  // nothing saved to write to
}

TEST(OutputRedirector, LinesFromManyThreadsArriveWholeAndInOrder) {
    Recorder recorder;
    constexpr int kThreads = 4, kLines = 200;
    Fd1Capture fd1;
    COutputRedirector redirector;
    const bool redirected = redirector.redirect(recorder.writer());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) std::fprintf(stdout, "thread %d line %d\n", t, i);
        });
    }
    for (auto& th : threads) th.join();
    COutputRedirector::reset();
    fd1.restore();

    ASSERT_TRUE(redirected);
    std::istringstream lines(recorder.text);
    std::string line;
    std::vector<int> next(kThreads, 0);
    int count = 0;
    while (std::getline(lines, line)) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(i, next[t]++) << line;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
