#include "FACE/FACE_Common.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using FACE::RETURN_CODE_TYPE::Value;

TEST(ReturnCode, ToStringNamesEveryCodeAndUnknownBeyond) {
    char const* const names[] = {"NO_ERROR", "NO_ACTION", "NOT_AVAILABLE", "INVALID_PARAM", "INVALID_CONFIG",
                                 "INVALID_MODE", "TIMED_OUT", "ADDR_IN_USE", "PERMISSION_DENIED", "MESSAGE_STALE",
                                 "IN_PROGRESS", "CONNECTION_CLOSED", "DATA_BUFFER_TOO_SMALL", "DATA_OVERFLOW"};
    for (std::uint32_t v = 0; v < 14; ++v) {
        EXPECT_EQ(FACE::RETURN_CODE_TYPE::ToString(static_cast<Value>(v)), names[v]);
    }
    for (std::uint32_t v : {14u, 255u, 0xFFFFFFFFu}) {
        FACE::String const s = FACE::RETURN_CODE_TYPE::ToString(static_cast<Value>(v));
        EXPECT_EQ(s, "RC_UNKNOWN");
        EXPECT_TRUE(s.is_managed());
    }
    static_assert(sizeof(Value) == 4, "return codes are held in 32 bits");
}

TEST(ReturnCode, GuardsPassOrPrintAndThrowTheSameText) {
    struct Case {
        bool noActionAllowed;
        Value rc;
        char const* file;
        int line;
        char const* message;
        char const* text;  // null: returns normally
    };
    Case const cases[] = {
        {false, FACE::RETURN_CODE_TYPE::NO_ERROR, "a.cpp", 1, "m", nullptr},
        {false, FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, "platform/FPGA", 56,
         "FpgaFace() FAILED to open processor interface",
         "platform/FPGA[56]:NOT_AVAILABLE FpgaFace() FAILED to open processor interface"},
        {false, FACE::RETURN_CODE_TYPE::NO_ACTION, "a.cpp", 7, "Step() failed", "a.cpp[7]:NO_ACTION Step() failed"},
        {false, static_cast<Value>(99), "a.cpp", -3, "m", "a.cpp[-3]:RC_UNKNOWN m"},
        {true, FACE::RETURN_CODE_TYPE::NO_ERROR, "a.cpp", 1, "m", nullptr},
        {true, FACE::RETURN_CODE_TYPE::NO_ACTION, "a.cpp", 1, "m", nullptr},
        {true, FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, "b.cpp", 2, "x", "b.cpp[2]:NOT_AVAILABLE x"},
        {true, FACE::RETURN_CODE_TYPE::TIMED_OUT, nullptr, 1, nullptr, "[1]:TIMED_OUT "},
    };
    for (Case const& c : cases) {
        auto const guard = c.noActionAllowed ? &FACE::Return_Code_Value_No_Error_No_Action
                                             : &FACE::Return_Code_Value_No_Error;
        std::string what = "<returned>";
        testing::internal::CaptureStdout();
        try {
            guard(c.file, c.line, c.message, c.rc);
        } catch (std::runtime_error const& e) {
            what = e.what();
        }
        std::string const console = testing::internal::GetCapturedStdout();
        SCOPED_TRACE(testing::Message() << "noAction=" << c.noActionAllowed << " rc=" << c.rc);
        EXPECT_EQ(what, c.text == nullptr ? "<returned>" : c.text);
        EXPECT_EQ(console, c.text == nullptr ? "" : std::string(c.text) + "\n");
    }
}

// An element whose copies can be made to throw.
struct Fragile {
    static bool s_fail;
    int value = 0;
    Fragile() = default;
    explicit Fragile(int v) : value(v) {}
    Fragile(Fragile const& o) : value(o.value) { failIfAsked(); }
    Fragile& operator=(Fragile const& o) {
        failIfAsked();
        value = o.value;
        return *this;
    }
    static void failIfAsked() {
        if (s_fail) throw std::bad_alloc();
    }
};
bool Fragile::s_fail = false;

TEST(Sequence, DefaultIsManagedUnboundedAndIterable) {
    FACE::Sequence<FACE::String> seq;
    EXPECT_TRUE(seq.is_managed());
    EXPECT_FALSE(seq.is_bounded());
    EXPECT_EQ(seq.begin(), seq.end());
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(seq.append(FACE::String(std::to_string(i).c_str())), FACE::String::NO_ERROR);
    }
    int expected = 0;
    for (FACE::String const& s : seq) {
        EXPECT_EQ(s, std::to_string(expected++).c_str());
        EXPECT_TRUE(s.is_managed());  // elements are copies, not views
    }
    EXPECT_EQ(expected, 1000);
    EXPECT_EQ(seq[999], "999");
}

TEST(Sequence, BoundsValidityAndFailedCopies) {
    FACE::Sequence<int>::RETURN_CODE rc;
    FACE::Sequence<int> bounded(2, rc);
    EXPECT_EQ(bounded.append(1), FACE::String::NO_ERROR);
    EXPECT_EQ(bounded.append(2), FACE::String::NO_ERROR);
    EXPECT_EQ(bounded.append(3), FACE::String::INSUFFICIENT_BOUND);
    EXPECT_EQ(bounded.size(), 2u);

    for (unsigned int bad : {0u, 0xFFFFFFFFu}) {
        FACE::Sequence<int> invalid(bad, rc);
        EXPECT_EQ(rc, FACE::String::PRECONDITION_VIOLATED);
        EXPECT_EQ(invalid.append(1), FACE::String::PRECONDITION_VIOLATED);
        EXPECT_EQ(invalid.begin(), invalid.end());
    }

    int slots[3] = {7, 0, 0};
    FACE::Sequence<int> wrapped(slots, 1, 3, rc);
    EXPECT_EQ(wrapped.append(8), FACE::String::NO_ERROR);
    EXPECT_EQ(wrapped.append(9), FACE::String::NO_ERROR);
    EXPECT_EQ(wrapped.append(10), FACE::String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::vector<int>(wrapped.begin(), wrapped.end()), (std::vector<int>{7, 8, 9}));
    FACE::Sequence<int> copy(wrapped);
    EXPECT_TRUE(copy.is_managed());
    copy[0] = 0;
    EXPECT_EQ(slots[0], 7);  // a copy never writes into the caller's array
    FACE::Sequence<int>(slots, 4, 3, rc);
    EXPECT_EQ(rc, FACE::String::PRECONDITION_VIOLATED);

    // Throwing element copies become code 2 and leave the sequence as it was.
    FACE::Sequence<Fragile> managed;
    Fragile external[1];
    FACE::Sequence<Fragile> unmanaged(external, 0, 1, rc);
    Fragile::s_fail = true;
    EXPECT_EQ(managed.append(Fragile(1)), FACE::String::INSUFFICIENT_MEMORY);
    EXPECT_EQ(unmanaged.append(Fragile(1)), FACE::String::INSUFFICIENT_MEMORY);
    Fragile::s_fail = false;
    EXPECT_EQ(managed.size() + unmanaged.size(), 0u);
    EXPECT_EQ(managed.append(Fragile(1)), FACE::String::NO_ERROR);
    Fragile::s_fail = true;
    EXPECT_FALSE(FACE::Sequence<Fragile>(managed).is_valid());
    Fragile::s_fail = false;
}

}  // namespace
