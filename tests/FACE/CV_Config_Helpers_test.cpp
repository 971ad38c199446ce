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
    } const cases[] = {
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

// Getters set the return code only on failure, and then leave the value alone.
TEST(ConfigHelpers, GettersReadTextsAndBooleansOrWarnAndSettersWriteThrough) {
    TempDir dir;
    std::string const file = dir.write("h.xml", document(container(
        "Server", "Srv", "<Text>hello world</Text><Empty></Empty><Upper>TRUE</Upper><Mixed>True</Mixed><One>1</One>"
                         "<Hex>0x10</Hex><Octal>010</Octal><Lower>false</Lower><Zero>0</Zero><No>no</No>")));
    FACE::CV_Config config;
    ASSERT_EQ(initConfig(config, FACE::String(file.c_str())), Code::NO_ERROR);
    int const h = openHandle(config, "Srv");
    std::pair<char const*, bool> const booleans[] = {{"Upper", true}, {"Mixed", true}, {"One", true},
                                                     {"Hex", true},   {"Octal", true}, {"Lower", false},
                                                     {"Zero", false}, {"No", false},   {"Text", false}};
    for (auto const& [name, expected] : booleans) {
        bool value = !expected;
        RC rc = Code::NO_ACTION;
        CV_Config_Helpers::Get_Boolean_Parameter(config, h, FACE::String(name), value, rc);
        EXPECT_EQ(std::make_pair(value, rc), std::make_pair(expected, Code::NO_ACTION)) << name;
    }
    FACE::String text;
    RC rc = Code::NO_ACTION;
    CV_Config_Helpers::Get_String_Parameter(config, h, FACE::String("Text"), text, rc);
    EXPECT_EQ(std::make_pair(std::string(text.buffer()), rc), std::make_pair(std::string("hello world"), Code::NO_ACTION));

    for (char const* name : {"Empty", "Missing"}) {
        FACE::String kept("untouched");
        bool flag = true;
        RC rcs[2] = {Code::NO_ERROR, Code::NO_ERROR};
        testing::internal::CaptureStdout();
        CV_Config_Helpers::Get_String_Parameter(config, h, FACE::String(name), kept, rcs[0]);
        CV_Config_Helpers::Get_Boolean_Parameter(config, h, FACE::String(name), flag, rcs[1]);
        std::string const warning = std::string("WARNING - Parameter ") + name + " not found\n";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), warning + warning);
        EXPECT_TRUE(rcs[0] == Code::INVALID_CONFIG && rcs[1] == Code::INVALID_CONFIG) << name;
        EXPECT_TRUE(kept == "untouched" && flag) << name;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(Details::Read_Config(config, 987654, FACE::String("Text")), "");  // unknown handle
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING - Parameter Text not found\n");

    CV_Config_Helpers::Set_Boolean_Parameter(config, h, FACE::String("Lower"), true, rc);
    CV_Config_Helpers::Set_Boolean_Parameter(config, h, FACE::String("Upper"), false, rc);
    CV_Config_Helpers::Set_String_Parameter(config, h, FACE::String("Text"), FACE::String("bye"), rc);
    EXPECT_EQ(rc, Code::NO_ACTION);
    FACE::CV_Config reloaded;
    initConfig(reloaded, FACE::String(file.c_str()));
    int const r = openHandle(reloaded, "Srv");
    EXPECT_EQ(readValue(reloaded, r, "Lower") + readValue(reloaded, r, "Upper") + readValue(reloaded, r, "Text"),
              "TRUEFALSEbye");

    FACE::String::RETURN_CODE src;
    RC failures[3] = {Code::NO_ERROR, Code::NO_ERROR, Code::NO_ERROR};
    CV_Config_Helpers::Set_String_Parameter(config, h, FACE::String("Missing"), FACE::String("x"), failures[0]);
    CV_Config_Helpers::Set_Boolean_Parameter(config, h, FACE::String("Empty"), true, failures[1]);
    CV_Config_Helpers::Set_String_Parameter(config, h, FACE::String("Text"), FACE::String(0u, src), failures[2]);
    for (RC f : failures) EXPECT_EQ(f, Code::INVALID_CONFIG);
}

}  // namespace
