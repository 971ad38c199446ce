#include "FACE/FACE_Common.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
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
    for (std::uint32_t v : {14u, 0xFFFFFFFFu}) {
        EXPECT_EQ(FACE::RETURN_CODE_TYPE::ToString(static_cast<Value>(v)), "RC_UNKNOWN");
    }
}

TEST(ReturnCode, GuardsPassOrPrintAndThrowTheSameText) {
    std::tuple<bool, Value, char const*, char const*, char const*> const cases[] = {
        // NO_ACTION allowed, code, file, message, text (null: returns normally)
        {false, FACE::RETURN_CODE_TYPE::NO_ERROR, "a.cpp", "m", nullptr},
        {false, FACE::RETURN_CODE_TYPE::NO_ACTION, "a.cpp", "Step() failed", "a.cpp[7]:NO_ACTION Step() failed"},
        {false, static_cast<Value>(99), "a.cpp", "m", "a.cpp[7]:RC_UNKNOWN m"},
        {true, FACE::RETURN_CODE_TYPE::NO_ACTION, "a.cpp", "m", nullptr},
        {true, FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, "b.cpp", "x", "b.cpp[7]:NOT_AVAILABLE x"},
        {true, FACE::RETURN_CODE_TYPE::TIMED_OUT, nullptr, nullptr, "[7]:TIMED_OUT "},
    };
    for (auto const& [noAction, rc, file, message, text] : cases) {
        auto const guard = noAction ? &FACE::Return_Code_Value_No_Error_No_Action : &FACE::Return_Code_Value_No_Error;
        std::string what = "<returned>";
        testing::internal::CaptureStdout();
        try {
            guard(file, 7, message, rc);
        } catch (std::runtime_error const& e) {
            what = e.what();
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), text == nullptr ? "" : std::string(text) + "\n");
        EXPECT_EQ(what, text == nullptr ? "<returned>" : text);
    }
}

// An element whose copies throw while s_fail is set.
struct Fragile {
    static bool s_fail;
    Fragile() = default;
    Fragile(Fragile const&) { failIfAsked(); }
    Fragile& operator=(Fragile const&) {
        failIfAsked();
        return *this;
    }
    static void failIfAsked() {
        if (s_fail) throw std::bad_alloc();
    }
};
bool Fragile::s_fail = false;

TEST(Sequence, BoundsValidityCopiesAndFailures) {
    FACE::Sequence<int>::RETURN_CODE rc;
    FACE::Sequence<int> bounded(2, rc);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(bounded.append(i), FACE::String::NO_ERROR);
    EXPECT_EQ(bounded.append(3), FACE::String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::vector<int>(bounded.begin(), bounded.end()), (std::vector<int>{0, 1}));
    for (unsigned int bad : {0u, 0xFFFFFFFFu}) {
        FACE::Sequence<int> invalid(bad, rc);
        EXPECT_EQ(rc, FACE::String::PRECONDITION_VIOLATED);
        EXPECT_EQ(invalid.append(1), FACE::String::PRECONDITION_VIOLATED);
        EXPECT_EQ(invalid.begin(), invalid.end());
    }
    FACE::Sequence<int>(nullptr, 0, 3, rc);
    EXPECT_EQ(rc, FACE::String::PRECONDITION_VIOLATED);

    int slots[3] = {7, 0, 0};
    FACE::Sequence<int> wrapped(slots, 1, 3, rc);
    EXPECT_EQ(wrapped.append(8), FACE::String::NO_ERROR);
    EXPECT_EQ(wrapped.append(9), FACE::String::NO_ERROR);
    EXPECT_EQ(wrapped.append(10), FACE::String::INSUFFICIENT_BOUND);
    EXPECT_EQ(std::vector<int>(wrapped.begin(), wrapped.end()), (std::vector<int>{7, 8, 9}));
    FACE::Sequence<int> copy(wrapped);
    copy[0] = 0;
    EXPECT_EQ(slots[0], 7);  // a copy never writes into the caller's array
    FACE::Sequence<int>(slots, 4, 3, rc);
    EXPECT_EQ(rc, FACE::String::PRECONDITION_VIOLATED);

    // Throwing element copies become code 2 and leave the sequence as it was.
    FACE::Sequence<Fragile> managed;
    Fragile external[1];
    FACE::Sequence<Fragile> unmanaged(external, 0, 1, rc);
    Fragile::s_fail = true;
    EXPECT_EQ(managed.append(Fragile()), FACE::String::INSUFFICIENT_MEMORY);
    EXPECT_EQ(unmanaged.append(Fragile()), FACE::String::INSUFFICIENT_MEMORY);
    EXPECT_EQ(managed.size() + unmanaged.size(), 0u);
    Fragile::s_fail = false;
    EXPECT_EQ(managed.append(Fragile()), FACE::String::NO_ERROR);
    Fragile::s_fail = true;
    EXPECT_FALSE(FACE::Sequence<Fragile>(managed).is_valid());
    Fragile::s_fail = false;
}

}  // namespace
