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
    Io::CONNECTION_STATUS_TYPE status;
    Io::READ_PAYLOAD_TYPE r{0, 4, 32, 0};
    RC readRc = Code::NOT_AVAILABLE;
    RC writeRc = Code::NOT_AVAILABLE;
    testing::internal::CaptureStderr();
    io.Open_Connection("Regs", -1, id, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Unable to open /dev/mem file descriptor."),
              std::string::npos);
    io.Get_Connection_Status(id, status, rc);
    EXPECT_EQ(status.status, FACE::IOSS::CV_Devmem::STATUS_FAILED);
    io.Read(id, -1, r, readRc);
    io.Write(id, -1, Io::WRITE_PAYLOAD_TYPE{0, 32, 0}, writeRc);
    EXPECT_EQ(readRc, Code::INVALID_MODE);
    EXPECT_EQ(writeRc, Code::INVALID_MODE);

    // The device appears; closed and opened again, the window is mapped.
    int const fd = ::open(missingDevice().path.c_str(), O_RDWR | O_CREAT, 0600);
    std::uint32_t const value = 0x5EED5EEDu;
    ASSERT_EQ(::pwrite(fd, &value, sizeof value, 0x3004), static_cast<ssize_t>(sizeof value));
    ::close(fd);
    io.Close_Connection(id, rc);
    io.Open_Connection("Regs", -1, id, rc);
    io.Get_Connection_Status(id, status, rc);
    EXPECT_EQ(status.status, FACE::IOSS::CV_Devmem::STATUS_MAPPED);
    io.Read(id, -1, r, readRc);
    EXPECT_EQ(readRc, Code::NO_ERROR);
    EXPECT_EQ(r.data, value);
}

}  // namespace
