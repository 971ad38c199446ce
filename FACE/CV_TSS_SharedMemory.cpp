#include "FACE/CV_TSS_SharedMemory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

namespace FACE {
namespace TSS {
namespace SharedMemory {

namespace {

// Fast DDS's default port parameters (RTPS port mapping).
constexpr std::uint32_t kPortBase = 7400;
constexpr std::uint32_t kDomainGain = 250;
constexpr std::uint32_t kParticipantGain = 2;
constexpr std::uint32_t kMetatrafficUnicastOffset = 10;
constexpr std::uint32_t kUserUnicastOffset = 11;

constexpr char const kPrefix[] = "fastrtps_";
constexpr char const kPortPrefix[] = "fastrtps_port";
constexpr char const kMutexPrefix[] = "sem.";
constexpr char const kMutexSuffix[] = "_mutex";

bool startsWith(std::string const& text, std::string const& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(std::string const& text, std::string const& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool allDigits(std::string const& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
    }
    return true;
}

bool allLowerHex(std::string const& text) {
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0 && (c < 'a' || c > 'f')) return false;
    }
    return true;
}

// A segment's or port's lock file ("..._el" or "..._sl"), which its owner
// holds locked while it lives.
bool isLockFile(std::string const& name) { return endsWith(name, "_el") || endsWith(name, "_sl"); }

// The object a Fast DDS file belongs to ("fastrtps_<16 hex>" or
// "fastrtps_port<N>"); empty for any other file.
std::string objectOf(std::string name) {
    if (startsWith(name, kMutexPrefix) && endsWith(name, kMutexSuffix)) {
        name =
            name.substr(sizeof kMutexPrefix - 1, name.size() - (sizeof kMutexPrefix - 1) - (sizeof kMutexSuffix - 1));
        return startsWith(name, kPortPrefix) && allDigits(name.substr(sizeof kPortPrefix - 1)) ? name : "";
    }
    if (isLockFile(name)) {
        name.resize(name.size() - 3);
    }
    if (startsWith(name, kPortPrefix)) {
        return allDigits(name.substr(sizeof kPortPrefix - 1)) ? name : "";
    }
    if (startsWith(name, kPrefix)) {
        std::string const id = name.substr(sizeof kPrefix - 1);
        return id.size() == 16 && allLowerHex(id) ? name : "";
    }
    return "";
}

// True when somebody holds the lock file `path` (shared or exclusive), or
// it cannot be tested.
bool isLocked(std::string const& path) {
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return true;
    bool const locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);  // also releases the lock this test may have taken
    return locked;
}

bool exists(std::string const& path, struct stat& st) { return ::lstat(path.c_str(), &st) == 0; }

double seconds(timespec const& t) { return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec); }

}  // namespace

std::pair<std::uint32_t, std::uint32_t> UnicastPorts(std::uint32_t domain_id, int participant_id) {
    std::uint32_t const base =
        kPortBase + kDomainGain * domain_id + kParticipantGain * static_cast<std::uint32_t>(participant_id);
    return {base + kMetatrafficUnicastOffset, base + kUserUnicastOffset};
}

int FreshParticipantId(std::string const& directory, std::uint32_t domain_id, std::vector<std::string> const& removed) {
    struct stat st {};
    if (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
    std::set<std::string> const gone(removed.begin(), removed.end());
    auto const taken = [&](std::uint32_t port) {
        std::string const name = kPortPrefix + std::to_string(port);
        return gone.count(name) != 0 || exists(directory + "/" + name, st);
    };
    for (int id = 0; id < kMaxParticipantId; ++id) {
        auto const [metatraffic, user] = UnicastPorts(domain_id, id);
        if (!taken(metatraffic) && !taken(user)) return id;
    }
    return -1;
}

namespace {

// Processes among `pids` that hold a lock on a lock file of the transport
// in kDirectory (every participant locks its own segment's), read from
// /proc/locks ("1: FLOCK ADVISORY WRITE <pid> <maj>:<min>:<inode> ...").
bool anyHoldsTransportLock(std::set<std::string> const& pids) {
    std::set<unsigned long long> inodes;
    if (DIR* dir = ::opendir(kDirectory)) {
        while (dirent* entry = ::readdir(dir)) {
            std::string const name = entry->d_name;
            struct stat st {};
            if (!objectOf(name).empty() && isLockFile(name) &&
                ::stat((std::string(kDirectory) + "/" + name).c_str(), &st) == 0) {
                inodes.insert(static_cast<unsigned long long>(st.st_ino));
            }
        }
        ::closedir(dir);
    }
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (!(fields >> number >> kind >> mode >> access >> pid >> file)) continue;
        if (kind == "->") continue;  // a waiter's line
        std::size_t const colon = file.rfind(':');
        if (colon == std::string::npos || pids.count(pid) == 0) continue;
        char* end = nullptr;
        unsigned long long const inode = std::strtoull(file.c_str() + colon + 1, &end, 10);
        if (inodes.count(inode) != 0) return true;
    }
    return false;
}

}  // namespace

std::set<std::string> MappedFiles() {
    std::set<std::string> mapped;
    std::set<std::string> unreadable;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return mapped;
    while (dirent* entry = ::readdir(proc)) {
        std::string const pid = entry->d_name;
        if (!allDigits(pid)) continue;
        std::string const path = "/proc/" + pid + "/maps";
        int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            // Not ours to read (another user's process, or one that may not
            // be inspected); a process that ended meanwhile maps nothing.
            if (errno == EACCES || errno == EPERM) unreadable.insert(pid);
            continue;
        }
        ::close(fd);
        std::ifstream maps(path);
        std::string line;
        while (std::getline(maps, line)) {
            // address perms offset dev inode path: the path starts at the first '/'
            std::size_t const slash = line.find('/');
            if (slash == std::string::npos) continue;
            std::string path = line.substr(slash);
            if (endsWith(path, " (deleted)")) continue;  // an unlinked file: its name is free
            mapped.insert(std::move(path));
        }
    }
    ::closedir(proc);
    // Only a participant of the transport can hold its ports, and each one
    // locks its own segment: a process without such a lock is no peer.
    if (!unreadable.empty() && anyHoldsTransportLock(unreadable)) mapped.insert(kUnknownMaps);
    return mapped;
}

std::vector<std::string> FindStale(std::string const& directory, std::set<std::string> const& mapped,
                                   double min_age_s) {
    std::vector<std::string> stale;
    std::map<std::string, std::vector<std::string>> objects;  // object -> its files
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return stale;
    while (dirent* entry = ::readdir(dir)) {
        std::string const name = entry->d_name;
        std::string const object = objectOf(name);
        if (!object.empty()) objects[object].push_back(name);
    }
    ::closedir(dir);

    timespec nowSpec{};
    ::clock_gettime(CLOCK_REALTIME, &nowSpec);
    double const now = seconds(nowSpec);
    for (auto const& [object, files] : objects) {
        // A port's name comes back with the participant id, and a process
        // that has it open must never see it replaced: ports go only when
        // nobody maps them. A segment's name is random and never comes
        // back: its owner's lock decides, as peers may still map a dead
        // owner's segment for a while.
        bool const isPort = startsWith(object, kPortPrefix);
        if (isPort && mapped.count(kUnknownMaps) != 0) continue;
        bool isStale = true;
        for (std::string const& name : files) {
            std::string const path = directory + "/" + name;
            struct stat st {};
            if (!exists(path, st) || !S_ISREG(st.st_mode) || (isPort && mapped.count(path) != 0) ||
                now - seconds(st.st_mtim) < min_age_s || (isLockFile(name) && isLocked(path))) {
                isStale = false;
                break;
            }
        }
        if (isStale) stale.insert(stale.end(), files.begin(), files.end());
    }
    return stale;
}

std::vector<std::string> RemoveStale(std::string const& directory, std::set<std::string> const& mapped,
                                     double min_age_s) {
    std::vector<std::string> removed;
    for (std::string const& name : FindStale(directory, mapped, min_age_s)) {
        if (::unlink((directory + "/" + name).c_str()) == 0) removed.push_back(name);
    }
    return removed;
}

}  // namespace SharedMemory
}  // namespace TSS
}  // namespace FACE
