#include "FACE/CV_Config_Helpers.h"

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <vector>

namespace CV_Config_Helpers {

namespace {

void warnNotFound(FACE::String const& name) {
    std::cout << "WARNING - Parameter " << name << " not found" << std::endl;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

namespace Details {

std::string Read_Config(FACE::Configuration& config, int handle, FACE::String const& name) {
    std::string text;
    try {
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        int size = 0;
        config.Get_Size(handle, name, size, rc);
        if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR && size > 0) {
            std::vector<char> buffer(static_cast<std::size_t>(size));
            int bytes = 0;
            config.Read(handle, name, buffer.data(), size, bytes, rc);
            if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR && bytes > 0 && bytes <= size) {
                text.assign(buffer.data(), static_cast<std::size_t>(bytes));
            }
        }
    } catch (...) {
        text.clear();
    }
    if (text.empty()) {
        warnNotFound(name);
    }
    return text;
}

bool Write_Config(FACE::Configuration& config, int handle, FACE::String const& name, FACE::String const& value) {
    if (!value.is_valid() || value.length() > static_cast<unsigned int>(std::numeric_limits<int>::max())) {
        return false;
    }
    try {
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        int const size = static_cast<int>(value.length());
        int written = 0;
        // The service only reads the buffer; the interface takes it non-const.
        config.Write(handle, name, const_cast<char*>(value.buffer()), size, written, rc);
        return rc == FACE::RETURN_CODE_TYPE::NO_ERROR && written == size;
    } catch (...) {
        return false;
    }
}

unsigned long long Parse_Unsigned(std::string const& text) {
    char const* begin = text.c_str();
    char* end = nullptr;
    unsigned long long const value = std::strtoull(begin, &end, 0);
    return end == begin ? 0ULL : value;
}

long long Parse_Signed(std::string const& text) {
    char const* begin = text.c_str();
    char* end = nullptr;
    long long const value = std::strtoll(begin, &end, 0);
    return end == begin ? 0LL : value;
}

bool Parse_Boolean(std::string const& text) {
    std::string const lower = lowerCase(text);
    if (lower == "true") {
        return true;
    }
    if (lower == "false") {
        return false;
    }
    return Parse_Unsigned(lower) != 0;
}

}  // namespace Details

void Get_String_Parameter(FACE::Configuration& config, int handle, FACE::String const& name, FACE::String& value,
                          FACE::RETURN_CODE_TYPE::Value& return_code) {
    std::string const text = Details::Read_Config(config, handle, name);
    if (text.empty()) {
        return_code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    value = FACE::String(text.c_str());
}

void Get_Boolean_Parameter(FACE::Configuration& config, int handle, FACE::String const& name, bool& value,
                           FACE::RETURN_CODE_TYPE::Value& return_code) {
    std::string const text = Details::Read_Config(config, handle, name);
    if (text.empty()) {
        return_code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    value = Details::Parse_Boolean(text);
}

void Set_String_Parameter(FACE::Configuration& config, int handle, FACE::String const& name, FACE::String const& value,
                          FACE::RETURN_CODE_TYPE::Value& return_code) {
    if (!Details::Write_Config(config, handle, name, value)) {
        return_code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
    }
}

void Set_Boolean_Parameter(FACE::Configuration& config, int handle, FACE::String const& name, bool value,
                           FACE::RETURN_CODE_TYPE::Value& return_code) {
    FACE::String const text(value ? "TRUE" : "FALSE");
    if (!Details::Write_Config(config, handle, name, text)) {
        return_code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
    }
}

}  // namespace CV_Config_Helpers
