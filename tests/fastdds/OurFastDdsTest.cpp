// The Fast DDS this program is built against and runs with is our build
// (scripts/build-fastdds): its headers have no statistics module, the
// installed package is our version, and the library loaded into this
// process has neither the statistics code nor any assert().
#include <gtest/gtest.h>

#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastrtps/config.h>

#include <link.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

TEST(OurFastDds, HeadersHaveNoStatisticsModule) {
#ifdef FASTDDS_STATISTICS
    FAIL() << "fastrtps/config.h defines FASTDDS_STATISTICS: Debian's libfastrtps-dev is installed, not ours "
              "(scripts/install-deps installs ours)";
#endif
}

TEST(OurFastDds, InstalledPackageIsOurVersion) {
    const std::string command = "dpkg-query -W -f='${Version}' " CORVANE_FASTDDS_PACKAGE " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string version;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) version += buffer;
    pclose(pipe);
    EXPECT_EQ(version, CORVANE_FASTDDS_VERSION) << CORVANE_FASTDDS_PACKAGE << " is not ours";
}

// The path of the libfastrtps this process loaded.
std::string loadedFastRtps() {
    std::string path;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* out) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("libfastrtps.so") != std::string::npos) {
                *static_cast<std::string*>(out) = name;
                return 1;
            }
            return 0;
        },
        &path);
    return path;
}

TEST(OurFastDds, LoadedLibraryHasNoStatisticsCodeAndNoAsserts) {
    // Make sure the library is in use before looking for it.
    ASSERT_NE(eprosima::fastdds::dds::DomainParticipantFactory::get_instance(), nullptr);
    const std::string path = loadedFastRtps();
    ASSERT_FALSE(path.empty()) << "libfastrtps is not loaded";
    std::ifstream in(path, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_NE(image.find("RTPSParticipant"), std::string::npos) << path << " does not read as Fast DDS";

    struct Absent {
        const char* text;
        const char* meaning;
    };
    const Absent absent[] = {
        {"read_statistics_submessage", "the statistics submessage parser"},
        {"OutputTrafficManager", "the statistics send-side bookkeeping"},
        {"__assert_fail", "assert() calls (built without NDEBUG)"},
    };
    for (const Absent& a : absent) {
        EXPECT_EQ(image.find(a.text), std::string::npos) << path << " has " << a.meaning;
    }
}

}  // namespace
