#ifndef UTILITIES_ATOMICFILE_H
#define UTILITIES_ATOMICFILE_H

// Replacing a file so that a reader, a crash or a power cut only ever sees
// the old contents or the new ones, never a mix or a truncated file.

#include <cstddef>
#include <string>

namespace AtomicFile {

/// Replaces the file at `path` with the `size` bytes at `data`: they go to
/// a new temporary file in the same folder ("<name>.tmp.XXXXXX"), which is
/// flushed to the device (fsync) and renamed over `path`; then the folder
/// is flushed so that the rename itself survives a power cut. The file
/// keeps the permission bits of the file it replaces (0644 when new). A
/// symbolic link is followed (the file it names is replaced, the link
/// stays); anything but a regular file is refused (EISDIR for a folder,
/// EINVAL for a device or the like) and left alone.
///
/// Returns 0, or the errno value of the step that failed. A failure up to
/// the rename leaves `path` untouched and removes the temporary file; a
/// failed flush of the folder is reported with `path` already replaced. A process killed half-way
/// leaves `path` untouched and at most its temporary file behind. Safe to
/// call from several threads for different paths; two concurrent calls for
/// one path leave one of the two contents.
int replaceContents(std::string const& path, void const* data, std::size_t size) noexcept;

}  // namespace AtomicFile

#endif  // UTILITIES_ATOMICFILE_H
