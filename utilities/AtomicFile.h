#ifndef UTILITIES_ATOMICFILE_H
#define UTILITIES_ATOMICFILE_H

// Saving a file so that a reader, a crash or a power cut only ever sees
// the old contents or the new ones, never a mix or a truncated file, where
// that can be done without changing what the file is; otherwise rewriting
// it in place, as a plain save does.

#include <cstddef>
#include <string>

namespace AtomicFile {

/// How a save was made.
enum class Method {
    Replaced,  ///< a new file renamed over the old one
    InPlace,   ///< the file truncated and written again
};

/// Saves the `size` bytes at `data` as the contents of the file at `path`.
///
/// Where it can, the file is replaced atomically: the bytes go to a new
/// temporary file in the same folder ("<name>.tmp.XXXXXX"), which takes the
/// old file's owner, group and permission bits (0644 when new), is flushed
/// to the device (fsync) and renamed over the file; then the folder is
/// flushed so that the rename itself survives a power cut. A symbolic link
/// is followed: the file it names is saved and the link stays.
///
/// Where a replacement would change what the file is, the file is
/// truncated and written again in place (created 0644 when missing, with
/// synchronous writes), as a plain save does: when the folder is not
/// writable, when the owner or group cannot be given to a new file (a file
/// of another user), and when the file has other hard links. A crash during
/// such a save can leave the file cut short.
///
/// Anything but a regular file is refused (EISDIR for a folder, EINVAL for
/// a device or the like) and left alone. Returns 0, or the errno value of
/// the step that failed; `used`, when given, says which way was taken. A
/// failed replacement up to the rename leaves `path` untouched and removes
/// its temporary file; a failed flush of the folder is reported with `path`
/// already replaced. A process killed half-way through a replacement
/// leaves `path` untouched and at most its temporary file behind. Safe to
/// call from several threads for different paths; two concurrent calls for
/// one path leave one of the two contents.
int replaceContents(std::string const& path, void const* data, std::size_t size, Method* used = nullptr) noexcept;

/// The plain save alone: opens `path` for writing with create, truncate
/// and synchronous writes (mode 0644 when created) and writes the bytes.
/// Owner, mode and links stay; only the file must be writable. Returns 0
/// or the errno value of the step that failed.
int rewriteInPlace(std::string const& path, void const* data, std::size_t size) noexcept;

}  // namespace AtomicFile

#endif  // UTILITIES_ATOMICFILE_H
