// The Cyclone DDS test peer's pure logic: its command line, the
// configuration it hands the library, the samples it sends and the lines
// it prints. No DDS entity is made.
#include "tests/peers/cyclone/PeerConfig.h"
#include "tests/peers/cyclone/PeerMessages.h"
#include "tests/peers/cyclone/PeerOptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace cyclone_peer;

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

TEST(CyclonePeerOptions, TakesValuesAtTheirBoundsAndBuildsThePkiPaths) {
    PeerOptions o;
    std::string error;
    ASSERT_TRUE(parsePeerOptions(words("nav --domain 230 --navigator-id 255 --lat -90 --rate 0.1 --count 5 "
                                       "--pki /p/ --identity navigator --governance /g/e.smime"),
                                 o, error))
        << error;
    EXPECT_EQ(o.domain, 230);
    EXPECT_EQ(o.navigatorId, 255);
    EXPECT_EQ(o.latDeg, -90.0);
    EXPECT_EQ(o.rateHz, 0.1);
    EXPECT_EQ(o.count, 5);
    EXPECT_EQ(o.security.certificate, "/p/navigator.pem");
    EXPECT_EQ(o.security.privateKey, "/p/navigator.key");
    EXPECT_EQ(o.security.permissions, "/p/permissions.smime");
    EXPECT_EQ(o.security.governance, "/g/e.smime");

    ASSERT_TRUE(parsePeerOptions(words("command START_ZEROIZE --identifier 2147483647"), o, error)) << error;
    EXPECT_EQ(o.text, "START_ZEROIZE");
    EXPECT_EQ(o.identifier, 2147483647u);
    EXPECT_FALSE(o.security.any());
}

TEST(CyclonePeerOptions, RefusesWhatItCannotUseWithOneLine) {
    const struct {
        const char* args;
        const char* error;
    } rows[] = {
        {"", "no role given"},
        {"publish", "unknown role \"publish\""},
        {"nav --domain 231", "--domain \"231\" is not a number in 0..230"},
        {"nav --domain 7x", "--domain \"7x\" is not a number"},
        {"nav --domain", "--domain needs a value"},
        {"nav --lat nan", "--lat \"nan\" is not a number in -90..90"},
        {"nav --rate 0", "--rate \"0\" is not a number in 0.1..1000"},
        {"command --identifier 0", "--identifier \"0\" is not a number in 1..2147483647"},
        {"listen --lat 3", "--lat does not apply to listen"},
        {"command A B", "unexpected argument \"B\""},
        {"nav --colour red", "unknown option --colour"},
        {"nav --pki /p", "--pki and --identity go together"},
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
    }
}

TEST(CyclonePeerConfig, EscapesWhatItNamesAndAppliesTheCallersFileLast) {
    PeerOptions o;
    std::string error;
    ASSERT_TRUE(
        parsePeerOptions(words("nav --pki /p&q --identity navigator --trace /t<1>.log --config /c.xml"), o, error));
    const std::string xml = cycloneConfig(o);
    for (const char* part : {"<NetworkInterface name=\"lo\" multicast=\"true\"/>",
                             "<IdentityCertificate>file:/p&amp;q/navigator.pem</IdentityCertificate>",
                             "<Governance>file:/p&amp;q/governance.smime<", "<OutputFile>/t&lt;1&gt;.log</OutputFile>",
                             "<IncludeOptionalFields>true</IncludeOptionalFields>"}) {
        EXPECT_NE(xml.find(part), std::string::npos) << part << " in " << xml;
    }
    EXPECT_EQ(xml.find("AllowMulticast"), std::string::npos) << "the library's default stays";
    EXPECT_EQ(xml.substr(xml.rfind(',')), ",file:///c.xml");
    EXPECT_EQ(cycloneConfig(PeerOptions()).find("<Security>"), std::string::npos);
}

TEST(CyclonePeerMessages, SamplesCarryTheNavigatorsValuesAndStamps) {
    constexpr double kDeg = 3.141592653589793 / 180.0;
    EXPECT_EQ(deviceId(kSimulatorSystem, 96), 0x02600000);
    EXPECT_EQ(static_cast<std::uint32_t>(deviceId(0x1FF, 0x1AB, 0x1CD, 0x1EF)), 0xFFABCDEFu);

    const struct {
        double latDeg, tS, expectedLatDeg;
    } rows[] = {
        {45.0, -5.0, 45.0},                               // before the start: at the start
        {45.0, 100.0, 45.0 + 1000.0 / 6371000.0 / kDeg},  // 1 km north at 10 m/s
        {89.9999, 3600.0, 90.0},                          // stops at the pole
    };
    for (const auto& row : rows) {
        aspn2_msgs_idl_PositionVelocityAttitude pva;
        fillPva(pva, NavMotion{row.latDeg, 7.5, 250.5, 10.0}, row.tS, 1700000000123456789LL, 42, deviceId(2, 96));
        EXPECT_NEAR(pva.position.latitude / kDeg, row.expectedLatDeg, 1e-9) << row.tS;
        EXPECT_EQ(pva.header.timestamp_valid.sec, 1700000000);
        EXPECT_EQ(pva.header.timestamp_arrival.nsec, 123456789);
        EXPECT_NEAR(pva.covariance[0][0] + pva.covariance[1][1] + pva.covariance[2][2], 17.0, 1e-9);  // 2, 2, 3 m
    }

    // 2024-01-02 12:00:00.25 UTC: GPS week 2295, Tuesday 12:00:18 GPS.
    aspn2_msgs_idl_UTCTime utc;
    fillUtc(utc, 1704196800250000000LL, 3, deviceId(2, 96));
    EXPECT_EQ(utc.gps_week, 2295);
    EXPECT_EQ(utc.gps_tow_sec, 2 * 86400 + 43218);
    EXPECT_EQ(utc.utc_tod_sec, 43200);
    EXPECT_EQ(utc.utc_tod_nsec, 250000000.0);
}

TEST(CyclonePeerMessages, EachSampleIsOneLine) {
    aspn2_msgs_idl_CommandResponse response;
    char text[] = "Zozi \"ok\"\\\n\xff";
    fillCommand(response, text, 0xFFFFFFFF, 5000000000LL, 0, 0x02320200);
    response.commanded_device_id = 0x02320200;
    EXPECT_EQ(formatResponse(response),
              "Response identifier=4294967295 commanded=0x02320200 text=\"Zozi \\\"ok\\\"\\\\\\x0a\\xff\"");

    aspn2_msgs_idl_EventLog event{};
    event.event_log_type = static_cast<aspn2_msgs_idl_event_log_type_enum>(17);
    EXPECT_EQ(formatEventLog(event), "EventLog type=OTHER text=\"\"");

    // A fixed-size text filled to its last byte has no terminator.
    aspn2_msgs_idl_MaintenanceEvent maintenance{};
    std::memset(maintenance.identity, 'I', sizeof maintenance.identity);
    std::strcpy(maintenance.description, "FPGA");
    EXPECT_EQ(formatMaintenanceEvent(maintenance),
              "MaintenanceEvent identity=\"" + std::string(16, 'I') + "\" description=\"FPGA\" criticality=0");
}

}  // namespace
