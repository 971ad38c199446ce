// The Cyclone DDS test peer's pure logic: its command line, the
// configuration it hands the library, the samples it sends and the lines
// it prints. No DDS entity is made.
#include "tests/peers/cyclone/PeerConfig.h"
#include "tests/peers/cyclone/PeerMessages.h"
#include "tests/peers/cyclone/PeerOptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace cyclone_peer;

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    for (char c : line + " ") {
        if (c != ' ') {
            word += c;
        } else if (!word.empty()) {
            out.push_back(word);
            word.clear();
        }
    }
    return out;
}

TEST(CyclonePeerOptions, AcceptsEachRoleWithItsOptions) {
    const struct {
        const char* args;
        std::function<void(const PeerOptions&)> check;
    } rows[] = {
        {"nav", [](const PeerOptions& o) {
             EXPECT_EQ(o.role, Role::Nav);
             EXPECT_EQ(o.domain, 0);
             EXPECT_EQ(o.navigatorId, 96);
             EXPECT_EQ(o.rateHz, 10.0);
             EXPECT_FALSE(o.security.any());
         }},
        {"nav --domain 230 --navigator-id 0 --lat -90 --lon 180 --alt -1000 --speed 0 --rate 0.1 --count 5",
         [](const PeerOptions& o) {
             EXPECT_EQ(o.domain, 230);
             EXPECT_EQ(o.navigatorId, 0);
             EXPECT_EQ(o.latDeg, -90.0);
             EXPECT_EQ(o.lonDeg, 180.0);
             EXPECT_EQ(o.altM, -1000.0);
             EXPECT_EQ(o.speedMps, 0.0);
             EXPECT_EQ(o.rateHz, 0.1);
             EXPECT_EQ(o.count, 5);
         }},
        {"command", [](const PeerOptions& o) {
             EXPECT_EQ(o.role, Role::Command);
             EXPECT_EQ(o.text, "BITSERVER_PING");
             EXPECT_EQ(o.identifier, 0u);
             EXPECT_EQ(o.commanderId, 50);
         }},
        {"command START_ZEROIZE --identifier 2147483647 --timeout 3.5", [](const PeerOptions& o) {
             EXPECT_EQ(o.text, "START_ZEROIZE");
             EXPECT_EQ(o.identifier, 2147483647u);
             EXPECT_EQ(o.timeoutS, 3.5);
         }},
        {"listen --count 3 --interface eth0 --trace /tmp/t.log --config /tmp/c.xml", [](const PeerOptions& o) {
             EXPECT_EQ(o.role, Role::Listen);
             EXPECT_EQ(o.count, 3);
             EXPECT_EQ(o.interface, "eth0");
             EXPECT_EQ(o.traceFile, "/tmp/t.log");
             EXPECT_EQ(o.configFile, "/tmp/c.xml");
         }},
        {"listen --pki /p --identity monitor", [](const PeerOptions& o) {
             EXPECT_EQ(o.security.identityCa, "/p/identity_ca.pem");
             EXPECT_EQ(o.security.certificate, "/p/monitor.pem");
             EXPECT_EQ(o.security.privateKey, "/p/monitor.key");
             EXPECT_EQ(o.security.permissionsCa, "/p/permissions_ca.pem");
             EXPECT_EQ(o.security.governance, "/p/governance.smime");
             EXPECT_EQ(o.security.permissions, "/p/permissions.smime");
         }},
        {"nav --pki /p/ --identity navigator --governance /g/governance-encrypt.smime", [](const PeerOptions& o) {
             EXPECT_EQ(o.security.certificate, "/p/navigator.pem");
             EXPECT_EQ(o.security.governance, "/g/governance-encrypt.smime");
         }},
        {"--help", [](const PeerOptions& o) { EXPECT_EQ(o.role, Role::Help); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        PeerOptions o;
        std::string error;
        ASSERT_TRUE(parsePeerOptions(words(row.args), o, error)) << error;
        row.check(o);
    }
}

TEST(CyclonePeerOptions, RefusesWhatItCannotUseWithOneLine) {
    const struct {
        const char* args;
        const char* error;
    } rows[] = {
        {"", "no role given"},
        {"publish", "unknown role \"publish\""},
        {"nav --domain 231", "--domain \"231\" is not a number in 0..230"},
        {"nav --domain -1", "--domain \"-1\" is not a number"},
        {"nav --domain 7x", "--domain \"7x\" is not a number"},
        {"nav --domain", "--domain needs a value"},
        {"nav --navigator-id 256", "--navigator-id \"256\" is not a number in 0..255"},
        {"nav --lat 90.5", "--lat \"90.5\" is not a number in -90..90"},
        {"nav --lat nan", "--lat \"nan\" is not a number"},
        {"nav --rate 0", "--rate \"0\" is not a number in 0.1..1000"},
        {"nav --rate inf", "--rate \"inf\" is not a number"},
        {"nav --count 0", "--count \"0\" is not a number"},
        {"listen --lat 3", "--lat does not apply to listen"},
        {"nav --identifier 5", "--identifier does not apply to nav"},
        {"command --identifier 0", "--identifier \"0\" is not a number in 1..2147483647"},
        {"command --identifier 2147483648", "--identifier \"2147483648\""},
        {"command A B", "unexpected argument \"B\""},
        {"listen extra", "unexpected argument \"extra\""},
        {"nav --colour red", "unknown option --colour"},
        {"nav --pki /p", "--pki and --identity go together"},
        {"nav --identity navigator", "--pki and --identity go together"},
        {"nav --pki p --identity navigator", "absolute paths"},
        {"nav --pki /p --identity ../navigator", "--identity is a name of the PKI folder"},
        {"nav --governance /g.smime", "--governance needs --pki"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        PeerOptions o;
        std::string error;
        EXPECT_FALSE(parsePeerOptions(words(row.args), o, error));
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(CyclonePeerConfig, NamesTheInterfaceTraceAndSecurityFiles) {
    PeerOptions plain;
    const std::string p = cycloneConfig(plain);
    EXPECT_NE(p.find("<NetworkInterface name=\"lo\" multicast=\"true\"/>"), std::string::npos) << p;
    EXPECT_EQ(p.find("AllowMulticast"), std::string::npos) << "the library's default stays";
    EXPECT_EQ(p.find("<Security>"), std::string::npos);
    EXPECT_EQ(p.find("<Tracing>"), std::string::npos);
    EXPECT_EQ(p.find(','), std::string::npos);

    PeerOptions secure;
    std::string error;
    ASSERT_TRUE(parsePeerOptions({"nav", "--pki", "/p&q", "--identity", "navigator", "--trace", "/t<1>.log", "--config",
                                  "/c.xml", "--interface", "eth\"0"},
                                 secure, error));
    const std::string s = cycloneConfig(secure);
    for (const char* part :
         {"<IdentityCA>file:/p&amp;q/identity_ca.pem</IdentityCA>",
          "<IdentityCertificate>file:/p&amp;q/navigator.pem</IdentityCertificate>",
          "<PrivateKey>file:/p&amp;q/navigator.key</PrivateKey>", "<PermissionsCA>file:/p&amp;q/permissions_ca.pem<",
          "<Governance>file:/p&amp;q/governance.smime<", "<Permissions>file:/p&amp;q/permissions.smime<",
          "<OutputFile>/t&lt;1&gt;.log</OutputFile>", "name=\"eth&quot;0\""}) {
        EXPECT_NE(s.find(part), std::string::npos) << part << " in " << s;
    }
    // The caller's file comes last, so its settings win.
    EXPECT_EQ(s.substr(s.size() - std::strlen(",file:///c.xml")), ",file:///c.xml");
    EXPECT_EQ(xmlEscape("a'b"), "a&apos;b");
}

TEST(CyclonePeerMessages, DeviceIdsPackSystemServerKindAndTopic) {
    EXPECT_EQ(deviceId(kSimulatorSystem, 96), 0x02600000);
    EXPECT_EQ(deviceId(2, 50, 2), 0x02320200);
    EXPECT_EQ(static_cast<std::uint32_t>(deviceId(0x1FF, 0x1AB, 0x1CD, 0x1EF)), 0xFFABCDEFu);
}

TEST(CyclonePeerMessages, NavigatorHeadsNorthFromItsStart) {
    constexpr double kPi = 3.141592653589793;
    const struct {
        double latDeg, speedMps, tS, expectedLatDeg;
    } rows[] = {
        {45.0, 10.0, 0.0, 45.0},
        {45.0, 10.0, -5.0, 45.0},                                   // before the start: at the start
        {45.0, 10.0, 100.0, 45.0 + 1000.0 / 6371000.0 * 180 / kPi},  // 1 km north
        {89.999, 1000.0, 3600.0, 90.0},                              // stops at the pole
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tS);
        aspn2_msgs_idl_PositionVelocityAttitude pva;
        fillPva(pva, NavMotion{row.latDeg, 7.5, 250.5, row.speedMps}, row.tS, 1700000000123456789LL, 42,
                deviceId(2, 96));
        EXPECT_NEAR(pva.position.latitude * 180 / kPi, row.expectedLatDeg, 1e-9);
        EXPECT_NEAR(pva.position.longitude * 180 / kPi, 7.5, 1e-12);
        EXPECT_EQ(pva.position.altitude, 250.5);
        EXPECT_EQ(pva.velocity[0], row.speedMps);
        EXPECT_EQ(pva.velocity[1], 0.0);
        EXPECT_EQ(pva.attitude[2], 0.0);
        EXPECT_EQ(pva.header.device_id, 0x02600000);
        EXPECT_EQ(pva.header.seq_num, 42);
        EXPECT_EQ(pva.header.timestamp_valid.sec, 1700000000);
        EXPECT_EQ(pva.header.timestamp_valid.nsec, 123456789);
        EXPECT_EQ(pva.header.timestamp_arrival.sec, 1700000000);
        // A well-converged solution: 2 m north and east, 3 m down.
        EXPECT_NEAR(pva.covariance[0][0] + pva.covariance[1][1] + pva.covariance[2][2], 17.0, 1e-9);
        EXPECT_EQ(pva.covariance[0][1], pva.covariance[1][0]);
    }
}

TEST(CyclonePeerMessages, UtcTimeCarriesGpsWeekAndUtcDay) {
    aspn2_msgs_idl_UTCTime utc;
    // 2024-01-02 12:00:00.25 UTC: GPS week 2295, Tuesday 12:00:18 GPS.
    fillUtc(utc, 1704196800250000000LL, 3, deviceId(2, 96));
    EXPECT_EQ(utc.gps_week, 2295);
    EXPECT_EQ(utc.gps_tow_sec, 2 * 86400 + 43218);
    EXPECT_EQ(utc.utc_tod_sec, 43200);
    EXPECT_EQ(utc.utc_tod_nsec, 250000000.0);
    EXPECT_EQ(utc.header.timestamp_valid.sec, 1704196800);
    EXPECT_EQ(utc.header.timestamp_valid.nsec, 250000000);
    EXPECT_GT(utc.covariance[0][0], 0.0);
}

TEST(CyclonePeerMessages, CommandsAndPrintedLines) {
    aspn2_msgs_idl_CommandResponse command;
    fillCommand(command, "BITSERVER_PING", 77, 5000000000LL, 0, deviceId(2, 50, 2));
    EXPECT_EQ(command.command_identifier, 77);
    EXPECT_EQ(command.command_response_type, aspn2_msgs_idl_COMMAND_RESPONSE_TYPE_COMMAND);
    EXPECT_STREQ(command.command_response, "BITSERVER_PING");
    EXPECT_EQ(command.header.timestamp_valid.sec, 5);

    aspn2_msgs_idl_CommandResponse response = command;
    response.command_identifier = -1;  // printed as the 32-bit value it is
    response.commanded_device_id = 0x02320200;
    char text[] = "ZOziDaZodOduzuz \"ok\"\\\n\xff";
    response.command_response = text;
    EXPECT_EQ(formatResponse(response),
              "Response identifier=4294967295 commanded=0x02320200 text=\"ZOziDaZodOduzuz \\\"ok\\\"\\\\\\x0a\\xff\"");

    aspn2_msgs_idl_EventLog event{};
    char started[] = "started successfully.";
    event.eventlog = started;
    const struct {
        aspn2_msgs_idl_event_log_type_enum type;
        const char* line;
    } types[] = {
        {aspn2_msgs_idl_EVENT_LOG_TYPE_STATUS, "EventLog type=STATUS text=\"started successfully.\""},
        {aspn2_msgs_idl_EVENT_LOG_TYPE_FATAL, "EventLog type=FATAL text=\"started successfully.\""},
        {static_cast<aspn2_msgs_idl_event_log_type_enum>(17), "EventLog type=OTHER text=\"started successfully.\""},
    };
    for (const auto& t : types) {
        event.event_log_type = t.type;
        EXPECT_EQ(formatEventLog(event), t.line);
    }
    event.eventlog = nullptr;
    EXPECT_EQ(formatEventLog(event), "EventLog type=OTHER text=\"\"");

    // Fixed-size texts filled to the last byte have no terminator: the
    // line stops at the array's end.
    aspn2_msgs_idl_MaintenanceEvent maintenance{};
    std::memset(maintenance.identity, 'I', sizeof maintenance.identity);
    std::strcpy(maintenance.description, "FPGA");
    maintenance.criticality_id = 2;
    EXPECT_EQ(formatMaintenanceEvent(maintenance),
              "MaintenanceEvent identity=\"" + std::string(16, 'I') + "\" description=\"FPGA\" criticality=2");
}

}  // namespace
