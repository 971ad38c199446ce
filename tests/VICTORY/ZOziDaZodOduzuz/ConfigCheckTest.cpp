// Bad configurations, one table: what a file holds -> the line that says
// what is wrong and where, and the exit status. Most rows run
// `ZOziDaZodOduzuz --check-config` (no device, network or DDS needed); the
// rows marked kStartUp start the real server, which must print the same
// line before its failure line. Start-up rows use DDS domains 150..159.
#include "tests/support/LoggedProcess.h"
#include "tests/support/RuntimeRoot.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using corvane_test::LoggedProcess;
using corvane_test::RuntimeRoot;

const std::string kServer = SERVER_PATH;

enum Mode { kCheck, kStartUp };

// A listening TCP socket on a free loopback port, for "port in use".
class ListeningSocket {
public:
    ListeningSocket() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t n = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || ::listen(m_fd, 1) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) {
            throw std::runtime_error("ListeningSocket: no socket");
        }
        m_port = ntohs(a.sin_port);
    }
    ~ListeningSocket() { ::close(m_fd); }
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;
    std::uint16_t port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// The runtime root of one row and what the row changes in it.
struct Row;
struct Setup {
    RuntimeRoot& root;
    std::string topLevel;  // the file handed to the server
    std::vector<std::string> expectedExtra;
};

using Spoil = std::function<void(Setup&)>;

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

// --- changes -----------------------------------------------------------

Spoil servers(const std::map<std::string, std::string>& values) {
    return [=](Setup& s) {
        auto t = s.root.defaultTopLevel();
        for (const auto& [key, value] : values) t.server[key] = value;
        s.root.writeTopLevel(t);
    };
}
Spoil server(const std::string& key, const std::string& value) { return servers({{key, value}}); }
Spoil withoutServerKey(const std::string& key) {
    return [=](Setup& s) {
        auto t = s.root.defaultTopLevel();
        t.server.erase(key);
        s.root.writeTopLevel(t);
    };
}
Spoil system(const std::string& key, const std::string& value) {
    return [=](Setup& s) {
        auto t = s.root.defaultTopLevel();
        t.system[key] = value;
        s.root.writeTopLevel(t);
    };
}
Spoil withoutSystemKey(const std::string& key) {
    return [=](Setup& s) {
        auto t = s.root.defaultTopLevel();
        t.system.erase(key);
        s.root.writeTopLevel(t);
    };
}
enum File { kTop, kConnections, kDevices };
std::string pathOf(const RuntimeRoot& r, File f) {
    return f == kTop ? r.topLevelFile() : f == kConnections ? r.connectionsFile() : r.devicesFile();
}
// Replaces the first `from` in a file by `to`.
Spoil replace(File f, const std::string& from, const std::string& to) {
    return [=](Setup& s) {
        const std::string path = pathOf(s.root, f);
        std::string text = RuntimeRoot::readFile(path);
        const std::size_t at = text.find(from);
        if (at == std::string::npos) throw std::runtime_error("no " + from + " in " + path);
        RuntimeRoot::writeFile(path, text.replace(at, from.size(), to));
    };
}
Spoil content(File f, const std::string& text) {
    return [=](Setup& s) { RuntimeRoot::writeFile(pathOf(s.root, f), text); };
}
Spoil victoryFile(const std::string& name, const std::string& text) {
    return [=](Setup& s) { RuntimeRoot::writeFile(s.root.configDir() + "/" + name, text); };
}
Spoil removeVictoryFile(const std::string& name) {
    return [=](Setup& s) { ::unlink((s.root.configDir() + "/" + name).c_str()); };
}
Spoil topLevelPath(const std::string& relative) {
    return [=](Setup& s) { s.topLevel = relative.empty() ? s.root.configDir() : s.root.configDir() + "/" + relative; };
}
Spoil both(Spoil a, Spoil b) {
    return [=](Setup& s) {
        a(s);
        b(s);
    };
}
Spoil transport(const std::string& from, const std::string& to) { return replace(kConnections, from, to); }
// Sets the DDS domain of the connections file, whatever the root's is.
Spoil domain(const std::string& value) {
    return [=](Setup& s) {
        const std::string path = s.root.connectionsFile();
        const std::string text = RuntimeRoot::readFile(path);
        RuntimeRoot::writeFile(
            path, std::regex_replace(text, std::regex("<DomainId>[^<]*</DomainId>"), "<DomainId>" + value + "</DomainId>"));
    };
}

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
           "      <domains>\n        " + domains + "\n      </domains>\n    </domain_rule>\n"
           "  </domain_access_rules>\n</dds>\n";
}
// Permissions whose one grant covers `domains` (on line 7).
std::string permissions(const std::string& domains) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dds>\n  <permissions>\n    <grant name=\"G\">\n"
           "      <subject_name>CN=server</subject_name>\n      <allow_rule>\n        <domains>" + domains +
           "</domains>\n      </allow_rule>\n      <default>DENY</default>\n    </grant>\n  </permissions>\n</dds>\n";
}
// `document` as openssl smime -sign -text writes it: MIME headers, the
// document in clear (8 lines down) and the signature, CRLF line ends.
std::string signedForm(const std::string& document) {
    std::string crlf;
    for (char c : "MIME-Version: 1.0\nContent-Type: multipart/signed; protocol=\"application/x-pkcs7-signature\"; "
                  "micalg=\"sha-256\"; boundary=\"----B\"\n\nThis is an S/MIME signed message\n\n------B\n"
                  "Content-Type: text/plain\n\n" + document + "\n------B\nContent-Type: application/x-pkcs7-signature; "
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
        {"top-level file not found", kCheck, topLevelPath("nothing.xml"),
         {"{root}/config/nothing.xml: error: configuration file not found"}, 2},
        {"top-level file is a directory", kCheck, topLevelPath(""),
         {"{root}/config: error: configuration file is not a regular file (a directory)"}, 2},
        {"top-level file empty", kCheck, content(kTop, ""), {kTopName + ": error: configuration file is empty"}, 2},
        {"top-level file only blanks", kCheck, content(kTop, "  \n\n"), {kTopName + ": error: configuration file is empty"}, 2},
        {"top-level file malformed", kCheck,
         content(kTop, "<?xml version=\"1.0\"?>\n<CV_Configurations>\n  <Container>\n</CV_Configurations>\n"),
         {kTopName + ":3: error: configuration file: XML error: Error=XML_ERROR_MISMATCHED_ELEMENT"}, 2},
        {"top-level file without root", kCheck, content(kTop, "<?xml version=\"1.0\"?>\n<Configurations/>\n"),
         {kTopName + ":2: error: configuration file has no <CV_Configurations> root element (found <Configurations>)"}, 2},
        {"server container misspelt", kCheck, replace(kTop, "<Name>ZOziDaZodOduzuz</Name>", "<Name>ZoziDaZodOduzuz</Name>"),
         {kTopName + ":2: error: container \"ZOziDaZodOduzuz\" not found in the configuration file (containers: "
                 "\"Corvane\", \"ZoziDaZodOduzuz\")"},
         2},
        {"system container missing", kCheck, replace(kTop, "<Name>Corvane</Name>", "<Name>Corvan</Name>"),
         {kTopName + ":2: error: container \"Corvane\" not found"}, 2},
        {"System missing", kCheck, withoutSystemKey("System"),
         {kTopName + ":3: error: parameter <System> missing in container \"Corvane\""}, 2},
        {"Configuration empty", kCheck, system("Configuration", ""),
         {kTopName + ":4: error: parameter <Configuration> is empty in container \"Corvane\""}, 2},
        {"PRI missing", kCheck, withoutServerKey("PRI"),
         {kTopName + ":7: error: parameter <PRI> (process priority) missing in container \"ZOziDaZodOduzuz\""}, 2},
        {"PARAM_4 empty", kCheck, server("PARAM_4", ""),
         {kTopName + ":15: error: parameter <PARAM_4> (fault test enabled flag) is empty"}, 2},
        {"geoid model missing", kCheck, withoutServerKey("PARAM_5"),
         {kTopName + ":7: error: parameter <PARAM_5> (active geoid model) missing in container \"ZOziDaZodOduzuz\": no "
                 "geoid is loaded without it; name a data set of {root}/geoids, e.g. egm96-15"},
         2, {"default is"}},
        {"geoid data set absent", kCheck, server("PARAM_5", "egm2008-1"),
         {kTopName + ":16: error: geoid model \"egm2008-1\": data set {root}/geoids/egm2008-1.pgm not found"}, 2},
        // Values read but meaningless: warnings, the configuration starts.
        {"Debug yes", kCheck, server("Debug", "yes"),
         {kTopName + ":10: warning: <Debug> \"yes\" is not a boolean (true, false or a number): read as false",
          "(0 errors, 1 warning)"},
         0},
        {"PARAM_1 on", kCheck, server("PARAM_1", "on"), {kTopName + ":12: warning: <PARAM_1> \"on\" is not a boolean"}, 0},
        {"PARAM_2 ture", kCheck, server("PARAM_2", "ture"), {kTopName + ":13: warning: <PARAM_2> \"ture\" is not a boolean"}, 0},
        {"PARAM_3 with spaces", kCheck, server("PARAM_3", " true "),
         {kTopName + ":14: warning: <PARAM_3> \" true \" is not a boolean (true, false or a number): read as false"}, 0},
        {"booleans in any case or as numbers", kCheck,
         servers({{"Debug", "TRUE"}, {"PARAM_1", "1"}, {"PARAM_4", "0x0"}}), {kAll}, 0},
        {"navigator id not a number", kCheck, server("PARAM_6", "abc"),
         {kTopName + ":17: warning: <PARAM_6> navigator id \"abc\" is not a number: read as 0, which accepts any source"}, 0},
        {"navigator id 65536", kCheck, server("PARAM_7", "65536"),
         {kTopName + ":18: warning: <PARAM_7> navigator id \"65536\" is outside 0..255: read as 0, which accepts any source"},
         0},
        {"navigator id 300", kCheck, server("PARAM_6", "300"),
         {kTopName + ":17: warning: <PARAM_6> navigator id \"300\" is outside 0..255: read as 44"}, 0},
        {"element given twice", kCheck, replace(kTop, "<PRI>0</PRI>", "<PRI>0</PRI>\n    <PRI>50</PRI>"),
         {kTopName + ":20: warning: <PRI> given twice in container \"ZOziDaZodOduzuz\" (first at line 19); the first, "
                 "\"0\", is used"},
         0},
        {"container given twice", kCheck,
         replace(kTop, "</CV_Configurations>", "  <Container><Name>Corvane</Name></Container>\n</CV_Configurations>"),
         {kTopName + ":21: warning: container \"Corvane\" given again (first at line 3); this one is ignored"}, 0},
        {"misspelt key", kCheck, replace(kTop, "<Debug>false</Debug>", "<Debug>false</Debug><Debgu>true</Debgu>"),
         {kTopName + ":10: warning: unknown parameter <Debgu> in container \"ZOziDaZodOduzuz\" is ignored"}, 0},
        {"unknown system", kCheck, system("System", "Groundvehicle"),
         {kTopName + ":5: warning: <System> \"Groundvehicle\" is not a known system (GroundVehicle, Simulator, TestBench): "
                 "system id 0 is used"},
         0},
        // Dangerous values refused.
        {"PRI -1", kCheck, server("PRI", "-1"),
         {kTopName + ":19: error: <PRI> \"-1\" is outside the real-time priority range 1..99"}, 2},
        {"PRI 100", kCheck, server("PRI", "100"), {kTopName + ":19: error: <PRI> \"100\" is outside"}, 2},
        {"PRI not a number", kCheck, server("PRI", "high"),
         {kTopName + ":19: warning: <PRI> \"high\" is not a whole number: read as 0 (scheduling left alone)"}, 0},
        {"CPU beyond the machine", kCheck, server("CPU", "4096"),
         {kTopName + ":8: error: <CPU> \"4096\" is beyond this machine's processors 1.."}, 2},
        {"CPU -1", kCheck, server("CPU", "-1"), {kTopName + ":8: error: <CPU> \"-1\" is beyond"}, 2},
        // Files named by the top-level file.
        {"connections file not found", kCheck, server("Connections", "/nonexistent/connections.xml"),
         {kTopName + ":9: error: Connections file \"/nonexistent/connections.xml\" not found"}, 2},
        {"connections path names the devices file", kCheck,
         [](Setup& s) { server("Connections", s.root.devicesFile())(s); },
         {"devices.xml: error: connections file has no container \"FastRtps\" but FPGA register blocks: is this the "
          "devices file?"},
         2},
        {"devices path names a directory", kCheck, [](Setup& s) { server("IODevices", s.root.configDir())(s); },
         {kTopName + ":11: error: Devices file \"{root}/config\" is not a regular file (a directory)"}, 2},
        {"devices path names the connections file", kCheck,
         [](Setup& s) { server("IODevices", s.root.connectionsFile())(s); },
         {kConn + ": warning: devices file has a container \"FastRtps\": is this the connections file?",
          kConn + ":2: error: container \"Processor_Interface\" not found in the devices file"},
         2},
        // The connections file.
        {"transport in lower case", kCheck, transport("<UseTransport>UDP<", "<UseTransport>udp<"),
         {kConn + ":3: error: <UseTransport> \"udp\" is not a transport: use one of SHM, UDP, TCP_Client, TCP_Server"}, 2},
        {"transport with spaces", kCheck, transport("<UseTransport>UDP<", "<UseTransport> UDP <"),
         {kConn + ":3: error: <UseTransport> \" UDP \" is not a transport"}, 2},
        {"domain 233", kCheck, domain("233"),
         {kConn + ":3: error: <DomainId> \"233\" is outside 0..232"}, 2},
        {"domain 232", kCheck, domain("232"), {kAll}, 0},
        {"domain -1", kCheck, domain("-1"),
         {kConn + ":3: error: <DomainId> \"-1\" is outside 0..232"}, 2},
        {"history depth 0", kCheck, transport("<HistoryDepth>10<", "<HistoryDepth>0<"),
         {kConn + ":3: error: <HistoryDepth> \"0\" is outside 1..1000"}, 2},
        {"history depth 1000000", kCheck, transport("<HistoryDepth>10<", "<HistoryDepth>1000000<"),
         {kConn + ":3: error: <HistoryDepth> \"1000000\" is outside 1..1000"}, 2},
        {"TCP port 70000", kCheck, transport("<TcpPort>5100<", "<TcpPort>70000<"),
         {kConn + ":3: error: <TcpPort> \"70000\" is outside 0..65535"}, 2},
        {"TCP address not IPv4", kCheck,
         both(transport("<UseTransport>UDP<", "<UseTransport>TCP_Client<"),
              transport("<TcpAddress>127.0.0.1<", "<TcpAddress>localhost<")),
         {kConn + ":3: error: <TcpAddress> \"localhost\" is not an IPv4 address"}, 2},
        {"TCP port missing", kCheck, transport("<TcpPort>5100</TcpPort>", ""),
         {kConn + ":3: error: parameter <TcpPort> missing in container \"FastRtps\""}, 2},
        {"best effort yes", kCheck, transport("<UseBestEffort>false<", "<UseBestEffort>yes<"),
         {kConn + ":3: warning: <UseBestEffort> \"yes\" is not a boolean"}, 0},
        {"connection deleted", kCheck,
         [](Setup& s) { s.root.writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"}); },
         {kConn + ":2: error: container \"MaintenanceEvent\" not found in the connections file (containers: "
                  "\"FastRtps\", \"Command\", \"Response\", \"PositionVelocityAttitude\", \"EventLog\", \"UTCTime\")"},
         2},
        {"topic type of another connection", kCheck,
         transport("<TopicType>aspn2_msgs::idl::UTCTime<", "<TopicType>aspn2_msgs::idl::PositionVelocityAttitude<"),
         {kConn + ":8: warning: connection \"UTCTime\": <TopicType> \"aspn2_msgs::idl::PositionVelocityAttitude\" is not "
                  "the type the server uses, \"aspn2_msgs::idl::UTCTime\""},
         0},
        {"unknown type support", kCheck, transport("<PubSubType>EventLogPubSubType<", "<PubSubType>EventLogType<"),
         {kConn + ":7: error: connection \"EventLog\": <PubSubType> \"EventLogType\" is no known type support"}, 2},
        {"connections file malformed", kCheck, transport("</Transport>", "</Transprt>"),
         {kConn + ":3: error: connections file: XML error: "}, 2},
        // The domains of the DDS Security documents it names.
        {"security documents within 0..230", kCheck,
         securityDocuments(signedForm(kPortableGovernance), signedForm(kPortablePermissions)), {kAll}, 0},
        {"signed governance reaching domain 232", kCheck,
         securityDocuments(signedForm(governance("<id_range><min>0</min><max>232</max></id_range>")), kPortablePermissions),
         {"governance.smime:14: warning: the governance's domains 0..232 reach beyond 230: not accepted by some DDS "
          "implementations", "(0 errors, 1 warning)"},
         0},
        {"permissions naming domain 231 and an open range", kCheck,
         securityDocuments(kPortableGovernance, permissions("<id>5</id><id>231</id><id_range><min>7</min></id_range>")),
         {"permissions.smime:7: warning: the permissions document's domain 231 lies beyond 230",
          "permissions.smime:7: warning: the permissions document's domains 7.. reach beyond 230",
          "(0 errors, 2 warnings)"},
         0},
        {"domain outside the governance's ranges", kCheck,
         both(domain("148"), securityDocuments(governance("<id>7</id><id_range><min>0</min><max>100</max></id_range>"),
                                                kPortablePermissions)),
         {kConn + ":3: warning: <DomainId> \"148\" lies outside the governance's domain ranges (7, 0..100 in "
                  "{root}/config/governance.smime): DDS Security would refuse the participant"},
         0},
        {"domain at the governance's range end", kCheck,
         both(domain("100"), securityDocuments(governance("<id_range><min>0</min><max>100</max></id_range>"),
                                                kPortablePermissions)),
         {kAll}, 0},
        {"security documents missing", kCheck, [](Setup& s) {
             securityDocuments("", "")(s);
             ::unlink((s.root.configDir() + "/governance.smime").c_str());
         }, {kAll}, 0},
        // The devices file.
        {"block address not a number", kCheck, replace(kDevices, "0x43C20000", "0x43C2000O"),
         {"devices.xml:27: error: block \"TimeStamp_Interface\": <BaseAddress> \"0x43C2000O\" is not a number"}, 2},
        {"block size not a number", kCheck, replace(kDevices, "<Size>0x1000</Size>", "<Size>4k</Size>"),
         {"devices.xml:12: error: block \"Processor_Interface\": <Size> \"4k\" is not a number"}, 2},
        {"block missing", kCheck, replace(kDevices, "<Name>PpsSlave_Interface</Name>", "<Name>PpsSlave</Name>"),
         {"devices.xml:", ": error: container \"PpsSlave_Interface\" not found in the devices file"}, 2},
        // The VICTORY service files.
        {"position VCL file missing", kCheck, removeVictoryFile("Position_VCL_1_9.xml"),
         {"{root}/config/Position_VCL_1_9.xml: error: VICTORY position VCL file not found"}, 2},
        {"orientation configuration empty", kCheck, victoryFile("OrientationServiceConfig_1_9.xml", ""),
         {"{root}/config/OrientationServiceConfig_1_9.xml: error: VICTORY orientation service configuration file is "
          "empty"},
         2},
        {"direction of travel configuration malformed", kCheck, victoryFile("DoTServiceConfig_1_9.xml", "<a>\n<b>\n</a>\n"),
         {"{root}/config/DoTServiceConfig_1_9.xml:2: error: VICTORY direction of travel service configuration file: "
          "XML error: "},
         2},
        {"VCL file too long", kCheck, victoryFile("DoT_VCL_1_9.xml", "<vcl:VCL>" + std::string(70000, ' ') + "</vcl:VCL>"),
         {"{root}/config/DoT_VCL_1_9.xml: error: VICTORY direction of travel VCL file is 70019 bytes; at most 65535"}, 2},
        {"switched-off service is not checked", kCheck,
         both(removeVictoryFile("Position_VCL_1_9.xml"), server("PARAM_1", "false")), {kAll}, 0},
        {"every problem is reported", kCheck,
         both(servers({{"PRI", "-1"}, {"Debug", "on"}}), transport("<HistoryDepth>10<", "<HistoryDepth>0<")),
         {kTopName + ":10: warning: <Debug>", kTopName + ":19: error: <PRI>", kConn + ":3: error: <HistoryDepth>",
          "(2 errors, 1 warning)"},
         2},

        // Through a real start-up: the same line, then the failure line.
        {"start-up: top-level file not found", kStartUp, topLevelPath("nothing.xml"),
         {"ZOziDaZodOduzuz: Configure: {root}/config/nothing.xml: error: configuration file not found",
          "]:INVALID_CONFIG Configure() failed"},
         2},
        {"start-up: PRI -1", kStartUp, server("PRI", "-1"),
         {"ZOziDaZodOduzuz: Configure: {root}/config/" + kTopName + ":19: error: <PRI> \"-1\" is outside",
          "]:INVALID_CONFIG Configure() failed"},
         2, {"realtime process priority"}},
        {"start-up: geoid model missing", kStartUp, withoutServerKey("PARAM_5"),
         {": error: parameter <PARAM_5> (active geoid model) missing", "]:INVALID_CONFIG Configure() failed"}, 2},
        {"start-up: domain 233", kStartUp, domain("233"),
         {"ZOziDaZodOduzuz: Framework_Connect: {root}/config/" + kConn + ":3: error: <DomainId> \"233\" is outside",
          "]:INVALID_CONFIG Framework_Connect() failed"},
         2},
        {"start-up: transport in lower case", kStartUp, transport("<UseTransport>UDP<", "<UseTransport>udp<"),
         {": error: <UseTransport> \"udp\" is not a transport", "]:INVALID_CONFIG Framework_Connect() failed"}, 2,
         {"Error creating participant"}},
        {"start-up: connection deleted", kStartUp,
         [](Setup& s) { s.root.writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"}); },
         {": error: container \"MaintenanceEvent\" not found in the connections file",
          "]:INVALID_CONFIG Framework_Connect() failed"},
         2},
        {"start-up: block address not a number", kStartUp, replace(kDevices, "0x43C20000", "0x43C2000O"),
         {"devices.xml:27: error: block \"TimeStamp_Interface\": <BaseAddress> \"0x43C2000O\" is not a number",
          "]:INVALID_CONFIG Framework_Connect() failed"},
         2, {"FPGA clock rate mismatch"}},
        {"start-up: TCP port in use", kStartUp,
         [](Setup& s) {
             static ListeningSocket taken;
             transport("<UseTransport>UDP<", "<UseTransport>TCP_Server<")(s);
             transport("<TcpPort>5100<", "<TcpPort>" + std::to_string(taken.port()) + "<")(s);
             s.expectedExtra.push_back(": error: <TcpPort> " + std::to_string(taken.port()) +
                                       " is in use by another program");
         },
         {"]:INVALID_CONFIG Framework_Connect() failed"}, 2},
        {"start-up: VICTORY file missing", kStartUp, removeVictoryFile("Position_VCL_1_9.xml"),
         {"ZOziDaZodOduzuz: Framework_Connect: {root}/config/Position_VCL_1_9.xml: error: VICTORY position VCL file "
          "not found",
          "]:INVALID_CONFIG Framework_Connect() failed"},
         2},
    };
    return rows;
}

std::string withRoot(std::string text, const std::string& root) {
    for (std::size_t at; (at = text.find("{root}")) != std::string::npos;) text.replace(at, 6, root);
    return text;
}

// Index of the first line containing `part` (the line count when none).
std::size_t firstIndex(const LoggedProcess& p, const std::string& part) {
    const std::size_t total = p.countLines(part);
    std::size_t i = 0;
    while (i < p.lineCount() && p.countLines(part, i + 1) == total) ++i;
    return total == 0 ? p.lineCount() : i;
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

TEST(ConfigCheckTable, HasEnoughRows) { EXPECT_GE(table().size(), 40u); }

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
        top = std::regex_replace(top, std::regex("<PARAM_5>[^<]*</PARAM_5>"), "<PARAM_5>" + root.geoidName() + "</PARAM_5>");
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
        for (const char* part : {"ZOziDaZodOduzuz 415-2290-771C", "Fast DDS 2.", "Fast CDR 1.", "TinyXML-2 ",
                                 "GeographicLib "}) {
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
