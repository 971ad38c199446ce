// FpgaFace against a recording stand-in of the I/O service: the register
// map, the bounds checks and the start-up failures.

#include "platform/FPGA.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace Code = FACE::RETURN_CODE_TYPE;
using Io = FACE::IOSS::Devmem::IO_Service;
using RC = Code::Value;

struct Access {
    std::string block;
    std::uint32_t offset;
    int width;
    bool write;
    std::uint64_t data;  // written value (0 for reads)
    bool operator==(Access const& o) const {
        return block == o.block && offset == o.offset && width == o.width && write == o.write && data == o.data;
    }
};
std::ostream& operator<<(std::ostream& os, Access const& a) {
    return os << (a.write ? "W " : "R ") << a.block << "+0x" << std::hex << a.offset << std::dec << "/" << a.width
              << (a.write ? " = " + std::to_string(a.data) : "");
}
Access R(std::string block, std::uint32_t offset, int width) { return {std::move(block), offset, width, false, 0}; }
Access W(std::string block, std::uint32_t offset, int width, std::uint64_t data) {
    return {std::move(block), offset, width, true, data};
}

constexpr std::uint64_t kUnset = 0xA5A5A5A5A5A5A5A5ull;  // what unset registers read

std::uint64_t masked(std::uint64_t value, int width) {
    return width == 64 ? value : value & ((1ull << width) - 1);
}

// Register blocks held in maps. Every access is logged; blocks can be
// missing and single registers can fail to read.
class FakeIo : public Io {
public:
    std::set<std::string> available;
    std::map<std::pair<std::string, std::uint32_t>, std::uint64_t> regs;
    std::map<std::pair<std::string, std::uint32_t>, RC> failingReads;
    std::vector<std::string> names;  // by connection id
    std::vector<std::string> opened, closed;
    std::vector<Access> log;

    void Initialize(FACE::String const&, RC& rc) override { rc = Code::NO_ERROR; }
    void Open_Connection(FACE::String const& name, long long, long long& id, RC& rc) override {
        std::string const n(name.buffer(), name.length());
        id = -1;
        if (available.count(n) == 0) {
            rc = Code::INVALID_CONFIG;
            return;
        }
        opened.push_back(n);
        names.push_back(n);
        id = static_cast<long long>(names.size() - 1);
        rc = Code::NO_ERROR;
    }
    void Close_Connection(long long id, RC& rc) override {
        closed.push_back(nameOf(id));
        rc = Code::NO_ERROR;
    }
    void Read(long long id, long long, READ_PAYLOAD_TYPE& p, RC& rc) override {
        std::string const block = nameOf(id);
        log.push_back(R(block, p.offset, p.width));
        auto const failing = failingReads.find({block, p.offset});
        if (failing != failingReads.end()) {
            rc = failing->second;
            return;
        }
        auto const reg = regs.find({block, p.offset});
        p.data = masked(reg == regs.end() ? kUnset : reg->second, p.width);
        rc = Code::NO_ERROR;
    }
    void Write(long long id, long long, WRITE_PAYLOAD_TYPE const& p, RC& rc) override {
        std::string const block = nameOf(id);
        log.push_back(W(block, p.offset, p.width, masked(p.data, p.width)));
        regs[{block, p.offset}] = masked(p.data, p.width);
        rc = Code::NO_ERROR;
    }
    void Configure_Connection_Parameters(long long, long long, IO_PARAMETER_TRANSACTION_TYPE const&, RC& rc) override {
        rc = Code::NO_ACTION;
    }
    void Get_Connection_Configuration(long long, long long, IO_PARAMETER_TRANSACTION_TYPE&, RC& rc) override {
        rc = Code::NO_ACTION;
    }
    void Configure_Bus_Parameters(long long, long long, IO_PARAMETER_TRANSACTION_TYPE const&, RC& rc) override {
        rc = Code::NO_ACTION;
    }
    void Get_Bus_Configuration(long long, long long, IO_PARAMETER_TRANSACTION_TYPE&, RC& rc) override {
        rc = Code::NO_ACTION;
    }
    void Get_Connection_Status(long long, CONNECTION_STATUS_TYPE&, RC& rc) override { rc = Code::NO_ACTION; }
    void Get_Bus_Status(long long, unsigned short&, RC& rc) override { rc = Code::NO_ACTION; }
    void Register_Notification_Event(long long, IO_Callback&, RC& rc) override { rc = Code::NO_ACTION; }
    void Unregister_Notification_Event(long long, RC& rc) override { rc = Code::NO_ACTION; }

    // A board with `ptfes` PTFE units and the usual other counts.
    void board(unsigned ptfes, std::uint64_t clockRate = 58982400) {
        available = {"Processor_Interface", "Peripheral_Interface", "TimeStamp_Interface", "PpsSlave_Interface",
                     "PtpClock_Interface"};
        for (unsigned n = 0; n < ptfes; ++n) {
            available.insert("Ptfe_Interface" + std::to_string(n));
            available.insert("PulseGen_Interface" + std::to_string(n));
        }
        regs[{"TimeStamp_Interface", 0x00}] = clockRate;
        regs[{"TimeStamp_Interface", 0x08}] = 0xFFFFFFFF00000002ull;  // only the low half counts
        regs[{"TimeStamp_Interface", 0x10}] = ptfes;
        regs[{"TimeStamp_Interface", 0x18}] = 2;
        regs[{"TimeStamp_Interface", 0x20}] = 4;
    }

private:
    std::string nameOf(long long id) const {
        return id >= 0 && static_cast<std::size_t>(id) < names.size() ? names[static_cast<std::size_t>(id)]
                                                                       : "<id " + std::to_string(id) + ">";
    }
};

// InitFpga's exception text and console output ("" when it succeeds).
std::string initFailure(FpgaFace& fpga, std::shared_ptr<Io> const& io, std::string* console = nullptr) {
    std::string error;
    testing::internal::CaptureStdout();
    try {
        fpga.InitFpga(io);
    } catch (std::runtime_error const& e) {
        error = e.what();
    }
    std::string const out = testing::internal::GetCapturedStdout();
    if (console != nullptr) *console = out;
    return error;
}

class Fpga : public testing::Test {
protected:
    void init(unsigned ptfes) {
        m_io->board(ptfes);
        ASSERT_EQ(initFailure(m_fpga, m_io), "");
        m_io->log.clear();
    }
    std::shared_ptr<FakeIo> m_io = std::make_shared<FakeIo>();
    FpgaFace m_fpga;
};

TEST_F(Fpga, InitOpensEveryBlockAndReadsTheInventory) {
    m_io->board(2);
    std::string console;
    ASSERT_EQ(initFailure(m_fpga, m_io, &console), "");
    EXPECT_EQ(console, "");
    EXPECT_EQ(m_io->opened, (std::vector<std::string>{"Processor_Interface", "Peripheral_Interface",
                                                      "TimeStamp_Interface", "PpsSlave_Interface",
                                                      "PtpClock_Interface", "Ptfe_Interface0", "PulseGen_Interface0",
                                                      "Ptfe_Interface1", "PulseGen_Interface1"}));
    std::string const ts = "TimeStamp_Interface";
    EXPECT_EQ(m_io->log, (std::vector<Access>{R(ts, 0x08, 64), R(ts, 0x10, 64), R(ts, 0x18, 64), R(ts, 0x20, 64),
                                              R(ts, 0x00, 64)}));
    EXPECT_EQ(m_fpga.getNumUarts(), 2u);
    EXPECT_EQ(m_fpga.getNumPtfes(), 2u);
    EXPECT_EQ(m_fpga.getNumPulses(), 2u);
    EXPECT_EQ(m_fpga.getNumPeriphs(), 4u);

    m_io->regs[{ts, 0x80}] = 0x0123456789ABCDEFull;
    EXPECT_EQ(m_fpga.fpga_get_SystemCount(), 0x0123456789ABCDEFull);
    EXPECT_EQ(FpgaFace::fpga_timestamp_get_ticks_per_sec(), 58982400u);

    m_fpga.DoneFpga();
    EXPECT_EQ(m_io->closed, m_io->opened);
    EXPECT_EQ(m_fpga.getNumPtfes(), 2u);  // counts stay
}

TEST(FpgaInit, EachFailingStepRaisesItsOwnText) {
    struct Case {
        std::function<void(FakeIo&)> breakIt;
        char const* text;
    };
    auto without = [](char const* block) { return [block](FakeIo& io) { io.available.erase(block); }; };
    auto failRead = [](std::uint32_t offset) {
        return [offset](FakeIo& io) { io.failingReads[{"TimeStamp_Interface", offset}] = Code::NO_ACTION; };
    };
    Case const cases[] = {
        {without("Processor_Interface"),
         "platform/FPGA[56]:INVALID_CONFIG FpgaFace() FAILED to open processor interface"},
        {without("Peripheral_Interface"),
         "platform/FPGA[59]:INVALID_CONFIG FpgaFace() FAILED to open peripheral interface"},
        {without("TimeStamp_Interface"),
         "platform/FPGA[62]:INVALID_CONFIG FpgaFace() FAILED to open timestamp interface"},
        {without("PpsSlave_Interface"),
         "platform/FPGA[65]:INVALID_CONFIG FpgaFace() FAILED to open PPS Slave interface"},
        {without("PtpClock_Interface"),
         "platform/FPGA[68]:INVALID_CONFIG FpgaFace() FAILED to open PTP Clock interface"},
        {failRead(0x08), "platform/FPGA[73]:NO_ACTION FpgaFace() FAILED to read FPGA number of UARTs"},
        {failRead(0x10), "platform/FPGA[79]:NO_ACTION FpgaFace() FAILED to read FPGA number of PTFEs"},
        {failRead(0x18), "platform/FPGA[85]:NO_ACTION FpgaFace() FAILED to read FPGA number of Pulses"},
        {failRead(0x20), "platform/FPGA[91]:NO_ACTION FpgaFace() FAILED to read FPGA number of Periphs"},
        {without("Ptfe_Interface1"), "platform/FPGA[115]:INVALID_CONFIG FpgaFace() FAILED to open PTFE 1 interface"},
        {without("PulseGen_Interface0"),
         "platform/FPGA[122]:INVALID_CONFIG FpgaFace() FAILED to open PulseGen 0 interface"},
        {failRead(0x00), "platform/FPGA[128]:NO_ACTION FpgaFace() FAILED to read FPGA clock rate"},
        {[](FakeIo& io) { io.regs[{"TimeStamp_Interface", 0x00}] = 58982401; },
         "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 58982401, expected 58982400"},
        {[](FakeIo& io) { io.regs[{"TimeStamp_Interface", 0x00}] = 1ull << 63; },
         "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 9223372036854775808, "
         "expected 58982400"},
    };
    for (Case const& c : cases) {
        auto io = std::make_shared<FakeIo>();
        io->board(2);
        c.breakIt(*io);
        FpgaFace fpga;
        std::string console;
        EXPECT_EQ(initFailure(fpga, io, &console), c.text);
        EXPECT_EQ(console, std::string(c.text) + "\n");
    }
    FpgaFace fpga;
    EXPECT_EQ(initFailure(fpga, nullptr),
              "platform/FPGA[56]:NOT_AVAILABLE FpgaFace() FAILED to open processor interface");
}

TEST(FpgaInit, NothingIsAccessedBeforeInit) {
    FpgaFace fpga;
    EXPECT_EQ(fpga.fpga_get_SystemCount(), 0u);
    EXPECT_EQ(fpga.getPtfeMeasuredFreqEstimate(0), 1u);
    EXPECT_EQ(fpga.fpga_get_ppsSlave_control(0), 0u);
    EXPECT_EQ(fpga.getFirmwareBuildStamp(), "0000-00-00T00:00:00");
    fpga.DoneFpga();  // no service: nothing to close
}

TEST_F(Fpga, WithoutPtfeUnitsNoPtfeBlockIsOpenedOrAccessed) {
    init(0);
    EXPECT_EQ(m_io->opened.size(), 5u);
    EXPECT_EQ(m_fpga.getPtfeFirmwareId(0), 0u);
    EXPECT_EQ(m_fpga.getPtfeStatus(0), 0u);
    EXPECT_EQ(m_fpga.getPtfeMeasuredFreqEstimate(0), 1u);
    EXPECT_EQ(m_fpga.fpga_pulsegen_adjust_Int_phase(0, 5), 0u);
    m_fpga.fpga_ptfe_init(0, 1, 1000);
    m_fpga.fpga_ptfe_soft_reset(0);
    EXPECT_TRUE(m_io->log.empty());
}

// Every accessor reaches exactly its register in range, and nothing out of
// range. Unset registers read kUnset (cut to the width).
TEST_F(Fpga, RegisterMapAndBounds) {
    init(2);
    std::string const ts = "TimeStamp_Interface", pe = "Peripheral_Interface", pps = "PpsSlave_Interface",
                      ptp = "PtpClock_Interface", ptfe = "Ptfe_Interface1", pg = "PulseGen_Interface1";
    using Call = std::function<std::uint64_t(FpgaFace&)>;
    struct Case {
        char const* what;
        Call inRange;
        std::vector<Access> accesses;
        std::uint64_t result;
        std::vector<Call> outOfRange;  // each returns 0 (or 1) and accesses nothing
        std::uint64_t refused = 0;
    };
    std::uint64_t const u32 = kUnset & 0xFFFFFFFFu;
    Case const cases[] = {
        {"system count", [](FpgaFace& f) { return f.fpga_get_SystemCount(); }, {R(ts, 0x80, 64)}, kUnset, {}},
        {"UART stamp", [](FpgaFace& f) { return f.getUARTDataTimestampRaw(1); }, {R(ts, 0x208, 64)}, kUnset,
         {[](FpgaFace& f) { return f.getUARTDataTimestampRaw(2); }}},
        {"pulse stamp", [](FpgaFace& f) { return f.getPulseTimestampRaw(1); }, {R(ts, 0x90, 64)}, kUnset,
         {[](FpgaFace& f) { return f.getPulseTimestampRaw(2); }, [](FpgaFace& f) { return f.getPulseTimestampRaw(-1); }}},
        {"set UART delay", [](FpgaFace& f) { f.setUartDelay(1, 77u); return 0ull; }, {W(ts, 0x188, 32, 77)}, 0,
         {[](FpgaFace& f) { f.setUartDelay(2, 77u); return 0ull; }}},
        {"get UART delay", [](FpgaFace& f) { return f.getUartDelay(1); }, {R(ts, 0x188, 32)}, u32,
         {[](FpgaFace& f) { return f.getUartDelay(2); }}},
        {"set periph", [](FpgaFace& f) { f.fpga_set_periph_control(3, 9); return 0ull; }, {W(pe, 12, 32, 9)}, 0,
         {[](FpgaFace& f) { f.fpga_set_periph_control(4, 9); return 0ull; },
          [](FpgaFace& f) { f.fpga_set_periph_control(-1, 9); return 0ull; }}},
        {"get periph", [](FpgaFace& f) { return f.fpga_get_periph_control(3); }, {R(pe, 12, 32)}, u32,
         {[](FpgaFace& f) { return f.fpga_get_periph_control(4); },
          [](FpgaFace& f) { return f.fpga_get_periph_control(-1); }}},
        {"reset periph", [](FpgaFace& f) { return f.fpga_reset_periph_control(0); }, {R(pe, 0, 32), W(pe, 0, 32, 0)},
         u32, {[](FpgaFace& f) { return f.fpga_reset_periph_control(4); }}},
        {"set PPS", [](FpgaFace& f) { f.fpga_set_ppsSlave_control(8, 5); return 0ull; }, {W(pps, 32, 32, 5)}, 0,
         {[](FpgaFace& f) { f.fpga_set_ppsSlave_control(9, 5); return 0ull; },
          [](FpgaFace& f) { f.fpga_set_ppsSlave_control(-1, 5); return 0ull; }}},
        {"get PPS", [](FpgaFace& f) { return f.fpga_get_ppsSlave_control(8); }, {R(pps, 32, 32)}, u32,
         {[](FpgaFace& f) { return f.fpga_get_ppsSlave_control(9); }}},
        {"set PTP", [](FpgaFace& f) { f.fpga_set_ptpClock_control(29, 5); return 0ull; }, {W(ptp, 116, 32, 5)}, 0,
         {[](FpgaFace& f) { f.fpga_set_ptpClock_control(30, 5); return 0ull; },
          [](FpgaFace& f) { f.fpga_set_ptpClock_control(-1, 5); return 0ull; }}},
        {"get PTP", [](FpgaFace& f) { return f.fpga_get_ptpClock_control(29); }, {R(ptp, 116, 32)}, u32,
         {[](FpgaFace& f) { return f.fpga_get_ptpClock_control(30); }}},
        {"PTFE firmware", [](FpgaFace& f) { return f.getPtfeFirmwareId(1); }, {R(ptfe, 0x00, 64)}, kUnset,
         {[](FpgaFace& f) { return f.getPtfeFirmwareId(2); }}},
        {"PTFE status", [](FpgaFace& f) { return f.getPtfeStatus(1); }, {R(ptfe, 0x18, 32)}, u32,
         {[](FpgaFace& f) { return f.getPtfeStatus(2); }}},
        {"PTFE status cleared", [](FpgaFace& f) { return f.getAndClearPtfeStatus(1); },
         {R(ptfe, 0x18, 32), W(ptfe, 0x18, 32, 0)}, u32, {[](FpgaFace& f) { return f.getAndClearPtfeStatus(2); }}},
        {"DF NCO rate", [](FpgaFace& f) { return f.getDfNcoRate(1); }, {R(ptfe, 0x20, 64)}, 0x5A5A5A5A5A5ull,
         {[](FpgaFace& f) { return f.getDfNcoRate(2); }}},
        {"DT NCO phase", [](FpgaFace& f) { return f.getDtNcoPhase(1); }, {R(ptfe, 0x30, 64)}, 0xA5A5A5A5A5ull,
         {[](FpgaFace& f) { return f.getDtNcoPhase(2); }}},
        {"DT cycles", [](FpgaFace& f) { return f.getDtCycles(1); }, {R(ptfe, 0x38, 32)}, u32,
         {[](FpgaFace& f) { return f.getDtCycles(2); }}},
        {"frequency estimate", [](FpgaFace& f) { return f.getPtfeMeasuredFreqEstimate(1); }, {R(ptfe, 0x10, 32)},
         u32 + 1, {[](FpgaFace& f) { return f.getPtfeMeasuredFreqEstimate(2); }}, 1},
        {"default NCO rate", [](FpgaFace& f) { f.setPtfeDefaultNcoRate(1, 0x123456789ABull); return 0ull; },
         {W(ptfe, 0xC8, 64, 0x123456789ABull)}, 0,
         {[](FpgaFace& f) { f.setPtfeDefaultNcoRate(2, 1); return 0ull; }}},
        {"set int phase", [](FpgaFace& f) { f.fpga_pulsegen_set_Int_phase(1, 7); return 0ull; }, {W(pg, 4, 32, 7)}, 0,
         {[](FpgaFace& f) { f.fpga_pulsegen_set_Int_phase(2, 7); return 0ull; }}},
        {"get int phase", [](FpgaFace& f) { return f.fpga_pulsegen_get_Int_phase(1); }, {R(pg, 4, 32)}, u32,
         {[](FpgaFace& f) { return f.fpga_pulsegen_get_Int_phase(2); }}},
        {"set ext phase", [](FpgaFace& f) { f.fpga_pulsegen_set_Ext_phase(1, 7); return 0ull; }, {W(pg, 8, 32, 7)}, 0,
         {[](FpgaFace& f) { f.fpga_pulsegen_set_Ext_phase(2, 7); return 0ull; }}},
        {"get ext phase", [](FpgaFace& f) { return f.fpga_pulsegen_get_Ext_phase(1); }, {R(pg, 8, 32)}, u32,
         {[](FpgaFace& f) { return f.fpga_pulsegen_get_Ext_phase(2); }}},
        {"adjust ext phase", [](FpgaFace& f) { return f.fpga_pulsegen_adjust_Ext_phase(1, 0); },
         {R(pg, 8, 32), W(pg, 8, 32, u32)}, u32,
         {[](FpgaFace& f) { return f.fpga_pulsegen_adjust_Ext_phase(2, 0); },
          [](FpgaFace& f) { return f.fpga_pulsegen_adjust_Int_phase(2, 0); }}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        m_io->regs.clear();
        m_io->log.clear();
        EXPECT_EQ(c.inRange(m_fpga), c.result);
        EXPECT_EQ(m_io->log, c.accesses);
        for (Call const& refused : c.outOfRange) {
            m_io->log.clear();
            EXPECT_EQ(refused(m_fpga), c.refused);
            EXPECT_TRUE(m_io->log.empty()) << m_io->log.front();
        }
    }
}

TEST_F(Fpga, FailedReadsGiveZeroAndTheEstimateOne) {
    init(1);
    for (std::uint32_t offset : {0x10u, 0x18u, 0x80u}) {
        m_io->failingReads[{"Ptfe_Interface0", offset}] = Code::INVALID_MODE;
    }
    m_io->failingReads[{"TimeStamp_Interface", 0x80}] = Code::CONNECTION_CLOSED;
    EXPECT_EQ(m_fpga.fpga_get_SystemCount(), 0u);
    EXPECT_EQ(m_fpga.getPtfeStatus(0), 0u);
    EXPECT_EQ(m_fpga.getPtfeMeasuredFreqEstimate(0), 1u);
    m_io->log.clear();
    m_fpga.fpga_ptfe_soft_reset(0);  // an unreadable control word counts as 0
    std::string const p = "Ptfe_Interface0";
    EXPECT_EQ(m_io->log, (std::vector<Access>{R(p, 0x80, 32), W(p, 0x80, 32, 1), W(p, 0x80, 32, 0)}));
}

TEST_F(Fpga, UartDelayFromLineSettings) {
    init(1);
    struct Case {
        unsigned a, b, c;
        std::vector<Access> writes;
    };
    std::string const ts = "TimeStamp_Interface";
    Case const cases[] = {
        {115200, 10, 1, {W(ts, 0x188, 32, 5120)}},
        {9600, 11, 2, {W(ts, 0x188, 32, 135168)}},
        {7, 1, 1, {W(ts, 0x188, 32, 8426057)}},        // 8426057.14... truncated
        {1, 73, 1, {W(ts, 0x188, 32, 10747904)}},      // 4305715200 kept to 32 bits
        {0, 10, 1, {}},                                // no rate: nothing written
    };
    for (Case const& c : cases) {
        m_io->log.clear();
        m_fpga.setUartDelay(1, c.a, c.b, c.c);
        EXPECT_EQ(m_io->log, c.writes) << c.a << " " << c.b << " " << c.c;
    }
}

TEST_F(Fpga, PhaseAdjustmentWrapsOnceIntoThePeriod) {
    init(1);
    std::string const pg = "PulseGen_Interface0";
    m_fpga.fpga_ptfe_init(0, 3, 1000);
    struct Case {
        std::uint32_t start;
        int delta;
        std::uint32_t expected;
    };
    Case const cases[] = {
        {5, -10, 995}, {995, 10, 5},     {0, 1000, 0},   {500, 0, 500},
        {999, 1, 0},   {0, -1, 999},     {0, -2000, static_cast<std::uint32_t>(-1000)},  // only once
        {2500, 0, 1500},                                                                   // only once
        {0x7FFFFFFF, 1, 0x80000000u + 1000u},  // the sum wraps negative, then one period is added
    };
    for (std::uint32_t offset : {4u, 8u}) {
        for (Case const& c : cases) {
            m_io->regs[{pg, offset}] = c.start;
            std::uint32_t const got = offset == 4 ? m_fpga.fpga_pulsegen_adjust_Int_phase(0, c.delta)
                                                  : m_fpga.fpga_pulsegen_adjust_Ext_phase(0, c.delta);
            EXPECT_EQ(got, c.expected) << c.start << " " << c.delta;
            EXPECT_EQ((m_io->regs[{pg, offset}]), c.expected);
        }
    }
    // Before a period is given, nothing wraps.
    m_fpga.InitFpga(m_io);
    m_io->regs[{pg, 4}] = 5;
    EXPECT_EQ(m_fpga.fpga_pulsegen_adjust_Int_phase(0, -10), static_cast<std::uint32_t>(-5));
}

TEST_F(Fpga, PtfeStartAndSoftResetSequences) {
    init(1);
    std::string const p = "Ptfe_Interface0";
    m_fpga.fpga_ptfe_init(0, 0x55, 1000);
    EXPECT_EQ(m_io->log, (std::vector<Access>{W("PulseGen_Interface0", 0, 32, 999), W("TimeStamp_Interface", 0x40, 32, 1),
                                              W(p, 0x90, 32, 0x55), W(p, 0x98, 32, 0x55), W(p, 0x120, 32, 160)}));
    m_io->log.clear();
    m_io->regs[{p, 0x80}] = 0xF0;
    m_fpga.fpga_ptfe_soft_reset(0);
    EXPECT_EQ(m_io->log, (std::vector<Access>{R(p, 0x80, 32), W(p, 0x80, 32, 0xF1), W(p, 0x80, 32, 0xF0)}));
    m_io->log.clear();
    m_io->regs[{p, 0x80}] = 0x0F;
    m_fpga.fpga_ptfe_soft_reset(0);
    EXPECT_EQ(m_io->log, (std::vector<Access>{R(p, 0x80, 32), W(p, 0x80, 32, 0x0F), W(p, 0x80, 32, 0x0E)}));
}

TEST_F(Fpga, FirmwareIdentityTexts) {
    init(1);
    std::string const cpu = "Processor_Interface";
    auto word = [](char const* s) {
        return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
               (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
    };
    m_io->regs[{cpu, 0x00}] = word("PNTF");
    m_io->regs[{cpu, 0x04}] = word("W-01");
    m_io->regs[{cpu, 0x08}] = 0x20210309;
    m_io->regs[{cpu, 0x0C}] = 0xFFFF1405;  // only the low half is the time
    m_io->regs[{cpu, 0x10}] = word("1234");
    m_io->regs[{cpu, 0x14}] = word("5678");
    m_io->regs[{cpu, 0x18}] = word("9ABC");
    m_io->regs[{cpu, 0x1C}] = word("A001");
    EXPECT_EQ(m_fpga.getFirmwareBuildStamp(), "2021-03-09T14:05:00");
    EXPECT_EQ(m_fpga.getFirmwareConfiguration(),
              "Keystel FPGA Firmware:, PNTFW-01,Date YMD:,2021-03-09,Time  HHMM:,14:05,CPN:,1234-5678-9ABCRev:A001");
    // A zero byte ends its piece of the text, separator included.
    m_io->regs[{cpu, 0x04}] = word("AB") & 0xFFFF0000u;
    m_io->regs[{cpu, 0x10}] = 0;
    EXPECT_EQ(m_fpga.getFirmwareConfiguration(),
              "Keystel FPGA Firmware:, PNTFABDate YMD:,2021-03-09,Time  HHMM:,14:05,CPN:,5678-9ABCRev:A001");
}

TEST_F(Fpga, ReinitializingForgetsTheEarlierInventory) {
    init(2);
    EXPECT_NE(m_fpga.getPtfeStatus(1), 0u);
    auto other = std::make_shared<FakeIo>();
    other->board(2);
    other->failingReads[{"TimeStamp_Interface", 0x10}] = Code::NO_ACTION;
    EXPECT_NE(initFailure(m_fpga, other), "");
    EXPECT_EQ(m_fpga.getPtfeStatus(1), 0u);
    EXPECT_EQ(m_fpga.getNumUarts(), 2u);  // read before the failure
    EXPECT_TRUE(other->log.size() == 2u);
}

}  // namespace
