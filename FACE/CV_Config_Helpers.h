#ifndef FACE_CV_CONFIG_HELPERS_H
#define FACE_CV_CONFIG_HELPERS_H

// Typed access to the parameters of any FACE::Configuration, with one
// uniform warning for a missing value:
//   WARNING - Parameter <name> not found
// (a line on standard output). A parameter that is present but empty counts
// as missing.
//
// The Get_ and Set_ helpers set the caller's return code only on failure
// (to INVALID_CONFIG); on success they leave it as it was, so a caller sets
// NO_ERROR once, runs several calls and tests the code at the end. None of
// them throws.

#include "FACE/Configuration.h"
#include "FACE/FACE_Common.h"

#include <string>

namespace CV_Config_Helpers {

namespace Details {

/// Value of `name` in the container of `handle`: Get_Size, then Read of that
/// many bytes. Empty text, after printing the warning, when the parameter
/// is missing, empty or cannot be read.
std::string Read_Config(FACE::Configuration& config, int handle, FACE::String const& name);

/// Writes the characters of `value` as the new value of `name`. True when
/// the service answered NO_ERROR and wrote every character; false also for
/// an invalid `value`.
bool Write_Config(FACE::Configuration& config, int handle, FACE::String const& name, FACE::String const& value);

/// Reads `text` as an unsigned number with automatic base, as strtoull with
/// base 0 does: leading white space and a sign are accepted, "0x"/"0X"
/// means hexadecimal, a leading "0" octal, otherwise decimal; the number
/// ends at the first character that does not belong to it. Text that does
/// not start with a number gives 0; a value beyond the range gives
/// 18446744073709551615; a negative number wraps modulo 2^64 (as strtoull).
/// Callers keep the low bits they need (e.g. 16 or 32).
unsigned long long Parse_Unsigned(std::string const& text);

/// Reads `text` as a signed number with automatic base, as strtoll with
/// base 0 does (same forms as Parse_Unsigned). Text that does not start
/// with a number gives 0; values beyond the range saturate at
/// -9223372036854775808 / 9223372036854775807.
long long Parse_Signed(std::string const& text);

/// `text` read as a boolean: "true"/"false" in any case, otherwise a
/// number with automatic base (non-zero is true; text that is no number,
/// such as "yes" or " true " with spaces, is false).
bool Parse_Boolean(std::string const& text);

}  // namespace Details

/// value := the text of `name` as a managed copy bounded to its length.
/// Missing or empty: warning, return_code = INVALID_CONFIG, value untouched.
void Get_String_Parameter(FACE::Configuration& config, int handle, FACE::String const& name, FACE::String& value,
                          FACE::RETURN_CODE_TYPE::Value& return_code);

/// value := the text of `name` read as a boolean: "true"/"false" in any
/// case, otherwise a number with automatic base (non-zero is true; text
/// that is no number is false). Missing or empty: warning,
/// return_code = INVALID_CONFIG, value untouched.
void Get_Boolean_Parameter(FACE::Configuration& config, int handle, FACE::String const& name, bool& value,
                           FACE::RETURN_CODE_TYPE::Value& return_code);

/// Writes `value` as the new text of `name`; INVALID_CONFIG when that fails.
void Set_String_Parameter(FACE::Configuration& config, int handle, FACE::String const& name, FACE::String const& value,
                          FACE::RETURN_CODE_TYPE::Value& return_code);

/// Writes "TRUE" or "FALSE" as the new text of `name`; INVALID_CONFIG when
/// that fails.
void Set_Boolean_Parameter(FACE::Configuration& config, int handle, FACE::String const& name, bool value,
                           FACE::RETURN_CODE_TYPE::Value& return_code);

}  // namespace CV_Config_Helpers

#endif  // FACE_CV_CONFIG_HELPERS_H
