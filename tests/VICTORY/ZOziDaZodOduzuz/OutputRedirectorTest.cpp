// Redirection of the C standard output streams. Assertions wait until the
// redirection and the descriptor capture are undone: the test framework
// itself prints through stdout.
#include "VICTORY/ZOziDaZodOduzuz/OutputRedirector.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <tuple>

namespace {

using zozi_test::Fd1Capture;

// A writer that records every text and answers `result`, or the length
// when `result` is negative.
struct Recorder {
    std::mutex mutex;
    std::vector<std::string> texts;
    int result = -1;

    COutputRedirector::Writer writer() {
        return [this](const char* t, unsigned length) {
            std::lock_guard<std::mutex> lock(mutex);
            texts.emplace_back(t, length);
            return result < 0 ? static_cast<int>(length) : result;
        };
    }
    std::string all() const {
        std::string a;
        for (const auto& t : texts) a += t;
        return a;
    }
};

// Each write call reaches the writer whole and at once (a fault text of
// several lines is recognised by its first line); std::cout is not
// redirected; the destructor delivers the rest and puts the streams back.
TEST(OutputRedirector, ConsumedTextGoesToTheWriterOnlyOneCallAtATime) {
    Recorder recorder;
    Fd1Capture fd1;
    FILE* const savedOut = stdout;
    FILE* const savedErr = stderr;
    bool redirected = false;
    std::size_t beforeEnd = 0;
    const std::string fault = "SOAP 1.2 fault SOAP-ENV:Sender\n\"reason\"\nDetail: detail\n";
    {
        COutputRedirector redirector;
        redirected = redirector.redirect(recorder.writer());
        std::fputs(fault.c_str(), stdout);
        std::fprintf(stderr, "first\nsecond %d\n", 2);
        std::cout << "through std::cout\n" << std::flush;
        std::fputs("unterminated", stdout);
        beforeEnd = recorder.texts.size();
    }
    const bool restored = stdout == savedOut && stderr == savedErr;
    std::fputs("after\n", stdout);
    fd1.restore();

    EXPECT_TRUE(redirected);
    EXPECT_TRUE(restored);
    EXPECT_EQ(beforeEnd, 3u);
    EXPECT_EQ(recorder.texts, (std::vector<std::string>{fault, "first\nsecond 2\n", "unterminated"}));
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
    EXPECT_EQ(recorder.all(), "not mine\n" + binary);  // offered first
}

// One redirection at a time; a writer that throws loses only that text; no
// writer (or nothing saved to write to) drops the text.
TEST(OutputRedirector, OneRedirectionAtATimeAndFailingWriters) {
    Recorder first, second;
    int calls = 0;
    Fd1Capture fd1;
    COutputRedirector a, b;
    const bool firstOk = a.redirect(first.writer());
    const bool secondOk = b.redirect(second.writer());
    std::fputs("one\n", stdout);
    COutputRedirector::reset();
    COutputRedirector::reset();  // nothing left to undo
    const bool again = b.redirect([&](const char* text, unsigned length) -> int {
        if (++calls == 1) throw std::runtime_error("writer failed");
        return second.writer()(text, length);
    });
    std::fputs("dropped\n", stdout);
    std::fputs("two\n", stdout);
    COutputRedirector::reset();
    const bool empty = a.redirect(nullptr);
    std::fputs("no writer\n", stdout);
    COutputRedirector::reset();
    fd1.restore();

    EXPECT_EQ(std::make_tuple(firstOk, secondOk, again, empty), std::make_tuple(true, false, true, true));
    EXPECT_EQ(first.all(), "one\n");
    EXPECT_EQ(second.all(), "two\n");
    EXPECT_EQ(fd1.text(), "");
    EXPECT_EQ(COutputRedirector::file_write(nullptr, "x", 1), 0);
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
    std::istringstream lines(recorder.all());
    std::vector<int> next(kThreads, 0);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(i, next[t]++) << line;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
