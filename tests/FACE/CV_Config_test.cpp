#include "FACE/CV_Config.h"
#include "FACE/CV_Config_Helpers.h"

#include "tests/FACE/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace face_test;
namespace Code = FACE::RETURN_CODE_TYPE;
using Whence = FACE::Configuration::WHENCE_TYPE;

// Connection containers A, B and C share one tag; between them lie an
// element without "Name", connections with an empty and a blank "Name" (no
// containers) and a container of another tag that repeats the name "A".
std::string sampleDocument() {
    return document(
        container("System", "Corvane",
                  "<System>Main</System><Digits>12345</Digits><Empty></Empty>"
                  "<Padded>  two  words </Padded><Escaped>a&amp;b&lt;c</Escaped>"
                  "<Nested><Inner>x</Inner></Nested><Digits>999</Digits><Text>hello world</Text>"
                  "<Upper>TRUE</Upper><Mixed>True</Mixed><One>1</One><Hex>0x10</Hex><Octal>010</Octal>"
                  "<Lower>false</Lower><Zero>0</Zero><No>no</No>") +
        container("Connection", "A", "<Topic>ta</Topic>") + "<Junk>no name</Junk>" +
        container("Connection", "", "<Topic>unnamed</Topic>") + "<Blank><Name>  </Name></Blank>" +
        container("Connection", "B", "<Topic>tb</Topic>") + container("Other", "A", "<Topic>other-a</Topic>") +
        container("Connection", "C", "<Topic>tc</Topic>") + container("ByTag", "Differs", "<Topic>bytag</Topic>") +
        "<E1/>" + "<NoParams><Name>NoParams</Name></NoParams>");
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
        {"Other", "other-a"},
        {"ByTag", "bytag"},
        {"Differs", "bytag"},
        {"Connection", "ta"},  // by tag, the first one
        {"Junk", nullptr},
        {"Blank", nullptr},
        {"E1", nullptr},  // no or a blank "Name": no container
        {"CV_Configurations", nullptr},
        {"", nullptr},
        {"a", nullptr},
        {"Topic", nullptr},
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
    int const a = open("A"), b = open("B"), system = open("Corvane");
    EXPECT_TRUE(a == b && system != a);
    EXPECT_EQ(read(a, ""), "B");  // the other tag's handle did not move

    // A handle whose current name matches is returned as it is, even when
    // a lookup would find another container of that name first.
    FACE::CV_Config byName;
    initConfig(byName, FACE::String(m_file.c_str()));
    int const otherTag = openHandle(byName, "Other");
    EXPECT_EQ(openHandle(byName, "A"), otherTag);

    RC rc[2];
    m_config.Close(system, rc[0]);
    m_config.Close(system, rc[1]);
    EXPECT_EQ(std::make_pair(rc[0], rc[1]), std::make_pair(Code::NO_ERROR, Code::INVALID_CONFIG));
    int const reopened = open("Corvane");
    EXPECT_EQ(std::set<int>({a, system, reopened, otherTag}).size(), 4u);  // never reused, across instances too
    EXPECT_EQ(readValue(byName, reopened, "System"), "<rc 4>");

    FACE::CV_Config fresh;
    openHandle(fresh, "Corvane", &rc[0]);
    std::string const other = m_dir.write("other.xml", document(container("X", "OnlyHere", "")));
    EXPECT_EQ(initConfig(m_config, FACE::String(other.c_str())), Code::NO_ERROR);
    openHandle(m_config, "OnlyHere", &rc[1]);  // the first file stays loaded
    EXPECT_EQ(std::make_pair(rc[0], rc[1]), std::make_pair(Code::INVALID_MODE, Code::INVALID_CONFIG));
}

TEST_F(CvConfig, SizeAndReadOfEachKindOfParameter) {
    std::tuple<char const*, char const*, std::string> const cases[] = {
        // container, parameter, value (empty: Get_Size 4 and Read 3)
        {"Corvane", "Digits", "12345"},  // the first of two
        {"Corvane", "", "Corvane"},      // an empty name reads "Name"
        {"Corvane", "Padded", "  two  words "},
        {"Corvane", "Escaped", "a&b<c"},
        {"Corvane", "Empty", ""},
        {"Corvane", "Nested", ""},
        {"Corvane", "digits", ""},
        {"NoParams", "Topic", ""},
    };
    for (auto const& [container, parameter, value] : cases) {
        int size = -1;
        RC rc;
        m_config.Get_Size(open(container), FACE::String(parameter), size, rc);
        EXPECT_EQ(std::make_pair(rc, size), value.empty() ? std::make_pair(Code::INVALID_CONFIG, -1)
                                                          : std::make_pair(Code::NO_ERROR, int(value.size())))
            << container << "/" << parameter;
        EXPECT_EQ(read(open(container), parameter), value.empty() ? "<rc 3>" : value) << container << "/" << parameter;
    }

    // Read zero-fills and never passes the buffer size; no buffer is refused.
    std::pair<int, std::string> const sizes[] = {{0, ""}, {4, "1234"}, {8, std::string("12345\0\0\0", 8)}};
    int const h = open("Corvane");
    for (auto const& [size, content] : sizes) {
        std::vector<char> buf(std::size_t(size) + 16, 'X');
        int bytes = -1;
        RC rc;
        m_config.Read(h, FACE::String("Digits"), buf.data(), size, bytes, rc);
        EXPECT_EQ(std::make_pair(rc, bytes), std::make_pair(Code::NO_ERROR, std::min(size, 5)));
        EXPECT_EQ(std::string(buf.begin(), buf.end()), content + std::string(16, 'X')) << size;
    }
    int n = 0, bogus = 1'000'000;  // an unknown handle
    char buf[8];
    RC rc[7];
    m_config.Read(h, FACE::String("Digits"), nullptr, 4, n, rc[5]);
    m_config.Read(h, FACE::String("Digits"), buf, -1, n, rc[6]);
    m_config.Get_Size(bogus, FACE::String("Topic"), n, rc[0]);
    m_config.Read(bogus, FACE::String("Topic"), buf, 8, n, rc[1]);
    m_config.Write(bogus, FACE::String("Topic"), buf, 8, n, rc[2]);
    m_config.Seek(bogus, Whence::SEEK_FROM_START, 0, rc[3]);
    m_config.Close(bogus, rc[4]);
    RC const cfg = Code::INVALID_CONFIG, param = Code::INVALID_PARAM;
    EXPECT_EQ(std::vector<RC>(rc, rc + 7), (std::vector<RC>{cfg, cfg, cfg, cfg, cfg, param, param}));
}

TEST_F(CvConfig, SeekMovesAmongContainersOfTheHandlesTag) {
    std::tuple<char const*, int, int, RC, char const*> const cases[] = {
        // from, whence, offset, code, the current container afterwards
        {"B", 0, 0, Code::NO_ERROR, "A"},
        {"A", 2, 0, Code::NO_ERROR, "C"},
        {"A", 0, 2, Code::NO_ERROR, "C"},
        {"A", 0, 3, Code::INVALID_PARAM, "A"},
        {"A", 0, -1, Code::INVALID_PARAM, "A"},
        {"B", 1, 1, Code::NO_ERROR, "C"},
        {"B", 1, -1, Code::NO_ERROR, "A"},
        {"C", 1, 1, Code::INVALID_PARAM, "C"},
        {"A", 2, 1, Code::NO_ERROR, "B"},
        {"A", 2, -1, Code::INVALID_PARAM, "A"},
        {"B", 1, INT_MIN, Code::INVALID_PARAM, "B"},
        {"B", 3, 0, Code::INVALID_CONFIG, "B"},
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

TEST_F(CvConfig, WriteSavesWhatANewInstanceReadsOrReportsWhyNot) {
    std::string const before = readFile(m_file);
    int bytes = -1;
    for (char const* parameter : {"", "Empty", "Missing", "Nested"}) {
        EXPECT_EQ(writeValue(m_config, open("Corvane"), parameter, "v", &bytes), Code::INVALID_PARAM) << parameter;
        EXPECT_EQ(bytes, 0);
    }
    RC rc;
    m_config.Write(open("A"), FACE::String("Topic"), nullptr, 3, bytes, rc);
    EXPECT_EQ(std::make_pair(rc, readFile(m_file)), std::make_pair(Code::INVALID_PARAM, before));

    std::string const value = "  a<b>&\"c'  ";
    EXPECT_EQ(std::make_pair(writeValue(m_config, open("B"), "Topic", value, &bytes), bytes),
              std::make_pair(Code::NO_ERROR, int(value.size())));
    FACE::CV_Config reloaded;
    ASSERT_EQ(initConfig(reloaded, FACE::String(m_file.c_str())), Code::NO_ERROR);
    EXPECT_EQ(readValue(reloaded, openHandle(reloaded, "B"), "Topic"), value);
    EXPECT_EQ(readValue(reloaded, openHandle(reloaded, "Corvane"), "Padded"), "  two  words ");
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

    // A failed save reports NO_ACTION and keeps the value in memory.
    int const h = open("A");
    ASSERT_EQ(::unlink(m_file.c_str()), 0);
    ASSERT_EQ(::mkdir(m_file.c_str(), 0755), 0);  // cannot be opened for writing
    EXPECT_EQ(std::make_pair(writeValue(m_config, h, "Topic", "kept", &bytes), bytes),
              std::make_pair(Code::NO_ACTION, 0));
    EXPECT_EQ(read(h, "Topic"), "kept");
    if (::access("/dev/full", W_OK) == 0) {  // opens, but the flush fails
        ASSERT_EQ(::rmdir(m_file.c_str()), 0);
        ASSERT_EQ(::symlink("/dev/full", m_file.c_str()), 0);
        EXPECT_EQ(writeValue(m_config, h, "Topic", "lost on disk"), Code::NO_ACTION);
    }
}

// Damaged, hostile or unusual files: each ends in a return code and at most
// the one documented console line.
TEST(CvConfigBadFiles, UnusableFilesGiveInvalidConfigAndAtMostTheRootLine) {
    std::string const valid = document(container("S", "N", "<P>v</P>"));
    std::string deep, garbage(4096, '\0');
    for (int i = 0; i < 5000; ++i) deep += "<d>";
    std::mt19937 gen(7);
    for (char& c : garbage) c = static_cast<char>(gen() & 0xFF);
    std::tuple<char const*, std::string, bool> const cases[] = {
        // name, content, parsed without the root
        {"empty", "", false},
        {"not XML", "hello world, this is no XML\n", false},
        {"truncated", valid.substr(0, valid.size() / 2), false},
        {"binary garbage", garbage, false},
        {"garbage after the root", valid + "\x01\x02junk", false},
        {"deeply nested", "<CV_Configurations>" + deep, false},
        {"other root", "<Configurations><S><Name>N</Name></S></Configurations>", true},
        {"root in lower case", "<cv_configurations/>", true},
    };
    TempDir dir;
    for (auto const& [name, content, rootLine] : cases) {
        std::string const path = dir.write("bad.xml", content);
        FACE::CV_Config config;
        std::string console;
        EXPECT_EQ(initConfig(config, FACE::String(path.c_str()), &console), Code::INVALID_CONFIG) << name;
        EXPECT_EQ(
            console,
            !rootLine ? "" : "Configuration XML - " + path + " Error: Unable to locate the CV_Configurations object\n")
            << name;
        RC rc;
        openHandle(config, "N", &rc);
        EXPECT_EQ(rc, Code::INVALID_MODE) << name;
    }

    char nulPath[8] = {'a', '\0', 'b'};
    FACE::String::RETURN_CODE src;
    std::string const missing = dir.file("missing.xml"), fifo = dir.file("fifo.xml");  // opening a FIFO would block
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FACE::String const paths[] = {FACE::String(missing.c_str()), FACE::String(dir.path().c_str()),
                                  FACE::String(fifo.c_str()),    FACE::String(""),
                                  FACE::String(0u, src),         FACE::String(nulPath, 3, 4, src)};
    for (FACE::String const& path : paths) {
        FACE::CV_Config config;
        std::string console;
        EXPECT_EQ(initConfig(config, path, &console), Code::INVALID_CONFIG) << path;
        EXPECT_EQ(console, "") << path;
    }
    // A failed Initialize does not stand in the way of a later one.
    FACE::CV_Config config;
    EXPECT_EQ(initConfig(config, FACE::String(missing.c_str())), Code::INVALID_CONFIG);
    dir.write("missing.xml", valid);
    EXPECT_EQ(initConfig(config, FACE::String(missing.c_str())), Code::NO_ERROR);
}

TEST(ParseNumbers, AutomaticBaseAsTheCLibrary) {
    struct Case {
        char const* text;
        unsigned long long asUnsigned;
        long long asSigned;
    } const cases[] = {
        {"42", 42, 42},
        {"0x2A", 42, 42},
        {"0X2a", 42, 42},
        {"052", 42, 42},
        {"09", 0, 0},
        {" +17", 17, 17},
        {"12abc", 12, 12},
        {"0x", 0, 0},
        {"", 0, 0},
        {"abc", 0, 0},
        {"-1", 18446744073709551615ULL, -1},
        {"0xFFFFFFFF", 4294967295ULL, 4294967295LL},
        {"99999999999999999999999", 18446744073709551615ULL, 9223372036854775807LL},
        {"-99999999999999999999999", 18446744073709551615ULL, -9223372036854775807LL - 1},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(CV_Config_Helpers::Details::Parse_Unsigned(c.text), c.asUnsigned) << '"' << c.text << '"';
        EXPECT_EQ(CV_Config_Helpers::Details::Parse_Signed(c.text), c.asSigned) << '"' << c.text << '"';
    }
}

// Getters set the return code only on failure (with a warning line), and
// then leave the value alone.
TEST_F(CvConfig, HelperGettersReadTextsAndBooleansOrWarnAndSettersWriteThrough) {
    FACE::CV_Config& config = m_config;
    int const h = open("Corvane");
    std::tuple<char const*, char const*, bool> const cases[] = {
        // name, text (null: missing), boolean
        {"Upper", "TRUE", true},        {"Mixed", "True", true},   {"One", "1", true},        {"Hex", "0x10", true},
        {"Octal", "010", true},         {"Lower", "false", false}, {"Zero", "0", false},      {"No", "no", false},
        {"Text", "hello world", false}, {"Empty", nullptr, true},  {"Missing", nullptr, true}};
    for (auto const& [name, text, flag] : cases) {
        FACE::String value("untouched");
        bool boolean = !flag;
        RC rcs[2] = {Code::NO_ACTION, Code::NO_ACTION};
        testing::internal::CaptureStdout();
        CV_Config_Helpers::Get_String_Parameter(config, h, FACE::String(name), value, rcs[0]);
        CV_Config_Helpers::Get_Boolean_Parameter(config, h, FACE::String(name), boolean, rcs[1]);
        std::string const warning = text ? "" : std::string("WARNING - Parameter ") + name + " not found\n";
        RC const rc = text ? Code::NO_ACTION : Code::INVALID_CONFIG;
        EXPECT_EQ(
            std::make_tuple(std::string(value.buffer()), boolean, rcs[0], rcs[1],
                            testing::internal::GetCapturedStdout()),
            std::make_tuple(std::string(text ? text : "untouched"), text ? flag : !flag, rc, rc, warning + warning))
            << name;
    }
    RC rc = Code::NO_ACTION;
    testing::internal::CaptureStdout();
    EXPECT_EQ(CV_Config_Helpers::Details::Read_Config(config, 987654, FACE::String("Text")), "");  // unknown handle
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING - Parameter Text not found\n");

    CV_Config_Helpers::Set_Boolean_Parameter(config, h, FACE::String("Lower"), true, rc);
    CV_Config_Helpers::Set_Boolean_Parameter(config, h, FACE::String("Upper"), false, rc);
    CV_Config_Helpers::Set_String_Parameter(config, h, FACE::String("Text"), FACE::String("bye"), rc);
    EXPECT_EQ(rc, Code::NO_ACTION);
    FACE::CV_Config reloaded;
    initConfig(reloaded, FACE::String(m_file.c_str()));
    int const r = openHandle(reloaded, "Corvane");
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
