#ifndef TESTS_FACE_CONFIG_TEST_SUPPORT_H
#define TESTS_FACE_CONFIG_TEST_SUPPORT_H

// Helpers shared by the configuration tests: a temporary directory removed
// at the end of the test, file writing, and a short-hand for return codes.

#include "FACE/FACE_Common.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace face_test {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "face_cfg_XXXXXX").string();
        char* made = ::mkdtemp(tmpl.data());
        if (made == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        m_path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;

    std::string const& path() const { return m_path; }

    // Writes `content` (bytes as given) to <dir>/<name> and returns the path.
    std::string write(std::string const& name, std::string const& content) const {
        std::string const file = m_path + "/" + name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return file;
    }

private:
    std::string m_path;
};

inline std::string readFile(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A container element of the usual file format.
inline std::string container(std::string const& tag, std::string const& name,
                             std::string const& params) {
    return "<" + tag + "><Name>" + name + "</Name><Parameters>" + params + "</Parameters></" +
           tag + ">";
}

inline std::string document(std::string const& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CV_Configurations>" + body +
           "</CV_Configurations>\n";
}

using RC = FACE::RETURN_CODE_TYPE::Value;

}  // namespace face_test

#endif  // TESTS_FACE_CONFIG_TEST_SUPPORT_H
