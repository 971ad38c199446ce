#include "FACE/FACE_Common.h"

#include <iostream>
#include <stdexcept>
#include <string>

namespace FACE {

namespace RETURN_CODE_TYPE {

namespace {

char const* nameOf(Value value) noexcept {
    switch (value) {
        case NO_ERROR:
            return "NO_ERROR";
        case NO_ACTION:
            return "NO_ACTION";
        case NOT_AVAILABLE:
            return "NOT_AVAILABLE";
        case INVALID_PARAM:
            return "INVALID_PARAM";
        case INVALID_CONFIG:
            return "INVALID_CONFIG";
        case INVALID_MODE:
            return "INVALID_MODE";
        case TIMED_OUT:
            return "TIMED_OUT";
        case ADDR_IN_USE:
            return "ADDR_IN_USE";
        case PERMISSION_DENIED:
            return "PERMISSION_DENIED";
        case MESSAGE_STALE:
            return "MESSAGE_STALE";
        case IN_PROGRESS:
            return "IN_PROGRESS";
        case CONNECTION_CLOSED:
            return "CONNECTION_CLOSED";
        case DATA_BUFFER_TOO_SMALL:
            return "DATA_BUFFER_TOO_SMALL";
        case DATA_OVERFLOW:
            return "DATA_OVERFLOW";
    }
    return "RC_UNKNOWN";
}

}  // namespace

FACE::String ToString(Value value) {
    FACE::String::RETURN_CODE rc;
    return FACE::String(nameOf(value), rc);
}

}  // namespace RETURN_CODE_TYPE

namespace {

[[noreturn]] void throw_error(char const* file, int line, char const* message, RETURN_CODE_TYPE::Value rc) {
    FACE::String const name = RETURN_CODE_TYPE::ToString(rc);
    std::string text = file == nullptr ? "" : file;
    text += '[';
    text += std::to_string(line);
    text += "]:";
    text.append(name.buffer() == nullptr ? "" : name.buffer(), name.length());
    text += ' ';
    text += message == nullptr ? "" : message;
    std::cout << text << std::endl;
    throw std::runtime_error(text);
}

}  // namespace

void Return_Code_Value_No_Error(char const* file, int line, char const* message, RETURN_CODE_TYPE::Value rc) {
    if (rc != RETURN_CODE_TYPE::NO_ERROR) {
        throw_error(file, line, message, rc);
    }
}

void Return_Code_Value_No_Error_No_Action(char const* file, int line, char const* message, RETURN_CODE_TYPE::Value rc) {
    if (rc > RETURN_CODE_TYPE::NO_ACTION) {
        throw_error(file, line, message, rc);
    }
}

}  // namespace FACE
