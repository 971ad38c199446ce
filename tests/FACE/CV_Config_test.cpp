#include "FACE/CV_Config.h"

#include "tests/FACE/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <tuple>
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
    std::pair<char const*, char const*> const cases[] = {
        // name, "Topic" through the handle (null: Open fails with 4)
        {"A", "ta"},  // the first of two named "A"
        {"Other", "other-a"}, {"ByTag", "bytag"}, {"Differs", "bytag"},
        {"Connection", "ta"},  // by tag, the first one
        {"Junk", nullptr},     // no "Name": no container
        {"", nullptr},         {"a", nullptr},   {"Topic", nullptr},
    };
    for (auto const& [name, topic] : cases) {
        FACE::CV_Config config;
        initConfig(config, FACE::String(m_file.c_str()));
        RC rc;
        int const h = openHandle(config, name, &rc);
        EXPECT_EQ(rc, topic == nullptr ? Code::INVALID_CONFIG : Code::NO_ERROR) << name;
        EXPECT_EQ(readValue(config, h, "Topic"), topic == nullptr ? "<rc 4>" : topic) << name;
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

    RC rc;
    m_config.Close(system, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    m_config.Close(system, rc);
    EXPECT_EQ(rc, Code::INVALID_CONFIG);
    int const reopened = open("Corvane");
    std::set<int> const all = {a, system, reopened, otherTag};
    EXPECT_EQ(all.size(), 4u);  // never reused, across instances too
    EXPECT_EQ(readValue(byName, reopened, "System"), "<rc 4>");

    FACE::CV_Config fresh;
    openHandle(fresh, "Corvane", &rc);
    EXPECT_EQ(rc, Code::INVALID_MODE);
    std::string const other = m_dir.write("other.xml", document(container("X", "OnlyHere", "")));
    EXPECT_EQ(initConfig(m_config, FACE::String(other.c_str())), Code::NO_ERROR);
    openHandle(m_config, "OnlyHere", &rc);
    EXPECT_EQ(rc, Code::INVALID_CONFIG);  // the first file stays loaded
}

TEST_F(CvConfig, SizeAndReadOfEachKindOfParameter) {
    std::tuple<char const*, char const*, std::string> const cases[] = {
        // container, parameter, value (empty: Get_Size 4 and Read 3)
        {"Corvane", "Digits", "12345"},  // the first of two
        {"Corvane", "", "Corvane"},      // an empty name reads "Name"
        {"Corvane", "Padded", "  two  words "}, {"Corvane", "Escaped", "a&b<c"},
        {"Corvane", "Empty", ""},        {"Corvane", "Nested", ""},
        {"Corvane", "digits", ""},       {"NoParams", "Topic", ""},
    };
    for (auto const& [container, parameter, value] : cases) {
        int const h = open(container);
        int size = -1;
        RC rc;
        m_config.Get_Size(h, FACE::String(parameter), size, rc);
        EXPECT_EQ(rc, value.empty() ? Code::INVALID_CONFIG : Code::NO_ERROR) << container << "/" << parameter;
        EXPECT_EQ(size, value.empty() ? -1 : static_cast<int>(value.size())) << container << "/" << parameter;
        EXPECT_EQ(read(h, parameter), value.empty() ? "<rc 3>" : value) << container << "/" << parameter;
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
    for (RC r : rc) EXPECT_EQ(r, Code::INVALID_CONFIG);
}

TEST_F(CvConfig, ReadZeroFillsAndNeverPassesTheBufferSize) {
    std::pair<int, std::string> const cases[] = {{0, ""}, {4, "1234"}, {8, std::string("12345\0\0\0", 8)}};
    int const h = open("Corvane");
    for (auto const& [size, content] : cases) {
        std::vector<char> buf(static_cast<std::size_t>(size) + 16, 'X');
        int bytes = -1;
        RC rc;
        m_config.Read(h, FACE::String("Digits"), buf.data(), size, bytes, rc);
        EXPECT_EQ(rc, Code::NO_ERROR);
        EXPECT_EQ(bytes, std::min(size, 5));
        EXPECT_EQ(std::string(buf.begin(), buf.end()), content + std::string(16, 'X')) << size;
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
    std::tuple<char const*, int, int, RC, char const*> const cases[] = {
        // from, whence, offset, code, the current container afterwards
        {"B", 0, 0, Code::NO_ERROR, "A"},          {"A", 2, 0, Code::NO_ERROR, "C"},
        {"A", 0, 2, Code::NO_ERROR, "C"},          {"A", 0, 3, Code::INVALID_PARAM, "A"},
        {"A", 0, -1, Code::INVALID_PARAM, "A"},    {"B", 1, 1, Code::NO_ERROR, "C"},
        {"B", 1, -1, Code::NO_ERROR, "A"},         {"C", 1, 1, Code::INVALID_PARAM, "C"},
        {"A", 2, 1, Code::NO_ERROR, "B"},          {"A", 2, -1, Code::INVALID_PARAM, "A"},
        {"B", 1, INT_MIN, Code::INVALID_PARAM, "B"}, {"B", 3, 0, Code::INVALID_CONFIG, "B"},
        {"B", -1, 0, Code::INVALID_CONFIG, "B"},
    };
    auto topicOf = [](char const* name) { return std::string("t") + static_cast<char>(name[0] - 'A' + 'a'); };
    for (auto const& [from, whence, offset, code, at] : cases) {
        SCOPED_TRACE(testing::Message() << from << " whence " << whence << " offset " << offset);
        int const h = open(from);
        RC rc;
        m_config.Seek(h, static_cast<Whence::Value>(whence), offset, rc);
        EXPECT_EQ(rc, code);
        EXPECT_EQ(read(h, "Topic"), topicOf(at));
        EXPECT_EQ(read(open(from), "Topic"), topicOf(from));  // the handle took the new name
    }
}

TEST_F(CvConfig, WriteSavesAValueThatANewInstanceReads) {
    for (std::string const& value : {std::string("a<b>&\"c'"), std::string("  spaced  ")}) {
        int bytes = -1;
        EXPECT_EQ(writeValue(m_config, open("B"), "Topic", value, &bytes), Code::NO_ERROR);
        EXPECT_EQ(bytes, static_cast<int>(value.size()));
        FACE::CV_Config reloaded;
        ASSERT_EQ(initConfig(reloaded, FACE::String(m_file.c_str())), Code::NO_ERROR);
        EXPECT_EQ(readValue(reloaded, openHandle(reloaded, "B"), "Topic"), value);
        EXPECT_EQ(readValue(reloaded, openHandle(reloaded, "Corvane"), "Padded"), "  two  words ");
    }
    EXPECT_NE(readFile(m_file).find("\n    <"), std::string::npos);  // saved indented

    // A missing file is created with mode 0644.
    ASSERT_EQ(::unlink(m_file.c_str()), 0);
    mode_t const old = ::umask(0);  // the mode asked for is the mode created
    EXPECT_EQ(writeValue(m_config, open("A"), "Topic", "new"), Code::NO_ERROR);
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
    int bytes;
    RC rc;
    m_config.Write(open("A"), FACE::String("Topic"), nullptr, 3, bytes, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
    EXPECT_EQ(readFile(m_file), before);
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
    }
}

}  // namespace
