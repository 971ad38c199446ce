#include "ASPN/FaultHysteresis.h"

#include "tests/ASPN/QueueTestSupport.h"

namespace {

using namespace std::chrono_literals;
using Keys = std::vector<std::string>;

class FaultHysteresisTest : public ::testing::Test {
protected:
    ManualClock clock;
    FaultHysteresis filter{clock.fn()};

    std::string check(int type, const std::string& file, int line, const std::string& info = "x") {
        auto t = static_cast<EventTypes::eEventType>(type);
        std::string text = filter.Check(t, file, line, info);
        EXPECT_EQ(t, type) << "the type is never reclassified";
        return text;
    }
    Keys keys() const {
        Keys out;
        for (const auto& e : filter.history()) out.push_back(e.key);
        return out;
    }
};

TEST_F(FaultHysteresisTest, PrefixesLocatedTypesAndRecordsOnlyFaults) {
    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 2000));
    const struct {
        int type;
        const char *file, *text, *key;  // key nullptr: nothing recorded
    } cases[] = {
        {3, "src/a/b", "b[42]:lost", "src/a/b42"}, {2, "src/a/b", "lost", nullptr},
        {4, "src/a/b", "b[42]:lost", nullptr},     {5, "/abs/x.cpp", "x.cpp[42]:lost", nullptr},
        {0, "src/a/b", "lost", nullptr},           {9, "src/a/b", "lost", nullptr},
        {-1, "src/a/b", "lost", nullptr},          {3, "x\\y", "y[42]:lost", "x\\y42"},
        {3, "a\\b/c", "c[42]:lost", "a\\b/c42"},   {3, "dir/", "[42]:lost", "dir/42"},
    };
    for (const auto& c : cases) {
        Keys expected = keys();
        if (c.key != nullptr) expected.push_back(c.key);
        EXPECT_EQ(check(c.type, c.file, 42, "lost"), c.text) << c.file << " type " << c.type;
        EXPECT_EQ(keys(), expected) << c.file << " type " << c.type;
    }
    EXPECT_EQ(check(3, "f", -3), "f[-3]:x");
}

// Inactive until given non-zero limits; refused settings keep the old ones,
// accepted ones empty the history, and a full history evicts the oldest.
TEST_F(FaultHysteresisTest, SettingsAndCapacity) {
    for (auto args : {std::vector<int>{180, 0, 2000}, {180, 16, 0}}) {
        ASSERT_TRUE(filter.OkInitFaultHysteresis(args[0], args[1], args[2]));
        EXPECT_EQ(check(3, "src/a/b", 42, "lost"), "lost");
    }
    EXPECT_TRUE(filter.history().empty());
    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 2000));
    check(3, "f", 1);
    for (auto args : {std::vector<int>{-1, 16, 2000}, {180, -1, 2000}, {180, 16, -1}}) {
        EXPECT_FALSE(filter.OkInitFaultHysteresis(args[0], args[1], args[2]));
    }
    EXPECT_EQ(check(3, "f", 2), "f[2]:x");
    EXPECT_EQ(keys(), (Keys{"f1", "f2"}));
    ASSERT_TRUE(filter.OkInitFaultHysteresis(10, 1, 3));
    EXPECT_TRUE(filter.history().empty());
    for (int line = 1; line <= 5; ++line) check(3, "f", line);
    EXPECT_EQ(keys(), (Keys{"f3", "f4", "f5"}));
}

TEST_F(FaultHysteresisTest, EntriesExpireAtTheWindowInWholeMilliseconds) {
    ASSERT_TRUE(filter.OkInitFaultHysteresis(180, 16, 2000));
    check(3, "old", 1);
    clock.advance(179999ms + 999999ns);  // 179,999 ms after truncation
    check(3, "new", 2);
    EXPECT_EQ(keys(), (Keys{"old1", "new2"}));
    clock.advance(1ns);    // the first is now exactly 180,000 ms old
    check(4, "other", 3);  // non-faults do not service the history
    EXPECT_EQ(keys(), (Keys{"old1", "new2"}));
    check(3, "newer", 4);
    EXPECT_EQ(keys(), (Keys{"new2", "newer4"}));

    // A zero window keeps everything until the capacity evicts it.
    ASSERT_TRUE(filter.OkInitFaultHysteresis(0, 16, 2000));
    check(3, "kept", 1);
    clock.advance(24h);
    check(3, "kept", 2);
    EXPECT_EQ(filter.history().size(), 2u);
}

}  // namespace
