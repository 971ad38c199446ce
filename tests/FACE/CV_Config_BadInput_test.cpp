// Configuration files that are damaged, hostile or unusually shaped: every
// case ends in a return code and at most the one documented console line.

#include "FACE/CV_Config.h"
#include "FACE/CV_Config_Helpers.h"
#include "tests/FACE/ConfigTestSupport.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>

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
    std::tuple<char const*, std::string, bool> const cases[] = {  // name, content, parsed without the root
        {"empty", "", false},
        {"not XML", "hello world, this is no XML\n", false},
        {"truncated", valid.substr(0, valid.size() / 2), false},
        {"binary garbage", seededBytes(7, 4096), false},
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
        EXPECT_EQ(console, rootLine ? rootMissingLine(path) : "") << name;
        RC rc;
        openHandle(config, "N", &rc);
        EXPECT_EQ(rc, Code::INVALID_MODE) << name;
    }

    char nulPath[8] = {'a', '\0', 'b'};
    FACE::String::RETURN_CODE src;
    std::string const missing = dir.path() + "/missing.xml";
    std::string const fifo = dir.path() + "/fifo.xml";  // opening it would block
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

TEST(CvConfigBadFiles, EmptyContainersAreNoContainers) {
    TempDir dir;
    std::string const path = dir.write(
        "c.xml", document("<E1/><E2><Name></Name><Parameters><P>x</P></Parameters></E2>"
                          "<E3><Name>   </Name><Parameters><P>blank</P></Parameters></E3>"));
    FACE::CV_Config config;
    ASSERT_EQ(initConfig(config, FACE::String(path.c_str())), Code::NO_ERROR);
    for (char const* name : {"E1", "E2", "E3", "CV_Configurations"}) {  // white space alone is no text
        RC rc;
        openHandle(config, name, &rc);
        EXPECT_EQ(rc, Code::INVALID_CONFIG) << name;
    }
}

TEST(CvConfigBadFiles, HundredKilobyteValuesAndTenMegabyteFiles) {
    std::string big(100 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    TempDir dir;
    std::string const path = dir.write("big.xml", document(container("S", "N", "<Big>" + big + "</Big><Small>s</Small>")));
    FACE::CV_Config config;
    ASSERT_EQ(initConfig(config, FACE::String(path.c_str())), Code::NO_ERROR);
    int const h = openHandle(config, "N");
    EXPECT_EQ(Read_Config(config, h, FACE::String("Big")), big);
    std::string const reversed(big.rbegin(), big.rend());
    ASSERT_EQ(writeValue(config, h, "Small", reversed), Code::NO_ERROR);
    FACE::CV_Config reloaded;
    ASSERT_EQ(initConfig(reloaded, FACE::String(path.c_str())), Code::NO_ERROR);
    EXPECT_EQ(Read_Config(reloaded, openHandle(reloaded, "N"), FACE::String("Small")), reversed);

    std::string body;
    int count = 0;
    for (; body.size() < 10u * 1024u * 1024u; ++count) {
        body += container("Conn", "C" + std::to_string(count),
                          "<Id>" + std::to_string(count) + "</Id><Pad>" + std::string(200, 'p') + "</Pad>");
    }
    std::string const huge = dir.write("huge.xml", document(body));
    FACE::CV_Config large;
    ASSERT_EQ(initConfig(large, FACE::String(huge.c_str())), Code::NO_ERROR);
    int const last = openHandle(large, ("C" + std::to_string(count - 1)).c_str());
    EXPECT_EQ(readValue(large, last, "Id"), std::to_string(count - 1));
    RC rc;
    large.Seek(last, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_START, count, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
}

}  // namespace
