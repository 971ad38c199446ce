// The memory device of this process is missing until the test creates it:
// windows opened before that are open but unusable, and the device is
// tried again at the next open.

#include "FACE/CV_Devmem.h"

#include "FACE/CV_Config.h"
#include "tests/FACE/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using namespace face_test;
namespace Code = FACE::RETURN_CODE_TYPE;

// Points CORVANE_DEVMEM at a file that does not exist yet, before main().
TempDir& deviceDir() {
    static TempDir dir;
    ::setenv("CORVANE_DEVMEM", dir.file("memory").c_str(), 1);
    return dir;
}
[[maybe_unused]] TempDir& g_dir = deviceDir();

TEST(DevmemWithoutDevice, OpenSucceedsButAccessIsRefusedUntilTheDeviceExists) {
    std::string const devices = deviceDir().write(
        "devices.xml", document(container("Device", "Regs", "<BaseAddress>0x3000</BaseAddress><Size>8</Size>")));
    FACE::IOSS::CV_Devmem io;
    RC rc = Code::NOT_AVAILABLE;
    io.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    io.Initialize(FACE::String(devices.c_str()), rc);
    ASSERT_EQ(rc, Code::NO_ERROR);

    long long id = -2;
    FACE::IOSS::Devmem::IO_Service::READ_PAYLOAD_TYPE r{0, 4, 32, 0};
    testing::internal::CaptureStderr();
    io.Open_Connection("Regs", -1, id, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Unable to open /dev/mem file descriptor."),
              std::string::npos);
    io.Read(id, -1, r, rc);
    EXPECT_EQ(rc, Code::INVALID_MODE);

    // The device appears; closed and opened again, the window is mapped.
    int const fd = ::open(deviceDir().file("memory").c_str(), O_RDWR | O_CREAT, 0600);
    std::uint32_t const value = 0x5EED5EEDu;
    ASSERT_EQ(::pwrite(fd, &value, sizeof value, 0x3004), static_cast<ssize_t>(sizeof value));
    ::close(fd);
    io.Close_Connection(id, rc);
    io.Open_Connection("Regs", -1, id, rc);
    io.Read(id, -1, r, rc);
    EXPECT_EQ(std::make_pair(rc, r.data), std::make_pair(Code::NO_ERROR, std::uint64_t(value)));
}

}  // namespace
