#include "utilities/StringUtils.h"

#include <cstring>

namespace {

// Characters that the trimming functions remove.
const std::string WHITESPACE = " \n\r\t\f\v";

}  // namespace

namespace StringUtils {

std::string ltrim(const std::string& s) {
    const std::size_t start = s.find_first_not_of(WHITESPACE);
    return start == std::string::npos ? std::string() : s.substr(start);
}

std::string rtrim(const std::string& s) {
    const std::size_t end = s.find_last_not_of(WHITESPACE);
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string trim(const std::string& s) { return ltrim(rtrim(s)); }

std::vector<std::string> split(const std::string& s, char delim) {
    // Same pieces as reading `s` as a stream with getline(stream, piece, delim).
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    while (pos < s.size()) {
        const std::size_t next = s.find(delim, pos);
        if (next == std::string::npos) {
            pieces.emplace_back(s, pos);
            break;
        }
        pieces.emplace_back(s, pos, next - pos);
        pos = next + 1;
    }
    return pieces;
}

std::string join(const std::vector<std::string>& parts, char sep) {
    std::string out;
    if (parts.empty()) {
        return out;
    }
    std::size_t total = parts.size() - 1;
    for (const auto& p : parts) {
        total += p.size();
    }
    out.reserve(total);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) {
            out.push_back(sep);
        }
        out += parts[i];
    }
    return out;
}

void splitToChunks(const std::string& s, unsigned chunkSize, std::vector<std::string>& out) {
    if (s.empty()) {
        return;
    }
    if (chunkSize == 0) {
        out.push_back(s);
        return;
    }
    for (std::size_t pos = 0; pos < s.size(); pos += chunkSize) {
        out.emplace_back(s, pos, chunkSize);
    }
}

std::vector<std::string> splitToChunks(const std::string& s, unsigned chunkSize) {
    std::vector<std::string> out;
    splitToChunks(s, chunkSize, out);
    return out;
}

void cstr_replace(char* str, const char* chars, char replacement) {
    if (str == nullptr || chars == nullptr) {
        return;
    }
    // The length is taken once so that a NUL replacement does not hide the
    // rest of the text from the later characters of `chars`.
    const std::size_t length = std::strlen(str);
    for (; *chars != '\0'; ++chars) {
        for (std::size_t i = 0; i < length; ++i) {
            if (str[i] == *chars) {
                str[i] = replacement;
            }
        }
    }
}

char* strncpy_prot(char* dst, const char* src, unsigned n) {
    if (n == 0 || dst == nullptr) {
        return dst;
    }
    if (src == nullptr) {
        std::memset(dst, 0, n);
        return dst;
    }
    std::strncpy(dst, src, n);
    dst[n - 1] = '\0';
    return dst;
}

}  // namespace StringUtils
