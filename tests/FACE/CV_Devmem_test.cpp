#include "FACE/CV_Devmem.h"

#include "FACE/CV_Config.h"
#include "tests/FACE/ConfigTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace face_test;
namespace Code = FACE::RETURN_CODE_TYPE;
using Io = FACE::IOSS::Devmem::IO_Service;
using FACE::IOSS::CV_Devmem;
using Window = std::pair<std::uint32_t, std::uint32_t>;  // base address, size
using devmem_test::peekValue;
using devmem_test::pokeValue;

std::string device(char const* name, std::string const& params) { return container("Device", name, params); }

// Parameter elements (id, value); a negative value is a long, the wrong kind.
Io::IO_PARAMETER_TRANSACTION_TYPE transaction(std::vector<std::pair<std::uint16_t, long long>> const& elements) {
    Io::IO_PARAMETER_TRANSACTION_TYPE t;
    for (auto const& [id, value] : elements) {
        Io::IO_PARAMETER_TYPE e;
        e.id = id;
        if (value >= 0)
            e.value.ulong_value(static_cast<std::uint32_t>(value));
        else
            e.value.long_value(static_cast<std::int32_t>(-value));
        t.parameters.append(e);
    }
    return t;
}

class Devmem : public testing::Test {
protected:
    void SetUp() override {
        std::string const file =
            m_dir.write("devices.xml", document(device("Small", "<BaseAddress>0x1010</BaseAddress><Size>16</Size>") +
                                                device("Tiny", "<BaseAddress>0x2000</BaseAddress><Size>2</Size>") +
                                                device("NoSize", "<BaseAddress>0x3000</BaseAddress>") +
                                                device("NoBase", "<Size>16</Size>") +
                                                device("Octal", "<BaseAddress>010000</BaseAddress><Size>0x10</Size>")));
        RC rc = Code::NOT_AVAILABLE;
        m_io.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        m_io.Initialize(FACE::String(file.c_str()), rc);
        ASSERT_EQ(rc, Code::NO_ERROR);
    }
    long long open(char const* name, RC* rcOut = nullptr) {
        long long id = -2;
        RC rc = Code::NOT_AVAILABLE;
        testing::internal::CaptureStdout();  // "not found" warnings
        testing::internal::CaptureStderr();  // mapping failures
        m_io.Open_Connection(FACE::String(name), -1, id, rc);
        m_console = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        if (rcOut != nullptr) *rcOut = rc;
        return id;
    }
    // Read and Write of `width` bits at `offset`; data in and out.
    RC read(long long id, std::uint32_t offset, std::uint8_t width, std::uint64_t& data) {
        Io::READ_PAYLOAD_TYPE p{77, offset, width, data};
        RC rc = Code::NOT_AVAILABLE;
        m_io.Read(id, -1, p, rc);
        EXPECT_EQ(p.timestamp, rc == Code::NO_ERROR ? 0 : 77);
        data = p.data;
        return rc;
    }
    RC write(long long id, std::uint32_t offset, std::uint8_t width, std::uint64_t data) {
        RC rc = Code::NOT_AVAILABLE;
        m_io.Write(id, -1, Io::WRITE_PAYLOAD_TYPE{offset, width, data}, rc);
        return rc;
    }
    Window window(long long id) {
        Io::IO_PARAMETER_TRANSACTION_TYPE t = transaction({{Io::BASE_ADDRESS, 0}, {Io::SIZE, 0}});
        RC rc = Code::NOT_AVAILABLE;
        m_io.Get_Connection_Configuration(id, -1, t, rc);
        EXPECT_EQ(rc, Code::NO_ERROR);
        return {t.parameters[0].value.ulong_value(), t.parameters[1].value.ulong_value()};
    }
    // Per call: Read, Write, Get_Connection_Status (its status, or 100 + the
    // code when it fails), Register_Notification_Event and Close_Connection.
    std::vector<long long> codes(long long id) {
        struct : Io::IO_Callback {
            void Callback_Handler(long long, RC) override {}
        } callback;
        std::uint64_t data = 0;
        RC notify, status, closed;
        Io::CONNECTION_STATUS_TYPE s;
        m_io.Register_Notification_Event(id, callback, notify);
        std::vector<long long> out = {read(id, 0, 32, data), write(id, 0, 32, 0)};
        m_io.Get_Connection_Status(id, s, status);
        m_io.Close_Connection(id, closed);
        out.insert(out.end(), {status == Code::NO_ERROR ? s.status : 100 + status, notify, closed});
        return out;
    }

    TempDir m_dir;
    CV_Devmem m_io;
    std::string m_console;
};

TEST(DevmemSetup, ReferenceAndInitialization) {
    TempDir dir;
    std::string const good = dir.write("d.xml", document(device("A", "<BaseAddress>1</BaseAddress><Size>4</Size>")));
    for (auto const& [path, first, second] :
         {std::tuple{good, Code::NO_ERROR, Code::NO_ACTION},
          std::tuple{dir.write("bad.xml", "<not xml"), Code::INVALID_CONFIG, Code::INVALID_CONFIG}}) {
        CV_Devmem io;
        RC rc[4];
        io.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc[0]);
        io.Set_Reference("", nullptr, 0, rc[1]);  // the first one stays
        io.Initialize(FACE::String(path.c_str()), rc[2]);
        io.Initialize(FACE::String(path.c_str()), rc[3]);
        EXPECT_EQ(std::vector<RC>(rc, rc + 4), (std::vector<RC>{Code::NO_ERROR, Code::NOT_AVAILABLE, first, second}));
    }
    CV_Devmem io;  // no configuration
    RC rc[3];
    long long id = 5;
    io.Set_Reference("", nullptr, 0, rc[0]);
    io.Initialize(FACE::String(good.c_str()), rc[1]);
    io.Open_Connection("A", -1, id, rc[2]);
    EXPECT_EQ(std::vector<RC>(rc, rc + 3),
              (std::vector<RC>{Code::INVALID_PARAM, Code::INVALID_CONFIG, Code::INVALID_CONFIG}));
    EXPECT_EQ(id, -1);
}

TEST_F(Devmem, AccessesOfEveryWidthWithinTheConfiguredWindow) {
    long long const id = open("Small");
    EXPECT_EQ(id, 0);
    pokeValue<std::uint64_t>(0x1010, 0);
    pokeValue<std::uint64_t>(0x1018, 0xFFEEDDCCBBAA9988ull);
    EXPECT_EQ(write(id, 0, 8, 0x1234), Code::NO_ERROR);  // narrow writes store only their low bits
    EXPECT_EQ(write(id, 2, 16, 0xABCDEF), Code::NO_ERROR);
    EXPECT_EQ(write(id, 4, 32, 0x1FEEDF00Dull), Code::NO_ERROR);
    EXPECT_EQ(peekValue<std::uint64_t>(0x1010), 0xFEEDF00DCDEF0034ull);

    std::uint64_t const no = 0xABABABABABABABABull;  // refused with NO_ACTION: data untouched
    std::tuple<long long, std::uint32_t, std::uint8_t, std::uint64_t> const cases[] = {
        // connection, offset, width, value read
        {0, 12, 32, 0xFFEEDDCCu},
        {0, 13, 32, no},
        {0, 8, 64, 0xFFEEDDCCBBAA9988ull},
        {0, 9, 64, no},
        {0, 14, 16, 0xFFEEu},
        {0, 15, 16, no},
        {0, 15, 8, 0xFFu},
        {0, 16, 8, no},
        {0, 0xFFFFFFFFu, 8, no},
        {0, 0, 24, no},
        {0, 0, 0, no},
        {1, 0, 16, 0},
        {1, 1, 16, no},
        {1, 0, 32, no},  // "Tiny", a 2-byte window
        // Inside the window but not a multiple of the width: refused, never
        // split into narrower accesses.
        {0, 1, 16, no},
        {0, 2, 32, no},
        {0, 4, 64, no},
        {0, 10, 32, no},
        {0, 6, 16, 0xFEEDu},
        {0, 1, 8, 0x00u},
    };
    open("Tiny");
    for (auto const& [c, offset, width, value] : cases) {
        SCOPED_TRACE(testing::Message() << "connection " << c << " offset " << offset << " width " << int(width));
        std::uint64_t data = no;
        EXPECT_EQ(read(c, offset, width, data), value != no ? Code::NO_ERROR : Code::NO_ACTION);
        EXPECT_EQ(data, value);
        EXPECT_EQ(write(c, offset, width, value != no ? value : 0), value != no ? Code::NO_ERROR : Code::NO_ACTION);
    }
    EXPECT_EQ(peekValue<std::uint64_t>(0x1018), 0xFFEEDDCCBBAA9988ull);  // refused writes wrote nothing
    // Numbers in any base.
    EXPECT_EQ(window(open("Octal")), Window(0x1000, 16));
}

TEST_F(Devmem, ReturnCodesOfMissingClosedAndUnmappedConnections) {
    RC rc = Code::NO_ERROR;
    for (char const* name : {"Nowhere", "NoSize", "NoBase"}) {
        EXPECT_EQ(std::make_pair(open(name, &rc), rc), std::make_pair(-1LL, Code::INVALID_CONFIG)) << name;
    }
    EXPECT_NE(m_console.find("WARNING - Parameter BaseAddress not found"), std::string::npos);
    long long const id = open("Small");
    EXPECT_EQ(id, 0);  // the failures left no entry behind
    EXPECT_EQ(codes(id), (std::vector<long long>{0, 0, CV_Devmem::STATUS_MAPPED, Code::NO_ACTION, 0}));
    EXPECT_EQ(codes(id), (std::vector<long long>{11, 11, 111, 11, 11}));  // closed, keeping its id
    for (long long unknown : {-1LL, 1LL, 1LL << 40}) {
        EXPECT_EQ(codes(unknown), (std::vector<long long>{3, 3, 103, 3, 3})) << unknown;
    }
    unsigned short bus = 9;
    m_io.Get_Bus_Status(id, bus, rc);  // needs no open connection
    EXPECT_EQ(std::make_pair(rc, bus), std::make_pair(Code::NO_ERROR, static_cast<unsigned short>(0)));
    m_io.Get_Bus_Status(7, bus, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
    EXPECT_EQ(open("Small"), id);

    // Moved beyond the memory file while closed: the next open cannot map it.
    long long const moved = open("Octal", &rc);
    m_io.Close_Connection(moved, rc);
    m_io.Configure_Connection_Parameters(moved, -1, transaction({{0, 0x7FFF0000}}), rc);
    EXPECT_EQ(open("Octal", &rc), moved);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_NE(m_console.find(
                  "CV_Devmem: connection Octal: Unable to map memory space: the window ends beyond the memory device."),
              std::string::npos)
        << m_console;
    EXPECT_EQ(codes(moved), (std::vector<long long>{5, 5, CV_Devmem::STATUS_FAILED, Code::NO_ACTION, 0}));
}

// Windows that end beyond the memory file (64 MiB here) are refused before
// anything is mapped, with one line naming the block and the values (a
// mapped one would raise SIGBUS at its first access). Values wider
// than 32 bits keep their low 32 bits, with a warning.
// Every window gets its entry; one that ends beyond the memory device is
// not mapped (an access there raises SIGBUS) and answers like any failed
// mapping, and the line before says why, naming the values.
TEST(DevmemWindows, WindowsBeyondTheDeviceAreNotMappedAndSaySo) {
    struct Row {
        char const* base;
        char const* size;
        bool mapped;
        char const* says;  // on standard error; "" for nothing
        int lines = 2;     // lines said in all: the reason, then the failed mapping
    } const rows[] = {
        {"0x7FFF0000", "0x1000", false,
         "CV_Devmem: block B: BaseAddress 0x7FFF0000 (0x7fff0000) with Size 0x1000 (0x1000) ends at 0x7fff1000, "
         "beyond the memory device "},
        {"-1", "0x1000", false,
         "CV_Devmem: block B: BaseAddress -1 (0xffffffff) with Size 0x1000 (0x1000) ends at 0x100000fff, beyond ", 3},
        {"18446744073709551615", "16", false,
         "BaseAddress 18446744073709551615 (0xffffffffffffffff) does not fit 32 bits; its low 32 bits 0xffffffff", 3},
        {"0x100004000", "8", true,
         "BaseAddress 0x100004000 (0x100004000) does not fit 32 bits; its low 32 bits 0x4000 are used", 1},
        {"0x1000", "0x100000010", true, "Size 0x100000010 (0x100000010) does not fit 32 bits", 1},
        {"0x1000", "0xFFFFFFFF", false, "ends at 0x100000fff, beyond the memory device"},
        {"0x3FFF000", "0x1001", false, "ends at 0x4000001, beyond the memory device"},
        {"0x3FFF000", "0x1000", true, "", 0},  // ends exactly at the end of the file
        {"0x1010", "16", true, "", 0},         // any byte address: the page and an offset into it
        {"0x1000x", "16", true, "", 0},        // the number the text starts with
    };
    struct stat file {};
    ASSERT_EQ(::stat(devmem_test::memoryFile().c_str(), &file), 0);
    ASSERT_EQ(file.st_size, 64 << 20);
    TempDir dir;
    for (Row const& row : rows) {
        SCOPED_TRACE(std::string(row.base) + " / " + row.size);
        std::string const file =
            dir.write("d.xml", document(device("B", std::string("<BaseAddress>") + row.base + "</BaseAddress><Size>" +
                                                        row.size + "</Size>")));
        CV_Devmem io;
        RC rc = Code::NOT_AVAILABLE;
        io.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        io.Initialize(FACE::String(file.c_str()), rc);
        long long id = -2;
        testing::internal::CaptureStderr();
        io.Open_Connection("B", -1, id, rc);
        std::string const said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, Code::NO_ERROR);
        EXPECT_EQ(id, 0);
        CV_Devmem::CONNECTION_STATUS_TYPE status;
        io.Get_Connection_Status(id, status, rc);
        EXPECT_EQ(status.status, row.mapped ? CV_Devmem::STATUS_MAPPED : CV_Devmem::STATUS_FAILED);
        CV_Devmem::READ_PAYLOAD_TYPE payload;
        payload.width = 8;
        io.Read(id, -1, payload, rc);
        EXPECT_EQ(rc, row.mapped ? Code::NO_ERROR : Code::INVALID_MODE);
        if (*row.says == '\0') {
            EXPECT_EQ(said, "");
        } else {
            EXPECT_NE(said.find(row.says), std::string::npos) << said;
        }
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), row.lines) << said;
    }
}

TEST_F(Devmem, ConnectionParametersApplyAllOrNothingAtTheNextOpen) {
    long long const id = open("Small");
    RC rc = Code::NOT_AVAILABLE;
    m_io.Configure_Connection_Parameters(id, -1, transaction({}), rc);
    EXPECT_EQ(rc, Code::NO_ACTION);  // open windows cannot change
    m_io.Close_Connection(id, rc);
    struct Case {
        std::vector<std::pair<std::uint16_t, long long>> elements;
        RC rc;
        Window after;
    } const cases[] = {
        {{{0, -0x6000}}, Code::INVALID_PARAM, {0x1010, 16}},
        {{{0, 0x6000}, {2, 8}}, Code::INVALID_PARAM, {0x1010, 16}},
        {{{1, 32}}, Code::NO_ERROR, {0x1010, 32}},
        {{{0, 0x6000}, {1, 8}, {0, 0x7000}}, Code::NO_ERROR, {0x7000, 8}},
    };
    for (Case const& c : cases) {
        m_io.Configure_Connection_Parameters(id, -1, transaction(c.elements), rc);
        EXPECT_EQ(std::make_pair(rc, window(id)), std::make_pair(c.rc, c.after)) << c.elements.size();
    }
    // Reopened by name, the new window counts: the configuration is not read again.
    pokeValue<std::uint32_t>(0x7004, 0x600DCAFEu);
    EXPECT_EQ(open("Small"), id);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 4, 32, data), Code::NO_ERROR);
    EXPECT_EQ(data, 0x600DCAFEu);

    Io::IO_PARAMETER_TRANSACTION_TYPE t = transaction({{0, 0}, {7, -3}, {1, 0}});
    m_io.Get_Connection_Configuration(id, -1, t, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);  // the unknown id is flagged, the others are filled
    EXPECT_EQ(std::make_pair(t.parameters[0].value.ulong_value(), t.parameters[2].value.ulong_value()),
              std::make_pair(0x7000u, 8u));
    // The unknown element keeps its long: reading it as another kind is refused.
    std::uint32_t asUlong = 99;
    FACE::IOSS::IO_PARAMETER_VALUE_TYPE::RETURN_CODE kind;
    t.parameters[1].value.ulong_value(asUlong, kind);
    EXPECT_EQ(std::make_pair(kind, asUlong), std::make_pair(FACE::IOSS::IO_PARAMETER_VALUE_TYPE::WRONG_KIND, 99u));
    RC bus[2];
    m_io.Configure_Bus_Parameters(id, -1, t, bus[0]);
    m_io.Get_Bus_Configuration(id, -1, t, bus[1]);
    EXPECT_TRUE(bus[0] == Code::NO_ACTION && bus[1] == Code::NO_ACTION);
}

}  // namespace
