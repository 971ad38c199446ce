#include "ASPN/FaultHysteresis.h"

#include "tests/ASPN/QueueTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using EventTypes::eEventType;

std::vector<std::string> keys(const FaultHysteresis& f)
{
    std::vector<std::string> out;
    for (const auto& e : f.history()) {
        out.push_back(e.key);
    }
    return out;
}

class FaultHysteresisTest : public ::testing::Test {
protected:
    ManualClock clock;
    FaultHysteresis filter{clock.fn()};

    std::string check(int type, const std::string& file, int line, const std::string& info)
    {
        auto t = static_cast<eEventType>(type);
        std::string text = filter.Check(t, file, line, info);
        EXPECT_EQ(t, type) << "the type is never reclassified";
        return text;
    }
};

TEST_F(FaultHysteresisTest, PrefixesLocatedTypesAndRecordsOnlyFaults)
{
    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 2000));
    const struct {
        int type;
        const char* file;
        int line;
        const char* text;
        const char* key;  // nullptr: nothing recorded
    } cases[] = {
        {3, "src/a/b", 42, "b[42]:lost", "src/a/b42"},
        {2, "src/a/b", 42, "lost", nullptr},
        {4, "src/a/b", 42, "b[42]:lost", nullptr},
        {5, "/abs/x.cpp", 7, "x.cpp[7]:lost", nullptr},
        {0, "src/a/b", 42, "lost", nullptr},
        {1, "src/a/b", 42, "lost", nullptr},
        {9, "src/a/b", 42, "lost", nullptr},
        {-1, "src/a/b", 42, "lost", nullptr},
        {3, "x\\y", 1, "y[1]:lost", "x\\y1"},
        {3, "a\\b/c", 2, "c[2]:lost", "a\\b/c2"},
        {3, "plain", 0, "plain[0]:lost", "plain0"},
        {3, "dir/", -3, "[-3]:lost", "dir/-3"},
        {3, "", 5, "[5]:lost", "5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " type " + std::to_string(c.type));
        const auto before = filter.history().size();
        EXPECT_EQ(check(c.type, c.file, c.line, "lost"), c.text);
        const auto after = keys(filter);
        if (c.key == nullptr) {
            EXPECT_EQ(after.size(), before);
        } else {
            ASSERT_EQ(after.size(), before + 1);
            EXPECT_EQ(after.back(), c.key);
        }
    }
}

TEST_F(FaultHysteresisTest, InactiveUntilInitialisedWithNonZeroLimits)
{
    EXPECT_EQ(check(3, "src/a/b", 42, "lost"), "lost");
    EXPECT_EQ(check(5, "src/a/b", 42, "lost"), "lost");
    EXPECT_TRUE(filter.history().empty());

    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 0, 2000));
    EXPECT_EQ(check(3, "src/a/b", 42, "lost"), "lost");
    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 0));
    EXPECT_EQ(check(3, "src/a/b", 42, "lost"), "lost");
    EXPECT_TRUE(filter.history().empty());
}

TEST_F(FaultHysteresisTest, RefusedSettingsKeepTheOldOnesAndAcceptedOnesEmptyTheHistory)
{
    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 2000));
    check(3, "f", 1, "x");
    for (auto args : {std::vector<int>{-1, 16, 2000}, {180, -1, 2000}, {180, 16, -1}}) {
        EXPECT_FALSE(filter.OkInitFaultHysteresis(args[0], args[1], args[2]));
    }
    EXPECT_EQ(filter.history().size(), 1u);
    EXPECT_EQ(check(3, "f", 2, "x"), "f[2]:x");
    EXPECT_EQ(filter.history().size(), 2u);

    ASSERT_TRUE(filter.OkInitFaultHysteresis(10, 1, 3));
    EXPECT_TRUE(filter.history().empty());
    for (int line = 1; line <= 5; ++line) {
        check(3, "f", line, "x");
    }
    EXPECT_EQ(keys(filter), (std::vector<std::string>{"f3", "f4", "f5"}));
}

TEST_F(FaultHysteresisTest, FullHistoryEvictsTheOldest)
{
    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 2000));
    for (int i = 0; i < 2000; ++i) {
        check(3, "f", i, "x");
        clock.advance(1ms);
    }
    ASSERT_EQ(filter.history().size(), 2000u);
    EXPECT_EQ(filter.history().front().key, "f0");
    check(3, "f", 2000, "x");
    const auto h = keys(filter);
    ASSERT_EQ(h.size(), 2000u);
    EXPECT_EQ(h.front(), "f1");
    EXPECT_EQ(h.back(), "f2000");
}

TEST_F(FaultHysteresisTest, EntriesExpireAtTheWindowInWholeMilliseconds)
{
    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 2000));
    check(3, "old", 1, "x");
    clock.advance(179999ms + 999999ns);  // 179,999 ms after truncation
    check(3, "new", 2, "x");
    EXPECT_EQ(keys(filter), (std::vector<std::string>{"old1", "new2"}));

    clock.advance(1ns);  // the first is now exactly 180,000 ms old
    // Non-faults do not service the history.
    check(4, "other", 3, "x");
    EXPECT_EQ(filter.history().size(), 2u);
    check(3, "newer", 4, "x");
    EXPECT_EQ(keys(filter), (std::vector<std::string>{"new2", "newer4"}));

    // A zero window keeps everything until the capacity evicts it.
    ASSERT_TRUE(filter.OkInitFaultHysteresis(0, 16, 2000));
    check(3, "kept", 1, "x");
    clock.advance(24h);
    check(3, "kept", 2, "x");
    EXPECT_EQ(filter.history().size(), 2u);
}

TEST(FaultHysteresisInstance, IsOneProcessWideObject)
{
    EXPECT_EQ(&FaultHysteresis::Instance(), &FaultHysteresis::Instance());
}

}  // namespace
