#include "utilities/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace AtomicFile {

namespace {

// The folder of `path` ("." for a bare name, "/" for a file at the root).
std::string folderOf(std::string const& path) {
    std::string::size_type const slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

int writeAll(int fd, char const* data, std::size_t size) noexcept {
    while (size > 0) {
        ssize_t const n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int syncFolder(std::string const& folder) noexcept {
    int const fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int const error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

// Errors of creating the temporary file, or of giving it the old file's
// owner, that mean "this folder or file cannot be replaced by us", not
// "the save cannot be made".
bool cannotReplace(int error) noexcept { return error == EACCES || error == EPERM || error == EROFS; }

// Result of one attempt at the atomic replacement.
struct Attempt {
    int error = 0;
    bool fallBack = false;  // nothing was changed; the in-place save may serve
};

// The atomic replacement of `target` (a regular file or a new name), whose
// present state is `old` when `exists`.
Attempt replaceAtomically(std::string const& target, bool exists, struct stat const& old, char const* data,
                          std::size_t size) {
    std::vector<char> temporary(target.begin(), target.end());
    for (char const c : std::string(".tmp.XXXXXX")) {
        temporary.push_back(c);
    }
    temporary.push_back('\0');
    int const fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        int const error = errno;
        return {error, cannotReplace(error)};
    }
    Attempt attempt;
    // The new file takes the old one's owner, group and mode; a file whose
    // owner we cannot give away is saved in place instead.
    if (exists) {
        struct stat made {};
        if (::fstat(fd, &made) != 0) {
            attempt.error = errno;
        } else if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
                   ::fchown(fd, old.st_uid, old.st_gid) != 0) {
            attempt.error = errno;
            attempt.fallBack = cannotReplace(attempt.error);
        }
    }
    if (attempt.error == 0 && ::fchmod(fd, exists ? (old.st_mode & 07777) : 0644) != 0) {
        attempt.error = errno;
    }
    if (attempt.error == 0) {
        attempt.error = writeAll(fd, data, size);
    }
    if (attempt.error == 0 && ::fsync(fd) != 0) {
        attempt.error = errno;
    }
    if (::close(fd) != 0 && attempt.error == 0) {
        attempt.error = errno;
    }
    if (attempt.error == 0 && ::rename(temporary.data(), target.c_str()) != 0) {
        attempt.error = errno;
    }
    if (attempt.error != 0) {
        ::unlink(temporary.data());
        return attempt;
    }
    attempt.error = syncFolder(folderOf(target));
    return attempt;
}

}  // namespace

int rewriteInPlace(std::string const& path, void const* data, std::size_t size) noexcept {
    if (path.empty() || (data == nullptr && size > 0)) {
        return EINVAL;
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    int error = writeAll(fd, static_cast<char const*>(data), size);
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

int replaceContents(std::string const& path, void const* data, std::size_t size, Method* used) noexcept {
    if (path.empty() || (data == nullptr && size > 0)) {
        return EINVAL;
    }
    try {
        // A symbolic link is followed: the file it names is saved and the
        // link stays. Only a regular file is ever saved, never a device or
        // a folder.
        std::string target = path;
        struct stat old {};
        bool exists = false;
        if (char* const resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
            if (::stat(target.c_str(), &old) == 0) {
                if (!S_ISREG(old.st_mode)) {
                    return S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
                }
                exists = true;
            }
        }
        // Another name of the same file would keep the old contents.
        if (!exists || old.st_nlink <= 1) {
            Attempt const attempt = replaceAtomically(target, exists, old, static_cast<char const*>(data), size);
            if (!attempt.fallBack) {
                if (used != nullptr) {
                    *used = Method::Replaced;
                }
                return attempt.error;
            }
        }
        if (used != nullptr) {
            *used = Method::InPlace;
        }
        return rewriteInPlace(target, data, size);
    } catch (...) {
        return ENOMEM;
    }
}

}  // namespace AtomicFile
