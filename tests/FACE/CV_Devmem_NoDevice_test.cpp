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
    testing::internal::CaptureStderr();
    io.Open_Connection("Regs", -1, id, rc);
    std::string const console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(id, 0);
    EXPECT_NE(console.find("Unable to open /dev/mem file descriptor."), std::string::npos) << console;
    Io::CONNECTION_STATUS_TYPE status;
    io.Get_Connection_Status(id, status, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(status.status, FACE::IOSS::CV_Devmem::STATUS_FAILED);
    Io::READ_PAYLOAD_TYPE r;
    r.width = 32;
    io.Read(id, -1, r, rc);
    EXPECT_EQ(rc, Code::INVALID_MODE);
    Io::WRITE_PAYLOAD_TYPE w;
    w.width = 32;
    io.Write(id, -1, w, rc);
    EXPECT_EQ(rc, Code::INVALID_MODE);
    io.Open_Connection("Regs", -1, id, rc);  // open already: stays failed
    io.Get_Connection_Status(id, status, rc);
    EXPECT_EQ(status.status, FACE::IOSS::CV_Devmem::STATUS_FAILED);

    // The device appears; closing and opening again maps the window.
    int const fd = ::open(missingDevice().path.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    std::uint32_t const value = 0x5EED5EEDu;
    ASSERT_EQ(::pwrite(fd, &value, sizeof value, 0x3004), static_cast<ssize_t>(sizeof value));
    ::close(fd);
    io.Close_Connection(id, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    io.Open_Connection("Regs", -1, id, rc);
    io.Get_Connection_Status(id, status, rc);
    EXPECT_EQ(status.status, FACE::IOSS::CV_Devmem::STATUS_MAPPED);
    r.offset = 4;
    io.Read(id, -1, r, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(r.data, value);
}

}  // namespace
