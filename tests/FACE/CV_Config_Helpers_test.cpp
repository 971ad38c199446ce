#include "FACE/CV_Config_Helpers.h"

#include "FACE/CV_Config.h"
#include "tests/FACE/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using face_test::container;
using face_test::document;
using face_test::RC;
using face_test::TempDir;
namespace Details = CV_Config_Helpers::Details;

TEST(ParseNumbers, AutomaticBaseLikeTheCLibrary) {
    struct Case {
        char const* text;
        unsigned long long asUnsigned;
        long long asSigned;
    };
    Case const cases[] = {
        {"0", 0, 0},
        {"42", 42, 42},
        {"0x2A", 42, 42},
        {"0X2a", 42, 42},
        {"052", 42, 42},  // leading zero: octal
        {"09", 0, 0},     // octal stops at the 9
        {"  17", 17, 17},
        {"+5", 5, 5},
        {"12abc", 12, 12},
        {"0x", 0, 0},
        {"", 0, 0},
        {"abc", 0, 0},
        {"-", 0, 0},
        {"-1", 18446744073709551615ULL, -1},
        {"0xFFFFFFFF", 4294967295ULL, 4294967295LL},
        {"4294967296", 4294967296ULL, 4294967296LL},
        {"99999999999999999999999", 18446744073709551615ULL, 9223372036854775807LL},
        {"-99999999999999999999999", 18446744073709551615ULL, -9223372036854775807LL - 1},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(Details::Parse_Unsigned(c.text), c.asUnsigned) << '"' << c.text << '"';
        EXPECT_EQ(Details::Parse_Signed(c.text), c.asSigned) << '"' << c.text << '"';
    }
}

class HelpersTest : public testing::Test {
protected:
    void SetUp() override {
        std::string const params =
            "<Text>hello world</Text><Empty></Empty><Upper>TRUE</Upper><Mixed>True</Mixed>"
            "<One>1</One><Hex>0x10</Hex><Lower>false</Lower><Zero>0</Zero><No>no</No>"
            "<Octal>010</Octal><Spaced> true </Spaced>";
        m_file = m_dir.write("helpers.xml", document(container("Server", "Srv", params)));
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        m_config.Initialize(FACE::String(m_file.c_str()), rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        m_config.Open(FACE::String("Srv"), m_handle, rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    }

    TempDir m_dir;
    std::string m_file;
    FACE::CV_Config m_config;
    int m_handle = -1;
};

TEST_F(HelpersTest, BooleanTextsAndNumbers) {
    struct Case {
        char const* parameter;
        bool value;
    };
    Case const cases[] = {
        {"Upper", true}, {"Mixed", true}, {"One", true},  {"Hex", true},    {"Octal", true},
        {"Lower", false}, {"Zero", false}, {"No", false}, {"Text", false}, {"Spaced", false},
    };
    for (Case const& c : cases) {
        for (bool const start : {false, true}) {
            bool value = start;
            RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;  // left as it was on success
            testing::internal::CaptureStdout();
            CV_Config_Helpers::Get_Boolean_Parameter(m_config, m_handle, FACE::String(c.parameter), value, rc);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
            EXPECT_EQ(value, c.value) << c.parameter;
            EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ACTION) << c.parameter;
        }
    }
}

TEST_F(HelpersTest, MissingOrEmptyParametersWarnAndLeaveTheValue) {
    for (char const* name : {"Empty", "Missing", "text"}) {
        SCOPED_TRACE(name);
        std::string const warning = std::string("WARNING - Parameter ") + name + " not found\n";

        FACE::String value("untouched");
        RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        testing::internal::CaptureStdout();
        CV_Config_Helpers::Get_String_Parameter(m_config, m_handle, FACE::String(name), value, rc);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), warning);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        EXPECT_EQ(value, "untouched");

        bool flag = true;
        rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        testing::internal::CaptureStdout();
        CV_Config_Helpers::Get_Boolean_Parameter(m_config, m_handle, FACE::String(name), flag, rc);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), warning);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        EXPECT_TRUE(flag);

        testing::internal::CaptureStdout();
        EXPECT_EQ(Details::Read_Config(m_config, m_handle, FACE::String(name)), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), warning);
    }
    // An unknown handle reads as missing too.
    testing::internal::CaptureStdout();
    EXPECT_EQ(Details::Read_Config(m_config, 987654, FACE::String("Text")), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING - Parameter Text not found\n");
}

TEST_F(HelpersTest, StringParameterBecomesABoundedManagedCopy) {
    FACE::String value;
    RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    CV_Config_Helpers::Get_String_Parameter(m_config, m_handle, FACE::String("Text"), value, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_EQ(value, "hello world");
    EXPECT_TRUE(value.is_managed());
    EXPECT_EQ(value.bound(), 11u);
}

TEST_F(HelpersTest, SettersWriteThroughAndReportFailures) {
    RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    CV_Config_Helpers::Set_Boolean_Parameter(m_config, m_handle, FACE::String("Lower"), true, rc);
    CV_Config_Helpers::Set_Boolean_Parameter(m_config, m_handle, FACE::String("Upper"), false, rc);
    CV_Config_Helpers::Set_String_Parameter(m_config, m_handle, FACE::String("Text"), FACE::String("bye"), rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);

    FACE::CV_Config reloaded;
    reloaded.Initialize(FACE::String(m_file.c_str()), rc);
    int h = -1;
    reloaded.Open(FACE::String("Srv"), h, rc);
    EXPECT_EQ(Details::Read_Config(reloaded, h, FACE::String("Lower")), "TRUE");
    EXPECT_EQ(Details::Read_Config(reloaded, h, FACE::String("Upper")), "FALSE");
    EXPECT_EQ(Details::Read_Config(reloaded, h, FACE::String("Text")), "bye");

    CV_Config_Helpers::Set_String_Parameter(m_config, m_handle, FACE::String("Missing"), FACE::String("x"), rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    CV_Config_Helpers::Set_Boolean_Parameter(m_config, m_handle, FACE::String("Empty"), true, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    FACE::String::RETURN_CODE src;
    CV_Config_Helpers::Set_String_Parameter(m_config, m_handle, FACE::String("Text"), FACE::String(0u, src), rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    EXPECT_FALSE(Details::Write_Config(m_config, 987654, FACE::String("Text"), FACE::String("x")));
}

}  // namespace
