#ifndef TESTS_FACE_CONFIG_TEST_SUPPORT_H
#define TESTS_FACE_CONFIG_TEST_SUPPORT_H

// Helpers of the configuration tests: a temporary directory with files
// written into it, documents of the usual format, and one-line wrappers of
// the CV_Config operations.

#include "FACE/CV_Config.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace face_test {

using RC = FACE::RETURN_CODE_TYPE::Value;

class TempDir : public corvane_test::TempDir {
public:
    TempDir() : corvane_test::TempDir("face_cfg") {}
    // Writes `content` to <dir>/<name> and returns the path.
    std::string write(std::string const& name, std::string const& content) const {
        std::ofstream(file(name), std::ios::binary) << content;
        return file(name);
    }
};

inline std::string readFile(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string container(std::string const& tag, std::string const& name, std::string const& params) {
    return "<" + tag + "><Name>" + name + "</Name><Parameters>" + params + "</Parameters></" + tag + ">";
}

inline std::string document(std::string const& body) {
    return "<?xml version=\"1.0\"?>\n<CV_Configurations>" + body + "</CV_Configurations>\n";
}

// Initialize; the console output goes to *console when given.
inline RC initConfig(FACE::CV_Config& config, FACE::String const& path, std::string* console = nullptr) {
    RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    testing::internal::CaptureStdout();
    config.Initialize(path, rc);
    std::string const out = testing::internal::GetCapturedStdout();
    if (console != nullptr) *console = out;
    return rc;
}

// Open; the handle, or -1 with *rcOut set when it fails.
inline int openHandle(FACE::CV_Config& config, char const* name, RC* rcOut = nullptr) {
    int handle = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    config.Open(FACE::String(name), handle, rc);
    if (rcOut != nullptr) *rcOut = rc;
    return rc == FACE::RETURN_CODE_TYPE::NO_ERROR ? handle : -1;
}

// The value of `parameter`, or "<rc N>" when Read fails.
inline std::string readValue(FACE::CV_Config& config, int handle, char const* parameter) {
    std::string buf(200'000, '\0');
    int bytes = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    config.Read(handle, FACE::String(parameter), buf.data(), static_cast<int>(buf.size()), bytes, rc);
    return rc != FACE::RETURN_CODE_TYPE::NO_ERROR ? "<rc " + std::to_string(rc) + ">"
                                                  : buf.substr(0, std::size_t(bytes));
}

// Write of `value`; *bytes gets the count reported.
inline RC writeValue(FACE::CV_Config& config, int handle, char const* parameter, std::string value,
                     int* bytes = nullptr) {
    int written = -1;
    RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    config.Write(handle, FACE::String(parameter), value.data(), static_cast<int>(value.size()), written, rc);
    if (bytes != nullptr) *bytes = written;
    return rc;
}

}  // namespace face_test

#endif  // TESTS_FACE_CONFIG_TEST_SUPPORT_H
