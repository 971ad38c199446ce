#include "FACE/CV_Config.h"

#include "tests/FACE/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using face_test::container;
using face_test::document;
using face_test::RC;
using face_test::TempDir;
using Whence = FACE::Configuration::WHENCE_TYPE;

// Connection containers A, B and C share one tag; between them lie an
// element without "Name", a connection with an empty "Name" (not a
// container) and one of another tag that repeats the name "A".
std::string sampleDocument() {
    std::string body;
    body += container("System", "Corvane",
                      "<System>Main</System><Digits>12345</Digits><Empty></Empty>"
                      "<Padded>  two  words </Padded><Escaped>a&amp;b&lt;c</Escaped>"
                      "<Nested><Inner>x</Inner></Nested><Digits>999</Digits>");
    body += container("Connection", "A", "<Topic>ta</Topic>");
    body += "<Junk>no name here</Junk>";
    body += container("Connection", "", "<Topic>unnamed</Topic>");
    body += container("Connection", "B", "<Topic>tb</Topic>");
    body += container("Other", "A", "<Topic>other-a</Topic>");
    body += container("Connection", "C", "<Topic>tc</Topic>");
    body += container("ByTag", "Differs", "<Topic>bytag</Topic>");
    body += "<NoParams><Name>NoParams</Name></NoParams>";
    return "<?xml version=\"1.0\"?>\n<CV_Configurations xsi:noNamespaceSchemaLocation=\"cfg.xsd\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">" +
           body + "</CV_Configurations>\n";
}

class CvConfigTest : public testing::Test {
protected:
    void SetUp() override {
        m_file = m_dir.write("config.xml", sampleDocument());
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        m_config.Initialize(FACE::String(m_file.c_str()), rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    }

    int open(char const* name) {
        int handle = -1;
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        m_config.Open(FACE::String(name), handle, rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR) << name;
        return handle;
    }

    // The value of `parameter` through the handle, or "<rc N>" on failure.
    std::string read(FACE::CV_Config& config, int handle, char const* parameter) {
        char buf[256];
        int bytes = -1;
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        config.Read(handle, FACE::String(parameter), buf, sizeof buf - 1, bytes, rc);
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
            return "<rc " + std::to_string(rc) + ">";
        }
        return std::string(buf, static_cast<std::size_t>(bytes));
    }
    std::string read(int handle, char const* parameter) { return read(m_config, handle, parameter); }

    TempDir m_dir;
    std::string m_file;
    FACE::CV_Config m_config;
};

TEST_F(CvConfigTest, OpenFindsContainersByNameOrTag) {
    struct Case {
        char const* name;
        RC rc;
        char const* topic;  // what "Topic" reads through the handle
    };
    Case const cases[] = {
        {"A", FACE::RETURN_CODE_TYPE::NO_ERROR, "ta"},         // first of two named "A"
        {"B", FACE::RETURN_CODE_TYPE::NO_ERROR, "tb"},
        {"Other", FACE::RETURN_CODE_TYPE::NO_ERROR, "other-a"},  // by tag
        {"ByTag", FACE::RETURN_CODE_TYPE::NO_ERROR, "bytag"},  // tag differs from its Name
        {"Differs", FACE::RETURN_CODE_TYPE::NO_ERROR, "bytag"},
        {"Connection", FACE::RETURN_CODE_TYPE::NO_ERROR, "ta"},  // first with that tag
        {"Junk", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, ""},   // no "Name": not a container
        {"", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, ""},
        {"a", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, ""},      // case-sensitive
        {"Corvane/System", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, ""},
        {"Topic", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, ""},  // only children of the root count
    };
    for (Case const& c : cases) {
        FACE::CV_Config config;
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        config.Initialize(FACE::String(m_file.c_str()), rc);
        int handle = -1;
        config.Open(FACE::String(c.name), handle, rc);
        EXPECT_EQ(rc, c.rc) << c.name;
        if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            EXPECT_EQ(read(config, handle, "Topic"), c.topic) << c.name;
        }
    }
}

TEST_F(CvConfigTest, ContainersOfOneTagShareAHandle) {
    int const a = open("A");
    EXPECT_EQ(read(a, ""), "A");
    int const b = open("B");
    EXPECT_EQ(b, a);
    EXPECT_EQ(read(a, "Topic"), "tb");
    EXPECT_EQ(open("B"), a);  // already current: unchanged
    EXPECT_EQ(open("A"), a);  // re-pointed back
    EXPECT_EQ(read(a, "Topic"), "ta");

    int const system = open("Corvane");
    EXPECT_NE(system, a);
    EXPECT_EQ(read(system, "System"), "Main");
    EXPECT_EQ(read(a, "Topic"), "ta");  // the other tag's handle did not move
}

TEST_F(CvConfigTest, HandlesAreUniqueAcrossInstancesAndNeverReused) {
    int const first = open("Corvane");
    RC rc;
    m_config.Close(first, rc);
    int const second = open("Corvane");
    EXPECT_NE(second, first);

    FACE::CV_Config other;
    other.Initialize(FACE::String(m_file.c_str()), rc);
    int third = -1;
    other.Open(FACE::String("Corvane"), third, rc);
    ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    // A handle of one instance is unknown to another.
    EXPECT_EQ(read(other, second, "System"), "<rc 4>");
}

TEST_F(CvConfigTest, InitializeOnceAndOpenRequiresIt) {
    FACE::CV_Config fresh;
    int handle = 42;
    RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    fresh.Open(FACE::String("Corvane"), handle, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_MODE);
    EXPECT_EQ(handle, 42);

    // A second Initialize, even of another file, keeps the first one.
    std::string const otherFile = m_dir.write("other.xml", document(container("X", "OnlyHere", "")));
    m_config.Initialize(FACE::String(otherFile.c_str()), rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    m_config.Open(FACE::String("OnlyHere"), handle, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    EXPECT_EQ(read(open("Corvane"), "System"), "Main");
}

TEST_F(CvConfigTest, SizeAndReadOfEachKindOfParameter) {
    struct Case {
        char const* container;
        char const* parameter;
        RC sizeRc;
        int size;
        std::string read;
    };
    Case const cases[] = {
        {"Corvane", "Digits", FACE::RETURN_CODE_TYPE::NO_ERROR, 5, "12345"},  // first of two
        {"Corvane", "", FACE::RETURN_CODE_TYPE::NO_ERROR, 7, "Corvane"},      // the Name
        {"Corvane", "Padded", FACE::RETURN_CODE_TYPE::NO_ERROR, 13, "  two  words "},
        {"Corvane", "Escaped", FACE::RETURN_CODE_TYPE::NO_ERROR, 5, "a&b<c"},
        {"Corvane", "Empty", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, -1, "<rc 3>"},
        {"Corvane", "Nested", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, -1, "<rc 3>"},
        {"Corvane", "Missing", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, -1, "<rc 3>"},
        {"Corvane", "digits", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, -1, "<rc 3>"},
        {"Corvane", "Parameters/Digits", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, -1, "<rc 3>"},
        {"NoParams", "Topic", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, -1, "<rc 3>"},
        {"NoParams", "", FACE::RETURN_CODE_TYPE::NO_ERROR, 8, "NoParams"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.container) + "/" + c.parameter);
        int const h = open(c.container);
        int size = -1;
        RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_config.Get_Size(h, FACE::String(c.parameter), size, rc);
        EXPECT_EQ(rc, c.sizeRc);
        if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            EXPECT_EQ(size, c.size);
        }
        EXPECT_EQ(read(h, c.parameter), c.read);
    }
}

TEST_F(CvConfigTest, UnknownHandleIsInvalidConfigEverywhere) {
    int const bogus = 1'000'000;
    char buf[8];
    int n = 0;
    RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    m_config.Get_Size(bogus, FACE::String("Topic"), n, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    m_config.Read(bogus, FACE::String("Topic"), buf, sizeof buf, n, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    m_config.Write(bogus, FACE::String("Topic"), buf, sizeof buf, n, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    m_config.Seek(bogus, Whence::SEEK_FROM_START, 0, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    m_config.Close(bogus, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
}

TEST_F(CvConfigTest, ReadZeroFillsAndTruncatesWithinTheBuffer) {
    struct Case {
        int size;
        int bytes;
        std::string content;  // the first `size` bytes afterwards
    };
    Case const cases[] = {
        {0, 0, ""},
        {4, 4, "1234"},                       // no room for a terminator
        {5, 5, "12345"},
        {8, 5, std::string("12345\0\0\0", 8)},  // zero-filled to the end
    };
    int const h = open("Corvane");
    for (Case const& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<char> buf(static_cast<std::size_t>(c.size) + 16, 'X');
        int bytes = -1;
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        m_config.Read(h, FACE::String("Digits"), buf.data(), c.size, bytes, rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        EXPECT_EQ(bytes, c.bytes);
        EXPECT_EQ(std::string(buf.data(), static_cast<std::size_t>(c.size)), c.content);
        EXPECT_EQ(std::string(buf.data() + c.size, 16), std::string(16, 'X'));
    }

    int bytes = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    m_config.Read(h, FACE::String("Digits"), nullptr, 4, bytes, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_PARAM);
    char buf[4];
    m_config.Read(h, FACE::String("Digits"), buf, -1, bytes, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_PARAM);
    EXPECT_EQ(bytes, 0);
}

TEST_F(CvConfigTest, SeekMovesAmongContainersOfTheHandlesTag) {
    struct Case {
        char const* from;  // container the handle points at first
        int whence;
        int offset;
        RC rc;
        char const* at;  // name of the current container afterwards
    };
    Case const cases[] = {
        {"B", 0, 0, FACE::RETURN_CODE_TYPE::NO_ERROR, "A"},
        {"A", 2, 0, FACE::RETURN_CODE_TYPE::NO_ERROR, "C"},
        {"A", 0, 1, FACE::RETURN_CODE_TYPE::NO_ERROR, "B"},  // skips non-containers
        {"A", 0, 2, FACE::RETURN_CODE_TYPE::NO_ERROR, "C"},
        {"A", 0, 3, FACE::RETURN_CODE_TYPE::INVALID_PARAM, "A"},
        {"A", 0, -1, FACE::RETURN_CODE_TYPE::INVALID_PARAM, "A"},
        {"B", 1, 0, FACE::RETURN_CODE_TYPE::NO_ERROR, "B"},
        {"B", 1, 1, FACE::RETURN_CODE_TYPE::NO_ERROR, "C"},
        {"B", 1, -1, FACE::RETURN_CODE_TYPE::NO_ERROR, "A"},
        {"C", 1, 1, FACE::RETURN_CODE_TYPE::INVALID_PARAM, "C"},
        {"A", 2, 1, FACE::RETURN_CODE_TYPE::NO_ERROR, "B"},   // from the end, towards the start
        {"A", 2, 2, FACE::RETURN_CODE_TYPE::NO_ERROR, "A"},
        {"A", 2, -1, FACE::RETURN_CODE_TYPE::INVALID_PARAM, "A"},
        {"B", 1, INT_MIN, FACE::RETURN_CODE_TYPE::INVALID_PARAM, "B"},
        {"B", 1, INT_MAX, FACE::RETURN_CODE_TYPE::INVALID_PARAM, "B"},
        {"B", 3, 0, FACE::RETURN_CODE_TYPE::INVALID_CONFIG, "B"},
        {"B", -1, 0, FACE::RETURN_CODE_TYPE::INVALID_CONFIG, "B"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " whence " << c.whence << " offset " << c.offset);
        int const h = open(c.from);
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        m_config.Seek(h, static_cast<Whence::Value>(c.whence), c.offset, rc);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(read(h, ""), c.at);
        EXPECT_EQ(read(h, "Topic"), std::string("t") + static_cast<char>(c.at[0] - 'A' + 'a'));
        // Open of the container reached returns the same handle.
        EXPECT_EQ(open(c.at), h);
    }
}

TEST_F(CvConfigTest, CloseReleasesTheHandleOnce) {
    int const h = open("A");
    RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    m_config.Close(h, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    m_config.Close(h, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    EXPECT_EQ(read(h, "Topic"), "<rc 4>");
}

// ------------------------------------------------------------------ Write

RC write(FACE::CV_Config& config, int handle, char const* parameter, std::string value, int* bytes = nullptr) {
    int written = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    config.Write(handle, FACE::String(parameter), value.data(), static_cast<int>(value.size()), written, rc);
    if (bytes != nullptr) {
        *bytes = written;
    }
    return rc;
}

TEST_F(CvConfigTest, WriteSavesAValueThatANewInstanceReads) {
    std::string const values[] = {"tb2", "a<b>&\"c'", "  spaced  out  ", std::string(300, 'z')};
    for (std::string const& value : values) {
        int bytes = -1;
        EXPECT_EQ(write(m_config, open("B"), "Topic", value, &bytes), FACE::RETURN_CODE_TYPE::NO_ERROR);
        EXPECT_EQ(bytes, static_cast<int>(value.size()));

        FACE::CV_Config reloaded;
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        reloaded.Initialize(FACE::String(m_file.c_str()), rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        int h = -1;
        reloaded.Open(FACE::String("B"), h, rc);
        char buf[512] = {};
        reloaded.Read(h, FACE::String("Topic"), buf, sizeof buf, bytes, rc);
        EXPECT_EQ(std::string(buf, static_cast<std::size_t>(bytes)), value);
        // Everything else survived the save.
        reloaded.Open(FACE::String("Corvane"), h, rc);
        reloaded.Read(h, FACE::String("Padded"), buf, sizeof buf, bytes, rc);
        EXPECT_EQ(std::string(buf, static_cast<std::size_t>(bytes)), "  two  words ");
        reloaded.Read(h, FACE::String("Escaped"), buf, sizeof buf, bytes, rc);
        EXPECT_EQ(std::string(buf, static_cast<std::size_t>(bytes)), "a&b<c");
    }
    // The save is indented, not one long line.
    EXPECT_NE(face_test::readFile(m_file).find("\n    <"), std::string::npos);
}

TEST_F(CvConfigTest, WriteCreatesAMissingFileWithMode0644) {
    int const h = open("A");
    ASSERT_EQ(::unlink(m_file.c_str()), 0);
    mode_t const old = ::umask(022);
    RC const rc = write(m_config, h, "Topic", "new");
    ::umask(old);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    struct stat st {};
    ASSERT_EQ(::stat(m_file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_NE(face_test::readFile(m_file).find("<Topic>new</Topic>"), std::string::npos);
}

TEST_F(CvConfigTest, WriteRefusesMissingTargetsAndLeavesTheFileAlone) {
    struct Case {
        char const* container;
        char const* parameter;
        RC rc;
    };
    Case const cases[] = {
        {"Corvane", "", FACE::RETURN_CODE_TYPE::INVALID_PARAM},  // the Name is not writable
        {"Corvane", "Empty", FACE::RETURN_CODE_TYPE::INVALID_PARAM},
        {"Corvane", "Missing", FACE::RETURN_CODE_TYPE::INVALID_PARAM},
        {"Corvane", "Nested", FACE::RETURN_CODE_TYPE::INVALID_PARAM},
        {"NoParams", "Topic", FACE::RETURN_CODE_TYPE::INVALID_PARAM},
    };
    std::string const before = face_test::readFile(m_file);
    for (Case const& c : cases) {
        int bytes = -1;
        EXPECT_EQ(write(m_config, open(c.container), c.parameter, "v", &bytes), c.rc) << c.parameter;
        EXPECT_EQ(bytes, 0);
    }
    int bytes = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    m_config.Write(open("A"), FACE::String("Topic"), nullptr, 3, bytes, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_PARAM);
    char value[] = "v";
    m_config.Write(open("A"), FACE::String("Topic"), value, -2, bytes, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_PARAM);

    EXPECT_EQ(face_test::readFile(m_file), before);
    EXPECT_EQ(read(open("Corvane"), "Empty"), "<rc 3>");
}

TEST_F(CvConfigTest, FailedSaveReportsNoActionAndKeepsTheValueInMemory) {
    int const h = open("A");
    // A directory where the file was: it cannot be opened for writing.
    ASSERT_EQ(::unlink(m_file.c_str()), 0);
    ASSERT_EQ(::mkdir(m_file.c_str(), 0755), 0);
    int bytes = -1;
    EXPECT_EQ(write(m_config, h, "Topic", "kept", &bytes), FACE::RETURN_CODE_TYPE::NO_ACTION);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(read(h, "Topic"), "kept");
}

TEST_F(CvConfigTest, FailedFlushReportsNoAction) {
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    int const h = open("A");
    ASSERT_EQ(::unlink(m_file.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/full", m_file.c_str()), 0);
    EXPECT_EQ(write(m_config, h, "Topic", "lost on disk"), FACE::RETURN_CODE_TYPE::NO_ACTION);
    EXPECT_EQ(read(h, "Topic"), "lost on disk");
}

}  // namespace
