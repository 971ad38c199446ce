// Bad configurations, one table: what a file holds -> the line that says
// what is wrong and where, and the exit status. Most rows run
// `ZOziDaZodOduzuz --check-config` (no device, network or DDS needed); the
// rows marked kStartUp start the real server, which must print the same
// line before its failure line. Start-up rows use DDS domains 150..159.
// The values the server does something defined with (a priority clamped, a
// number cut, no transport) are rows of the conformance table
// (ConformanceTest.cpp), which also starts the server with them.
#include "tests/VICTORY/ZOziDaZodOduzuz/ConfigRows.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace config_rows;

const std::string kServer = SERVER_PATH;

enum Mode { kCheck, kStartUp };

struct Row {
    const char* what;
    Mode mode;
    Spoil spoil;
    // Lines that must appear ("{root}" stands for the runtime root); the
    // first must come before the failure line of a start-up.
    std::vector<std::string> lines;
    int status;
    std::vector<std::string> absent = {};  // texts that must not appear
};

// A "Security" container in the connections file whose governance and
// permissions are these texts, written beside it (the check reads their
// domains only, so they need no signature; the other four files are not
// read by --check-config).
Spoil securityDocuments(const std::string& governance, const std::string& permissions) {
    return [=](Setup& s) {
        const std::string dir = s.root.configDir();
        RuntimeRoot::writeFile(dir + "/governance.smime", governance);
        RuntimeRoot::writeFile(dir + "/permissions.smime", permissions);
        replace(kConnections, "</CV_Configurations>",
                "<Security><Name>Security</Name><Parameters><IdentityCA>" + dir + "/ca.pem</IdentityCA><Certificate>" +
                    dir + "/server.pem</Certificate><PrivateKey>" + dir + "/server.key</PrivateKey><PermissionsCA>" +
                    dir + "/ca.pem</PermissionsCA><Governance>" + dir + "/governance.smime</Governance><Permissions>" +
                    dir + "/permissions.smime</Permissions></Parameters></Security>\n</CV_Configurations>")(s);
    };
}
// A governance whose one rule covers `domains` (<max> or <id> on line 6).
std::string governance(const std::string& domains) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dds>\n  <domain_access_rules>\n    <domain_rule>\n"
           "      <domains>\n        " +
           domains +
           "\n      </domains>\n    </domain_rule>\n"
           "  </domain_access_rules>\n</dds>\n";
}
// Permissions whose one grant covers `domains` (on line 7).
std::string permissions(const std::string& domains) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dds>\n  <permissions>\n    <grant name=\"G\">\n"
           "      <subject_name>CN=server</subject_name>\n      <allow_rule>\n        <domains>" +
           domains +
           "</domains>\n      </allow_rule>\n      <default>DENY</default>\n    </grant>\n  </permissions>\n</dds>\n";
}
// `document` as openssl smime -sign -text writes it: MIME headers, the
// document in clear (8 lines down) and the signature, CRLF line ends.
std::string signedForm(const std::string& document) {
    std::string crlf;
    for (char c :
         "MIME-Version: 1.0\nContent-Type: multipart/signed; protocol=\"application/x-pkcs7-signature\"; "
         "micalg=\"sha-256\"; boundary=\"----B\"\n\nThis is an S/MIME signed message\n\n------B\n"
         "Content-Type: text/plain\n\n" +
             document +
             "\n------B\nContent-Type: application/x-pkcs7-signature; "
             "name=\"smime.p7s\"\n\nMIIGPAYJKoZIhvcNAQcCoIIGLTCCBikCAQExDzANBglghkgBZQMEAgEFADALBgkq\n\n------B--\n") {
        if (c == '\n') crlf += '\r';
        if (c != '\0') crlf += c;
    }
    return crlf;
}
const std::string kPortableGovernance = governance("<id_range><min>0</min><max>230</max></id_range>");
const std::string kPortablePermissions = permissions("<id_range><min>0</min><max>230</max></id_range>");

// Lines of the generated files (RuntimeRoot): top level, keys in
// alphabetical order from line 8 (CPU) to line 19 (PRI); connections,
// "FastRtps" on line 3 and the six connections on lines 4..9.
const std::string kTopName = "ZOziDaZodOduzuz.xml";
const std::string kConn = "connections.xml";
const std::string kAll = "(0 errors, 0 warnings)";

const std::vector<Row>& table() {
    static const std::vector<Row> rows = {
        // The top-level file itself.
        {"top-level file not found",
         kCheck,
         topLevelPath("nothing.xml"),
         {"{root}/config/nothing.xml: error: configuration file not found"},
         2},
        {"top-level file is a directory",
         kCheck,
         topLevelPath(""),
         {"{root}/config: error: configuration file is not a regular file (a directory)"},
         2},
        {"top-level file empty", kCheck, content(kTop, ""), {kTopName + ": error: configuration file is empty"}, 2},
        {"top-level file only blanks",
         kCheck,
         content(kTop, "  \n\n"),
         {kTopName + ": error: configuration file is empty"},
         2},
        {"top-level file malformed",
         kCheck,
         content(kTop, "<?xml version=\"1.0\"?>\n<CV_Configurations>\n  <Container>\n</CV_Configurations>\n"),
         {kTopName + ":3: error: configuration file: XML error: Error=XML_ERROR_MISMATCHED_ELEMENT"},
         2},
        {"top-level file without root",
         kCheck,
         content(kTop, "<?xml version=\"1.0\"?>\n<Configurations/>\n"),
         {kTopName + ":2: error: configuration file has no <CV_Configurations> root element (found <Configurations>)"},
         2},
        {"server container misspelt",
         kCheck,
         replace(kTop, "<Name>ZOziDaZodOduzuz</Name>", "<Name>ZoziDaZodOduzuz</Name>"),
         {kTopName + ":2: error: container \"ZOziDaZodOduzuz\" not found in the configuration file (containers: "
                     "\"Corvane\", \"ZoziDaZodOduzuz\")"},
         2},
        {"system container missing",
         kCheck,
         replace(kTop, "<Name>Corvane</Name>", "<Name>Corvan</Name>"),
         {kTopName + ":2: error: container \"Corvane\" not found"},
         2},
        {"System missing",
         kCheck,
         withoutSystemKey("System"),
         {kTopName + ":3: error: parameter <System> missing in container \"Corvane\""},
         2},
        {"Configuration empty",
         kCheck,
         system("Configuration", ""),
         {kTopName + ":4: error: parameter <Configuration> is empty in container \"Corvane\""},
         2},
        {"PRI missing",
         kCheck,
         withoutServerKey("PRI"),
         {kTopName + ":7: error: parameter <PRI> (process priority) missing in container \"ZOziDaZodOduzuz\""},
         2},
        {"PARAM_4 empty",
         kCheck,
         server("PARAM_4", ""),
         {kTopName + ":15: error: parameter <PARAM_4> (fault test enabled flag) is empty"},
         2},
        {"geoid model missing",
         kCheck,
         withoutServerKey("PARAM_5"),
         {kTopName + ":7: error: parameter <PARAM_5> (active geoid model) missing in container \"ZOziDaZodOduzuz\": no "
                     "geoid is loaded without it; name a data set of {root}/geoids, e.g. egm96-15"},
         2,
         {"default is"}},
        {"geoid data set absent",
         kCheck,
         server("PARAM_5", "egm2008-1"),
         {kTopName + ":16: error: geoid model \"egm2008-1\": data set {root}/geoids/egm2008-1.pgm not found"},
         2},
        // Values read but meaningless: warnings, the configuration starts.
        {"Debug yes",
         kCheck,
         server("Debug", "yes"),
         {kTopName + ":10: warning: <Debug> \"yes\" is not a boolean (true, false or a number): read as false",
          "(0 errors, 1 warning)"},
         0},
        {"PARAM_1 on",
         kCheck,
         server("PARAM_1", "on"),
         {kTopName + ":12: warning: <PARAM_1> \"on\" is not a boolean"},
         0},
        {"PARAM_2 ture",
         kCheck,
         server("PARAM_2", "ture"),
         {kTopName + ":13: warning: <PARAM_2> \"ture\" is not a boolean"},
         0},
        {"PARAM_3 with spaces",
         kCheck,
         server("PARAM_3", " true "),
         {kTopName + ":14: warning: <PARAM_3> \" true \" is not a boolean (true, false or a number): read as false"},
         0},
        {"booleans in any case or as numbers",
         kCheck,
         servers({{"Debug", "TRUE"}, {"PARAM_1", "1"}, {"PARAM_4", "0x0"}}),
         {kAll},
         0},
        {"navigator id not a number",
         kCheck,
         server("PARAM_6", "abc"),
         {kTopName +
          ":17: warning: <PARAM_6> navigator id \"abc\" is not a number: read as 0, which accepts any source"},
         0},
        {"navigator id 65536",
         kCheck,
         server("PARAM_7", "65536"),
         {kTopName +
          ":18: warning: <PARAM_7> navigator id \"65536\" is outside 0..255: read as 0, which accepts any source"},
         0},
        {"navigator id 300",
         kCheck,
         server("PARAM_6", "300"),
         {kTopName + ":17: warning: <PARAM_6> navigator id \"300\" is outside 0..255: read as 44"},
         0},
        {"element given twice",
         kCheck,
         replace(kTop, "<PRI>0</PRI>", "<PRI>0</PRI>\n    <PRI>50</PRI>"),
         {kTopName + ":20: warning: <PRI> given twice in container \"ZOziDaZodOduzuz\" (first at line 19); the first, "
                     "\"0\", is used"},
         0},
        {"container given twice",
         kCheck,
         replace(kTop, "</CV_Configurations>", "  <Container><Name>Corvane</Name></Container>\n</CV_Configurations>"),
         {kTopName + ":21: warning: container \"Corvane\" given again (first at line 3); this one is ignored"},
         0},
        {"misspelt key",
         kCheck,
         replace(kTop, "<Debug>false</Debug>", "<Debug>false</Debug><Debgu>true</Debgu>"),
         {kTopName + ":10: warning: unknown parameter <Debgu> in container \"ZOziDaZodOduzuz\" is ignored"},
         0},
        {"unknown system",
         kCheck,
         system("System", "Groundvehicle"),
         {kTopName +
          ":5: warning: <System> \"Groundvehicle\" is not a known system (GroundVehicle, Simulator, TestBench): "
          "system id 0 is used"},
         0},
        // Numbers kept to the width they are stored in (the priority and the
        // processor: see also the conformance table).
        {"PRI not a number",
         kCheck,
         server("PRI", "high"),
         {kTopName + ":19: warning: <PRI> \"high\" reads as 0 (scheduling left alone)"},
         0},
        {"PRI 100",
         kCheck,
         server("PRI", "100"),
         {kTopName + ":19: warning: <PRI> \"100\" reads as 100, passed on as 100: real-time priority 99 is applied"},
         0},
        {"PRI -1",
         kCheck,
         server("PRI", "-1"),
         {kTopName + ":19: warning: <PRI> \"-1\" reads as 65535, passed on as 255: real-time priority 99 is applied"},
         0},
        {"CPU 65536", kCheck, server("CPU", "65536"), {kTopName + ":8: warning: <CPU> \"65536\" reads as 0"}, 0},
        {"CPU -1",
         kCheck,
         server("CPU", "-1"),
         {kTopName + ":8: error: <CPU> \"-1\" reads as 65535, passed on as 255: this machine has processors 1.."},
         2},
        // Files named by the top-level file.
        {"connections file not found",
         kCheck,
         server("Connections", "/nonexistent/connections.xml"),
         {kTopName + ":9: error: Connections file \"/nonexistent/connections.xml\" not found"},
         2},
        {"connections path names the devices file",
         kCheck,
         [](Setup& s) { server("Connections", s.root.devicesFile())(s); },
         {"devices.xml: error: connections file has no container \"FastRtps\" but FPGA register blocks: is this the "
          "devices file?"},
         2},
        {"devices path names a directory",
         kCheck,
         [](Setup& s) { server("IODevices", s.root.configDir())(s); },
         {kTopName + ":11: error: Devices file \"{root}/config\" is not a regular file (a directory)"},
         2},
        {"devices path names the connections file",
         kCheck,
         [](Setup& s) { server("IODevices", s.root.connectionsFile())(s); },
         {kConn + ": warning: devices file has a container \"FastRtps\": is this the connections file?",
          kConn + ":2: error: container \"Processor_Interface\" not found in the devices file"},
         2},
        // The connections file.
        {"transport with spaces",
         kCheck,
         transport("<UseTransport>UDP<", "<UseTransport> UDP <"),
         {kConn + ":3: error: <UseTransport> \" UDP \" is none of SHM, UDP, TCP_Client, TCP_Server (exact spelling): "
                  "no transport is configured"},
         2},
        {"domain 233",
         kCheck,
         domain("233"),
         {kConn + ":3: error: <DomainId> \"233\" reads as domain 233, above 232: Fast DDS would end the process"},
         2},
        {"domain 232", kCheck, domain("232"), {kAll}, 0},
        {"domain -1", kCheck, domain("-1"), {kConn + ":3: error: <DomainId> \"-1\" reads as domain 4294967295"}, 2},
        {"domain 0x10", kCheck, domain("0x10"), {kAll}, 0},
        {"domain 4294967297",
         kCheck,
         domain("4294967297"),
         {kConn + ":3: warning: <DomainId> \"4294967297\" reads as domain 1"},
         0},
        {"history depth -3",
         kCheck,
         transport("<HistoryDepth>10<", "<HistoryDepth>-3<"),
         {kConn + ":3: error: <HistoryDepth> \"-3\" reads as -3, below 1: Fast DDS refuses the QoS"},
         2},
        {"history depth beyond the memory",
         kCheck,
         transport("<HistoryDepth>10<", "<HistoryDepth>2147483647<"),
         {kConn + ":3: error: <HistoryDepth> \"2147483647\": the histories would reserve about 8388607 MiB, more than "
                  "this machine's memory"},
         2},
        {"history depth 4294967297",
         kCheck,
         transport("<HistoryDepth>10<", "<HistoryDepth>4294967297<"),
         {kConn + ":3: warning: <HistoryDepth> \"4294967297\" reads as 1"},
         0},
        {"TCP port not a number",
         kCheck,
         transport("<TcpPort>5100<", "<TcpPort>51OO<"),
         {kConn + ":3: warning: <TcpPort> \"51OO\" is not a port number 0..65535: stored as 51"},
         0},
        {"TCP server address",
         kCheck,
         both(transport("<UseTransport>UDP<", "<UseTransport>TCP_Server<"),
              transport("<TcpAddress>127.0.0.1<", "<TcpAddress>10:0:300:1<")),
         {kConn + ":3: warning: <TcpAddress> \"10:0:300:1\" is not an IPv4 address in dotted decimal: the TCP server "
                  "announces the WAN address 10.0.44.1"},
         0},
        {"opt-in participant settings",
         kCheck,
         both(transport("<UseTransport>UDP<", "<UseTransport>SHM<"),
              transport("<TcpPort>5100</TcpPort>",
                        "<TcpPort>5100</TcpPort><AnnouncementPeriod>0.5</AnnouncementPeriod>"
                        "<ShmDiscoveryOverUdp>true</ShmDiscoveryOverUdp>"
                        "<FreshParticipantId>true</FreshParticipantId>")),
         {kAll},
         0},
        {"announcement period beyond the lease",
         kCheck,
         transport("<TcpPort>5100</TcpPort>", "<TcpPort>5100</TcpPort><AnnouncementPeriod>5</AnnouncementPeriod>"),
         {kConn + ":3: warning: <AnnouncementPeriod> \"5\" is not a period in seconds above 0 and below the 5 s lease: "
                  "ignored"},
         0},
        {"shared-memory setting with UDP",
         kCheck,
         transport("<TcpPort>5100</TcpPort>", "<TcpPort>5100</TcpPort><FreshParticipantId>1</FreshParticipantId>"),
         {kConn + ":3: warning: <FreshParticipantId> applies to the SHM transport only: ignored with \"UDP\""},
         0},
        {"TCP port missing",
         kCheck,
         transport("<TcpPort>5100</TcpPort>", ""),
         {kConn + ":3: error: parameter <TcpPort> missing in container \"FastRtps\""},
         2},
        {"best effort yes",
         kCheck,
         transport("<UseBestEffort>false<", "<UseBestEffort>yes<"),
         {kConn + ":3: warning: <UseBestEffort> \"yes\" is not a boolean"},
         0},
        {"connection deleted",
         kCheck,
         [](Setup& s) {
             s.root.writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"});
         },
         {kConn + ":2: error: container \"MaintenanceEvent\" not found in the connections file (containers: "
                  "\"FastRtps\", \"Command\", \"Response\", \"PositionVelocityAttitude\", \"EventLog\", \"UTCTime\")"},
         2},
        {"topic type of another connection",
         kCheck,
         transport("<TopicType>aspn2_msgs::idl::UTCTime<", "<TopicType>aspn2_msgs::idl::PositionVelocityAttitude<"),
         {kConn +
          ":8: warning: connection \"UTCTime\": <TopicType> \"aspn2_msgs::idl::PositionVelocityAttitude\" is not "
          "the type the server uses, \"aspn2_msgs::idl::UTCTime\""},
         0},
        {"unknown type support",
         kCheck,
         transport("<PubSubType>EventLogPubSubType<", "<PubSubType>EventLogType<"),
         {kConn + ":7: error: connection \"EventLog\": <PubSubType> \"EventLogType\" is no known type support (the "
                  "server expects EventLogPubSubType): the connection is not made, so start-up fails"},
         2},
        {"connections file malformed",
         kCheck,
         transport("</Transport>", "</Transprt>"),
         {kConn + ":3: error: connections file: XML error: "},
         2},
        // The domains of the DDS Security documents it names.
        {"security documents within 0..230",
         kCheck,
         securityDocuments(signedForm(kPortableGovernance), signedForm(kPortablePermissions)),
         {kAll},
         0},
        {"signed governance reaching domain 232",
         kCheck,
         securityDocuments(signedForm(governance("<id_range><min>0</min><max>232</max></id_range>")),
                           kPortablePermissions),
         {"governance.smime:14: warning: the governance's domains 0..232 reach beyond 230: not accepted by some DDS "
          "implementations",
          "(0 errors, 1 warning)"},
         0},
        {"permissions naming domain 231 and an open range",
         kCheck,
         securityDocuments(kPortableGovernance, permissions("<id>5</id><id>231</id><id_range><min>7</min></id_range>")),
         {"permissions.smime:7: warning: the permissions document's domain 231 lies beyond 230",
          "permissions.smime:7: warning: the permissions document's domains 7.. reach beyond 230",
          "(0 errors, 2 warnings)"},
         0},
        {"domain outside the governance's ranges",
         kCheck,
         both(domain("148"), securityDocuments(governance("<id>7</id><id_range><min>0</min><max>100</max></id_range>"),
                                               kPortablePermissions)),
         {kConn + ":3: warning: <DomainId> \"148\" lies outside the governance's domain ranges (7, 0..100 in "
                  "{root}/config/governance.smime): DDS Security would refuse the participant"},
         0},
        {"domain at the governance's range end",
         kCheck,
         both(domain("100"),
              securityDocuments(governance("<id_range><min>0</min><max>100</max></id_range>"), kPortablePermissions)),
         {kAll},
         0},
        {"security documents missing",
         kCheck,
         [](Setup& s) {
             securityDocuments("", "")(s);
             ::unlink((s.root.configDir() + "/governance.smime").c_str());
         },
         {kAll},
         0},
        // The devices file.
        {"block size not a number",
         kCheck,
         replace(kDevices, "<Size>0x1000</Size>", "<Size>4k</Size>"),
         {"devices.xml:12: warning: block \"Processor_Interface\": <Size> \"4k\" is not a whole number (decimal, 0x "
          "hexadecimal or leading-zero octal): read as 0x4, the number it starts with"},
         0},
        {"block missing",
         kCheck,
         replace(kDevices, "<Name>PpsSlave_Interface</Name>", "<Name>PpsSlave</Name>"),
         {"devices.xml:", ": error: container \"PpsSlave_Interface\" not found in the devices file"},
         2},
        // The VICTORY service files.
        {"position VCL file missing",
         kCheck,
         removeVictoryFile("Position_VCL_1_9.xml"),
         {"{root}/config/Position_VCL_1_9.xml: error: VICTORY position VCL file not found (it cannot be opened): "
          "\"Error reading VICTORY position configuration files.\", the service does not start and start-up fails"},
         2},
        {"direction of travel configuration malformed",
         kCheck,
         victoryFile("DoTServiceConfig_1_9.xml", "<a>\n<b>\n</a>\n"),
         {"{root}/config/DoTServiceConfig_1_9.xml:2: warning: VICTORY direction of travel service configuration file: "
          "XML error: "},
         0},
        {"VCL without its root element",
         kCheck,
         victoryFile("Orientation_VCL_1_9.xml", "<VCL/>"),
         {"{root}/config/Orientation_VCL_1_9.xml: warning: VICTORY orientation VCL file has no <vcl:VCL> root element"},
         0},
        {"switched-off service is not checked",
         kCheck,
         both(removeVictoryFile("Position_VCL_1_9.xml"), server("PARAM_1", "false")),
         {kAll},
         0},
        {"every problem is reported",
         kCheck,
         both(servers({{"CPU", "-1"}, {"Debug", "on"}}), transport("<HistoryDepth>10<", "<HistoryDepth>0<")),
         {kTopName + ":8: error: <CPU>", kTopName + ":10: warning: <Debug>", kConn + ":3: error: <HistoryDepth>",
          "(2 errors, 1 warning)"},
         2},

        // Through a real start-up: the same line, then the failure line.
        {"start-up: top-level file not found",
         kStartUp,
         topLevelPath("nothing.xml"),
         {"ZOziDaZodOduzuz: Configure: {root}/config/nothing.xml: error: configuration file not found",
          "]:INVALID_CONFIG Configure() failed"},
         2},
        {"start-up: geoid model missing",
         kStartUp,
         withoutServerKey("PARAM_5"),
         {": error: parameter <PARAM_5> (active geoid model) missing", "]:INVALID_CONFIG Configure() failed"},
         2},
        {"start-up: domain 233",
         kStartUp,
         domain("233"),
         {"ZOziDaZodOduzuz: Framework_Connect: {root}/config/" + kConn +
              ":3: error: <DomainId> \"233\" reads as domain "
              "233",
          "]:INVALID_CONFIG Framework_Connect() failed"},
         2,
         {"Calculated port number"}},
        {"start-up: connection deleted",
         kStartUp,
         [](Setup& s) {
             s.root.writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"});
         },
         {": error: container \"MaintenanceEvent\" not found in the connections file",
          "]:INVALID_CONFIG Framework_Connect() failed"},
         2},
        {"start-up: VICTORY file missing",
         kStartUp,
         removeVictoryFile("Position_VCL_1_9.xml"),
         {"ZOziDaZodOduzuz: Framework_Connect: {root}/config/Position_VCL_1_9.xml: error: VICTORY position VCL file "
          "not found",
          "InitializeVictoryPositionZOziDaZodOduzuz: Error reading VICTORY position configuration files.",
          "]:INVALID_CONFIG Framework_Connect() failed"},
         2},
        {"start-up: history depth beyond the memory",
         kStartUp,
         transport("<HistoryDepth>10<", "<HistoryDepth>2147483647<"),
         {": error: <HistoryDepth> \"2147483647\": the histories would reserve",
          "]:INVALID_CONFIG Framework_Connect() failed"},
         2,
         {"Error creating participant", "QOS"}},
    };
    return rows;
}

void runRows(Mode mode) {
    int domain = 150;
    for (const Row& row : table()) {
        if (row.mode != mode) continue;
        SCOPED_TRACE(row.what);
        RuntimeRoot::Options o;
        o.sourceDir = CORVANE_SOURCE_DIR;
        o.prefix = "zozi-config-check";
        if (mode == kStartUp) {
            o.fpgaSim = FPGA_SIM_PATH;
            o.domainId = domain++;
        }
        RuntimeRoot root(o);
        Setup setup{root, root.topLevelFile(), {}};
        row.spoil(setup);

        std::vector<std::string> argv{kServer};
        if (mode == kCheck) argv.push_back("--check-config");
        argv.push_back(setup.topLevel);
        LoggedProcess server(argv, root.environment());
        EXPECT_EQ(server.finish(mode == kCheck ? 20s : 40s), row.status) << server.transcript();

        std::vector<std::string> lines = row.lines;
        lines.insert(lines.end(), setup.expectedExtra.begin(), setup.expectedExtra.end());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string line = withRoot(lines[i], root.path());
            EXPECT_GE(server.countLines(line), 1u) << "missing: " << line << "\n" << server.transcript();
        }
        for (const std::string& text : row.absent) {
            EXPECT_EQ(server.countLines(text), 0u) << "unexpected: " << text << "\n" << server.transcript();
        }
        if (mode == kStartUp) {
            // The reason comes before the one failure line, and the exit
            // line stays last.
            const std::string failure = withRoot(lines[row.lines.size() - 1], root.path());
            const std::string reason = withRoot(row.lines.size() > 1 ? row.lines.front() : lines.back(), root.path());
            EXPECT_LT(firstIndex(server, reason), firstIndex(server, failure)) << server.transcript();
            EXPECT_EQ(server.countLines("Framework_Connect() failed") + server.countLines("Configure() failed"), 1u);
            EXPECT_EQ(server.lastStdoutLine(), "!!!!!! " + kServer + " has exited after a failure.");
        } else {
            EXPECT_EQ(server.countLines("m_debug = "), 0u) << "--check-config must not configure the server";
        }
    }
}

TEST(ConfigCheckTable, CheckConfigNamesFileLineAndReason) { runRows(kCheck); }

TEST(ConfigCheckTable, StartUpPrintsTheReasonBeforeItsFailureLine) { runRows(kStartUp); }

// A good runtime root: nothing to say, exit 0; no memory file, no DDS.
TEST(ConfigCheck, GoodConfigurationWouldStart) {
    RuntimeRoot::Options o;
    o.sourceDir = CORVANE_SOURCE_DIR;
    o.prefix = "zozi-config-check";
    RuntimeRoot root(o);
    LoggedProcess server({kServer, "--check-config", root.topLevelFile()}, root.environment());
    EXPECT_EQ(server.finish(20s), 0) << server.transcript();
    EXPECT_EQ(server.lineCount(), 1u) << server.transcript();
    EXPECT_EQ(server.lastStdoutLine(), root.topLevelFile() + ": the configuration would start " + kAll);
}

// The shipped samples, relocated into a runtime root as their comment
// shows, raise nothing with any of the four transports.
TEST(ConfigCheck, ShippedSamplesAreClean) {
    RuntimeRoot::Options o;
    o.sourceDir = CORVANE_SOURCE_DIR;
    o.prefix = "zozi-config-check";
    RuntimeRoot root(o);
    const std::string config = std::string(CORVANE_SOURCE_DIR) + "/config/";
    for (const char* variant : {"udp", "shm", "tcp-client", "tcp-server"}) {
        SCOPED_TRACE(variant);
        const std::string connections = std::string("connections-") + variant + ".xml";
        RuntimeRoot::writeFile(root.configDir() + "/" + connections, RuntimeRoot::readFile(config + connections));
        std::string top = RuntimeRoot::readFile(config + "ZOziDaZodOduzuz.xml");
        top = std::regex_replace(top, std::regex("/opt/corvane"), root.path());
        top = std::regex_replace(top, std::regex("connections-udp\\.xml"), connections);
        top = std::regex_replace(top, std::regex("<PARAM_5>[^<]*</PARAM_5>"),
                                 "<PARAM_5>" + root.geoidName() + "</PARAM_5>");
        RuntimeRoot::writeFile(root.topLevelFile(), top);
        RuntimeRoot::writeFile(root.devicesFile(), RuntimeRoot::readFile(config + "devices.xml"));
        LoggedProcess server({kServer, "--check-config", root.topLevelFile()}, root.environment());
        EXPECT_EQ(server.finish(20s), 0) << server.transcript();
        EXPECT_EQ(server.lastStdoutLine(), root.topLevelFile() + ": the configuration would start " + kAll)
            << server.transcript();
    }
}

TEST(ConfigCheck, HelpVersionAndBadOptions) {
    {
        LoggedProcess p({kServer, "--help"});
        EXPECT_EQ(p.finish(20s), 0) << p.transcript();
        EXPECT_GE(p.countLines("Usage: " + kServer + " <top-level-config-file> "), 1u) << p.transcript();
        EXPECT_GE(p.countLines("--check-config FILE"), 1u) << p.transcript();
    }
    {
        LoggedProcess p({kServer, "--version"});
        EXPECT_EQ(p.finish(20s), 0) << p.transcript();
        for (const char* part :
             {"ZOziDaZodOduzuz 415-2290-771C", "Fast DDS 2.", "Fast CDR 1.", "TinyXML-2 ", "GeographicLib "}) {
            EXPECT_EQ(p.countLines(part), 1u) << part << "\n" << p.transcript();
        }
    }
    for (const auto& args : {std::vector<std::string>{"--check-config"}, std::vector<std::string>{"--frobnicate"},
                             std::vector<std::string>{"--check-config", "a.xml", "b.xml"}}) {
        std::vector<std::string> argv{kServer};
        argv.insert(argv.end(), args.begin(), args.end());
        LoggedProcess p(argv);
        EXPECT_EQ(p.finish(20s), 1) << p.transcript();
        EXPECT_EQ(p.lastStdoutLine(), "Usage: " + kServer + " <top-level-config-file> ");
    }
}

}  // namespace
