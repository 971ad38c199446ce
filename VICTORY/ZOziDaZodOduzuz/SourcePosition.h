#ifndef VICTORY_ZOZIDAZODODUZUZ_SOURCEPOSITION_H
#define VICTORY_ZOZIDAZODODUZUZ_SOURCEPOSITION_H

// The source position that console lines of the server carry.

#include <cstring>
#include <string>

/// The base name of `file`, a space and `line` in parentheses, e.g.
/// "ZOziDaZodOduzuz.cpp (42)". A null file reads as "".
inline std::string sourcePosition(const char* file, int line) {
    const char* name = file != nullptr ? file : "";
    if (const char* slash = std::strrchr(name, '/')) {
        name = slash + 1;
    }
    return std::string(name) + " (" + std::to_string(line) + ")";
}

#define SOURCE_POSITION() sourcePosition(__FILE__, __LINE__)

#endif  // VICTORY_ZOZIDAZODODUZUZ_SOURCEPOSITION_H
