// Conformance table: edge cases of the configuration, the devices, the
// navigation output and the commands, each with the outcome the server must
// show (a value clamped or cut, a failure on its own line, a report told or
// an exception reported every cycle) and the line the server adds to say
// why. Configuration and device rows run `--check-config` and start the
// real server (DDS domains 36 and 37); navigation, command, transport and
// save rows run in this process (participants on DDS domain 39).
#include "FACE/CV_Config.h"
#include "FACE/CV_TSS.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ConfigRows.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"
#include "tests/support/NotifySocket.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace config_rows;
using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;

const std::string kServer = SERVER_PATH;
const std::string kTop = "ZOziDaZodOduzuz.xml";
const std::string kConn = "connections.xml";
const std::string kFailed = "!!!!!! " + kServer + " has exited after a failure.";
const std::string kConnectFailed = "]:INVALID_CONFIG Framework_Connect() failed";

// Index of the first line at or after `from` holding `part`; the line
// count when there is none.
std::size_t lineIndex(const LoggedProcess& p, const std::string& part, std::size_t from) {
    const std::size_t total = p.countLines(part, from);
    if (total == 0) return p.lineCount();
    std::size_t i = from;
    while (p.countLines(part, i + 1) == total) ++i;
    return i;
}

std::string writeIn(const corvane_test::TempDir& dir, const std::string& name, const std::string& text) {
    RuntimeRoot::writeFile(dir.file(name), text);
    return dir.file(name);
}

// Whether this process may take a real-time policy (a child tries).
bool fifoAllowed() {
    static const bool allowed = [] {
        const pid_t child = ::fork();
        if (child == 0) {
            sched_param p{};
            p.sched_priority = 1;
            ::_exit(::sched_setscheduler(0, SCHED_FIFO, &p) == 0 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }();
    return allowed;
}

// --- Configuration and devices: --check-config and a real start ------------

struct StartRow {
    std::string what;
    Spoil spoil;
    // --check-config: exit status (-1: not run) and lines it prints.
    int checkStatus;
    std::vector<std::string> checkLines;
    // Start-up: 0 when the server runs (stopped by SIGTERM), 2 when start-up
    // fails; `ordered` lines appear in this order on standard output (the
    // added line before the outcome), `also` anywhere, `absent` nowhere.
    int startStatus;
    std::vector<std::string> ordered;
    std::vector<std::string> also = {};
    std::vector<std::string> absent = {};
    std::vector<std::string> simArgs = {};
    std::function<void(pid_t)> whileRunning = {};
};

void runStartRows(const std::vector<StartRow>& rows, int domain) {
    for (const StartRow& row : rows) {
        SCOPED_TRACE(row.what);
        RuntimeRoot::Options o;
        o.sourceDir = CORVANE_SOURCE_DIR;
        o.prefix = "zozi-conformance";
        o.fpgaSim = FPGA_SIM_PATH;
        o.fpgaSimArgs = row.simArgs;
        o.domainId = domain;
        RuntimeRoot root(o);
        Setup setup{root, root.topLevelFile(), {}};
        row.spoil(setup);

        if (row.checkStatus >= 0) {
            LoggedProcess check({kServer, "--check-config", setup.topLevel}, root.environment());
            EXPECT_EQ(check.finish(20s), row.checkStatus) << check.transcript();
            for (const std::string& line : row.checkLines) {
                EXPECT_GE(check.countLines(withRoot(line, root.path())), 1u) << "missing: " << line << "\n"
                                                                             << check.transcript();
            }
        }

        // Running: the server says it is ready to its service manager once
        // its stop signals are handled (also under emulation, where the
        // emulator itself catches every signal).
        corvane_test::NotifySocket manager;
        std::vector<std::string> environment = root.environment();
        environment.push_back(manager.environment());
        LoggedProcess server({kServer, setup.topLevel}, environment);
        if (row.startStatus == 0) {
            bool ready = false;
            for (const auto deadline = std::chrono::steady_clock::now() + 60s;
                 !ready && !server.wait(0ms) && std::chrono::steady_clock::now() < deadline;) {
                ready = manager.waitFor("READY=1", 200ms);
            }
            EXPECT_TRUE(ready) << "not running\n" << server.transcript();
            if (ready) {
                if (row.whileRunning) row.whileRunning(server.pid());
                server.signal(SIGTERM);
            }
        }
        EXPECT_EQ(server.finish(60s), row.startStatus) << server.transcript();
        std::size_t at = 0;
        for (const std::string& line : row.ordered) {
            const std::string text = withRoot(line, root.path());
            const std::size_t found = lineIndex(server, text, at);
            EXPECT_LT(found, server.lineCount()) << "missing, or out of order: " << text << "\n" << server.transcript();
            at = found < server.lineCount() ? found + 1 : at;
        }
        for (const std::string& line : row.also) {
            EXPECT_GE(server.countLines(withRoot(line, root.path())), 1u) << "missing: " << line << "\n"
                                                                          << server.transcript();
        }
        for (const std::string& text : row.absent) {
            EXPECT_EQ(server.countLines(text), 0u) << "unexpected: " << text << "\n" << server.transcript();
        }
        // (Fast DDS's log thread may still write after the exit line.)
        EXPECT_EQ(server.countLines(kFailed), row.startStatus != 0 ? 1u : 0u) << server.transcript();
    }
}

// The scheduling of a running process: {policy, priority}.
std::pair<int, int> schedulingOf(pid_t pid) {
    sched_param p{};
    ::sched_getparam(pid, &p);
    return {::sched_getscheduler(pid), p.sched_priority};
}

StartRow priorityRow(const char* value, int applied) {
    const std::string text = value;
    const std::string printed = std::to_string(static_cast<std::uint16_t>(std::strtoull(value, nullptr, 0)));
    const std::string passed = std::to_string(static_cast<std::uint8_t>(std::stoi(printed)));
    StartRow row{"PRI " + text,
                 server("PRI", text),
                 0,
                 {kTop + ":19: warning: <PRI> \"" + text + "\" reads as " + printed + ", passed on as " + passed +
                  ": real-time priority " + std::to_string(applied) + " is applied (SCHED_FIFO range 1..99)"},
                 0,
                 {"ZOziDaZodOduzuz: Configure: {root}/config/" + kTop + ":19: warning: <PRI>",
                  ", priority = " + printed + ", cpu = 0,",
                  "Successfully set ZOziDaZodOduzuz: realtime process priority to " + printed}};
    row.whileRunning = [applied](pid_t pid) {
        EXPECT_EQ(schedulingOf(pid), std::make_pair(static_cast<int>(SCHED_FIFO), applied));
    };
    if (!fifoAllowed()) {
        // Without the privilege the setting fails the start, as it must.
        row.startStatus = 2;
        row.ordered = {row.ordered[0], row.ordered[1],
                       "FAILED to set ZOziDaZodOduzuz: realtime process priority to " + printed,
                       "]:INVALID_CONFIG Configure() failed"};
        row.whileRunning = {};
    }
    return row;
}

TEST(ConformanceConfiguration, EachValueHasItsOutcomeAndItsLine) {
    const std::vector<StartRow> rows = {
        // PRI and CPU are printed as 16-bit values and passed on in 8 bits;
        // the priority is kept within the SCHED_FIFO range.
        priorityRow("200", 99),
        priorityRow("257", 1),
        {"CPU 257: processor 1",
         server("CPU", "257"),
         0,
         {kTop + ":8: warning: <CPU> \"257\" reads as 257, passed on as 1: the process is pinned to processor 1"},
         0,
         {":8: warning: <CPU> \"257\"", ", cpu = 257,", "Has CPU Affinity for CPU1",
          "Successfully set ZOziDaZodOduzuz: cpu affinity to 257"},
         {},
         {"Has CPU Affinity for CPU2"}},
        {"CPU 4096: no such processor",
         server("CPU", "4096"),
         2,
         {kTop + ":8: error: <CPU> \"4096\" reads as 4096, passed on as 0: this machine has processors 1.."},
         2,
         {"ZOziDaZodOduzuz: Configure: {root}/config/" + kTop + ":8: error: <CPU> \"4096\"", ", cpu = 4096,",
          "FAILED to set ZOziDaZodOduzuz: cpu affinity to 4096", "]:INVALID_CONFIG Configure() failed"}},
        // Any other spelling of the transport configures none; Fast DDS
        // then refuses the participant.
        {"UseTransport udp",
         transport("<UseTransport>UDP<", "<UseTransport>udp<"),
         2,
         {kConn + ":3: error: <UseTransport> \"udp\" is none of SHM, UDP, TCP_Client, TCP_Server (exact spelling): no "
                  "transport is configured and Fast DDS refuses a participant without one"},
         2,
         {"Framework_Connect: {root}/config/" + kConn + ":3: error: <UseTransport> \"udp\"",
          "ZOziDaZodOduzuz: Framework_Connect: Error creating participant ZOziDaZodOduzuz", kConnectFailed}},
        // Numbers are cut to the width they are stored in.
        {"TcpPort 70000",
         transport("<TcpPort>5100<", "<TcpPort>70000<"),
         0,
         {kConn + ":3: warning: <TcpPort> \"70000\" is not a port number 0..65535: stored as 4464 (its low 16 bits)"},
         0,
         {"Framework_Connect: {root}/config/" + kConn + ":3: warning: <TcpPort> \"70000\""}},
        {"TcpAddress of a TCP client not dotted",
         both(transport("<UseTransport>UDP<", "<UseTransport>TCP_Client<"),
              transport("<TcpAddress>127.0.0.1<", "<TcpAddress>localhost<")),
         0,
         {kConn + ":3: warning: <TcpAddress> \"localhost\" is not an IPv4 address in dotted decimal: the TCP client's "
                  "peer is what Fast DDS reads of it"},
         0,
         {":3: warning: <TcpAddress> \"localhost\""}},
        {"TCP server port in use",
         [](config_rows::Setup& s) {
             static ListeningSocket socket;
             transport("<UseTransport>UDP<", "<UseTransport>TCP_Server<")(s);
             transport("<TcpPort>5100<", "<TcpPort>" + std::to_string(socket.port()) + "<")(s);
         },
         0,
         {"(0 errors, 0 warnings)"},
         0,
         {" is in use by another program: Fast DDS makes the participant without listening"}},
        // Fast DDS refuses the QoS of a history depth below 1.
        {"HistoryDepth 0",
         transport("<HistoryDepth>10<", "<HistoryDepth>0<"),
         2,
         {kConn +
          ":3: error: <HistoryDepth> \"0\", below 1: Fast DDS refuses the QoS of every publisher and subscriber"},
         2,
         {":3: error: <HistoryDepth> \"0\"", kConnectFailed},
         {"invalid subscriber QOS for topic: Command"}},
        {"HistoryDepth 5000",
         transport("<HistoryDepth>10<", "<HistoryDepth>5000<"),
         0,
         {kConn + ":3: warning: <HistoryDepth> \"5000\": the histories reserve about 19 MiB"},
         0,
         {":3: warning: <HistoryDepth> \"5000\""}},
        // A topic type no connection registers: Fast DDS refuses the entity.
        {"TopicType not registered",
         transport("<TopicType>aspn2_msgs::idl::UTCTime<", "<TopicType>aspn2_msgs::idl::UTC<"),
         2,
         {kConn + ":8: error: connection \"UTCTime\": <TopicType> \"aspn2_msgs::idl::UTC\" is no type the connections "
                  "register"},
         2,
         {":8: error: connection \"UTCTime\"", kConnectFailed},
         {"error creating subscriber for topic: UTCTime"}},
        // A device address keeps the number it starts with: 0x43C2000 holds
        // no time stamp block, whose clock rate then reads 0.
        {"BaseAddress 0x43C2000O",
         replace(kDevices, "0x43C20000", "0x43C2000O"),
         0,
         {"devices.xml:27: warning: block \"TimeStamp_Interface\": <BaseAddress> \"0x43C2000O\" is not a whole number "
          "(decimal, 0x hexadecimal or leading-zero octal): read as 0x43c2000, the number it starts with"},
         2,
         {"devices.xml:27: warning: block \"TimeStamp_Interface\"",
          "FpgaFace() warning: TimeStamp_Interface clock rate reads 0x0 (all zeros)",
          "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 0, expected 58982400",
          kConnectFailed}},
        {"Size 4k of a block not read at start",
         replace(kDevices, "<Size>0x1000</Size>", "<Size>4k</Size>"),
         0,
         {"devices.xml:12: warning: block \"Processor_Interface\": <Size> \"4k\" is not a whole number"},
         0,
         {"devices.xml:12: warning: block \"Processor_Interface\""}},
        // VICTORY texts go to the library unparsed; it decides (the stand-in
        // refuses malformed XML, and the service does not start).
        {"VICTORY configuration empty",
         victoryFile("OrientationServiceConfig_1_9.xml", ""),
         0,
         {"{root}/config/OrientationServiceConfig_1_9.xml: warning: VICTORY orientation service configuration file is "
          "empty (the VICTORY library is given the text as it is and may refuse it"},
         2,
         {"OrientationServiceConfig_1_9.xml: warning: VICTORY orientation service configuration file is empty",
          kConnectFailed},
         {"victory: orientation service not created"}},
        {"VICTORY VCL malformed",
         victoryFile("Position_VCL_1_9.xml", "<vcl:VCL>\n<a>\n</vcl:VCL>\n"),
         0,
         {"{root}/config/Position_VCL_1_9.xml:2: warning: VICTORY position VCL file: XML error: "},
         2,
         {"Position_VCL_1_9.xml:2: warning: VICTORY position VCL file: XML error", kConnectFailed},
         {"victory: position service not created"}},
        {"VICTORY VCL longer than the buffer",
         victoryFile("DoT_VCL_1_9.xml", "<vcl:VCL>" + std::string(70000, ' ') + "</vcl:VCL>"),
         2,
         {"{root}/config/DoT_VCL_1_9.xml: error: VICTORY direction of travel VCL file cannot be read (longer than the "
          "65535 bytes read): \"Error reading VICTORY direction of travel configuration files.\""},
         2,
         {"DoT_VCL_1_9.xml: error: VICTORY direction of travel VCL file cannot be read",
          "InitializeVictoryDirectionOfTravel : ZOziDaZodOduzuz Error reading VICTORY direction of travel "
          "configuration "
          "files.",
          kConnectFailed}},
    };
    runStartRows(rows, 36);
}

TEST(ConformanceDevices, OnlyWhatStartUpReadsCanEndIt) {
    const std::vector<StartRow> rows = {
        // A block that is not read at start-up ends nothing: absent, dead,
        // beyond the memory device or not on a page boundary.
        {"processor block absent",
         [](config_rows::Setup&) {},
         -1,
         {},
         0,
         {"ZOziDaZodOduzuz CPN: "},
         {},
         {"FpgaFace() warning"},
         {"--absent-block", "Processor_Interface"}},
        {"PTFE unit absent",
         [](config_rows::Setup&) {},
         -1,
         {},
         0,
         {"ZOziDaZodOduzuz CPN: "},
         {},
         {},
         {"--absent-block", "Ptfe_Interface0"}},
        {"PPS slave block inside its page",
         replace(kDevices, "0x43C30000", "0x43C30010"),
         0,
         {"(0 errors, 0 warnings)"},
         0,
         {"ZOziDaZodOduzuz CPN: "}},
        {"processor block beyond the memory device",
         replace(kDevices, "<BaseAddress>0x43C00000</BaseAddress>", "<BaseAddress>0x7FFF0000</BaseAddress>"),
         -1,
         {},
         0,
         {"FpgaFace() warning: Processor_Interface could not be mapped", "ZOziDaZodOduzuz CPN: "},
         {"CV_Devmem: block Processor_Interface: BaseAddress 0x7FFF0000 (0x7fff0000) with Size 0x1000 (0x1000) ends at "
          "0x7fff1000, beyond the memory device "}},
        // The time stamp block is read: its failures end start-up on the
        // line of the step.
        {"time stamp block beyond the memory device",
         replace(kDevices, "<BaseAddress>0x43C20000</BaseAddress>", "<BaseAddress>0x7FFF0000</BaseAddress>"),
         -1,
         {},
         2,
         {"FpgaFace() warning: TimeStamp_Interface could not be mapped",
          "platform/FPGA[73]:INVALID_MODE FpgaFace() FAILED to read FPGA number of UARTs", kConnectFailed}},
        {"time stamp block absent",
         [](config_rows::Setup&) {},
         -1,
         {},
         2,
         {"FpgaFace() warning: TimeStamp_Interface clock rate reads 0x0 (all zeros)",
          "platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 0, expected 58982400",
          kConnectFailed},
         {},
         {},
         {"--absent-block", "TimeStamp_Interface"}},
        {"clock rate 58982401",
         [](config_rows::Setup&) {},
         -1,
         {},
         2,
         {"platform/FPGA[135]:INVALID_MODE FpgaFace() FPGA clock rate mismatch, got 58982401, expected 58982400",
          kConnectFailed},
         {},
         {"FpgaFace() warning"},
         {"--clock-rate", "58982401"}},
        // Refused by the server: an unprogrammed FPGA's counts would size
        // tables of billions of units.
        {"FPGA not programmed",
         [](config_rows::Setup&) {},
         -1,
         {},
         2,
         {"platform/FPGA[146]:INVALID_MODE FpgaFace() TimeStamp_Interface number of UARTs reads 18446744073709551615",
          kConnectFailed},
         {},
         {},
         {"--unprogrammed"}},
    };
    runStartRows(rows, 37);
}

// --- Navigation output: in this process, with the worker thread ------------

constexpr const char* kException = "ZOziDaZodOduzuz: workerThreadFunction() EXCEPTION: ";

std::unique_ptr<RuntimeRoot> s_root;

class ConformanceRoot : public ::testing::Environment {
public:
    void SetUp() override {
        RuntimeRoot::Options o;
        o.sourceDir = CORVANE_SOURCE_DIR;
        o.fpgaSim = FPGA_SIM_PATH;
        o.domainId = 39;
        o.prefix = "zozi-conformance-root";
        s_root = std::make_unique<RuntimeRoot>(o);
        s_root->exportEnvironment();
    }
    void TearDown() override { s_root.reset(); }
};
::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ConformanceRoot);

// A message of the configured navigator (96) valid at 1000.5 s.
template <typename T>
T fromNavigator(T m) {
    m.header().timestamp_valid().sec(1000);
    m.header().timestamp_valid().nsec(500000000);
    m.header().device_id(static_cast<std::int32_t>((1u << 24) | (96u << 16) | (7u << 8) | 3u));
    return m;
}

// What the worker did with one stored pair.
struct Outcome {
    std::vector<Event> events;
    std::string console;
    std::array<bool, 2> stillStored{};
    std::array<std::uint64_t, 3> tells{};
};

class NavigationOutput : public zozi_test::ServerOverServices {
protected:
    void SetUp() override { attach(s_root->geoidName(), s_root->geoidDir()); }
    void TearDown() override {
        access.state() = FACE::LCM::Corvane::ReportedState::STOPPED;
        drainEvents();
    }

    // Stores `pva` with a matching time, runs the worker until it reported
    // `exceptions` exceptions (or, with 0, until the pair is consumed), at
    // most 5 s, and stops it.
    Outcome run(const aspn2_msgs::idl::PositionVelocityAttitude& pva, std::size_t exceptions,
                const zozi_test::Services& told) {
        Outcome o;
        CoutCapture out;
        access.state() = FACE::LCM::Corvane::ReportedState::STARTED;
        access.cbPVA(fromNavigator(pva));
        access.cbUTCTime(fromNavigator(zozi_test::defaultUtc()));
        access.startWorkerThread();
        const auto count = [&] {
            std::size_t n = 0;
            for (const Event& e : o.events) n += e.info.find(kException) != std::string::npos;
            return n;
        };
        for (const auto deadline = std::chrono::steady_clock::now() + 5s;
             std::chrono::steady_clock::now() < deadline;) {
            for (Event& e : drainEvents()) o.events.push_back(std::move(e));
            const std::array<bool, 2> stored = access.received();
            if (exceptions == 0 ? !stored[0] && !stored[1] : count() >= exceptions) break;
            std::this_thread::sleep_for(20ms);
        }
        access.stopWorkerThread();
        for (Event& e : drainEvents()) o.events.push_back(std::move(e));
        o.console = out.take();
        o.stillStored = access.received();
        o.tells = told.tells();
        return o;
    }
};

struct NavRow {
    const char* what;
    double latDeg, lonDeg;
    bool usable;                        // position variances sum below 25e6 m^2
    std::string exception;              // reported in every cycle, after kException; "" for none
    std::array<std::uint64_t, 3> told;  // tells of position, orientation, direction of travel
    const char* mgrs = nullptr;         // the position's MGRS text (when told)
    std::function<void(ZOziDaZodOduzuzTestAccess&)> set = {};
    std::vector<std::string> events = {};  // also raised
};

TEST_F(NavigationOutput, ValuesTheGeodesyCannotTakeRaiseThereOnly) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const auto positionOff = [](ZOziDaZodOduzuzTestAccess& a) { a.setServices(false, true, true); };
    const auto tellOff = [](ZOziDaZodOduzuzTestAccess& a) { a.tellDisabled() = true; };
    const auto noPositionHandle = [](ZOziDaZodOduzuzTestAccess& a) { a.positionService() = nullptr; };
    const NavRow rows[] = {
        // A usable solution whose latitude is no latitude: the error of the
        // grid reference, in every cycle, the pair kept for the next one.
        {"usable, latitude 100", 100.0, 7.5, true, "Latitude 100d not in [-90d, 90d]", {0, 0, 0}},
        {"usable, latitude -90.5", -90.5, 7.5, true, "Latitude -90.5d not in [-90d, 90d]", {0, 0, 0}},
        {"usable, latitude NaN", nan, 7.5, true, "Latitude nand not in [-90d, 90d]", {0, 0, 0}},
        // An unusable one is told with its values; no grid reference.
        {"unusable, latitude NaN", nan, 7.5, false, "", {1, 1, 1}},
        {"unusable, latitude 100", 100.0, 7.5, false, "", {1, 1, 1}},
        // The longitude is the geodesy library's to judge: NaN gives the
        // grid reference "INVALID", infinity its error; the geoid height
        // of either is NaN.
        {"usable, longitude NaN", 45.0, nan, true, "", {1, 1, 1}, "INVALID"},
        {"usable, longitude infinite",
         45.0,
         inf,
         true,
         "Longitude infd more than 60d from center of UTM zone ",
         {0, 0, 0}},
        {"unusable, longitude infinite", 45.0, -inf, false, "", {1, 1, 1}},
        // Steps before the geodesy come first.
        {"Position off, latitude NaN", nan, 7.5, true, "", {0, 1, 1}, nullptr, positionOff},
        {"output switched off, latitude NaN", nan, 7.5, true, "", {0, 0, 0}, nullptr, tellOff},
        {"no position service, latitude NaN",
         nan,
         7.5,
         true,
         "",
         {0, 1, 1},
         nullptr,
         noPositionHandle,
         {"ZOziDaZodOduzuz: m_VPosService object was invalid"}},
    };
    constexpr double d = 3.141592653589793 / 180.0;
    for (const NavRow& row : rows) {
        SCOPED_TRACE(row.what);
        zozi_test::Services fresh;  // each row counts its own tells
        ASSERT_TRUE(fresh.ok());
        access.positionService() = fresh.position;
        access.orientationService() = fresh.orientation;
        access.dotService() = fresh.dot;
        access.setServices(true, true, true);
        access.tellDisabled() = false;
        if (row.set) row.set(access);

        aspn2_msgs::idl::PositionVelocityAttitude pva = zozi_test::defaultPva();
        pva.position().latitude(row.latDeg * d);
        pva.position().longitude(row.lonDeg * d);
        if (!row.usable) pva.covariance()[0][0] = 3e7;
        const Outcome o = run(pva, row.exception.empty() ? 0 : 3, fresh);

        std::size_t reported = 0;
        for (const Event& e : o.events) {
            if (e.info.find(kException) == std::string::npos) continue;
            ++reported;
            EXPECT_EQ(e.type, 3);
            EXPECT_EQ(e.info.rfind(kException + row.exception, 0), 0u) << e.info;
        }
        if (row.exception.empty()) {
            EXPECT_EQ(reported, 0u);
            EXPECT_EQ(o.stillStored, (std::array<bool, 2>{false, false}));
        } else {
            // One event and one console line per failing cycle; the pair
            // stays stored for the next one.
            EXPECT_GE(reported, 3u);
            std::size_t lines = 0;
            for (std::size_t at = 0;
                 (at = o.console.find(std::string("\n") + kException + row.exception, at)) != std::string::npos; ++at) {
                ++lines;
            }
            lines += o.console.rfind(kException + row.exception, 0) == 0;
            EXPECT_GE(lines, 3u) << o.console;
            EXPECT_EQ(o.stillStored, (std::array<bool, 2>{true, true}));
        }
        EXPECT_EQ(o.tells, row.told);
        for (const std::string& text : row.events) {
            EXPECT_NE(std::find_if(o.events.begin(), o.events.end(), [&](const Event& e) { return e.info == text; }),
                      o.events.end())
                << text;
        }
        if (row.told[0] > 0) {
            const VictoryTestState st = fresh.state(0);
            EXPECT_EQ(st.values[0].basis, row.usable ? VPOSC_BASIS_MEASURED : VPOSC_BASIS_INVALID);
            EXPECT_EQ(std::isnan(st.values[0].value), std::isnan(row.latDeg));
            EXPECT_TRUE(std::isnan(st.values[2].value)) << "no geoid height there: the altitude is NaN";
            EXPECT_EQ(std::string(st.hasMgrs ? st.mgrs : "-"), row.mgrs ? row.mgrs : "-");
        }
    }
    access.positionService() = services.position;
    access.orientationService() = services.orientation;
    access.dotService() = services.dot;
}

// The debug line of a usable solution comes before the grid reference's
// error.
TEST_F(NavigationOutput, TheDebugLineComesBeforeTheError) {
    access.setDebug(true);
    aspn2_msgs::idl::PositionVelocityAttitude pva = zozi_test::defaultPva();
    pva.position().latitude(100.0 * 3.141592653589793 / 180.0);
    const Outcome o = run(pva, 1, services);
    const std::size_t debug = o.console.find("ZOziDaZodOduzuz: PublishPosition Position data update :   lat = 100,");
    const std::size_t error = o.console.find(std::string(kException) + "Latitude 100d not in [-90d, 90d]");
    EXPECT_LT(debug, error) << o.console;
    EXPECT_NE(error, std::string::npos) << o.console;
}

// An exception that is no standard one: its own text, every cycle.
class ThrowingFaultTest : public ZOziDaZodOduzuz {
public:
    void checkForFaultTestEvents() override { throw 42; }
};

TEST(NavigationOutputUnknown, AnExceptionOfNoStandardTypeHasItsOwnText) {
    ThrowingFaultTest server;
    ZOziDaZodOduzuzTestAccess access(server);
    access.setFaultTest(true);
    drainEvents();
    CoutCapture out;
    access.startWorkerThread();
    std::vector<Event> events;
    for (const auto deadline = std::chrono::steady_clock::now() + 5s;
         events.size() < 2 && std::chrono::steady_clock::now() < deadline;) {
        for (Event& e : drainEvents()) events.push_back(std::move(e));
        std::this_thread::sleep_for(20ms);
    }
    access.stopWorkerThread();
    const std::string text = "ZOziDaZodOduzuz: faultTestThreadFunction() EXCEPTION: <unknown>";
    ASSERT_GE(events.size(), 2u);
    for (const Event& e : events) EXPECT_EQ(e, (Event{3, text}));
    EXPECT_EQ(out.take().rfind(text + "\n" + text + "\n", 0), 0u);
    drainEvents();
}

// The loss of the navigation data is flagged on the services with a
// category other than the fault test's (22), so that a consumer hiding
// test faults still sees it.
TEST_F(NavigationOutput, TheLossFaultIsNoTestFault) {
    access.faultHelper().SetAvailableService(services.position);
    access.faultHelper().SetAvailableService(services.orientation);
    access.faultHelper().SetAvailableService(services.dot);
    CoutCapture out;
    access.superviseNavigation(true);
    for (int cycle = 0; cycle < 8; ++cycle) access.superviseNavigation(false);
    VictoryTestFault faults[3][2]{};
    const int n[3] = {vpossTestGetFaults(services.position, faults[0], 2),
                      vorisTestGetFaults(services.orientation, faults[1], 2),
                      vdotsTestGetFaults(services.dot, faults[2], 2)};
    for (int s = 0; s < 3; ++s) {
        SCOPED_TRACE(s);
        ASSERT_EQ(n[s], 1);
        EXPECT_EQ(std::string(faults[s][0].description), "navigation data lost");
        EXPECT_EQ(faults[s][0].severity, VHLTHC_SEVERITY_ERROR);
        EXPECT_EQ(faults[s][0].category, VHLTHC_CATEGORY_UNSPECIFIED);
        EXPECT_NE(faults[s][0].category, VHLTHC_CATEGORY_TEST);
    }
    drainEvents();
}

// --- Commands ------------------------------------------------------------

// A sanitize restarts all three services with the longest update period,
// whatever the configuration switched on; the event naming the sender stays.
TEST(ConformanceCommands, SanitizeRestartsAllThreeServices) {
    for (const char* text : {"START_ZEROIZE", "START_DESTROY"}) {
        SCOPED_TRACE(text);
        ZOziDaZodOduzuz server;
        ZOziDaZodOduzuzTestAccess access(server);
        access.setServices(false, true, false);
        ASSERT_TRUE(access.initialize(1, nullptr));
        access.state() = FACE::LCM::Corvane::ReportedState::STARTED;
        drainEvents();
        aspn2_msgs::idl::CommandResponse command;
        command.command_response(text);
        command.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND);
        command.command_identifier(77);
        command.header().device_id(static_cast<std::int32_t>(0x02320200u));
        CoutCapture out;
        access.cbCmd(command);
        for (int s = 0; s < 3; ++s) {
            EXPECT_TRUE(access.initialized(s)) << s;
            EXPECT_EQ(zozi_test::Services::state(s, access.handle(s)).updatePeriodMs, 4294967295u) << s;
        }
        const std::vector<Event> events = drainEvents();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.front(),
                  (Event{2, std::string("ZOziDaZodOduzuz: command \"") + text +
                                "\" (identifier 77) from device 0x02320200 (system 2 Simulator, server 50 "
                                "CommandServer, kind 2)"}));
        access.state() = FACE::LCM::Corvane::ReportedState::STOPPED;
        for (int s = 0; s < 3; ++s) access.shutdown(s);
        drainEvents();
    }
}

// --- Transport: the participant's settings -----------------------------------

struct TransportRow {
    const char* what;
    const char* transport;
    std::string extra;  // further parameters of "FastRtps"
    double announcementSeconds;
    std::size_t transports;
    bool chosenId;  // the participant id is chosen (not left to Fast DDS)
};

TEST(ConformanceTransport, OnlyTheListedSettingsUnlessOptedIn) {
    const std::string options =
        "<AnnouncementPeriod>0.5</AnnouncementPeriod><ShmDiscoveryOverUdp>true</ShmDiscoveryOverUdp>"
        "<FreshParticipantId>true</FreshParticipantId>";
    const TransportRow rows[] = {
        {"UDP", "UDP", "", 3.0, 1, false},
        {"SHM", "SHM", "", 3.0, 1, false},
        {"UDP, opted in", "UDP", options, 0.5, 1, false},
        {"SHM, opted in", "SHM", options, 0.5, 2, true},
        {"SHM, announcements only", "SHM", "<AnnouncementPeriod> 1.25 </AnnouncementPeriod>", 1.25, 1, false},
        {"SHM, unusable values", "SHM",
         "<AnnouncementPeriod>0</AnnouncementPeriod><FreshParticipantId>no</FreshParticipantId>", 3.0, 1, false},
    };
    corvane_test::TempDir dir("zozi-conformance-tss");
    for (const TransportRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string file =
            writeIn(dir, "c.xml",
                    "<?xml version=\"1.0\"?>\n<CV_Configurations><T><Name>FastRtps</Name><Parameters><DomainId>39"
                    "</DomainId><HistoryDepth>10</HistoryDepth><UseBestEffort>false</UseBestEffort><BackFillHistory>"
                    "false</BackFillHistory><UseTransport>" +
                        std::string(row.transport) +
                        "</UseTransport><TcpAddress>127.0.0.1</TcpAddress><TcpPort>70000</TcpPort>" + row.extra +
                        "</Parameters></T></CV_Configurations>\n");
        auto tss = std::make_shared<FACE::TSS::CV_TSS>("conformance");
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        tss->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        tss->Initialize(FACE::String(file.c_str()), rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        EXPECT_EQ(tss->tcpPort(), 4464u);  // 70000 in 16 bits
        const eprosima::fastrtps::ParticipantAttributes& a = tss->participant()->getAttributes();
        const auto& period = a.rtps.builtin.discovery_config.leaseDuration_announcementperiod;
        EXPECT_NEAR(period.seconds + period.nanosec * 1e-9, row.announcementSeconds, 1e-6);
        const auto& lease = a.rtps.builtin.discovery_config.leaseDuration;
        EXPECT_EQ(std::make_pair(lease.seconds, lease.nanosec), std::make_pair(5, 0u));
        EXPECT_FALSE(a.rtps.useBuiltinTransports);
        EXPECT_EQ(a.rtps.userTransports.size(), row.transports);
        EXPECT_EQ(a.rtps.participantID >= 0, row.chosenId) << a.rtps.participantID;
    }
}

// --- Saves: a configuration value written back ----------------------------

struct SaveRow {
    const char* what;
    // Prepares the folder; returns the path handed to CV_Config.
    std::function<std::string(corvane_test::TempDir&)> prepare;
    bool asOtherUser;  // the save runs as another user (root only)
    // After the save: the file as seen through each of these names holds
    // the new value, and still has the owner and mode it had.
    std::vector<std::string> names;
    enum { kReplaced, kInPlace } how;  // a new file renamed over it, or the same file written again
};

constexpr uid_t kOtherUser = 65534;  // nobody

std::string configText(const std::string& value) {
    return "<?xml version=\"1.0\"?>\n<CV_Configurations><C><Name>C</Name><Parameters><K>" + value +
           "</K></Parameters></C></CV_Configurations>\n";
}

// Writes "new" into <K> of `path`; 0 when saved (run in a child when
// `other`: as user 65534).
int writeValue(const std::string& path, bool other) {
    const auto write = [&] {
        FACE::CV_Config config;
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        config.Initialize(FACE::String(path.c_str()), rc);
        int handle = 0;
        config.Open("C", handle, rc);
        char value[] = "new";
        int bytes = 0;
        config.Write(handle, "K", value, 3, bytes, rc);
        return static_cast<int>(rc);
    };
    if (!other) return write();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) ::_exit(99);
        ::_exit(write());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST(ConformanceSaves, WriteKeepsWhatTheFileIs) {
    const bool root = ::geteuid() == 0;
    const SaveRow rows[] = {
        {"plain file",
         [](corvane_test::TempDir& d) { return writeIn(d, "a.xml", configText("old")); },
         false,
         {"a.xml"},
         SaveRow::kReplaced},
        {"hard link",
         [](corvane_test::TempDir& d) {
             const std::string path = writeIn(d, "a.xml", configText("old"));
             ::link(path.c_str(), d.file("b.xml").c_str());
             return path;
         },
         false,
         {"a.xml", "b.xml"},
         SaveRow::kInPlace},
        {"symbolic link",
         [](corvane_test::TempDir& d) {
             writeIn(d, "target.xml", configText("old"));
             ::symlink("target.xml", d.file("a.xml").c_str());
             return d.file("a.xml");
         },
         false,
         {"a.xml", "target.xml"},
         SaveRow::kReplaced},
        {"mode 0600",
         [](corvane_test::TempDir& d) {
             const std::string path = writeIn(d, "a.xml", configText("old"));
             ::chmod(path.c_str(), 0600);
             return path;
         },
         false,
         {"a.xml"},
         SaveRow::kReplaced},
        {"another user's file",
         [root](corvane_test::TempDir& d) {
             const std::string path = writeIn(d, "a.xml", configText("old"));
             if (root) ::chown(path.c_str(), kOtherUser, kOtherUser);
             return path;
         },
         false,
         {"a.xml"},
         SaveRow::kReplaced},
        {"a folder the writer cannot write",
         [root](corvane_test::TempDir& d) {
             const std::string path = writeIn(d, "a.xml", configText("old"));
             ::chmod(path.c_str(), 0666);
             ::chmod(d.path().c_str(), root ? 0755 : 0555);
             return path;
         },
         root,
         {"a.xml"},
         SaveRow::kInPlace},
    };
    for (const SaveRow& row : rows) {
        SCOPED_TRACE(row.what);
        corvane_test::TempDir dir("zozi-conformance-save");
        const std::string path = row.prepare(dir);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        EXPECT_EQ(writeValue(path, row.asOtherUser), 0);
        ::chmod(dir.path().c_str(), 0755);
        for (const std::string& name : row.names) {
            struct stat after {};
            ASSERT_EQ(::stat(dir.file(name).c_str(), &after), 0);
            EXPECT_NE(RuntimeRoot::readFile(dir.file(name)).find("<K>new</K>"), std::string::npos) << name;
            EXPECT_EQ(std::make_tuple(after.st_uid, after.st_gid, after.st_mode),
                      std::make_tuple(before.st_uid, before.st_gid, before.st_mode))
                << name;
            if (name != "target.xml") {
                EXPECT_EQ(after.st_ino == before.st_ino, row.how == SaveRow::kInPlace) << name;
            }
        }
        struct stat link {};
        ASSERT_EQ(::lstat(path.c_str(), &link), 0);
        EXPECT_EQ(S_ISLNK(link.st_mode), std::string(row.what) == "symbolic link");
    }
}

}  // namespace
