#include "FACE/FACE_Common.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using FACE::RETURN_CODE_TYPE::Value;

TEST(ReturnCodeToString, NamesEveryCodeAndUnknownBeyond) {
    struct Case {
        std::uint32_t value;
        char const* text;
    };
    Case const cases[] = {
        {0, "NO_ERROR"},          {1, "NO_ACTION"},          {2, "NOT_AVAILABLE"},
        {3, "INVALID_PARAM"},     {4, "INVALID_CONFIG"},     {5, "INVALID_MODE"},
        {6, "TIMED_OUT"},         {7, "ADDR_IN_USE"},        {8, "PERMISSION_DENIED"},
        {9, "MESSAGE_STALE"},     {10, "IN_PROGRESS"},       {11, "CONNECTION_CLOSED"},
        {12, "DATA_BUFFER_TOO_SMALL"}, {13, "DATA_OVERFLOW"}, {14, "RC_UNKNOWN"},
        {255, "RC_UNKNOWN"},      {0xFFFFFFFFu, "RC_UNKNOWN"},
    };
    for (Case const& c : cases) {
        FACE::String const s = FACE::RETURN_CODE_TYPE::ToString(static_cast<Value>(c.value));
        EXPECT_TRUE(s.is_managed()) << c.value;
        EXPECT_EQ(std::string(s.buffer()), c.text) << c.value;
    }
    static_assert(sizeof(Value) == 4, "return code is held in 32 bits");
}

// Runs one guard and returns (threw, exception text, console output).
struct GuardOutcome {
    bool threw;
    std::string what;
    std::string console;
};

template <typename Guard>
GuardOutcome runGuard(Guard guard, char const* file, int line, char const* message, Value rc) {
    GuardOutcome out{false, "", ""};
    testing::internal::CaptureStdout();
    try {
        guard(file, line, message, rc);
    } catch (std::runtime_error const& e) {
        out.threw = true;
        out.what = e.what();
    }
    out.console = testing::internal::GetCapturedStdout();
    return out;
}

TEST(ReturnCodeGuards, PassOrPrintAndThrowByCode) {
    struct Case {
        bool noActionAllowed;
        std::uint32_t rc;
        bool throws;
    };
    Case const cases[] = {
        {false, 0, false}, {false, 1, true}, {false, 2, true}, {false, 13, true}, {false, 99, true},
        {true, 0, false},  {true, 1, false}, {true, 2, true},  {true, 4, true},   {true, 99, true},
    };
    for (Case const& c : cases) {
        auto const guard = c.noActionAllowed ? &FACE::Return_Code_Value_No_Error_No_Action
                                             : &FACE::Return_Code_Value_No_Error;
        GuardOutcome const out = runGuard(guard, "src/File.cpp", 7, "Step() failed",
                                          static_cast<Value>(c.rc));
        SCOPED_TRACE(testing::Message() << "noAction=" << c.noActionAllowed << " rc=" << c.rc);
        EXPECT_EQ(out.threw, c.throws);
        if (c.throws) {
            std::string const expected = "src/File.cpp[7]:" +
                std::string(FACE::RETURN_CODE_TYPE::ToString(static_cast<Value>(c.rc)).buffer()) +
                " Step() failed";
            EXPECT_EQ(out.what, expected);
            EXPECT_EQ(out.console, expected + "\n");
        } else {
            EXPECT_EQ(out.console, "");
        }
    }
}

TEST(ReturnCodeGuards, ComposesTheExactText) {
    GuardOutcome const out = runGuard(&FACE::Return_Code_Value_No_Error, "platform/FPGA", 56,
                                      "FpgaFace() FAILED to open processor interface",
                                      FACE::RETURN_CODE_TYPE::NOT_AVAILABLE);
    EXPECT_EQ(out.what, "platform/FPGA[56]:NOT_AVAILABLE FpgaFace() FAILED to open processor interface");
    EXPECT_EQ(out.console, out.what + "\n");

    GuardOutcome const noAction = runGuard(&FACE::Return_Code_Value_No_Error, "a.cpp", -3, "m",
                                           FACE::RETURN_CODE_TYPE::NO_ACTION);
    EXPECT_EQ(noAction.what, "a.cpp[-3]:NO_ACTION m");

    GuardOutcome const nulls = runGuard(&FACE::Return_Code_Value_No_Error_No_Action, nullptr, 1,
                                        nullptr, FACE::RETURN_CODE_TYPE::TIMED_OUT);
    EXPECT_EQ(nulls.what, "[1]:TIMED_OUT ");
}

// ---------------------------------------------------------------- Sequence

// An element whose copies can be made to fail, to check that failures are
// turned into codes and leave the sequence as it was.
struct Fragile {
    static int s_failAfter;  // copies left before the next one throws; < 0: never
    int value = 0;
    Fragile() = default;
    explicit Fragile(int v) : value(v) {}
    Fragile(Fragile const& o) : value(o.value) { maybeFail(); }
    Fragile& operator=(Fragile const& o) {
        maybeFail();
        value = o.value;
        return *this;
    }
    static void maybeFail() {
        if (s_failAfter == 0) {
            throw std::bad_alloc();
        }
        if (s_failAfter > 0) {
            --s_failAfter;
        }
    }
};
int Fragile::s_failAfter = -1;

TEST(Sequence, DefaultIsManagedUnboundedAndTakesManyElements) {
    FACE::Sequence<FACE::String> seq;
    EXPECT_TRUE(seq.is_valid());
    EXPECT_TRUE(seq.is_managed());
    EXPECT_FALSE(seq.is_bounded());
    EXPECT_EQ(seq.size(), 0u);
    EXPECT_EQ(seq.begin(), seq.end());
    for (int i = 0; i < 1000; ++i) {
        FACE::String::RETURN_CODE rc;
        ASSERT_EQ(seq.append(FACE::String(std::to_string(i).c_str(), rc)), FACE::String::NO_ERROR);
    }
    ASSERT_EQ(seq.length(), 1000u);
    int expected = 0;
    for (FACE::String const& s : seq) {
        EXPECT_EQ(s, std::to_string(expected).c_str());
        EXPECT_TRUE(s.is_managed());
        ++expected;
    }
    EXPECT_EQ(expected, 1000);
    EXPECT_EQ(seq[999], "999");
}

TEST(Sequence, BoundsAndValidityOfEveryKind) {
    FACE::Sequence<int>::RETURN_CODE rc;
    FACE::Sequence<int> bounded(2, rc);
    EXPECT_EQ(rc, FACE::String::NO_ERROR);
    EXPECT_EQ(bounded.append(1), FACE::String::NO_ERROR);
    EXPECT_EQ(bounded.append(2), FACE::String::NO_ERROR);
    EXPECT_EQ(bounded.append(3), FACE::String::INSUFFICIENT_BOUND);
    EXPECT_EQ(bounded.size(), 2u);

    for (unsigned int bad : {0u, 0xFFFFFFFFu}) {
        FACE::Sequence<int> invalid(bad, rc);
        EXPECT_EQ(rc, FACE::String::PRECONDITION_VIOLATED);
        EXPECT_FALSE(invalid.is_valid());
        EXPECT_EQ(invalid.append(1), FACE::String::PRECONDITION_VIOLATED);
        EXPECT_EQ(invalid.size(), 0u);
        EXPECT_EQ(invalid.bound(), 0u);
        EXPECT_EQ(invalid.begin(), invalid.end());
    }

    int slots[3] = {7, 0, 0};
    FACE::Sequence<int> wrapped(slots, 1, 3, rc);
    ASSERT_EQ(rc, FACE::String::NO_ERROR);
    EXPECT_FALSE(wrapped.is_managed());
    EXPECT_EQ(wrapped.append(8), FACE::String::NO_ERROR);
    EXPECT_EQ(wrapped.append(9), FACE::String::NO_ERROR);
    EXPECT_EQ(wrapped.append(10), FACE::String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::vector<int>(wrapped.begin(), wrapped.end()), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(slots[2], 9);

    FACE::Sequence<int> nullData(nullptr, 0, 3, rc);
    EXPECT_EQ(rc, FACE::String::PRECONDITION_VIOLATED);
    FACE::Sequence<int> tooLong(slots, 4, 3, rc);
    EXPECT_EQ(rc, FACE::String::PRECONDITION_VIOLATED);
}

TEST(Sequence, FailedCopiesBecomeCodesAndChangeNothing) {
    FACE::Sequence<Fragile> managed;
    Fragile::s_failAfter = 0;
    EXPECT_EQ(managed.append(Fragile(1)), FACE::String::INSUFFICIENT_MEMORY);
    EXPECT_EQ(managed.size(), 0u);
    Fragile::s_failAfter = -1;
    EXPECT_EQ(managed.append(Fragile(1)), FACE::String::NO_ERROR);

    Fragile slots[2];
    FACE::Sequence<Fragile>::RETURN_CODE rc;
    FACE::Sequence<Fragile> wrapped(slots, 0, 2, rc);
    Fragile::s_failAfter = 0;
    EXPECT_EQ(wrapped.append(Fragile(5)), FACE::String::INSUFFICIENT_MEMORY);
    EXPECT_EQ(wrapped.size(), 0u);

    // A copy of the whole sequence that fails gives an invalid sequence.
    Fragile::s_failAfter = 0;
    FACE::Sequence<Fragile> copy(managed);
    EXPECT_FALSE(copy.is_valid());
    Fragile::s_failAfter = -1;
}

TEST(Sequence, CopiesAreManagedAndMovesEmptyTheSource) {
    int slots[2] = {0, 0};
    FACE::Sequence<int>::RETURN_CODE rc;
    FACE::Sequence<int> wrapped(slots, 0, 2, rc);
    wrapped.append(4);

    FACE::Sequence<int> copy(wrapped);
    EXPECT_TRUE(copy.is_managed());
    EXPECT_EQ(copy.bound(), 2u);
    copy[0] = 5;
    EXPECT_EQ(slots[0], 4);  // the copy does not write into the caller's array

    FACE::Sequence<int> assigned;
    assigned = copy;
    EXPECT_EQ(assigned[0], 5);

    FACE::Sequence<int> moved(std::move(assigned));
    EXPECT_EQ(moved.size(), 1u);
    EXPECT_TRUE(assigned.is_valid());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(assigned.size(), 0u);
    EXPECT_EQ(assigned.append(1), FACE::String::NO_ERROR);

    moved.clear();
    EXPECT_EQ(moved.size(), 0u);
    EXPECT_EQ(moved.append(6), FACE::String::NO_ERROR);  // the bound still holds
    EXPECT_EQ(moved.append(7), FACE::String::NO_ERROR);
    EXPECT_EQ(moved.append(8), FACE::String::INSUFFICIENT_BOUND);
}

}  // namespace
