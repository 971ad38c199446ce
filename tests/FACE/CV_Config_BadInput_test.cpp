// Configuration files that are damaged, hostile or unusually shaped: every
// case ends in a return code and at most the documented console line.

#include "FACE/CV_Config.h"
#include "FACE/CV_Config_Helpers.h"
#include "tests/FACE/ConfigTestSupport.h"

#include <tinyxml2.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using face_test::container;
using face_test::document;
using face_test::RC;
using face_test::TempDir;
using Whence = FACE::Configuration::WHENCE_TYPE;

std::string seededBytes(unsigned seed, std::size_t n) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out(n, '\0');
    for (char& c : out) {
        c = static_cast<char>(byte(gen));
    }
    return out;
}

std::string rootMissingLine(std::string const& path) {
    return "Configuration XML - " + path + " Error: Unable to locate the CV_Configurations object\n";
}

struct InitOutcome {
    RC rc;
    std::string console;
};

InitOutcome initialize(FACE::CV_Config& config, FACE::String const& path) {
    InitOutcome out{FACE::RETURN_CODE_TYPE::NOT_AVAILABLE, ""};
    testing::internal::CaptureStdout();
    config.Initialize(path, out.rc);
    out.console = testing::internal::GetCapturedStdout();
    return out;
}

TEST(CvConfigBadFiles, UnloadableFilesFailQuietlyAndRootlessOnesSaySo) {
    struct Case {
        char const* name;
        std::string content;
        bool rootMessage;  // parsed, but without the root
    };
    std::string const valid = document(container("S", "N", "<P>v</P>"));
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<d>";
    Case const cases[] = {
        {"empty", "", false},
        {"blank", "  \n\t ", false},
        {"not XML", "hello world, this is no XML\n", false},
        {"truncated", valid.substr(0, valid.size() / 2), false},
        {"mismatched tags", "<CV_Configurations><S></T></CV_Configurations>", false},
        {"binary garbage", seededBytes(7, 4096), false},
        {"garbage after root", valid + "\x01\x02junk", false},
        {"deeply nested", "<CV_Configurations>" + deep, false},
        {"other root", "<?xml version=\"1.0\"?><Configurations><S><Name>N</Name></S></Configurations>", true},
        {"declaration only", "<?xml version=\"1.0\"?>", true},
        {"comment only", "<!-- nothing -->", true},
        {"root in lower case", "<cv_configurations/>", true},
    };
    TempDir dir;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        std::string const path = dir.write("bad.xml", c.content);
        FACE::CV_Config config;
        InitOutcome const out = initialize(config, FACE::String(path.c_str()));
        EXPECT_EQ(out.rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        EXPECT_EQ(out.console, c.rootMessage ? rootMissingLine(path) : "");
        int handle = -1;
        RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        config.Open(FACE::String("N"), handle, rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_MODE);
    }
}

TEST(CvConfigBadFiles, PathsThatNameNoReadableFile) {
    TempDir dir;
    std::string const missing = dir.path() + "/missing.xml";
    std::string const withNul = std::string("a\0b", 3);
    FACE::String::RETURN_CODE src;
    FACE::String const invalidPath(0u, src);
    char nulBuf[8] = {'a', '\0', 'b', '\0'};
    FACE::String const embeddedNul(nulBuf, 3, 4, src);

    struct Case {
        char const* name;
        FACE::String path;
    };
    Case const cases[] = {
        {"missing", FACE::String(missing.c_str())},
        {"directory", FACE::String(dir.path().c_str())},
        {"empty path", FACE::String("")},
        {"invalid string", invalidPath},
        {"embedded NUL", embeddedNul},
        {"device", FACE::String("/dev/zero")},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        FACE::CV_Config config;
        InitOutcome const out = initialize(config, c.path);
        EXPECT_EQ(out.rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        EXPECT_EQ(out.console, "");
    }

    // A failed Initialize does not stop a later successful one.
    FACE::CV_Config config;
    EXPECT_EQ(initialize(config, FACE::String(missing.c_str())).rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    dir.write("missing.xml", document(container("S", "N", "<P>v</P>")));
    EXPECT_EQ(initialize(config, FACE::String(missing.c_str())).rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
}

TEST(CvConfigBadFiles, EmptyAndDuplicateContainers) {
    std::string const body = "<E1/>" "<E2><Name></Name><Parameters><P>x</P></Parameters></E2>"
                             "<E3><Name>   </Name><Parameters><P>blank</P></Parameters></E3>" +
                             container("Dup", "D", "<P>first</P>") + container("Dup", "D", "<P>second</P>") +
                             container("Other", "D", "<P>third</P>");
    TempDir dir;
    std::string const path = dir.write("c.xml", document(body));
    FACE::CV_Config config;
    ASSERT_EQ(initialize(config, FACE::String(path.c_str())).rc, FACE::RETURN_CODE_TYPE::NO_ERROR);

    struct Case {
        char const* name;
        RC rc;
        char const* value;
    };
    Case const cases[] = {
        {"E1", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, ""},
        {"E2", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, ""},
        {"E3", FACE::RETURN_CODE_TYPE::INVALID_CONFIG, ""},  // white space alone is no text
        {"D", FACE::RETURN_CODE_TYPE::NO_ERROR, "first"},
    };
    for (Case const& c : cases) {
        int h = -1;
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        config.Open(FACE::String(c.name), h, rc);
        EXPECT_EQ(rc, c.rc) << c.name;
        if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) {
            EXPECT_EQ(CV_Config_Helpers::Details::Read_Config(config, h, FACE::String("P")), c.value);
        }
    }

    // An empty root holds no containers.
    std::string const emptyRoot = dir.write("e.xml", "<CV_Configurations/>");
    FACE::CV_Config empty;
    ASSERT_EQ(initialize(empty, FACE::String(emptyRoot.c_str())).rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    int h = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    empty.Open(FACE::String("CV_Configurations"), h, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
}

TEST(CvConfigBadFiles, HundredKilobyteValuesReadAndWriteWhole) {
    std::string big(100 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('a' + i % 26);
    }
    TempDir dir;
    std::string const path = dir.write("big.xml", document(container("S", "N", "<Big>" + big + "</Big><Small>s</Small>")));
    FACE::CV_Config config;
    ASSERT_EQ(initialize(config, FACE::String(path.c_str())).rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    int h = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    config.Open(FACE::String("N"), h, rc);

    int size = 0;
    config.Get_Size(h, FACE::String("Big"), size, rc);
    EXPECT_EQ(size, static_cast<int>(big.size()));
    EXPECT_EQ(CV_Config_Helpers::Details::Read_Config(config, h, FACE::String("Big")), big);

    // Writing a 100 kB value into a short parameter, and reading it back
    // through a fresh instance.
    std::string replaced = big;
    std::reverse(replaced.begin(), replaced.end());
    int bytes = 0;
    config.Write(h, FACE::String("Small"), replaced.data(), static_cast<int>(replaced.size()), bytes, rc);
    ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_EQ(bytes, static_cast<int>(replaced.size()));
    FACE::CV_Config reloaded;
    ASSERT_EQ(initialize(reloaded, FACE::String(path.c_str())).rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    reloaded.Open(FACE::String("N"), h, rc);
    EXPECT_EQ(CV_Config_Helpers::Details::Read_Config(reloaded, h, FACE::String("Small")), replaced);
    EXPECT_EQ(CV_Config_Helpers::Details::Read_Config(reloaded, h, FACE::String("Big")), big);
}

TEST(CvConfigBadFiles, TenMegabyteFileLoads) {
    TempDir dir;
    std::string body;
    int count = 0;
    while (body.size() < 10u * 1024u * 1024u) {
        body += container("Conn", "C" + std::to_string(count), "<Id>" + std::to_string(count) + "</Id>" +
                                                                "<Pad>" + std::string(200, 'p') + "</Pad>");
        ++count;
    }
    std::string const path = dir.write("huge.xml", document(body));
    FACE::CV_Config config;
    ASSERT_EQ(initialize(config, FACE::String(path.c_str())).rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    int h = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    std::string const last = "C" + std::to_string(count - 1);
    config.Open(FACE::String(last.c_str()), h, rc);
    ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_EQ(CV_Config_Helpers::Details::Read_Config(config, h, FACE::String("Id")), std::to_string(count - 1));
    config.Seek(h, Whence::SEEK_FROM_START, count - 1, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    config.Seek(h, Whence::SEEK_FROM_START, count, rc);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_PARAM);

    // Ten megabytes of garbage are refused just as quietly.
    std::string const junk = dir.write("junk.xml", "<CV_Configurations>" + seededBytes(11, 10u * 1024u * 1024u));
    FACE::CV_Config other;
    InitOutcome const out = initialize(other, FACE::String(junk.c_str()));
    EXPECT_EQ(out.rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    EXPECT_EQ(out.console, "");
}

// ------------------------------------------------------------- fuzz test

// Builds a random document from the pieces of the file format, with random
// damage: missing or extra closing tags, entities good and bad, comments,
// CDATA, stray bytes.
class DocumentGenerator {
public:
    explicit DocumentGenerator(unsigned seed) : m_gen(seed) {}

    std::string make() {
        std::string doc;
        if (chance(80)) doc += "<?xml version=\"1.0\"?>\n";
        if (chance(10)) doc += pick({"<A/>", "<!-- x -->", "text"});
        doc += chance(90) ? "<CV_Configurations>" : "<" + tag() + ">";
        int const containers = number(0, 6);
        for (int i = 0; i < containers; ++i) {
            std::string const t = tag();
            doc += "<" + t + ">";
            if (chance(85)) doc += "<Name>" + text() + "</Name>";
            if (chance(85)) {
                doc += "<Parameters>";
                int const params = number(0, 4);
                for (int p = 0; p < params; ++p) {
                    std::string const pt = pick({"P", "Q", "Name", "Parameters", "R"});
                    doc += "<" + pt + ">" + text() + (chance(95) ? "</" + pt + ">" : "");
                }
                doc += "</Parameters>";
            }
            if (chance(95)) doc += "</" + t + ">";
            if (chance(5)) doc += std::string(1, static_cast<char>(number(0, 255)));
        }
        if (chance(90)) doc += "</CV_Configurations>";
        return doc;
    }

    std::string name() { return chance(50) ? text() : tag(); }
    int number(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_gen); }
    bool chance(int percent) { return number(1, 100) <= percent; }

private:
    std::string pick(std::initializer_list<char const*> options) {
        std::vector<char const*> v(options);
        return v[static_cast<std::size_t>(number(0, static_cast<int>(v.size()) - 1))];
    }
    std::string tag() { return pick({"A", "B", "Conn", "Name", "Parameters", "CV_Configurations"}); }
    std::string text() {
        return pick({"", "A", "B", "C", "a", "Conn", " ", "x y", "&amp;", "&lt;B", "&bogus;", "&#65;",
                     "<![CDATA[A]]>", "<!--c-->A", "0123456789abcdef", "Name"});
    }

    std::mt19937 m_gen;
};

// Names that Open may legitimately find: the "Name" text and the tag of
// every child of the root that has a non-empty "Name".
std::set<std::string> findableNames(std::string const& path) {
    std::set<std::string> names;
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) return names;
    tinyxml2::XMLElement const* root = doc.FirstChildElement("CV_Configurations");
    if (root == nullptr) return names;
    for (auto const* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        auto const* n = e->FirstChildElement("Name");
        if (n != nullptr && n->GetText() != nullptr && *n->GetText() != '\0') {
            names.insert(n->GetText());
            names.insert(e->Name());
        }
    }
    return names;
}

TEST(CvConfigFuzz, RandomDocumentsKeepTheInvariants) {
    constexpr unsigned char kGuard = 0xA5;
    constexpr int kGuardBytes = 16;
    TempDir dir;
    DocumentGenerator gen(20240611u);
    int loaded = 0;
    int opened = 0;
    for (int round = 0; round < 400; ++round) {
        std::string const path = dir.write("fuzz.xml", gen.make());
        std::set<std::string> const names = findableNames(path);
        FACE::CV_Config config;
        testing::internal::CaptureStdout();
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        config.Initialize(FACE::String(path.c_str()), rc);
        std::string const console = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(rc == FACE::RETURN_CODE_TYPE::NO_ERROR || rc == FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        ASSERT_TRUE(console.empty() || console == rootMissingLine(path)) << console;
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) continue;
        ++loaded;

        std::vector<int> handles;
        for (int step = 0; step < 12; ++step) {
            std::string const wanted = gen.name();
            int h = -1;
            config.Open(FACE::String(wanted.c_str()), h, rc);
            if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) {
                ASSERT_EQ(names.count(wanted), 1u) << "opened absent name '" << wanted << "' round " << round;
                handles.push_back(h);
                ++opened;
            } else {
                ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
            }
            if (handles.empty()) continue;
            int const target = handles[static_cast<std::size_t>(gen.number(0, static_cast<int>(handles.size()) - 1))];

            config.Seek(target, static_cast<Whence::Value>(gen.number(-1, 3)), gen.number(-3, 3), rc);
            ASSERT_LE(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);

            // The handle always points at a container with a findable name.
            std::string const current =
                CV_Config_Helpers::Details::Read_Config(config, target, FACE::String(""));
            if (!current.empty()) {
                EXPECT_EQ(names.count(current), 1u) << current;
            }

            char const* const parameters[] = {"", "P", "Q", "R", "Name"};
            char const* const parameter = parameters[gen.number(0, 4)];
            int const size = gen.number(0, 12);
            std::vector<unsigned char> buf(static_cast<std::size_t>(size + 2 * kGuardBytes), kGuard);
            int bytes = -1;
            config.Read(target, FACE::String(parameter), buf.data() + kGuardBytes, size, bytes, rc);
            for (int g = 0; g < kGuardBytes; ++g) {
                ASSERT_EQ(buf[static_cast<std::size_t>(g)], kGuard);
                ASSERT_EQ(buf[static_cast<std::size_t>(kGuardBytes + size + g)], kGuard);
            }
            ASSERT_GE(bytes, 0);
            ASSERT_LE(bytes, size);
            if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) {
                int full = -1;
                config.Get_Size(target, FACE::String(parameter), full, rc);
                ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
                ASSERT_EQ(bytes, std::min(full, size));
            }

            if (gen.chance(3)) {
                // A save always produces a file that loads again.
                std::string value = "w&<" + std::to_string(round);
                int written = 0;
                config.Write(target, FACE::String(parameter), value.data(), static_cast<int>(value.size()), written, rc);
                ASSERT_TRUE(rc == FACE::RETURN_CODE_TYPE::NO_ERROR || rc == FACE::RETURN_CODE_TYPE::INVALID_PARAM);
                if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) {
                    FACE::CV_Config again;
                    RC againRc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
                    again.Initialize(FACE::String(path.c_str()), againRc);
                    ASSERT_EQ(againRc, FACE::RETURN_CODE_TYPE::NO_ERROR);
                }
            }
            if (gen.chance(10)) {
                config.Close(target, rc);
                ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
                handles.erase(std::remove(handles.begin(), handles.end(), target), handles.end());
            }
        }
    }
    // The generator must reach the interesting paths, not only parse errors.
    EXPECT_GT(loaded, 100);
    EXPECT_GT(opened, 200);
}

}  // namespace
