#include "FACE/CV_Config_Helpers.h"

#include "tests/FACE/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using namespace face_test;
namespace Code = FACE::RETURN_CODE_TYPE;
namespace Details = CV_Config_Helpers::Details;

TEST(ParseNumbers, AutomaticBaseAsTheCLibrary) {
    struct Case {
        char const* text;
        unsigned long long asUnsigned;
        long long asSigned;
    };
    Case const cases[] = {
        {"42", 42, 42},   {"0x2A", 42, 42}, {"0X2a", 42, 42}, {"052", 42, 42}, {"09", 0, 0},
        {" +17", 17, 17}, {"12abc", 12, 12}, {"0x", 0, 0},    {"", 0, 0},      {"abc", 0, 0},
        {"-1", 18446744073709551615ULL, -1}, {"0xFFFFFFFF", 4294967295ULL, 4294967295LL},
        {"99999999999999999999999", 18446744073709551615ULL, 9223372036854775807LL},
        {"-99999999999999999999999", 18446744073709551615ULL, -9223372036854775807LL - 1},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(Details::Parse_Unsigned(c.text), c.asUnsigned) << '"' << c.text << '"';
        EXPECT_EQ(Details::Parse_Signed(c.text), c.asSigned) << '"' << c.text << '"';
    }
}

class Helpers : public testing::Test {
protected:
    void SetUp() override {
        m_file = m_dir.write("h.xml", document(container(
            "Server", "Srv",
            "<Text>hello world</Text><Empty></Empty><Upper>TRUE</Upper><Mixed>True</Mixed><One>1</One>"
            "<Hex>0x10</Hex><Octal>010</Octal><Lower>false</Lower><Zero>0</Zero><No>no</No>")));
        ASSERT_EQ(initConfig(m_config, FACE::String(m_file.c_str())), Code::NO_ERROR);
        m_handle = openHandle(m_config, "Srv");
    }

    TempDir m_dir;
    std::string m_file;
    FACE::CV_Config m_config;
    int m_handle = -1;
};

TEST_F(Helpers, GettersReadTextsAndBooleansOrWarnAndLeaveTheValue) {
    std::pair<char const*, bool> const cases[] = {{"Upper", true}, {"Mixed", true}, {"One", true},
                                                  {"Hex", true},   {"Octal", true}, {"Lower", false},
                                                  {"Zero", false}, {"No", false},   {"Text", false}};
    for (auto const& [name, expected] : cases) {
        bool value = !expected;
        RC rc = Code::NO_ACTION;  // left as it was on success
        CV_Config_Helpers::Get_Boolean_Parameter(m_config, m_handle, FACE::String(name), value, rc);
        EXPECT_EQ(value, expected) << name;
        EXPECT_EQ(rc, Code::NO_ACTION) << name;
    }
    FACE::String value;
    RC rc = Code::NO_ACTION;
    CV_Config_Helpers::Get_String_Parameter(m_config, m_handle, FACE::String("Text"), value, rc);
    EXPECT_EQ(value, "hello world");
    EXPECT_EQ(rc, Code::NO_ACTION);

    for (char const* name : {"Empty", "Missing"}) {
        FACE::String text("untouched");
        bool flag = true;
        RC rcs[2] = {Code::NO_ERROR, Code::NO_ERROR};
        testing::internal::CaptureStdout();
        CV_Config_Helpers::Get_String_Parameter(m_config, m_handle, FACE::String(name), text, rcs[0]);
        CV_Config_Helpers::Get_Boolean_Parameter(m_config, m_handle, FACE::String(name), flag, rcs[1]);
        std::string const warning = std::string("WARNING - Parameter ") + name + " not found\n";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), warning + warning);
        EXPECT_TRUE(rcs[0] == Code::INVALID_CONFIG && rcs[1] == Code::INVALID_CONFIG) << name;
        EXPECT_TRUE(text == "untouched" && flag) << name;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(Details::Read_Config(m_config, 987654, FACE::String("Text")), "");  // unknown handle
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING - Parameter Text not found\n");
}

TEST_F(Helpers, SettersWriteThroughAndReportFailures) {
    RC rc = Code::NO_ERROR;
    CV_Config_Helpers::Set_Boolean_Parameter(m_config, m_handle, FACE::String("Lower"), true, rc);
    CV_Config_Helpers::Set_Boolean_Parameter(m_config, m_handle, FACE::String("Upper"), false, rc);
    CV_Config_Helpers::Set_String_Parameter(m_config, m_handle, FACE::String("Text"), FACE::String("bye"), rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    FACE::CV_Config reloaded;
    initConfig(reloaded, FACE::String(m_file.c_str()));
    int const h = openHandle(reloaded, "Srv");
    EXPECT_EQ(Details::Read_Config(reloaded, h, FACE::String("Lower")), "TRUE");
    EXPECT_EQ(Details::Read_Config(reloaded, h, FACE::String("Upper")), "FALSE");
    EXPECT_EQ(Details::Read_Config(reloaded, h, FACE::String("Text")), "bye");

    FACE::String::RETURN_CODE src;
    RC failures[3] = {Code::NO_ERROR, Code::NO_ERROR, Code::NO_ERROR};
    CV_Config_Helpers::Set_String_Parameter(m_config, m_handle, FACE::String("Missing"), FACE::String("x"), failures[0]);
    CV_Config_Helpers::Set_Boolean_Parameter(m_config, m_handle, FACE::String("Empty"), true, failures[1]);
    CV_Config_Helpers::Set_String_Parameter(m_config, m_handle, FACE::String("Text"), FACE::String(0u, src), failures[2]);
    for (RC r : failures) EXPECT_EQ(r, Code::INVALID_CONFIG);
}

}  // namespace
