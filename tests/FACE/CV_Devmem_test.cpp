#include "FACE/CV_Devmem.h"

#include "FACE/CV_Config.h"
#include "tests/FACE/ConfigTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace face_test;
namespace Code = FACE::RETURN_CODE_TYPE;
using Io = FACE::IOSS::Devmem::IO_Service;
using FACE::IOSS::CV_Devmem;

// Forwards to a CV_Config and counts the containers opened through it.
class CountingConfig : public FACE::Configuration {
public:
    void Initialize(FACE::String const& c, RC& rc) override { m_inner.Initialize(c, rc); }
    void Open(FACE::String const& n, int& h, RC& rc) override {
        ++opens;
        m_inner.Open(n, h, rc);
    }
    void Get_Size(int h, FACE::String const& n, int& s, RC& rc) override { m_inner.Get_Size(h, n, s, rc); }
    void Read(int h, FACE::String const& n, void* b, int s, int& r, RC& rc) override {
        m_inner.Read(h, n, b, s, r, rc);
    }
    void Write(int h, FACE::String const& n, void* b, int s, int& w, RC& rc) override {
        m_inner.Write(h, n, b, s, w, rc);
    }
    void Seek(int h, WHENCE_TYPE::Value w, int o, RC& rc) override { m_inner.Seek(h, w, o, rc); }
    void Close(int h, RC& rc) override {
        ++closes;
        m_inner.Close(h, rc);
    }
    int opens = 0;
    int closes = 0;

private:
    FACE::CV_Config m_inner;
};

std::string device(char const* name, char const* base, char const* size) {
    std::string params;
    if (base != nullptr) params += std::string("<BaseAddress>") + base + "</BaseAddress>";
    if (size != nullptr) params += std::string("<Size>") + size + "</Size>";
    return container("Device", name, params);
}

class Devmem : public testing::Test {
protected:
    void SetUp() override {
        m_file = m_dir.write("devices.xml",
                             document(device("Small", "0x1010", "16") + device("Two", "0x1010", "4080") +
                                      device("Tiny", "0x2000", "2") + device("NoSize", "0x3000", nullptr) +
                                      device("NoBase", nullptr, "16") + device("EmptySize", "0x3000", "") +
                                      device("Octal", "010000", "0x10") + device("Wide", "0x100004000", "8") +
                                      device("Huge", "0x1000", "0xFFFFFFFF")));
        m_config = std::make_shared<CountingConfig>();
        RC rc = Code::NOT_AVAILABLE;
        m_io.Set_Reference("", m_config, 0, rc);
        ASSERT_EQ(rc, Code::NO_ERROR);
        m_io.Initialize(FACE::String(m_file.c_str()), rc);
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
        Io::READ_PAYLOAD_TYPE p;
        p.timestamp = 77;
        p.offset = offset;
        p.width = width;
        p.data = data;
        RC rc = Code::NOT_AVAILABLE;
        m_io.Read(id, -1, p, rc);
        data = p.data;
        if (rc == Code::NO_ERROR) {
            EXPECT_EQ(p.timestamp, 0);
        }
        return rc;
    }
    RC write(long long id, std::uint32_t offset, std::uint8_t width, std::uint64_t data) {
        Io::WRITE_PAYLOAD_TYPE p;
        p.offset = offset;
        p.width = width;
        p.data = data;
        RC rc = Code::NOT_AVAILABLE;
        m_io.Write(id, -1, p, rc);
        return rc;
    }
    RC close(long long id) {
        RC rc = Code::NOT_AVAILABLE;
        m_io.Close_Connection(id, rc);
        return rc;
    }
    RC status(long long id, std::int32_t& value) {
        Io::CONNECTION_STATUS_TYPE s;
        RC rc = Code::NOT_AVAILABLE;
        m_io.Get_Connection_Status(id, s, rc);
        value = s.status;
        if (rc == Code::NO_ERROR) {
            EXPECT_EQ(s.open, 1);
            EXPECT_EQ(s.timestamp, 0);
        }
        return rc;
    }
    // Base address and size as Get_Connection_Configuration reports them.
    std::pair<std::uint32_t, std::uint32_t> window(long long id) {
        Io::IO_PARAMETER_TRANSACTION_TYPE t;
        Io::IO_PARAMETER_TYPE e;
        e.id = Io::SIZE;
        t.parameters.append(e);
        e.id = Io::BASE_ADDRESS;
        t.parameters.append(e);
        RC rc = Code::NOT_AVAILABLE;
        m_io.Get_Connection_Configuration(id, -1, t, rc);
        EXPECT_EQ(rc, Code::NO_ERROR);
        return {t.parameters[1].value.ulong_value(), t.parameters[0].value.ulong_value()};
    }

    TempDir m_dir;
    std::string m_file;
    std::shared_ptr<CountingConfig> m_config;
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
    Case const cases[] = {
        {true, good, Code::NO_ERROR, Code::NO_ACTION},
        {true, bad, Code::INVALID_CONFIG, Code::INVALID_CONFIG},
        {false, good, Code::INVALID_CONFIG, Code::INVALID_CONFIG},
    };
    for (Case const& c : cases) {
        CV_Devmem io;
        RC rc = Code::NOT_AVAILABLE;
        if (c.withConfig) {
            io.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
            ASSERT_EQ(rc, Code::NO_ERROR);
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
    RC rc = Code::NOT_AVAILABLE;
    long long const id = open("Small", &rc);
    ASSERT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(id, 0);
    std::int32_t s = -1;
    EXPECT_EQ(status(id, s), Code::NO_ERROR);
    EXPECT_EQ(s, CV_Devmem::STATUS_MAPPED);
    EXPECT_EQ(window(id), std::make_pair(0x1010u, 16u));

    devmem_test::pokeValue<std::uint32_t>(0x1014, 0xFEEDF00Du);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 4, 32, data), Code::NO_ERROR);
    EXPECT_EQ(data, 0xFEEDF00Du);
    EXPECT_EQ(write(id, 8, 64, 0x1122334455667788ull), Code::NO_ERROR);
    EXPECT_EQ(devmem_test::peekValue<std::uint64_t>(0x1018), 0x1122334455667788ull);

    // Numbers in any base, kept to 32 bits.
    EXPECT_EQ(window(open("Octal")), std::make_pair(0x1000u, 16u));
    EXPECT_EQ(window(open("Wide")), std::make_pair(0x4000u, 8u));
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
        RC rc;
        std::uint64_t data;  // when rc is 0
    };
    Case const cases[] = {
        {small, 12, 32, Code::NO_ERROR, 0xFFEEDDCCu},
        {small, 13, 32, Code::NO_ACTION, 0},
        {small, 8, 64, Code::NO_ERROR, 0xFFEEDDCCBBAA9988ull},
        {small, 9, 64, Code::NO_ACTION, 0},
        {small, 14, 16, Code::NO_ERROR, 0xFFEEu},
        {small, 15, 16, Code::NO_ACTION, 0},
        {small, 15, 8, Code::NO_ERROR, 0xFFu},
        {small, 16, 8, Code::NO_ACTION, 0},
        {small, 0xFFFFFFFFu, 8, Code::NO_ACTION, 0},
        {small, 0, 24, Code::NO_ACTION, 0},
        {small, 0, 0, Code::NO_ACTION, 0},
        {small, 0, 128, Code::NO_ACTION, 0},
        {tiny, 0, 32, Code::NO_ACTION, 0},
        {tiny, 1, 32, Code::NO_ACTION, 0},
        {tiny, 0, 16, Code::NO_ERROR, 0},
        {tiny, 1, 16, Code::NO_ACTION, 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << " offset " << c.offset << " width " << int(c.width));
        std::uint64_t data = 0xABABABABABABABABull;
        EXPECT_EQ(read(c.id, c.offset, c.width, data), c.rc);
        EXPECT_EQ(data, c.rc == Code::NO_ERROR ? c.data : 0xABABABABABABABABull);
        if (c.rc != Code::NO_ERROR) {
            EXPECT_EQ(write(c.id, c.offset, c.width, 0), c.rc);
        }
    }
    // Nothing was written by the refused writes.
    EXPECT_EQ(devmem_test::peekValue<std::uint64_t>(0x1018), 0xFFEEDDCCBBAA9988ull);
}

TEST_F(Devmem, NarrowWritesStoreOnlyTheirLowBits) {
    long long const id = open("Small");
    ASSERT_EQ(write(id, 0, 64, ~0ull), Code::NO_ERROR);
    ASSERT_EQ(write(id, 0, 8, 0x1234), Code::NO_ERROR);
    ASSERT_EQ(write(id, 2, 16, 0xABCDEF), Code::NO_ERROR);
    ASSERT_EQ(write(id, 4, 32, 0x1122334455ull), Code::NO_ERROR);
    std::uint64_t data = 0;
    ASSERT_EQ(read(id, 0, 64, data), Code::NO_ERROR);
    EXPECT_EQ(data, 0x22334455CDEFFF34ull);
}

TEST_F(Devmem, KnownNamesReopenWithoutReadingTheConfiguration) {
    long long const first = open("Small");
    EXPECT_EQ(m_config->opens, 1);
    EXPECT_EQ(m_config->closes, 1);
    EXPECT_EQ(open("Small"), first);   // open already
    ASSERT_EQ(close(first), Code::NO_ERROR);
    EXPECT_EQ(open("Small"), first);   // reopened
    EXPECT_EQ(m_config->opens, 1);
    std::int32_t s = -1;
    EXPECT_EQ(status(first, s), Code::NO_ERROR);
    EXPECT_EQ(s, CV_Devmem::STATUS_MAPPED);
    EXPECT_EQ(open("Two"), first + 1);
    EXPECT_EQ(m_config->opens, 2);
}

TEST_F(Devmem, MissingContainerOrValueAddsNoEntry) {
    for (char const* name : {"Nowhere", "NoSize", "NoBase", "EmptySize"}) {
        RC rc = Code::NO_ERROR;
        EXPECT_EQ(open(name, &rc), -1) << name;
        EXPECT_EQ(rc, Code::INVALID_CONFIG) << name;
    }
    EXPECT_NE(m_console.find("WARNING - Parameter Size not found"), std::string::npos);
    EXPECT_EQ(m_config->closes, 3);  // every container found was closed again
    EXPECT_EQ(open("Small"), 0);     // no entry was left behind
    RC rc = Code::NO_ERROR;
    m_io.Close_Connection(1, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
}

TEST_F(Devmem, ClosedConnectionsRefuseEverythingButReopening) {
    long long const id = open("Small");
    EXPECT_EQ(close(id), Code::NO_ERROR);
    EXPECT_EQ(close(id), Code::CONNECTION_CLOSED);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 0, 32, data), Code::CONNECTION_CLOSED);
    EXPECT_EQ(write(id, 0, 32, 0), Code::CONNECTION_CLOSED);
    std::int32_t s = -1;
    EXPECT_EQ(status(id, s), Code::CONNECTION_CLOSED);
    struct Callback : Io::IO_Callback {
        void Callback_Handler(long long, RC) override {}
    } callback;
    RC rc = Code::NO_ERROR;
    m_io.Register_Notification_Event(id, callback, rc);
    EXPECT_EQ(rc, Code::CONNECTION_CLOSED);
    unsigned short bus = 9;
    m_io.Get_Bus_Status(id, bus, rc);  // needs no open connection
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(bus, 0);
    EXPECT_EQ(window(id), std::make_pair(0x1010u, 16u));
    EXPECT_EQ(open("Small"), id);
    m_io.Register_Notification_Event(id, callback, rc);
    EXPECT_EQ(rc, Code::NO_ACTION);
}

TEST_F(Devmem, UnknownIdsAreInvalidParameters) {
    open("Small");
    for (long long const id : {-1LL, 1LL, 1LL << 40}) {
        SCOPED_TRACE(id);
        std::uint64_t data = 0;
        EXPECT_EQ(read(id, 0, 32, data), Code::INVALID_PARAM);
        EXPECT_EQ(write(id, 0, 32, 0), Code::INVALID_PARAM);
        EXPECT_EQ(close(id), Code::INVALID_PARAM);
        std::int32_t s = 0;
        EXPECT_EQ(status(id, s), Code::INVALID_PARAM);
        RC rc = Code::NO_ERROR;
        unsigned short bus = 0;
        m_io.Get_Bus_Status(id, bus, rc);
        EXPECT_EQ(rc, Code::INVALID_PARAM);
        m_io.Unregister_Notification_Event(id, rc);
        EXPECT_EQ(rc, Code::INVALID_PARAM);
        Io::IO_PARAMETER_TRANSACTION_TYPE t;
        m_io.Configure_Connection_Parameters(id, -1, t, rc);
        EXPECT_EQ(rc, Code::INVALID_PARAM);
        m_io.Get_Connection_Configuration(id, -1, t, rc);
        EXPECT_EQ(rc, Code::INVALID_PARAM);
    }
    // The bus operations are not supported at all.
    Io::IO_PARAMETER_TRANSACTION_TYPE t;
    RC rc = Code::NO_ERROR;
    m_io.Configure_Bus_Parameters(0, -1, t, rc);
    EXPECT_EQ(rc, Code::NO_ACTION);
    m_io.Get_Bus_Configuration(0, -1, t, rc);
    EXPECT_EQ(rc, Code::NO_ACTION);
    m_io.Unregister_Notification_Event(0, rc);
    EXPECT_EQ(rc, Code::NO_ACTION);
}

TEST_F(Devmem, FailedMappingIsOpenButRefusesAccessUntilReopened) {
    RC rc = Code::NOT_AVAILABLE;
    long long const id = open("Huge", &rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_NE(m_console.find("Unable to map memory space."), std::string::npos) << m_console;
    std::int32_t s = -1;
    EXPECT_EQ(status(id, s), Code::NO_ERROR);
    EXPECT_EQ(s, CV_Devmem::STATUS_FAILED);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 0, 32, data), Code::INVALID_MODE);
    EXPECT_EQ(write(id, 0, 32, 0), Code::INVALID_MODE);

    // Closed, resized and opened again it works.
    EXPECT_EQ(close(id), Code::NO_ERROR);
    Io::IO_PARAMETER_TRANSACTION_TYPE t;
    Io::IO_PARAMETER_TYPE e;
    e.id = Io::SIZE;
    e.value.ulong_value(64);
    t.parameters.append(e);
    m_io.Configure_Connection_Parameters(id, -1, t, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(open("Huge"), id);
    EXPECT_EQ(status(id, s), Code::NO_ERROR);
    EXPECT_EQ(s, CV_Devmem::STATUS_MAPPED);
    EXPECT_EQ(read(id, 60, 32, data), Code::NO_ERROR);
}

TEST_F(Devmem, ConnectionParametersApplyAllOrNothing) {
    long long const id = open("Small");
    using P = std::pair<std::uint16_t, FACE::IOSS::IO_PARAMETER_VALUE_TYPE>;
    auto ulong = [](std::uint32_t v) {
        FACE::IOSS::IO_PARAMETER_VALUE_TYPE value;
        value.ulong_value(v);
        return value;
    };
    auto slong = [](std::int32_t v) {
        FACE::IOSS::IO_PARAMETER_VALUE_TYPE value;
        value.long_value(v);
        return value;
    };
    struct Case {
        char const* what;
        std::vector<P> elements;
        RC rc;
        std::pair<std::uint32_t, std::uint32_t> after;
    };
    Case const cases[] = {
        {"wrong kind", {{0, slong(0x6000)}}, Code::INVALID_PARAM, {0x1010, 16}},
        {"unknown id", {{2, ulong(0x6000)}}, Code::INVALID_PARAM, {0x1010, 16}},
        {"good then bad", {{0, ulong(0x6000)}, {1, slong(8)}}, Code::INVALID_PARAM, {0x1010, 16}},
        {"nothing", {}, Code::NO_ERROR, {0x1010, 16}},
        {"size only", {{1, ulong(32)}}, Code::NO_ERROR, {0x1010, 32}},
        {"both, last wins", {{0, ulong(0x6000)}, {1, ulong(8)}, {0, ulong(0x7000)}}, Code::NO_ERROR, {0x7000, 8}},
    };
    RC rc = Code::NOT_AVAILABLE;
    Io::IO_PARAMETER_TRANSACTION_TYPE none;
    m_io.Configure_Connection_Parameters(id, -1, none, rc);
    EXPECT_EQ(rc, Code::NO_ACTION);  // open windows cannot change
    ASSERT_EQ(close(id), Code::NO_ERROR);
    for (Case const& c : cases) {
        Io::IO_PARAMETER_TRANSACTION_TYPE t;
        for (P const& p : c.elements) {
            Io::IO_PARAMETER_TYPE e;
            e.id = p.first;
            e.value = p.second;
            t.parameters.append(e);
        }
        m_io.Configure_Connection_Parameters(id, -1, t, rc);
        EXPECT_EQ(rc, c.rc) << c.what;
        EXPECT_EQ(window(id), c.after) << c.what;
    }
    // An invalid sequence changes nothing.
    Io::IO_PARAMETER_TRANSACTION_TYPE invalid;
    FACE::Sequence<Io::IO_PARAMETER_TYPE>::RETURN_CODE seqRc;
    invalid.parameters = FACE::Sequence<Io::IO_PARAMETER_TYPE>(0, seqRc);
    ASSERT_FALSE(invalid.parameters.is_valid());
    m_io.Configure_Connection_Parameters(id, -1, invalid, rc);
    EXPECT_EQ(rc, Code::NO_ERROR);
    EXPECT_EQ(window(id), std::make_pair(0x7000u, 8u));
    // The new window takes effect at the next open.
    devmem_test::pokeValue<std::uint32_t>(0x7004, 0x600DCAFEu);
    EXPECT_EQ(open("Small"), id);
    std::uint64_t data = 0;
    EXPECT_EQ(read(id, 4, 32, data), Code::NO_ERROR);
    EXPECT_EQ(data, 0x600DCAFEu);
}

TEST_F(Devmem, ConfigurationQueryFillsKnownIdsAndFlagsOthers) {
    long long const id = open("Two");
    Io::IO_PARAMETER_TRANSACTION_TYPE t;
    for (std::uint16_t pid : {0, 1, 7, 1}) {
        Io::IO_PARAMETER_TYPE e;
        e.id = pid;
        t.parameters.append(e);
    }
    RC rc = Code::NO_ERROR;
    m_io.Get_Connection_Configuration(id, -1, t, rc);
    EXPECT_EQ(rc, Code::INVALID_PARAM);
    std::uint32_t const expected[] = {0x1010, 4080, 0, 4080};
    for (unsigned i = 0; i < 4; ++i) {
        std::uint32_t v = 0;
        FACE::IOSS::IO_PARAMETER_VALUE_TYPE::RETURN_CODE kindRc;
        t.parameters[i].value.ulong_value(v, kindRc);
        EXPECT_EQ(kindRc, i == 2 ? FACE::IOSS::IO_PARAMETER_VALUE_TYPE::WRONG_KIND
                                 : FACE::IOSS::IO_PARAMETER_VALUE_TYPE::NO_ERROR);
        EXPECT_EQ(v, expected[i]) << i;
    }
}

TEST_F(Devmem, ThreadsAccessOpenWindowsConcurrently) {
    long long const small = open("Small");
    long long const two = open("Two");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            long long const id = t % 2 == 0 ? small : two;
            for (std::uint32_t i = 0; i < 2000; ++i) {
                Io::WRITE_PAYLOAD_TYPE w;
                w.offset = static_cast<std::uint32_t>(4 * t);
                w.width = 32;
                w.data = i;
                Io::READ_PAYLOAD_TYPE r;
                r.offset = w.offset;
                r.width = 32;
                RC wrc = Code::NOT_AVAILABLE;
                RC rrc = Code::NOT_AVAILABLE;
                m_io.Write(id, -1, w, wrc);
                m_io.Read(id, -1, r, rrc);
                if (wrc != Code::NO_ERROR || rrc != Code::NO_ERROR) ++failures;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
