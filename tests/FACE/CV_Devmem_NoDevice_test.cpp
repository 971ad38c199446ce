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
using Io = FACE::IOSS::Devmem::IO_Service;

// Points CORVANE_DEVMEM at a file that does not exist yet, before main().
struct MissingDevice {
    MissingDevice() : path(dir.path() + "/memory") { ::setenv("CORVANE_DEVMEM", path.c_str(), 1); }
    TempDir dir;
    std::string path;
};
MissingDevice& missingDevice() {
    static MissingDevice device;
    return device;
}
[[maybe_unused]] MissingDevice& g_device = missingDevice();

TEST(DevmemWithoutDevice, OpenSucceedsButAccessIsRefusedUntilTheDeviceExists) {
    std::string const devices = missingDevice().dir.write(
        "devices.xml", document(container("Device", "Regs", "<BaseAddress>0x3000</BaseAddress><Size>8</Size>")));
    FACE::IOSS::CV_Devmem io;
    RC rc = Code::NOT_AVAILABLE;
    io.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    io.Initialize(FACE::String(devices.c_str()), rc);
    ASSERT_EQ(rc, Code::NO_ERROR);

    long long id = -2;
    Io::READ_PAYLOAD_TYPE r{0, 4, 32, 0};
    testing::internal::CaptureStderr();
    io.Open_Connection("Regs", -1, id, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Unable to open /dev/mem file descriptor."),
              std::string::npos);
    io.Read(id, -1, r, rc);
    EXPECT_EQ(rc, Code::INVALID_MODE);

    // The device appears; closed and opened again, the window is mapped.
    int const fd = ::open(missingDevice().path.c_str(), O_RDWR | O_CREAT, 0600);
    std::uint32_t const value = 0x5EED5EEDu;
    ASSERT_EQ(::pwrite(fd, &value, sizeof value, 0x3004), static_cast<ssize_t>(sizeof value));
    ::close(fd);
    io.Close_Connection(id, rc);
    io.Open_Connection("Regs", -1, id, rc);
    io.Read(id, -1, r, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(r.data, value);
}

}  // namespace
