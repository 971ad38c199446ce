// The checking view of a configuration file finds what CV_Config finds:
// the same container for a name (by "Name" or by tag, the first in
// document order) and the same value for a key (the first element, spaces
// kept). Were they to differ, the checker would report on values the
// server never reads.
#include "FACE/ConfigDiagnostics.h"
#include "FACE/CV_Config_Helpers.h"
#include "tests/FACE/ConfigTestSupport.h"

#include <gtest/gtest.h>

namespace {

using face_test::container;
using face_test::document;

TEST(ConfigDiagnostics, FindsWhatTheConfigurationServiceFinds) {
    const std::string body = container("Transport", "FastRtps", "<A>1</A><A>2</A><B> spaced </B><E></E>") +
                             container("Conn", "Command", "<A>c</A>") + container("Conn", "Command", "<A>second</A>") +
                             container("Command", "Other", "<A>by tag</A>") +
                             "<Stray><Parameters><A>x</A></Parameters></Stray>" +
                             container("Conn", "Response", "<A>&amp;r</A>");
    face_test::TempDir dir;
    const std::string path = dir.write("c.xml", document(body));

    FACE::ConfigDiagnostics::Diagnostics diagnostics;
    FACE::ConfigDiagnostics::ConfigFile view(path, "test file", diagnostics);
    ASSERT_TRUE(view.ok());
    FACE::CV_Config config;
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    config.Initialize(path.c_str(), rc);
    ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);

    for (const char* name : {"FastRtps", "Transport", "Command", "Other", "Conn", "Stray", "Response", "None"}) {
        for (const char* key : {"A", "B", "E", "Z"}) {
            SCOPED_TRACE(std::string(name) + "/" + key);
            int handle = -1;
            config.Open(name, handle, rc);
            auto const* found = view.find(name);
            ASSERT_EQ(rc == FACE::RETURN_CODE_TYPE::NO_ERROR, found != nullptr);
            if (found == nullptr) continue;
            const std::string read = CV_Config_Helpers::Details::Read_Config(config, handle, key);
            EXPECT_EQ(view.parameter(found, key).value, read);
            config.Close(handle, rc);
        }
    }
    // The duplicates are reported, each once, at the later element.
    std::size_t twice = 0;
    for (const auto& d : diagnostics.all()) twice += d.message.find("given twice") != std::string::npos ? 1 : 0;
    EXPECT_EQ(twice, 1u);
}

TEST(ConfigDiagnostics, NumbersAndBooleansWithoutGuessing) {
    using FACE::ConfigDiagnostics::isBooleanText;
    using FACE::ConfigDiagnostics::isWholeNumber;
    for (const char* yes : {"0", "42", " 7 ", "0x2A", "052", "18446744073709551615"})
        EXPECT_TRUE(isWholeNumber(yes)) << yes;
    for (const char* no : {"", "-1", "+1", "abc", "4k", "0x", "08", "18446744073709551616", "1 2"})
        EXPECT_FALSE(isWholeNumber(no)) << no;
    for (const char* yes : {"true", "FALSE", "True", "1", "0x10"}) EXPECT_TRUE(isBooleanText(yes)) << yes;
    for (const char* no : {"yes", "on", "ture", " true ", ""}) EXPECT_FALSE(isBooleanText(no)) << no;
}

}  // namespace
