#ifndef FACE_FACE_COMMON_H
#define FACE_FACE_COMMON_H

// Value types shared by every FACE interface of the system: the return code
// with its text form, FACE::String, FACE::Sequence<T>, and the two guards
// that turn a failed return code into an exception.

#include "FACE/FACE_Sequence.h"
#include "FACE/FACE_String.h"

#include <cstdint>

namespace FACE {

namespace RETURN_CODE_TYPE {

/// Outcome of every FACE operation, held in 32 bits.
enum Value : std::uint32_t {
    NO_ERROR = 0,
    NO_ACTION = 1,
    NOT_AVAILABLE = 2,
    INVALID_PARAM = 3,
    INVALID_CONFIG = 4,
    INVALID_MODE = 5,
    TIMED_OUT = 6,
    ADDR_IN_USE = 7,
    PERMISSION_DENIED = 8,
    MESSAGE_STALE = 9,
    IN_PROGRESS = 10,
    CONNECTION_CLOSED = 11,
    DATA_BUFFER_TOO_SMALL = 12,
    DATA_OVERFLOW = 13
};

/// Managed string holding the name of `value` ("NO_ERROR" ..
/// "DATA_OVERFLOW"), or "RC_UNKNOWN" for any value above 13. Never throws.
FACE::String ToString(Value value);

}  // namespace RETURN_CODE_TYPE

/// Returns when rc is NO_ERROR. Otherwise writes
///   <file>[<line>]:<name of rc> <message>
/// and an end of line to standard output and throws std::runtime_error with
/// the same text. `file` is whatever the caller passes (usually __FILE__);
/// null file or message count as empty text.
void Return_Code_Value_No_Error(char const* file, int line, char const* message, RETURN_CODE_TYPE::Value rc);

/// As Return_Code_Value_No_Error, but NO_ACTION also returns normally.
void Return_Code_Value_No_Error_No_Action(char const* file, int line, char const* message, RETURN_CODE_TYPE::Value rc);

}  // namespace FACE

#endif  // FACE_FACE_COMMON_H
