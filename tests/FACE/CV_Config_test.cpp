#include "FACE/CV_Config.h"

#include "tests/FACE/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace face_test;
namespace Code = FACE::RETURN_CODE_TYPE;
using Whence = FACE::Configuration::WHENCE_TYPE;

// Connection containers A, B and C share one tag; between them lie an
// element without "Name", a connection with an empty "Name" (no container)
// and a container of another tag that repeats the name "A".
std::string sampleDocument() {
    return document(container("System", "Corvane",
                              "<System>Main</System><Digits>12345</Digits><Empty></Empty>"
                              "<Padded>  two  words </Padded><Escaped>a&amp;b&lt;c</Escaped>"
                              "<Nested><Inner>x</Inner></Nested><Digits>999</Digits>") +
                    container("Connection", "A", "<Topic>ta</Topic>") + "<Junk>no name</Junk>" +
                    container("Connection", "", "<Topic>unnamed</Topic>") +
                    container("Connection", "B", "<Topic>tb</Topic>") +
                    container("Other", "A", "<Topic>other-a</Topic>") +
                    container("Connection", "C", "<Topic>tc</Topic>") +
                    container("ByTag", "Differs", "<Topic>bytag</Topic>") +
                    "<NoParams><Name>NoParams</Name></NoParams>");
}

class CvConfig : public testing::Test {
protected:
    void SetUp() override {
        m_file = m_dir.write("config.xml", sampleDocument());
        ASSERT_EQ(initConfig(m_config, FACE::String(m_file.c_str())), Code::NO_ERROR);
    }
    int open(char const* name) { return openHandle(m_config, name); }
    std::string read(int handle, char const* parameter) { return readValue(m_config, handle, parameter); }

    TempDir m_dir;
    std::string m_file;
    FACE::CV_Config m_config;
};

TEST_F(CvConfig, OpenFindsContainersByNameOrTag) {
    struct Case {
        char const* name;
        char const* topic;  // "Topic" through the handle; null: Open fails with 4
    };
    Case const cases[] = {
        {"A", "ta"},  // the first of two named "A"
        {"B", "tb"},       {"Other", "other-a"}, {"ByTag", "bytag"}, {"Differs", "bytag"},
        {"Connection", "ta"},  // by tag, the first one
        {"Junk", nullptr},     // no "Name": no container
        {"", nullptr},         {"a", nullptr},   {"Corvane/System", nullptr}, {"Topic", nullptr},
    };
    for (Case const& c : cases) {
        FACE::CV_Config config;
        initConfig(config, FACE::String(m_file.c_str()));
        RC rc;
        int const h = openHandle(config, c.name, &rc);
        EXPECT_EQ(rc, c.topic == nullptr ? Code::INVALID_CONFIG : Code::NO_ERROR) << c.name;
        if (c.topic != nullptr) {
            EXPECT_EQ(readValue(config, h, "Topic"), c.topic) << c.name;
        }
    }
}

TEST_F(CvConfig, HandlesAreSharedPerTagAndUniqueInTheProcess) {
    int const a = open("A");
    EXPECT_EQ(open("B"), a);
    EXPECT_EQ(read(a, "Topic"), "tb");
    EXPECT_EQ(open("A"), a);
    EXPECT_EQ(read(a, "Topic"), "ta");
    int const system = open("Corvane");
    EXPECT_NE(system, a);
    EXPECT_EQ(read(a, ""), "A");  // the other tag's handle did not move

    // A handle whose current name matches is returned as it is, even when
    // a lookup would find another container of that name first.
    FACE::CV_Config byName;
    initConfig(byName, FACE::String(m_file.c_str()));
    int const otherTag = openHandle(byName, "Other");
    EXPECT_EQ(openHandle(byName, "A"), otherTag);
    EXPECT_EQ(readValue(byName, otherTag, "Topic"), "other-a");

    RC rc;
    m_config.Close(system, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    m_config.Close(system, rc);
    EXPECT_EQ(rc, Code::INVALID_CONFIG);
    EXPECT_EQ(read(system, "System"), "<rc 4>");
    int const reopened = open("Corvane");
    FACE::CV_Config other;
    initConfig(other, FACE::String(m_file.c_str()));
    int const foreign = openHandle(other, "Corvane");
    std::vector<int> const all = {a, system, reopened, foreign};
    EXPECT_EQ(std::set<int>(all.begin(), all.end()).size(), 4u);  // never reused
    EXPECT_EQ(readValue(other, reopened, "System"), "<rc 4>");
}

TEST_F(CvConfig, InitializeOnceAndOpenRequiresIt) {
    FACE::CV_Config fresh;
    RC rc;
    openHandle(fresh, "Corvane", &rc);
    EXPECT_EQ(rc, Code::INVALID_MODE);

    std::string const other = m_dir.write("other.xml", document(container("X", "OnlyHere", "")));
    EXPECT_EQ(initConfig(m_config, FACE::String(other.c_str())), Code::NO_ERROR);
    openHandle(m_config, "OnlyHere", &rc);
    EXPECT_EQ(rc, Code::INVALID_CONFIG);  // the first file stays loaded
}

TEST_F(CvConfig, SizeAndReadOfEachKindOfParameter) {
    struct Case {
        char const* container;
        char const* parameter;
        std::string value;  // empty: Get_Size 4 and Read 3
    };
    Case const cases[] = {
        {"Corvane", "Digits", "12345"},  // the first of two
        {"Corvane", "", "Corvane"},      // an empty name reads "Name"
        {"Corvane", "Padded", "  two  words "}, {"Corvane", "Escaped", "a&b<c"},
        {"Corvane", "Empty", ""},        {"Corvane", "Nested", ""},
        {"Corvane", "Missing", ""},      {"Corvane", "digits", ""},
        {"Corvane", "Parameters/Digits", ""},
        {"NoParams", "Topic", ""},       {"NoParams", "", "NoParams"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.container) + "/" + c.parameter);
        int const h = open(c.container);
        int size = -1;
        RC rc;
        m_config.Get_Size(h, FACE::String(c.parameter), size, rc);
        EXPECT_EQ(rc, c.value.empty() ? Code::INVALID_CONFIG : Code::NO_ERROR);
        if (!c.value.empty()) {
            EXPECT_EQ(size, static_cast<int>(c.value.size()));
        }
        EXPECT_EQ(read(h, c.parameter), c.value.empty() ? "<rc 3>" : c.value);
    }

    int const bogus = 1'000'000;  // an unknown handle
    char buf[8];
    int n = 0;
    RC rc[5];
    m_config.Get_Size(bogus, FACE::String("Topic"), n, rc[0]);
    m_config.Read(bogus, FACE::String("Topic"), buf, 8, n, rc[1]);
    m_config.Write(bogus, FACE::String("Topic"), buf, 8, n, rc[2]);
    m_config.Seek(bogus, Whence::SEEK_FROM_START, 0, rc[3]);
    m_config.Close(bogus, rc[4]);
    for (RC r : rc) {
        EXPECT_EQ(r, Code::INVALID_CONFIG);
    }
}

TEST_F(CvConfig, ReadZeroFillsAndNeverPassesTheBufferSize) {
    struct Case {
        int size;
        std::string content;  // the `size` bytes afterwards
    };
    Case const cases[] = {{0, ""}, {4, "1234"}, {5, "12345"}, {8, std::string("12345\0\0\0", 8)}};
    int const h = open("Corvane");
    for (Case const& c : cases) {
        std::vector<char> buf(static_cast<std::size_t>(c.size) + 16, 'X');
        int bytes = -1;
        RC rc;
        m_config.Read(h, FACE::String("Digits"), buf.data(), c.size, bytes, rc);
        EXPECT_EQ(rc, Code::NO_ERROR);
        EXPECT_EQ(bytes, std::min(c.size, 5));
        EXPECT_EQ(std::string(buf.begin(), buf.end()), c.content + std::string(16, 'X')) << c.size;
    }
    int bytes = -1;
    RC rc;
    m_config.Read(h, FACE::String("Digits"), nullptr, 4, bytes, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
    char buf[4];
    m_config.Read(h, FACE::String("Digits"), buf, -1, bytes, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
}

TEST_F(CvConfig, SeekMovesAmongContainersOfTheHandlesTag) {
    struct Case {
        char const* from;
        int whence;
        int offset;
        RC rc;
        char const* at;  // the current container afterwards
    };
    Case const cases[] = {
        {"B", 0, 0, Code::NO_ERROR, "A"},          {"A", 2, 0, Code::NO_ERROR, "C"},
        {"A", 0, 1, Code::NO_ERROR, "B"},          {"A", 0, 2, Code::NO_ERROR, "C"},
        {"A", 0, 3, Code::INVALID_PARAM, "A"},     {"A", 0, -1, Code::INVALID_PARAM, "A"},
        {"B", 1, 1, Code::NO_ERROR, "C"},          {"B", 1, -1, Code::NO_ERROR, "A"},
        {"C", 1, 1, Code::INVALID_PARAM, "C"},     {"A", 2, 1, Code::NO_ERROR, "B"},
        {"A", 2, 2, Code::NO_ERROR, "A"},          {"A", 2, -1, Code::INVALID_PARAM, "A"},
        {"B", 1, INT_MIN, Code::INVALID_PARAM, "B"}, {"B", 1, INT_MAX, Code::INVALID_PARAM, "B"},
        {"B", 3, 0, Code::INVALID_CONFIG, "B"},    {"B", -1, 0, Code::INVALID_CONFIG, "B"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " whence " << c.whence << " offset " << c.offset);
        int const h = open(c.from);
        RC rc;
        m_config.Seek(h, static_cast<Whence::Value>(c.whence), c.offset, rc);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(read(h, ""), c.at);
        EXPECT_EQ(read(h, "Topic"), std::string("t") + static_cast<char>(c.at[0] - 'A' + 'a'));
        EXPECT_EQ(open(c.at), h);
    }
}

TEST_F(CvConfig, WriteSavesAValueThatANewInstanceReads) {
    for (std::string const& value : {std::string("a<b>&\"c'"), std::string("  spaced  "), std::string(300, 'z')}) {
        int bytes = -1;
        EXPECT_EQ(writeValue(m_config, open("B"), "Topic", value, &bytes), Code::NO_ERROR);
        EXPECT_EQ(bytes, static_cast<int>(value.size()));
        FACE::CV_Config reloaded;
        ASSERT_EQ(initConfig(reloaded, FACE::String(m_file.c_str())), Code::NO_ERROR);
        EXPECT_EQ(readValue(reloaded, openHandle(reloaded, "B"), "Topic"), value);
        EXPECT_EQ(readValue(reloaded, openHandle(reloaded, "Corvane"), "Padded"), "  two  words ");
    }
    EXPECT_NE(readFile(m_file).find("\n    <"), std::string::npos);  // saved indented
}

TEST_F(CvConfig, WriteCreatesAMissingFileWithMode0644) {
    int const h = open("A");
    ASSERT_EQ(::unlink(m_file.c_str()), 0);
    mode_t const old = ::umask(022);
    EXPECT_EQ(writeValue(m_config, h, "Topic", "new"), Code::NO_ERROR);
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(m_file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_NE(readFile(m_file).find("<Topic>new</Topic>"), std::string::npos);
}

TEST_F(CvConfig, WriteRefusesMissingTargetsAndLeavesTheFileAlone) {
    std::string const before = readFile(m_file);
    for (char const* parameter : {"", "Empty", "Missing", "Nested"}) {
        int bytes = -1;
        EXPECT_EQ(writeValue(m_config, open("Corvane"), parameter, "v", &bytes), Code::INVALID_PARAM) << parameter;
        EXPECT_EQ(bytes, 0);
    }
    EXPECT_EQ(writeValue(m_config, open("NoParams"), "Topic", "v"), Code::INVALID_PARAM);
    int bytes;
    RC rc;
    m_config.Write(open("A"), FACE::String("Topic"), nullptr, 3, bytes, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
    EXPECT_EQ(readFile(m_file), before);
    EXPECT_EQ(read(open("Corvane"), "Empty"), "<rc 3>");
}

TEST_F(CvConfig, FailedSaveReportsNoActionAndKeepsTheValueInMemory) {
    int const h = open("A");
    ASSERT_EQ(::unlink(m_file.c_str()), 0);
    ASSERT_EQ(::mkdir(m_file.c_str(), 0755), 0);  // cannot be opened for writing
    int bytes = -1;
    EXPECT_EQ(writeValue(m_config, h, "Topic", "kept", &bytes), Code::NO_ACTION);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(read(h, "Topic"), "kept");

    if (::access("/dev/full", W_OK) == 0) {  // opens, but the flush fails
        ASSERT_EQ(::rmdir(m_file.c_str()), 0);
        ASSERT_EQ(::symlink("/dev/full", m_file.c_str()), 0);
        EXPECT_EQ(writeValue(m_config, h, "Topic", "lost on disk"), Code::NO_ACTION);
        EXPECT_EQ(read(h, "Topic"), "lost on disk");
    }
}

}  // namespace
