// Helpers shared by the fuzz targets that feed files to the code under test.
#ifndef FUZZ_FUZZSUPPORT_H
#define FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

/// A private folder under $TMPDIR (or /tmp) made once per process and
/// removed with everything in it when the process ends normally.
const std::string& scratchFolder();

/// Writes `size` bytes to `path`, replacing the file; aborts when it cannot
/// (the fuzz run would test nothing).
void writeFile(const std::string& path, const void* data, std::size_t size);
void writeFile(const std::string& path, const std::string& text);

/// Splits `data` at every NUL byte into at most `maxParts` parts (the last
/// part keeps any further NUL bytes). Missing parts are empty.
std::vector<std::string> splitAtNul(const std::uint8_t* data, std::size_t size, std::size_t maxParts);

/// `text` with every occurrence of `from` replaced by `to`.
std::string replaceAll(std::string text, const std::string& from, const std::string& to);

}  // namespace fuzz

#endif  // FUZZ_FUZZSUPPORT_H
