// Configuration files that are damaged, hostile or unusually shaped: every
// case ends in a return code and at most the one documented console line.

#include "FACE/CV_Config.h"
#include "FACE/CV_Config_Helpers.h"
#include "tests/FACE/ConfigTestSupport.h"

#include <tinyxml2.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace face_test;
namespace Code = FACE::RETURN_CODE_TYPE;
using CV_Config_Helpers::Details::Read_Config;

std::string seededBytes(unsigned seed, std::size_t n) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

std::string rootMissingLine(std::string const& path) {
    return "Configuration XML - " + path + " Error: Unable to locate the CV_Configurations object\n";
}

TEST(CvConfigBadFiles, UnusableFilesGiveInvalidConfigAndAtMostTheRootLine) {
    std::string const valid = document(container("S", "N", "<P>v</P>"));
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<d>";
    struct Case {
        char const* name;
        std::string content;
        bool rootLine;  // parsed, but without the root
    };
    Case const cases[] = {
        {"empty", "", false},
        {"not XML", "hello world, this is no XML\n", false},
        {"truncated", valid.substr(0, valid.size() / 2), false},
        {"mismatched tags", "<CV_Configurations><S></T></CV_Configurations>", false},
        {"binary garbage", seededBytes(7, 4096), false},
        {"garbage after the root", valid + "\x01\x02junk", false},
        {"deeply nested", "<CV_Configurations>" + deep, false},
        {"other root", "<Configurations><S><Name>N</Name></S></Configurations>", true},
        {"comment only", "<?xml version=\"1.0\"?><!-- nothing -->", true},
        {"root in lower case", "<cv_configurations/>", true},
    };
    TempDir dir;
    for (Case const& c : cases) {
        std::string const path = dir.write("bad.xml", c.content);
        FACE::CV_Config config;
        std::string console;
        EXPECT_EQ(initConfig(config, FACE::String(path.c_str()), &console), Code::INVALID_CONFIG) << c.name;
        EXPECT_EQ(console, c.rootLine ? rootMissingLine(path) : "") << c.name;
        RC rc;
        openHandle(config, "N", &rc);
        EXPECT_EQ(rc, Code::INVALID_MODE) << c.name;
    }

    char nulPath[8] = {'a', '\0', 'b'};
    FACE::String::RETURN_CODE src;
    std::string const missing = dir.path() + "/missing.xml";
    std::string const fifo = dir.path() + "/fifo.xml";  // opening it would block
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FACE::String const paths[] = {FACE::String(missing.c_str()), FACE::String(dir.path().c_str()),
                                  FACE::String(fifo.c_str()),    FACE::String(""),
                                  FACE::String(0u, src),         FACE::String(nulPath, 3, 4, src),
                                  FACE::String("/dev/zero")};
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

TEST(CvConfigBadFiles, EmptyContainersAreNoContainers) {
    TempDir dir;
    std::string const path = dir.write(
        "c.xml", document("<E1/><E2><Name></Name><Parameters><P>x</P></Parameters></E2>"
                          "<E3><Name>   </Name><Parameters><P>blank</P></Parameters></E3>"));
    FACE::CV_Config config;
    ASSERT_EQ(initConfig(config, FACE::String(path.c_str())), Code::NO_ERROR);
    for (char const* name : {"E1", "E2", "E3"}) {  // white space alone is no text
        RC rc;
        openHandle(config, name, &rc);
        EXPECT_EQ(rc, Code::INVALID_CONFIG) << name;
    }

    FACE::CV_Config empty;
    ASSERT_EQ(initConfig(empty, FACE::String(dir.write("e.xml", "<CV_Configurations/>").c_str())), Code::NO_ERROR);
    RC rc;
    openHandle(empty, "CV_Configurations", &rc);
    EXPECT_EQ(rc, Code::INVALID_CONFIG);
}

TEST(CvConfigBadFiles, HundredKilobyteValuesReadAndWriteWhole) {
    std::string big(100 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    TempDir dir;
    std::string const path = dir.write("big.xml", document(container("S", "N", "<Big>" + big + "</Big><Small>s</Small>")));
    FACE::CV_Config config;
    ASSERT_EQ(initConfig(config, FACE::String(path.c_str())), Code::NO_ERROR);
    int const h = openHandle(config, "N");
    EXPECT_EQ(Read_Config(config, h, FACE::String("Big")), big);

    std::string reversed(big.rbegin(), big.rend());
    int bytes = 0;
    ASSERT_EQ(writeValue(config, h, "Small", reversed, &bytes), Code::NO_ERROR);
    EXPECT_EQ(bytes, static_cast<int>(reversed.size()));
    FACE::CV_Config reloaded;
    ASSERT_EQ(initConfig(reloaded, FACE::String(path.c_str())), Code::NO_ERROR);
    EXPECT_EQ(Read_Config(reloaded, openHandle(reloaded, "N"), FACE::String("Small")), reversed);
}

TEST(CvConfigBadFiles, TenMegabyteFiles) {
    TempDir dir;
    std::string body;
    int count = 0;
    for (; body.size() < 10u * 1024u * 1024u; ++count) {
        body += container("Conn", "C" + std::to_string(count),
                          "<Id>" + std::to_string(count) + "</Id><Pad>" + std::string(200, 'p') + "</Pad>");
    }
    std::string const path = dir.write("huge.xml", document(body));
    FACE::CV_Config config;
    ASSERT_EQ(initConfig(config, FACE::String(path.c_str())), Code::NO_ERROR);
    int const h = openHandle(config, ("C" + std::to_string(count - 1)).c_str());
    EXPECT_EQ(readValue(config, h, "Id"), std::to_string(count - 1));
    RC rc;
    config.Seek(h, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_START, count - 1, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    config.Seek(h, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_START, count, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);

    std::string const junk = dir.write("junk.xml", "<CV_Configurations>" + seededBytes(11, 10u << 20));
    FACE::CV_Config other;
    std::string console;
    EXPECT_EQ(initConfig(other, FACE::String(junk.c_str()), &console), Code::INVALID_CONFIG);
    EXPECT_EQ(console, "");
}

// Random documents built from the pieces of the file format with random
// damage: missing closing tags, entities good and bad, CDATA, stray bytes.
class DocumentGenerator {
public:
    explicit DocumentGenerator(unsigned seed) : m_gen(seed) {}

    std::string make() {
        std::string doc = chance(80) ? "<?xml version=\"1.0\"?>\n" : "";
        if (chance(10)) doc += pick({"<A/>", "<!-- x -->", "text"});
        doc += chance(90) ? "<CV_Configurations>" : "<" + tag() + ">";
        for (int i = number(0, 6); i > 0; --i) {
            std::string const t = tag();
            doc += "<" + t + ">" + (chance(85) ? "<Name>" + text() + "</Name>" : "");
            if (chance(85)) {
                doc += "<Parameters>";
                for (int p = number(0, 4); p > 0; --p) {
                    std::string const pt = pick({"P", "Q", "Name", "Parameters"});
                    doc += "<" + pt + ">" + text() + (chance(95) ? "</" + pt + ">" : "");
                }
                doc += "</Parameters>";
            }
            doc += chance(95) ? "</" + t + ">" : "";
            doc += chance(5) ? std::string(1, static_cast<char>(number(0, 255))) : "";
        }
        return doc + (chance(90) ? "</CV_Configurations>" : "");
    }
    std::string name() { return chance(50) ? text() : tag(); }
    int number(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_gen); }
    bool chance(int percent) { return number(1, 100) <= percent; }

private:
    std::string pick(std::initializer_list<char const*> options) {
        return options.begin()[number(0, static_cast<int>(options.size()) - 1)];
    }
    std::string tag() { return pick({"A", "B", "Conn", "Name", "Parameters", "CV_Configurations"}); }
    std::string text() {
        return pick({"", "A", "B", "a", "Conn", " ", "x y", "&amp;", "&lt;B", "&bogus;", "&#65;",
                     "<![CDATA[A]]>", "<!--c-->A", "0123456789abcdef", "Name"});
    }
    std::mt19937 m_gen;
};

// The names Open may find: "Name" text and tag of each root child that has
// a non-empty "Name".
std::set<std::string> findableNames(std::string const& path) {
    std::set<std::string> names;
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    tinyxml2::XMLElement const* root =
        doc.LoadFile(path.c_str()) == tinyxml2::XML_SUCCESS ? doc.FirstChildElement("CV_Configurations") : nullptr;
    for (auto const* e = root ? root->FirstChildElement() : nullptr; e; e = e->NextSiblingElement()) {
        char const* n = e->FirstChildElement("Name") ? e->FirstChildElement("Name")->GetText() : nullptr;
        if (n != nullptr && *n != '\0') names.insert({n, e->Name()});
    }
    return names;
}

TEST(CvConfigFuzz, RandomDocumentsKeepTheInvariants) {
    constexpr unsigned char kGuard = 0xA5;
    constexpr std::size_t kGuardBytes = 16;
    TempDir dir;
    DocumentGenerator gen(20240611u);
    int loaded = 0;
    int opened = 0;
    for (int round = 0; round < 400; ++round) {
        std::string const path = dir.write("fuzz.xml", gen.make());
        std::set<std::string> const names = findableNames(path);
        FACE::CV_Config config;
        std::string console;
        RC rc = initConfig(config, FACE::String(path.c_str()), &console);
        ASSERT_TRUE(console.empty() || console == rootMissingLine(path)) << console;
        if (rc != Code::NO_ERROR) continue;
        ++loaded;
        std::vector<int> handles;
        for (int step = 0; step < 12; ++step) {
            std::string const wanted = gen.name();
            int const opening = openHandle(config, wanted.c_str(), &rc);
            if (rc == Code::NO_ERROR) {
                ASSERT_EQ(names.count(wanted), 1u) << "opened absent '" << wanted << "' in round " << round;
                handles.push_back(opening);
                ++opened;
            }
            if (handles.empty()) continue;
            int const h = handles[static_cast<std::size_t>(gen.number(0, static_cast<int>(handles.size()) - 1))];
            config.Seek(h, static_cast<FACE::Configuration::WHENCE_TYPE::Value>(gen.number(-1, 3)), gen.number(-3, 3), rc);
            ASSERT_LE(rc, Code::INVALID_CONFIG);
            ASSERT_EQ(names.count(readValue(config, h, "")), 1u);  // always at a container

            char const* const parameter = gen.chance(20) ? "" : gen.chance(50) ? "P" : "Name";
            int const size = gen.number(0, 12);
            std::vector<unsigned char> buf(static_cast<std::size_t>(size) + 2 * kGuardBytes, kGuard);
            int bytes = -1;
            config.Read(h, FACE::String(parameter), buf.data() + kGuardBytes, size, bytes, rc);
            ASSERT_TRUE(std::all_of(buf.begin(), buf.begin() + kGuardBytes, [](unsigned char b) { return b == kGuard; }));
            ASSERT_TRUE(std::all_of(buf.end() - kGuardBytes, buf.end(), [](unsigned char b) { return b == kGuard; }));
            ASSERT_TRUE(bytes >= 0 && bytes <= size);

            if (gen.chance(3) && writeValue(config, h, parameter, "w&<" + std::to_string(round)) == Code::NO_ERROR) {
                FACE::CV_Config again;  // a save always loads again
                ASSERT_EQ(initConfig(again, FACE::String(path.c_str())), Code::NO_ERROR);
            }
            if (gen.chance(10)) {
                config.Close(h, rc);
                handles.erase(std::remove(handles.begin(), handles.end(), h), handles.end());
            }
        }
    }
    EXPECT_GT(loaded, 100);  // the generator reaches more than parse errors
    EXPECT_GT(opened, 200);
}

}  // namespace
