#ifndef FACE_CV_TSS_SHAREDMEMORY_H
#define FACE_CV_TSS_SHAREDMEMORY_H

// Housekeeping of Fast DDS's shared-memory transport files (in /dev/shm on
// Linux) for a participant of the "SHM" transport.
//
// Fast DDS keeps, per participant, a data segment "fastrtps_<16 hex>" with
// its lock file "..._el", and per locator port a port segment
// "fastrtps_port<N>" with a lock file ("_el" exclusive: a participant's own
// unicast port; "_sl" shared: the discovery multicast port) and a named
// mutex "sem.fastrtps_port<N>_mutex". A process that stops in order removes
// its files once no other process holds them open; a process that is
// killed leaves them behind, with reference counts that never drop again.
//
// Two faults follow from a killed participant, and this unit avoids both:
//  - Port reuse. Each peer keeps every port it has written to open, by
//    name, for its whole life. A restarted participant that takes the same
//    participant id finds its old ports dead ("zombie": nobody holds the
//    lock) and Fast DDS replaces them with new files of the same name; the
//    peers go on writing into the old, unlinked ones, and the restarted
//    participant hears none of them until they restart themselves.
//    FreshParticipantId() picks an id whose two unicast ports have no file
//    at all, so a port name is never reused while any process holds it.
//  - Leftovers. RemoveStale() deletes the segments whose owner is gone (its
//    lock is free, the test of `fastdds shm clean`) and the ports that no
//    running process maps (each process's /proc/<pid>/maps) and no live
//    owner locks; the map test also frees ports whose reference counts a
//    killed process left too high.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace FACE {
namespace TSS {
namespace SharedMemory {

/// Where Fast DDS keeps its shared-memory files on Linux.
constexpr char const* kDirectory = "/dev/shm";

/// Participant ids 0..kMaxParticipantId - 1 fit a domain's port range
/// (250 ports from 7400 + 250 x domain, two per participant after the
/// first ten).
constexpr int kMaxParticipantId = 120;

/// The unicast ports of `participant_id` in `domain_id` (0..232) with Fast
/// DDS's default port parameters: {metatraffic, user data}.
std::pair<std::uint32_t, std::uint32_t> UnicastPorts(std::uint32_t domain_id, int participant_id);

/// The lowest participant id 0..kMaxParticipantId-1 of `domain_id` neither
/// of whose unicast port files ("fastrtps_port<N>") exists in `directory`
/// or is named in `removed` (files RemoveStale() has just deleted: a peer
/// this process cannot see, such as another user's under a sandbox that
/// hides other processes, may still hold them); -1 (let Fast DDS choose)
/// when every id is taken or the directory cannot be read.
int FreshParticipantId(std::string const& directory, std::uint32_t domain_id,
                       std::vector<std::string> const& removed = {});

/// Stands in MappedFiles()'s answer for a process whose maps could not be
/// read (another user's, without the right to look) and that holds a lock
/// of the transport (/proc/locks), so may be a peer: any port may be in use
/// then, and none counts as stale.
constexpr char const* kUnknownMaps = "?";

/// Paths of every file that some process maps, read from /proc/*/maps,
/// and kUnknownMaps when a possible peer's maps could not be read.
std::set<std::string> MappedFiles();

/// Names of the Fast DDS files in `directory` that are stale: a segment
/// (with its lock file) or a port (with its lock file and named mutex)
/// whose lock file, if any, nobody holds, whose files are all older than
/// `min_age_s` seconds (a participant that is just creating its files has
/// not locked or mapped them yet), and, for a port, no file of which
/// `mapped` names (no port at all when `mapped` holds kUnknownMaps).
/// Other files never count. Never throws except
/// std::bad_alloc.
std::vector<std::string> FindStale(std::string const& directory, std::set<std::string> const& mapped,
                                   double min_age_s = 0.5);

/// Removes what FindStale() names; returns the names removed.
std::vector<std::string> RemoveStale(std::string const& directory, std::set<std::string> const& mapped,
                                     double min_age_s = 0.5);

}  // namespace SharedMemory
}  // namespace TSS
}  // namespace FACE

#endif  // FACE_CV_TSS_SHAREDMEMORY_H
