#include "FACE/CV_Devmem.h"

#include "FACE/CV_Config.h"
#include "tests/FACE/ConfigTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace face_test;
namespace Code = FACE::RETURN_CODE_TYPE;
using Io = FACE::IOSS::Devmem::IO_Service;
using FACE::IOSS::CV_Devmem;
using Window = std::pair<std::uint32_t, std::uint32_t>;  // base address, size

std::string device(char const* name, char const* base, char const* size) {
    std::string params;
    if (base != nullptr) params += std::string("<BaseAddress>") + base + "</BaseAddress>";
    if (size != nullptr) params += std::string("<Size>") + size + "</Size>";
    return container("Device", name, params);
}

Io::IO_PARAMETER_TRANSACTION_TYPE transaction(std::vector<std::pair<std::uint16_t, long long>> const& elements) {
    Io::IO_PARAMETER_TRANSACTION_TYPE t;
    for (auto const& [id, value] : elements) {
        Io::IO_PARAMETER_TYPE e;
        e.id = id;
        if (value >= 0) e.value.ulong_value(static_cast<std::uint32_t>(value));
        else e.value.long_value(static_cast<std::int32_t>(-value));  // negative: the wrong kind
        t.parameters.append(e);
    }
    return t;
}

class Devmem : public testing::Test {
protected:
    void SetUp() override {
        std::string const file = m_dir.write(
            "devices.xml",
            document(device("Small", "0x1010", "16") + device("Tiny", "0x2000", "2") +
                     device("NoSize", "0x3000", nullptr) + device("NoBase", nullptr, "16") +
                     device("EmptySize", "0x3000", "") + device("Octal", "010000", "0x10") +
                     device("Wide", "0x100004000", "8") + device("Huge", "0x1000", "0xFFFFFFFF")));
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
    RC close(long long id) {
        RC rc = Code::NOT_AVAILABLE;
        m_io.Close_Connection(id, rc);
        return rc;
    }
    // The connection's status, or 100 + rc when the query fails.
    std::int32_t status(long long id) {
        Io::CONNECTION_STATUS_TYPE s;
        RC rc = Code::NOT_AVAILABLE;
        m_io.Get_Connection_Status(id, s, rc);
        if (rc != Code::NO_ERROR) return 100 + static_cast<std::int32_t>(rc);
        EXPECT_EQ(s.open, 1);
        return s.status;
    }
    Window window(long long id) {
        Io::IO_PARAMETER_TRANSACTION_TYPE t = transaction({{Io::BASE_ADDRESS, 0}, {Io::SIZE, 0}});
        RC rc = Code::NOT_AVAILABLE;
        m_io.Get_Connection_Configuration(id, -1, t, rc);
        EXPECT_EQ(rc, Code::NO_ERROR);
        return {t.parameters[0].value.ulong_value(), t.parameters[1].value.ulong_value()};
    }

    TempDir m_dir;
    CV_Devmem m_io;
    std::string m_console;
};

TEST(DevmemSetup, ReferenceAndInitialization) {
    TempDir dir;
    std::string const good = dir.write("d.xml", document(device("A", "0x1000", "4")));
    std::string const bad = dir.write("bad.xml", "<not xml");
    struct Case {
        bool withConfig;
        std::string path;
        RC first, second;
    };
    for (Case const& c : {Case{true, good, Code::NO_ERROR, Code::NO_ACTION},
                          Case{true, bad, Code::INVALID_CONFIG, Code::INVALID_CONFIG},
                          Case{false, good, Code::INVALID_CONFIG, Code::INVALID_CONFIG}}) {
        CV_Devmem io;
        RC rc = Code::NOT_AVAILABLE;
        if (c.withConfig) {
            io.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
            EXPECT_EQ(rc, Code::NO_ERROR);
            io.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
            EXPECT_EQ(rc, Code::NOT_AVAILABLE);  // the first one stays
        }
        io.Initialize(FACE::String(c.path.c_str()), rc);
        EXPECT_EQ(rc, c.first) << c.path;
        io.Initialize(FACE::String(c.path.c_str()), rc);
        EXPECT_EQ(rc, c.second) << c.path;
    }
    CV_Devmem io;
    RC rc = Code::NO_ERROR;
    io.Set_Reference("", nullptr, 0, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
    long long id = 5;
    io.Open_Connection("A", -1, id, rc);  // no configuration to read
    EXPECT_EQ(rc, Code::INVALID_CONFIG);
    EXPECT_EQ(id, -1);
}

TEST_F(Devmem, OpenMapsTheConfiguredPhysicalWindow) {
    long long const id = open("Small");
    EXPECT_EQ(id, 0);
    EXPECT_EQ(status(id), CV_Devmem::STATUS_MAPPED);
    EXPECT_EQ(window(id), Window(0x1010, 16));
    devmem_test::pokeValue<std::uint32_t>(0x1014, 0xFEEDF00Du);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 4, 32, data), Code::NO_ERROR);
    EXPECT_EQ(data, 0xFEEDF00Du);
    EXPECT_EQ(write(id, 8, 64, 0x1122334455667788ull), Code::NO_ERROR);
    EXPECT_EQ(devmem_test::peekValue<std::uint64_t>(0x1018), 0x1122334455667788ull);
    // Narrow writes store only their low bits.
    EXPECT_EQ(write(id, 8, 8, 0x1234), Code::NO_ERROR);
    EXPECT_EQ(write(id, 10, 16, 0xABCDEF), Code::NO_ERROR);
    EXPECT_EQ(read(id, 8, 64, data), Code::NO_ERROR);
    EXPECT_EQ(data, 0x11223344CDEF7734ull);
    // Numbers in any base, kept to 32 bits.
    EXPECT_EQ(window(open("Octal")), Window(0x1000, 16));
    EXPECT_EQ(window(open("Wide")), Window(0x4000, 8));
}

TEST_F(Devmem, AccessesMustFitTheWindowAndHaveAWidth) {
    long long const small = open("Small");
    long long const tiny = open("Tiny");
    ASSERT_EQ(write(small, 0, 64, 0x8877665544332211ull), Code::NO_ERROR);
    ASSERT_EQ(write(small, 8, 64, 0xFFEEDDCCBBAA9988ull), Code::NO_ERROR);
    struct Case {
        long long id;
        std::uint32_t offset;
        std::uint8_t width;
        std::uint64_t data;  // read when allowed; 0: refused with NO_ACTION
    };
    Case const cases[] = {
        {small, 12, 32, 0xFFEEDDCCu}, {small, 13, 32, 0}, {small, 8, 64, 0xFFEEDDCCBBAA9988ull},
        {small, 9, 64, 0},            {small, 14, 16, 0xFFEEu}, {small, 15, 16, 0},
        {small, 15, 8, 0xFFu},        {small, 16, 8, 0},  {small, 0xFFFFFFFFu, 8, 0},
        {small, 0, 24, 0},            {small, 0, 0, 0},   {small, 0, 128, 0},
        {tiny, 0, 32, 0},             {tiny, 1, 32, 0},   {tiny, 1, 16, 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " width " << int(c.width));
        std::uint64_t data = 0xABABABABABABABABull;
        EXPECT_EQ(read(c.id, c.offset, c.width, data), c.data != 0 ? Code::NO_ERROR : Code::NO_ACTION);
        EXPECT_EQ(data, c.data != 0 ? c.data : 0xABABABABABABABABull);
        if (c.data == 0) {
            EXPECT_EQ(write(c.id, c.offset, c.width, 0), Code::NO_ACTION);
        }
    }
    EXPECT_EQ(devmem_test::peekValue<std::uint64_t>(0x1018), 0xFFEEDDCCBBAA9988ull);
}

TEST_F(Devmem, MissingContainerOrValueAddsNoEntry) {
    for (char const* name : {"Nowhere", "NoSize", "NoBase", "EmptySize"}) {
        RC rc = Code::NO_ERROR;
        EXPECT_EQ(open(name, &rc), -1) << name;
        EXPECT_EQ(rc, Code::INVALID_CONFIG) << name;
    }
    EXPECT_NE(m_console.find("WARNING - Parameter Size not found"), std::string::npos);
    EXPECT_EQ(open("Small"), 0);  // no entry was left behind
    EXPECT_EQ(close(1), Code::INVALID_PARAM);
}

TEST_F(Devmem, ClosedConnectionsKeepTheirIdAndRefuseAccess) {
    long long const id = open("Small");
    EXPECT_EQ(open("Small"), id);  // open already
    EXPECT_EQ(close(id), Code::NO_ERROR);
    EXPECT_EQ(close(id), Code::CONNECTION_CLOSED);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 0, 32, data), Code::CONNECTION_CLOSED);
    EXPECT_EQ(write(id, 0, 32, 0), Code::CONNECTION_CLOSED);
    EXPECT_EQ(status(id), 100 + Code::CONNECTION_CLOSED);
    struct : Io::IO_Callback {
        void Callback_Handler(long long, RC) override {}
    } callback;
    RC rc = Code::NO_ERROR;
    m_io.Register_Notification_Event(id, callback, rc);
    EXPECT_EQ(rc, Code::CONNECTION_CLOSED);
    unsigned short bus = 9;
    m_io.Get_Bus_Status(id, bus, rc);  // needs no open connection
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(bus, 0);
    EXPECT_EQ(window(id), Window(0x1010, 16));
    EXPECT_EQ(open("Small"), id);
    EXPECT_EQ(status(id), CV_Devmem::STATUS_MAPPED);
    m_io.Register_Notification_Event(id, callback, rc);
    EXPECT_EQ(rc, Code::NO_ACTION);  // notifications are not supported
}

TEST_F(Devmem, UnknownIdsAreInvalidParametersAndBusOperationsUnsupported) {
    open("Small");
    for (long long const id : {-1LL, 1LL, 1LL << 40}) {
        std::uint64_t data = 0;
        EXPECT_EQ(read(id, 0, 32, data), Code::INVALID_PARAM);
        EXPECT_EQ(write(id, 0, 32, 0), Code::INVALID_PARAM);
        EXPECT_EQ(close(id), Code::INVALID_PARAM);
        EXPECT_EQ(status(id), 100 + Code::INVALID_PARAM);
    }
    Io::IO_PARAMETER_TRANSACTION_TYPE t;
    RC rcs[2];
    m_io.Configure_Bus_Parameters(0, -1, t, rcs[0]);
    m_io.Get_Bus_Configuration(0, -1, t, rcs[1]);
    for (RC rc : rcs) EXPECT_EQ(rc, Code::NO_ACTION);
}

TEST_F(Devmem, FailedMappingIsOpenButRefusesAccessUntilReopened) {
    RC rc = Code::NOT_AVAILABLE;
    long long const id = open("Huge", &rc);  // a map length beyond 32 bits
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_NE(m_console.find("Unable to map memory space."), std::string::npos) << m_console;
    EXPECT_EQ(status(id), CV_Devmem::STATUS_FAILED);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 0, 32, data), Code::INVALID_MODE);
    EXPECT_EQ(write(id, 0, 32, 0), Code::INVALID_MODE);
    EXPECT_EQ(close(id), Code::NO_ERROR);
    m_io.Configure_Connection_Parameters(id, -1, transaction({{Io::SIZE, 64}}), rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(open("Huge"), id);
    EXPECT_EQ(status(id), CV_Devmem::STATUS_MAPPED);
    EXPECT_EQ(read(id, 60, 32, data), Code::NO_ERROR);
}

TEST_F(Devmem, ConnectionParametersApplyAllOrNothingAtTheNextOpen) {
    long long const id = open("Small");
    RC rc = Code::NOT_AVAILABLE;
    m_io.Configure_Connection_Parameters(id, -1, transaction({}), rc);
    EXPECT_EQ(rc, Code::NO_ACTION);  // open windows cannot change
    ASSERT_EQ(close(id), Code::NO_ERROR);
    struct Case {
        std::vector<std::pair<std::uint16_t, long long>> elements;  // negative: a long value
        RC rc;
        Window after;
    };
    Case const cases[] = {
        {{{0, -0x6000}}, Code::INVALID_PARAM, {0x1010, 16}},
        {{{2, 0x6000}}, Code::INVALID_PARAM, {0x1010, 16}},
        {{{0, 0x6000}, {1, -8}}, Code::INVALID_PARAM, {0x1010, 16}},
        {{}, Code::NO_ERROR, {0x1010, 16}},
        {{{1, 32}}, Code::NO_ERROR, {0x1010, 32}},
        {{{0, 0x6000}, {1, 8}, {0, 0x7000}}, Code::NO_ERROR, {0x7000, 8}},
    };
    for (Case const& c : cases) {
        m_io.Configure_Connection_Parameters(id, -1, transaction(c.elements), rc);
        EXPECT_EQ(rc, c.rc) << c.elements.size();
        EXPECT_EQ(window(id), c.after) << c.elements.size();
    }
    Io::IO_PARAMETER_TRANSACTION_TYPE invalid;
    FACE::Sequence<Io::IO_PARAMETER_TYPE>::RETURN_CODE seqRc;
    invalid.parameters = FACE::Sequence<Io::IO_PARAMETER_TYPE>(0, seqRc);
    m_io.Configure_Connection_Parameters(id, -1, invalid, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(window(id), Window(0x7000, 8));
    // Reopened by name, the new window counts: the configuration is not read again.
    devmem_test::pokeValue<std::uint32_t>(0x7004, 0x600DCAFEu);
    EXPECT_EQ(open("Small"), id);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 4, 32, data), Code::NO_ERROR);
    EXPECT_EQ(data, 0x600DCAFEu);
}

TEST_F(Devmem, ConfigurationQueryFillsKnownIdsAndFlagsOthers) {
    long long const id = open("Small");
    Io::IO_PARAMETER_TRANSACTION_TYPE t = transaction({{0, 0}, {1, 0}, {7, -3}, {1, 0}});
    RC rc = Code::NO_ERROR;
    m_io.Get_Connection_Configuration(id, -1, t, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
    std::uint32_t const expected[] = {0x1010, 16, 0, 16};
    for (unsigned i = 0; i < 4; ++i) {
        std::uint32_t v = 0;
        FACE::IOSS::IO_PARAMETER_VALUE_TYPE::RETURN_CODE kindRc;
        t.parameters[i].value.ulong_value(v, kindRc);
        EXPECT_EQ(kindRc, i == 2 ? FACE::IOSS::IO_PARAMETER_VALUE_TYPE::WRONG_KIND
                                 : FACE::IOSS::IO_PARAMETER_VALUE_TYPE::NO_ERROR);
        EXPECT_EQ(v, expected[i]) << i;
    }
}

}  // namespace
