// Which shared-memory transport files count as stale (their owner gone,
// nobody mapping a port), and which participant id a new participant
// takes: files of live participants must never go, and a port name still
// held by any process must never be taken again.

#include "FACE/CV_TSS_SharedMemory.h"

#include "tests/support/TempDir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace Shm = FACE::TSS::SharedMemory;

class ShmDirectory : public ::testing::Test {
protected:
    // A file, `ageS` seconds old.
    void make(std::string const& name, double ageS = 60.0) {
        std::ofstream(path(name)) << "x";
        timespec const now = [] {
            timespec t{};
            ::clock_gettime(CLOCK_REALTIME, &t);
            return t;
        }();
        timespec times[2] = {now, now};
        times[0].tv_sec -= static_cast<time_t>(ageS);
        times[1].tv_sec -= static_cast<time_t>(ageS);
        ASSERT_EQ(::utimensat(AT_FDCWD, path(name).c_str(), times, 0), 0);
    }
    // Holds a lock on `name` as a live owner does, until the test ends.
    void lock(std::string const& name, int how) {
        int const fd = ::open(path(name).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, how | LOCK_NB), 0);
        m_locks.push_back(fd);
    }
    std::string path(std::string const& name) const { return m_dir.path() + "/" + name; }
    bool exists(std::string const& name) const {
        struct stat st {};
        return ::stat(path(name).c_str(), &st) == 0;
    }
    void TearDown() override {
        for (int fd : m_locks) ::close(fd);
    }

    corvane_test::TempDir m_dir;
    std::vector<int> m_locks;
};

TEST_F(ShmDirectory, OnlyFilesOfGoneOwnersAndUnmappedPortsAreStale) {
    struct Object {
        std::vector<char const*> files;
        bool stale;
        char const* why;
    };
    std::vector<Object> const objects = {
        {{"fastrtps_0123456789abcdef", "fastrtps_0123456789abcdef_el"}, true, "segment, owner gone"},
        {{"fastrtps_1111111111111111", "fastrtps_1111111111111111_el"}, false, "segment, owner alive"},
        {{"fastrtps_2222222222222222", "fastrtps_2222222222222222_el"}, true, "segment of a gone owner, still mapped"},
        {{"fastrtps_3333333333333333"}, true, "segment without its lock file"},
        {{"fastrtps_port7410", "fastrtps_port7410_el", "sem.fastrtps_port7410_mutex"}, true, "port, nobody"},
        {{"fastrtps_port7411", "fastrtps_port7411_el", "sem.fastrtps_port7411_mutex"}, false, "port, mapped"},
        {{"fastrtps_port7412", "fastrtps_port7412_el", "sem.fastrtps_port7412_mutex"}, false, "port, owner alive"},
        {{"fastrtps_port7400", "fastrtps_port7400_sl", "sem.fastrtps_port7400_mutex"}, false, "port, shared lock"},
        {{"fastrtps_port7401", "sem.fastrtps_port7401_mutex"}, true, "port without lock file, unmapped"},
        {{"sem.fastrtps_port7402_mutex"}, true, "mutex of a port that is gone"},
        {{"fastrtps_4444444444444444", "fastrtps_4444444444444444_el"}, false, "segment just being made"},
        {{"fastrtps_notasegment", "fastrtps_port12a", "fastrtps_ABCDEF0123456789", "other", "sem.other_mutex"},
         false,
         "no file of the transport"},
    };
    for (Object const& o : objects) {
        for (char const* f : o.files) make(f, std::string(o.why) == "segment just being made" ? 0.0 : 60.0);
    }
    lock("fastrtps_1111111111111111_el", LOCK_EX);
    lock("fastrtps_port7412_el", LOCK_EX);
    lock("fastrtps_port7400_sl", LOCK_SH);
    std::set<std::string> const mapped = {path("fastrtps_port7411"), path("fastrtps_2222222222222222")};

    std::vector<std::string> found = Shm::FindStale(m_dir.path(), mapped, 2.0);
    for (Object const& o : objects) {
        for (char const* f : o.files) {
            bool const listed = std::find(found.begin(), found.end(), f) != found.end();
            EXPECT_EQ(listed, o.stale) << f << " (" << o.why << ")";
        }
    }
    // When some process's maps cannot be read, any port may be in use.
    std::set<std::string> unknown = mapped;
    unknown.insert(Shm::kUnknownMaps);
    for (std::string const& f : Shm::FindStale(m_dir.path(), unknown, 2.0)) {
        EXPECT_EQ(f.find("port"), std::string::npos) << f;
    }
    EXPECT_EQ(Shm::FindStale(m_dir.path(), unknown, 2.0).size(), 5u) << "the three stale segments' files";

    std::vector<std::string> removed = Shm::RemoveStale(m_dir.path(), mapped, 2.0);
    std::sort(found.begin(), found.end());
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, found);
    for (Object const& o : objects) {
        for (char const* f : o.files) EXPECT_EQ(exists(f), !o.stale) << f << " (" << o.why << ")";
    }
}

TEST_F(ShmDirectory, ANewParticipantTakesTheFirstIdWithoutPortFiles) {
    EXPECT_EQ(Shm::UnicastPorts(0, 0), std::make_pair(7410u, 7411u));
    EXPECT_EQ(Shm::UnicastPorts(56, 3), std::make_pair(21416u, 21417u));
    EXPECT_EQ(Shm::FreshParticipantId(m_dir.path(), 56), 0);
    make("fastrtps_port21410");  // metatraffic of id 0
    EXPECT_EQ(Shm::FreshParticipantId(m_dir.path(), 56), 1);
    make("fastrtps_port21413");  // user data of id 1 only: still taken
    EXPECT_EQ(Shm::FreshParticipantId(m_dir.path(), 56), 2);
    make("fastrtps_port21414_el");  // a lock file alone takes nothing
    make("fastrtps_port21400");     // nor the discovery port
    EXPECT_EQ(Shm::FreshParticipantId(m_dir.path(), 56), 2);
    EXPECT_EQ(Shm::FreshParticipantId(m_dir.path(), 57), 0) << "another domain";
    EXPECT_EQ(Shm::FreshParticipantId(m_dir.path(), 56, {"fastrtps_port21415"}), 3)
        << "a port just removed as stale is not taken again at once";
    for (int id = 0; id < Shm::kMaxParticipantId; ++id) {
        make("fastrtps_port" + std::to_string(Shm::UnicastPorts(9, id).first));
    }
    EXPECT_EQ(Shm::FreshParticipantId(m_dir.path(), 9), -1) << "every id taken: Fast DDS chooses";
    EXPECT_EQ(Shm::FreshParticipantId(path("absent"), 56), -1);
}

TEST_F(ShmDirectory, MappedFilesNamesWhatThisProcessMaps) {
    make("fastrtps_port7420");
    int const fd = ::open(path("fastrtps_port7420").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    void* const map = ::mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    ASSERT_NE(map, MAP_FAILED);
    EXPECT_EQ(Shm::MappedFiles().count(path("fastrtps_port7420")), 1u);
    EXPECT_TRUE(Shm::FindStale(m_dir.path(), Shm::MappedFiles(), 0.0).empty()) << "a mapped port stays";
    ::munmap(map, 1);
    EXPECT_EQ(Shm::MappedFiles().count(path("fastrtps_port7420")), 0u);
    EXPECT_EQ(Shm::FindStale(m_dir.path(), Shm::MappedFiles(), 0.0).size(), 1u);
}

}  // namespace
