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

}  // namespace

int replaceContents(std::string const& path, void const* data, std::size_t size) noexcept {
    if (path.empty() || (data == nullptr && size > 0)) {
        return EINVAL;
    }
    try {
        // A symbolic link is followed: the file it names is replaced and the
        // link stays. Only a regular file is ever replaced, never a device
        // or a folder.
        std::string target = path;
        if (char* const resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
            struct stat existing {};
            if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
                return S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
            }
        }
        std::string const folder = folderOf(target);
        std::vector<char> temporary(target.begin(), target.end());
        for (char const c : std::string(".tmp.XXXXXX")) {
            temporary.push_back(c);
        }
        temporary.push_back('\0');
        int const fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) {
            return errno;
        }
        struct stat old {};
        mode_t const mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
        int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
        if (error == 0) {
            error = writeAll(fd, static_cast<char const*>(data), size);
        }
        if (error == 0 && ::fsync(fd) != 0) {
            error = errno;
        }
        if (::close(fd) != 0 && error == 0) {
            error = errno;
        }
        if (error == 0 && ::rename(temporary.data(), target.c_str()) != 0) {
            error = errno;
        }
        if (error != 0) {
            ::unlink(temporary.data());
            return error;
        }
        return syncFolder(folder);
    } catch (...) {
        return ENOMEM;
    }
}

}  // namespace AtomicFile
