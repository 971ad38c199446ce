#ifndef TOOLS_ASPN2_TOOL_COMMANDTEXTS_H
#define TOOLS_ASPN2_TOOL_COMMANDTEXTS_H

// A file of command texts for `aspn2-tool command --texts FILE`: one text
// per line, with escapes so that any byte can be sent (line breaks, NUL,
// bytes that are not UTF-8): \\ a backslash, \n a line feed, \r a carriage
// return, \t a tab, \xHH the byte of two hexadecimal digits.

#include <string>
#include <vector>

namespace aspn2_tool {

/// The text of one escaped line. False with a one-line `error` (naming the
/// column, counted from 1) for a backslash that starts no escape above.
bool decodeCommandText(std::string const& line, std::string& text, std::string& error);

/// Every line of `path` decoded; a last line without its line feed counts.
/// False with `error` naming the file and line for an unreadable file or a
/// bad escape.
bool readCommandTexts(std::string const& path, std::vector<std::string>& texts, std::string& error);

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_COMMANDTEXTS_H
