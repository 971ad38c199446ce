#pragma once

#include <string>
#include <vector>

// Small text helpers on std::string and NUL-terminated character arrays.
// None of them throws except through std::bad_alloc.
namespace StringUtils {

// `s` without leading space, line feed, carriage return, tab, form feed or
// vertical tab characters; empty when `s` holds nothing else.
std::string ltrim(const std::string& s);

// `s` without trailing characters of the same set; empty when `s` holds
// nothing else.
std::string rtrim(const std::string& s);

// ltrim(rtrim(s)).
std::string trim(const std::string& s);

// The pieces of `s` between occurrences of `delim`, in order. The delimiter
// belongs to no piece. Adjacent delimiters give empty pieces, a leading
// delimiter an empty first piece; a delimiter at the very end adds no empty
// last piece, and an empty `s` gives no pieces at all.
std::vector<std::string> split(const std::string& s, char delim);

// The parts in order with `sep` between neighbours; "" for no parts.
std::string join(const std::vector<std::string>& parts, char sep);

// Appends consecutive pieces of `s` of `chunkSize` characters to `out`; the
// last piece holds the rest and may be shorter. An empty `s` appends nothing.
// A `chunkSize` of 0 appends `s` whole as one piece.
void splitToChunks(const std::string& s, unsigned chunkSize, std::vector<std::string>& out);

// The same pieces in a new vector.
std::vector<std::string> splitToChunks(const std::string& s, unsigned chunkSize);

// In the NUL-terminated `str`, every character that occurs in the
// NUL-terminated `chars` becomes `replacement`; the length stays. Null
// arguments leave everything unchanged.
void cstr_replace(char* str, const char* chars, char replacement);

// strncpy(dst, src, n), then dst[n - 1] = NUL: at most n - 1 characters of
// `src` survive and the result is always terminated within `n` bytes; a
// shorter `src` is padded with NULs. Returns `dst`. With n == 0 nothing is
// written.
char* strncpy_prot(char* dst, const char* src, unsigned n);

}  // namespace StringUtils
