#include "tools/aspn2-tool/CommandTexts.h"

#include <fstream>

namespace aspn2_tool {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool decodeCommandText(std::string const& line, std::string& text, std::string& error) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\') {
            out += line[i];
            continue;
        }
        std::string const column = std::to_string(i + 1);
        if (i + 1 >= line.size()) {
            error = "column " + column + ": a backslash at the end of the line (write \\\\)";
            return false;
        }
        char const kind = line[++i];
        switch (kind) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                int const high = i + 1 < line.size() ? hexValue(line[i + 1]) : -1;
                int const low = i + 2 < line.size() ? hexValue(line[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    error = "column " + column + ": \\x needs two hexadecimal digits";
                    return false;
                }
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                error =
                    "column " + column + ": unknown escape \\" + std::string(1, kind) + " (\\\\, \\n, \\r, \\t, \\xHH)";
                return false;
        }
    }
    text = std::move(out);
    return true;
}

bool readCommandTexts(std::string const& path, std::vector<std::string>& texts, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::vector<std::string> out;
    std::string line;
    for (long long number = 1; std::getline(in, line); ++number) {
        std::string text;
        std::string why;
        if (!decodeCommandText(line, text, why)) {
            error = path + ":" + std::to_string(number) + ": " + why;
            return false;
        }
        out.push_back(std::move(text));
    }
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    texts = std::move(out);
    return true;
}

}  // namespace aspn2_tool
