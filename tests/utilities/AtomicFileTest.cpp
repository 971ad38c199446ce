// Atomic replacement of files: the helper itself, and the two savers that
// use it (a configuration value written back, a VCL text saved by the
// VICTORY library) killed in the middle of large saves.
#include "utilities/AtomicFile.h"

#include "FACE/CV_Config.h"
#include "platform/victory/victory.h"
#include "tests/support/TempDir.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using corvane_test::TempDir;

std::string readFile(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(std::string const& path, std::string const& text) { std::ofstream(path, std::ios::binary) << text; }

// Names in `folder` that start with `prefix`.
std::vector<std::string> entries(std::string const& folder, std::string const& prefix) {
    std::vector<std::string> names;
    if (DIR* const d = ::opendir(folder.c_str())) {
        while (dirent const* e = ::readdir(d)) {
            std::string const name = e->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

TEST(AtomicFile, ReplacesKeepingThePermissionsAndLeavesNothingBehind) {
    TempDir dir("atomic");
    std::string const path = dir.file("value.xml");
    ASSERT_EQ(AtomicFile::replaceContents(path, "new", 3), 0);  // created
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(AtomicFile::replaceContents(path, "newer", 5), 0);
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(readFile(path), "newer");
    EXPECT_EQ(AtomicFile::replaceContents(path, "", 0), 0);
    EXPECT_EQ(readFile(path), "");
    EXPECT_EQ(entries(dir.path(), "value.xml"), std::vector<std::string>{"value.xml"});

    // Failures leave the old file and no temporary file.
    writeFile(path, "old");
    ASSERT_EQ(::mkdir(dir.file("folder").c_str(), 0755), 0);
    struct Row {
        std::string path;
        int error;
    } const rows[] = {
        {dir.file("missing/value.xml"), ENOENT},  // no such folder
        {dir.file("folder"), EISDIR},             // never replaces a folder
        {"/dev/null", EINVAL},                    // nor a device
        {"", EINVAL},
    };
    for (Row const& row : rows) {
        EXPECT_EQ(AtomicFile::replaceContents(row.path, "x", 1), row.error) << row.path;
    }
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(entries(dir.path(), "folder"), std::vector<std::string>{"folder"});
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    EXPECT_TRUE(S_ISCHR(null.st_mode));

    // A link is followed: its file gets the new contents, the link stays.
    ASSERT_EQ(::symlink("value.xml", dir.file("link.xml").c_str()), 0);
    EXPECT_EQ(AtomicFile::replaceContents(dir.file("link.xml"), "linked", 6), 0);
    EXPECT_EQ(readFile(path), "linked");
    struct stat link {};
    ASSERT_EQ(::lstat(dir.file("link.xml").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
}

// One saver: writes versions of a large file for ever (in a child), and
// tells a complete file from a damaged one.
struct Saver {
    char const* name;
    std::string file;                          // in the test's folder
    void (*prepare)(std::string const& path);  // the first version, 'a'
    [[noreturn]] void (*saveForever)(std::string const& path);
    char (*version)(std::string const& content);  // 'a'..'c', or 0 when damaged
};

constexpr std::size_t kLarge = 4u << 20;  // bytes of each version's value

std::string configDocument(char letter) {
    return "<?xml version=\"1.0\"?>\n<CV_Configurations><Item><Name>Big</Name><Parameters><Value>" +
           std::string(kLarge, letter) + "</Value></Parameters></Item></CV_Configurations>\n";
}

[[noreturn]] void saveConfigForever(std::string const& path) {
    FACE::CV_Config config;
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    config.Initialize(FACE::String(path.c_str()), rc);
    int handle = -1;
    config.Open(FACE::String("Big"), handle, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) std::_Exit(3);
    for (unsigned n = 0;; ++n) {
        std::string value(kLarge, n % 2 == 0 ? 'b' : 'c');
        int bytes = 0;
        config.Write(handle, FACE::String("Value"), value.data(), static_cast<int>(value.size()), bytes, rc);
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) std::_Exit(4);
    }
}

char configVersion(std::string const& content) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(content.c_str(), content.size()) != tinyxml2::XML_SUCCESS) return 0;
    tinyxml2::XMLElement const* value =
        doc.RootElement() == nullptr ? nullptr : doc.RootElement()->FirstChildElement("Item");
    value = value == nullptr ? nullptr : value->FirstChildElement("Parameters");
    value = value == nullptr ? nullptr : value->FirstChildElement("Value");
    char const* text = value == nullptr ? nullptr : value->GetText();
    if (text == nullptr) return 0;
    std::string const s = text;
    return s.size() == kLarge && s.find_first_not_of(s[0]) == std::string::npos ? s[0] : 0;
}

std::string vclText(char letter) { return "<vcl>" + std::string(kLarge, letter) + "</vcl>\n"; }

[[noreturn]] void saveVclForever(std::string const& path) {
    for (unsigned n = 0;; ++n) {
        if (vutilWriteStringToFile(vclText(n % 2 == 0 ? 'b' : 'c').c_str(), path.c_str()) != VUTIL_OK) std::_Exit(4);
    }
}

char vclVersion(std::string const& content) {
    for (char letter : {'a', 'b', 'c'}) {
        if (content == vclText(letter)) return letter;
    }
    return 0;
}

Saver const kSavers[] = {
    {"ConfigurationValue", "ZOziDaZodOduzuz.xml", [](std::string const& p) { writeFile(p, configDocument('a')); },
     saveConfigForever, configVersion},
    {"VclText", "Position_1_9_vcl.xml", [](std::string const& p) { writeFile(p, vclText('a')); }, saveVclForever,
     vclVersion},
};

class KilledSave : public testing::TestWithParam<Saver> {};

// A child saving a large file is killed at a random moment of a save,
// twelve times: the file is always one complete version. Guards against a
// save that truncates and rewrites the file in place, where a kill leaves
// half a document (or an empty file).
TEST_P(KilledSave, AlwaysLeavesOneCompleteVersion) {
    Saver const& saver = GetParam();
    TempDir dir("killed-save");
    std::string const path = dir.file(saver.file);
    saver.prepare(path);
    std::mt19937 random(20261206);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        pid_t const child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) saver.saveForever(path);
        // A save is under way once its temporary file exists; the kill
        // lands somewhere in that save or a later one.
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (entries(dir.path(), saver.file + ".tmp.").empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saver ended by itself: " << status;
        char const version = saver.version(readFile(path));
        ASSERT_NE(version, 0) << "a damaged file after a kill";
        for (std::string const& left : entries(dir.path(), saver.file + ".tmp.")) ::unlink(dir.file(left).c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Savers, KilledSave, testing::ValuesIn(kSavers),
                         [](testing::TestParamInfo<Saver> const& info) { return std::string(info.param.name); });

}  // namespace
