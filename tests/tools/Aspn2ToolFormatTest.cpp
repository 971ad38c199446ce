// The tool's output lines, command line and connections file copies.

#include "tools/aspn2-tool/ConnectionsFile.h"
#include "tools/aspn2-tool/ToolFormat.h"
#include "tools/aspn2-tool/ToolOptions.h"

#include "../support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tinyxml2.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace nav_sim;

// --- Escaping and numbers --------------------------------------------------

TEST(ToolFormat, JsonStringEscapesWhatJsonRequires) {
    struct Case {
        std::string in, out;
    } const cases[] = {
        {"", R"("")"},
        {"plain text", R"("plain text")"},
        {"say \"hi\" \\ back", R"("say \"hi\" \\ back")"},
        {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
        {std::string("nul\0x", 5), R"("nul\u0000x")"},
        {"\x01\x1f\x7f", R"("\u0001\u001f\u007f")"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        // Invalid UTF-8: a lone continuation byte, a truncated sequence, an
        // overlong form and a surrogate, byte by byte.
        {"\x80", R"("\u0080")"},
        {"\xe2\x82", R"("\u00e2\u0082")"},
        {"\xc0\xaf", R"("\u00c0\u00af")"},
        {"\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},
    };
    for (Case const& c : cases) EXPECT_EQ(jsonString(c.in), c.out) << c.out;
}

TEST(ToolFormat, TimestampsAndDeviceIds) {
    EXPECT_EQ(timestampText(1700000000, 123), "1700000000.000000123");
    EXPECT_EQ(timestampText(0, -8), "-0.000000008");
    EXPECT_EQ(timestampText(-2, -500000000), "-2.500000000");
    EXPECT_EQ(deviceIdHex(0x022D0100), "0x022D0100");
    EXPECT_EQ(deviceIdHex(-1), "0xFFFFFFFF");
    DeviceIdParts const d = decodeDeviceId(static_cast<std::int32_t>(0xFE2D3B07u));
    EXPECT_EQ(std::make_tuple(d.system, d.server, d.kind, d.topic), std::make_tuple(254u, 45u, 59u, 7u));
}

// --- Message lines ---------------------------------------------------------

aspn2_msgs::idl::EventLog sampleEvent() {
    aspn2_msgs::idl::EventLog m;
    m.header().seq_num(12);
    m.header().device_id(0x022D0100);
    m.header().timestamp_valid().sec(1700000000);
    m.header().timestamp_valid().nsec(5);
    m.header().timestamp_valid().time_code(101);
    m.event_log_type(aspn2_msgs::idl::EVENT_LOG_TYPE_STATUS);
    m.eventlog("ZOziDaZodOduzuz: \"running\"\n");
    return m;
}

// The line formats are what scripts read: pinned here once per form.
TEST(ToolFormat, EventLogLines) {
    EXPECT_EQ(formatEventLog(sampleEvent(), false),
              "EventLog seq=12 device_id=0x022D0100 system=2 server=45 server_name=ZOziDaZodOduzuz kind=1 topic=0 "
              "tov=1700000000.000000005 time_code=101 type=2 type_name=STATUS "
              "text=\"ZOziDaZodOduzuz: \\\"running\\\"\\n\"");
    EXPECT_EQ(formatEventLog(sampleEvent(), true),
              "{\"msg\":\"EventLog\",\"seq\":12,\"device_id\":\"0x022D0100\",\"system\":2,\"server\":45,"
              "\"server_name\":\"ZOziDaZodOduzuz\",\"kind\":1,\"topic\":0,\"tov\":1700000000.000000005,"
              "\"tov_sec\":1700000000,\"tov_nsec\":5,\"time_code\":101,\"type\":2,\"type_name\":\"STATUS\","
              "\"text\":\"ZOziDaZodOduzuz: \\\"running\\\"\\n\"}");
}

TEST(ToolFormat, FixedTextsAndUnsignedIdentifiers) {
    aspn2_msgs::idl::MaintenanceEvent m;
    std::strcpy(m.identity().data(), "VPOS");
    std::memcpy(m.description().data(), std::string(56, 'd').data(), 56);  // no NUL at all
    std::string const json = formatMaintenanceEvent(m, true);
    EXPECT_NE(json.find("\"identity\":\"VPOS\",\"description\":\"" + std::string(56, 'd') + "\","), std::string::npos)
        << json;

    aspn2_msgs::idl::CommandResponse r;
    r.command_identifier(-2);  // travels in a signed field
    EXPECT_NE(formatCommandResponse("Response", r, false).find(" command_identifier=4294967294 "), std::string::npos);
}

TEST(ToolFormat, NonFiniteNumbersAreNullInJson) {
    aspn2_msgs::idl::PositionVelocityAttitude p;
    p.position().latitude(std::nan(""));
    p.velocity()[1] = INFINITY;
    std::string const json = formatPva(p, true);
    EXPECT_NE(json.find("\"lat_deg\":null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"vel_ned\":[0.000,null,0.000]"), std::string::npos) << json;
    EXPECT_EQ(json.find("nan"), std::string::npos) << json;
    EXPECT_EQ(json.find("inf"), std::string::npos) << json;
    std::string const text = formatPva(p, false);
    EXPECT_NE(text.find("lat_deg=nan"), std::string::npos) << text;

    NavSummary s;
    s.pvaSent = 3;
    s.lastPva = p;
    std::string const summary = formatNavSummary(s, true);
    EXPECT_NE(summary.find("\"pva\":3,\"utc\":0"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"valid\":true"), std::string::npos) << summary;
}

// --- Command line ------------------------------------------------------------

std::vector<std::string> words(std::string const& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST(ToolOptions, AcceptedCommandLines) {
    ToolOptions o;
    std::string error;
    ASSERT_TRUE(parseToolOptions(words("nav --domain 95 --rate 50 --utc-rate 0 --speed 0 --nan latitude "
                                       "--nan covariance --wrong-source 0 --lat-override 100 --count 7"),
                                 o, error))
        << error;
    EXPECT_EQ(std::make_tuple(o.mode, o.common.domain, o.common.sourceId, o.common.count, o.nav.utcRateHz),
              std::make_tuple(ToolMode::Nav, 95, 96, 7, 0.0));
    EXPECT_EQ(o.nav.faults.nanFields, (std::vector<NanField>{NanField::Latitude, NanField::Covariance}));
    EXPECT_EQ(std::make_pair(o.nav.faults.wrongSourceId, o.nav.faults.overrideLatitude), std::make_pair(0, true));

    ASSERT_TRUE(parseToolOptions(words("command --type 1 --id 4294967295 -- --looks-like-an-option"), o, error))
        << error;
    EXPECT_EQ(std::make_tuple(o.command.text, o.command.type, o.command.identifier.value_or(0), o.common.sourceId),
              std::make_tuple(std::string("--looks-like-an-option"), 1u, 4294967295u, 50));
}

TEST(ToolOptions, RejectedCommandLines) {
    std::pair<char const*, char const*> const cases[] = {
        // command line, part of the error
        {"", "a mode is required"},
        {"fly", "unknown mode \"fly\""},
        {"nav --bogus", "unknown option --bogus"},
        {"nav --rate", "--rate needs a value"},
        {"nav --rate fast", "--rate needs a rate 0..1000 Hz, not \"fast\""},
        {"nav --rate nan", "--rate needs"},
        {"nav --rate 10x", "--rate needs"},
        {"nav --domain 233", "--domain needs"},
        {"nav --nan speed", "--nan needs"},
        {"nav --rate 0 --utc-rate 0", "cannot both be 0"},
        {"nav --all", "option --all does not apply to nav"},
        {"command", "command needs the command TEXT"},
        {"command A B", "unexpected argument \"B\""},
        {"command A --type -1", "--type needs"},
        {"listen --source-id 5", "does not apply to listen"},
    };
    for (auto const& [line, expected] : cases) {
        ToolOptions o;
        std::string error;
        EXPECT_FALSE(parseToolOptions(words(line), o, error)) << line;
        EXPECT_NE(error.find(expected), std::string::npos) << line << " -> " << error;
    }
}

// --- Connections file copies -------------------------------------------------

// The copy differs from the sample only in the domain: with the domain put
// back it prints the same.
TEST(ConnectionsFile, DomainReplacedAndEverythingElseKept) {
    std::string const sample = std::string(ASPN2_TOOL_SAMPLE_CONFIG_DIR) + "/connections-udp.xml";
    tinyxml2::XMLDocument copy, original;
    ASSERT_EQ(copy.Parse(connectionsWithDomain(sample, 97).c_str()), tinyxml2::XML_SUCCESS);
    ASSERT_EQ(original.LoadFile(sample.c_str()), tinyxml2::XML_SUCCESS);
    auto domainOf = [](tinyxml2::XMLDocument& doc) {
        return doc.RootElement()
            ->FirstChildElement("Transport")
            ->FirstChildElement("Parameters")
            ->FirstChildElement("DomainId");
    };
    EXPECT_STREQ(domainOf(copy)->GetText(), "97");
    domainOf(copy)->SetText(domainOf(original)->GetText());
    tinyxml2::XMLPrinter a, b;
    copy.Print(&a);
    original.Print(&b);
    EXPECT_STREQ(a.CStr(), b.CStr());
}

TEST(ConnectionsFile, BadFilesAreReportedWithTheirName) {
    corvane_test::TempDir dir;
    std::string const missing = dir.file("missing.xml"), broken = dir.file("broken.xml"),
                      noTransport = dir.file("no-transport.xml"), noDomain = dir.file("no-domain.xml");
    std::ofstream(broken) << "<CV_Configurations><Transport>";
    std::ofstream(noTransport)
        << "<CV_Configurations><Connection><Name>UTCTime</Name></Connection></CV_Configurations>";
    std::ofstream(noDomain) << "<CV_Configurations><T><Name>FastRtps</Name><Parameters/></T></CV_Configurations>";

    for (std::string const& path : {missing, broken, noTransport}) {
        try {
            connectionsWithDomain(path, 1);
            ADD_FAILURE() << path;
        } catch (std::runtime_error const& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    EXPECT_NE(connectionsWithDomain(noDomain, 5).find("<DomainId>5</DomainId>"), std::string::npos);

    std::string copyDir;
    {
        TemporaryConnectionsFile copy(noDomain, 6);
        std::ifstream in(copy.path());
        std::string const text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("<DomainId>6</DomainId>"), std::string::npos);
        copyDir = copy.path().substr(0, copy.path().rfind('/'));
    }
    struct stat st {};
    EXPECT_NE(::stat(copyDir.c_str(), &st), 0) << copyDir << " left behind";
}

}  // namespace
