#include "VICTORY/ZOziDaZodOduzuz/ConfigCheck.h"

#include "ASPN/AspnDeviceIds.h"
#include "FACE/CV_Config_Helpers.h"
#include "FACE/CV_TSS.h"
#include "FACE/CV_Topic_Helpers.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "platform/Scheduling.h"
#include "platform/victory/victory.h"
#include "VICTORY/ZOziDaZodOduzuz/SecurityDomainCheck.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace ServerConfigCheck {

namespace {

using CV_Config_Helpers::Details::Parse_Boolean;
using CV_Config_Helpers::Details::Parse_Signed;
using CV_Config_Helpers::Details::Parse_Unsigned;
using FACE::ConfigDiagnostics::ConfigFile;
using FACE::ConfigDiagnostics::fileProblem;
using FACE::ConfigDiagnostics::isBooleanText;
using FACE::ConfigDiagnostics::isWholeNumber;
using FACE::ConfigDiagnostics::Parameter;
using FACE::ConfigDiagnostics::quoted;

constexpr const char* kSystemContainer = "Corvane";
constexpr const char* kTransportContainer = "FastRtps";
// Size of the buffer the services read a VICTORY file into (NUL included).
constexpr std::size_t kVictoryTextBuffer = 65536;

std::string victoryReadError(int code) {
    switch (code) {
        case VUTIL_ERR_OPEN:
            return "it cannot be opened";
        case VUTIL_ERR_TOO_LONG:
            return "longer than the " + std::to_string(kVictoryTextBuffer - 1) + " bytes read";
        case VUTIL_ERR_IO:
            return "a read error";
        case VUTIL_ERR_BINARY:
            return "it holds a NUL byte";
        default:
            return "error " + std::to_string(code);
    }
}

std::string serverContainer() { return ASPN2::ServerIds::to_string(ASPN2::ServerIds::kZOziDaZodOduzuz); }

// A boolean that is neither true/false nor a number is read as false.
bool checkBoolean(ConfigFile& file, Parameter const& p, std::string const& key) {
    const bool value = Parse_Boolean(p.value);
    if (!p.value.empty() && !isBooleanText(p.value)) {
        file.warning(p.line, "<" + key + "> " + quoted(p.value) +
                                 " is not a boolean (true, false or a number): read as " + (value ? "true" : "false"));
    }
    return value;
}

// The SCHED_FIFO priority range, as the priority setting asks for it.
std::pair<int, int> fifoRange() {
    int low = ::sched_get_priority_min(SCHED_FIFO);
    int high = ::sched_get_priority_max(SCHED_FIFO);
    return {low < 0 ? 1 : low, high < 0 ? 99 : high};
}

// PRI is read as a 16-bit number (and printed so) and passed on in 8 bits,
// which the priority setting keeps within the SCHED_FIFO range: every value
// gives a priority, so anything unusual is a warning.
void checkPriority(ConfigFile& file, Parameter const& p) {
    if (p.value.empty()) return;
    const unsigned long long full = Parse_Unsigned(p.value);
    const auto printed = static_cast<std::uint16_t>(full);
    const auto passed = static_cast<std::uint8_t>(printed);
    const auto [low, high] = fifoRange();
    const bool whole = isWholeNumber(p.value);
    if (printed == 0) {
        if (!whole || full != 0) {
            file.warning(p.line, "<PRI> " + quoted(p.value) + " reads as 0 (scheduling left alone)");
        }
        return;
    }
    if (whole && full == passed && passed >= low && passed <= high) return;
    const int applied = Scheduling::clampFifoPriority(passed, low, high);
    file.warning(p.line, "<PRI> " + quoted(p.value) + " reads as " + std::to_string(printed) + ", passed on as " +
                             std::to_string(passed) + ": real-time priority " + std::to_string(applied) +
                             " is applied (SCHED_FIFO range " + std::to_string(low) + ".." + std::to_string(high) +
                             ")");
}

// CPU is read and printed as PRI is and passed on in 8 bits; a processor
// that is not there makes setting the affinity fail, which ends start-up.
void checkCpu(ConfigFile& file, Parameter const& p) {
    if (p.value.empty()) return;
    const unsigned long long full = Parse_Unsigned(p.value);
    const auto printed = static_cast<std::uint16_t>(full);
    const auto passed = static_cast<std::uint8_t>(printed);
    long cpus = ::sysconf(_SC_NPROCESSORS_CONF);
    if (cpus < 1) cpus = 1;
    const bool whole = isWholeNumber(p.value);
    if (printed == 0) {
        if (!whole || full != 0) {
            file.warning(p.line, "<CPU> " + quoted(p.value) + " reads as 0 (affinity left alone)");
        }
        return;
    }
    const std::string reading = "<CPU> " + quoted(p.value) + " reads as " + std::to_string(printed) +
                                ", passed on as " + std::to_string(passed);
    if (passed == 0 || passed > cpus) {
        file.error(p.line,
                   reading + ": this machine has processors 1.." + std::to_string(cpus) +
                       ", so setting the affinity fails and start-up ends (\"FAILED to set ... cpu affinity to " +
                       std::to_string(printed) + "\")");
    } else if (!whole || full != passed) {
        file.warning(p.line, reading + ": the process is pinned to processor " + std::to_string(passed));
    }
}

void checkNavigatorId(ConfigFile& file, Parameter const& p, std::string const& key) {
    if (p.value.empty()) return;
    const auto id = static_cast<std::uint8_t>(static_cast<std::uint16_t>(Parse_Unsigned(p.value)));
    if (!isWholeNumber(p.value)) {
        file.warning(p.line, "<" + key + "> navigator id " + quoted(p.value) + " is not a number: read as " +
                                 std::to_string(id) + (id == 0 ? ", which accepts any source" : ""));
    } else if (Parse_Unsigned(p.value) > 255) {
        file.warning(p.line, "<" + key + "> navigator id " + quoted(p.value) + " is outside 0..255: read as " +
                                 std::to_string(id) + (id == 0 ? ", which accepts any source" : ""));
    }
}

// A file that another file names: missing is reported against the naming
// line, so that the message says where the name came from.
bool namedFileUsable(std::string const& path, std::string const& what, std::string const& namingFile, int line,
                     Diagnostics& diagnostics) {
    const std::string problem = fileProblem(path);
    if (problem.empty()) return true;
    diagnostics.error(namingFile, line, what + " " + quoted(path) + " " + problem);
    return false;
}

// The server's connections: name, type support and its registered type.
struct ExpectedConnection {
    const char* name;
    const char* pubSubType;
    bool publishes;  // the server publishes on it (else it subscribes)
};
constexpr ExpectedConnection kConnections[] = {
    {"Command", "CommandResponsePubSubType", false},
    {"Response", "CommandResponsePubSubType", true},
    {"PositionVelocityAttitude", "PositionVelocityAttitudePubSubType", false},
    {"EventLog", "EventLogPubSubType", true},
    {"UTCTime", "UTCTimePubSubType", false},
    {"MaintenanceEvent", "MaintenanceEventPubSubType", true},
};

// Registered DDS type name of a type support ("" for an unknown one).
std::string registeredTypeName(std::string const& pubSubType) {
    std::unique_ptr<eprosima::fastdds::dds::TopicDataType> type(FACE::TSS::Topics::GetPubSubType(pubSubType));
    return type ? std::string(type->getName()) : std::string();
}

bool looksLikeDevicesFile(ConfigFile const& file) {
    for (auto const* c : file.containers()) {
        auto const* params = c->FirstChildElement("Parameters");
        if (params != nullptr && params->FirstChildElement("BaseAddress") != nullptr) return true;
    }
    return false;
}

bool looksLikeConnectionsFile(ConfigFile const& file) { return file.find(kTransportContainer) != nullptr; }

// DomainId: a domain above 232 is refused (see the header).
bool checkDomain(ConfigFile& file, Parameter const& p) {
    if (p.value.empty()) return false;
    const unsigned long long full = Parse_Unsigned(p.value);
    const auto id = static_cast<std::uint32_t>(full);
    if (id > kMaxDomainId) {
        file.error(p.line, "<DomainId> " + quoted(p.value) + " reads as domain " + std::to_string(id) + ", above " +
                               std::to_string(kMaxDomainId) +
                               ": Fast DDS would end the process from inside the library (the domain's ports lie "
                               "above 65535), so the server refuses it");
        return true;
    }
    if (!isWholeNumber(p.value) || full != id) {
        file.warning(p.line, "<DomainId> " + quoted(p.value) + " reads as domain " + std::to_string(id));
    }
    return false;
}

// HistoryDepth: below 1 Fast DDS refuses the QoS; beyond the machine's
// memory the server refuses it (see the header).
bool checkHistoryDepth(ConfigFile& file, Parameter const& p) {
    if (p.value.empty()) return false;
    const long long full = Parse_Signed(p.value);
    const auto depth = static_cast<std::int32_t>(full);
    const bool exact = isWholeNumber(p.value) && full == depth;
    const std::string reading =
        "<HistoryDepth> " + quoted(p.value) + (exact ? "" : " reads as " + std::to_string(depth));
    if (depth < 1) {
        file.error(p.line, reading +
                               ", below 1: Fast DDS refuses the QoS of every publisher and subscriber "
                               "(\"invalid publisher QOS for topic\"), so start-up fails");
        return false;
    }
    const long long megabytes = (static_cast<long long>(depth) * kHistoryBytesPerSample) >> 20;
    if (depth > historyDepthBound()) {
        file.error(p.line, reading + ": the histories would reserve about " + std::to_string(megabytes) +
                               " MiB, more than this machine's memory, so the server refuses it (at most " +
                               std::to_string(historyDepthBound()) + " here)");
        return true;
    }
    if (depth > kLargeHistoryDepth) {
        file.warning(p.line, reading + (exact ? ":" : ";") + " the histories reserve about " +
                                 std::to_string(megabytes) + " MiB (samples kept per writer and reader)");
    } else if (!exact) {
        file.warning(p.line, reading);
    }
    return false;
}

// UseTransport: any other spelling configures no transport, and Fast DDS
// then refuses the participant.
void checkTransportKind(ConfigFile& file, Parameter const& p) {
    if (p.value.empty() || p.value == "SHM" || p.value == "UDP" || p.value == "TCP_Client" || p.value == "TCP_Server") {
        return;
    }
    file.error(p.line, "<UseTransport> " + quoted(p.value) +
                           " is none of SHM, UDP, TCP_Client, TCP_Server (exact spelling): no transport is configured "
                           "and Fast DDS refuses a participant without one (\"Error creating participant\"), so "
                           "start-up fails");
}

// TcpAddress of a TCP transport: taken as it is, whatever it holds.
void checkTcpAddress(ConfigFile& file, Parameter const& p, std::string const& kind) {
    in_addr parsed{};
    if (p.value.empty() || ::inet_pton(AF_INET, p.value.c_str(), &parsed) == 1) return;
    if (kind == "TCP_Client") {
        file.warning(p.line, "<TcpAddress> " + quoted(p.value) +
                                 " is not an IPv4 address in dotted decimal: the TCP client's peer is what Fast DDS "
                                 "reads of it (0.0.0.0 for a host name, which is not looked up)");
    } else {
        const std::array<std::uint8_t, 4> wan = FACE::TSS::Details::ParseWanAddress(p.value);
        file.warning(p.line, "<TcpAddress> " + quoted(p.value) +
                                 " is not an IPv4 address in dotted decimal: the TCP server announces the WAN "
                                 "address " +
                                 std::to_string(wan[0]) + "." + std::to_string(wan[1]) + "." + std::to_string(wan[2]) +
                                 "." + std::to_string(wan[3]));
    }
}

// The opt-in participant settings: an unusable value is ignored.
void checkParticipantOptions(ConfigFile& file, tinyxml2::XMLElement const* transport, std::string const& kind) {
    namespace D = FACE::TSS::Details;
    const Parameter period = file.parameter(transport, D::kAnnouncementPeriodKey);
    if (period.present && !D::ParseAnnouncementPeriod(period.value)) {
        file.warning(period.line, std::string("<") + D::kAnnouncementPeriodKey + "> " + quoted(period.value) +
                                      " is not a period in seconds above 0 and below the 5 s lease: ignored (Fast "
                                      "DDS's default applies)");
    }
    for (const char* key : {D::kShmDiscoveryOverUdpKey, D::kFreshParticipantIdKey}) {
        const Parameter p = file.parameter(transport, key);
        if (!p.present) continue;
        const bool on = checkBoolean(file, p, key);
        if (on && kind != "SHM") {
            file.warning(p.line,
                         std::string("<") + key + "> applies to the SHM transport only: ignored with " + quoted(kind));
        }
    }
}

}  // namespace

TopLevel checkTopLevel(std::string const& path, Diagnostics& diagnostics) {
    TopLevel out;
    ConfigFile file(path, "configuration file", diagnostics);
    if (!file.ok()) return out;

    if (auto const* system = file.require(kSystemContainer)) {
        const Parameter name = file.require(system, "System");
        file.require(system, "Configuration");
        file.warnUnknownParameters(system, {"System", "Configuration"});
        if (!name.value.empty() && ASPN2::SystemIds::from_string(name.value.c_str()) == 0) {
            file.warning(name.line, "<System> " + quoted(name.value) + " is not a known system (" +
                                        ASPN2::SystemIds::GroundVehicle_name + ", " + ASPN2::SystemIds::Simulator_name +
                                        ", " + ASPN2::SystemIds::TestBench_name + "): system id 0 is used");
        }
    }

    auto const* server = file.require(serverContainer());
    if (server == nullptr) return out;

    file.warnUnknownParameters(server, {"Connections", "IODevices", "Debug", "PRI", "CPU", "PARAM_1", "PARAM_2",
                                        "PARAM_3", "PARAM_4", "PARAM_5", "PARAM_6", "PARAM_7"});
    const Parameter connections = file.require(server, "Connections", "Connections file");
    out.connectionsFile = connections.value;
    out.connectionsLine = connections.line;
    const Parameter devices = file.require(server, "IODevices", "Devices file");
    out.devicesFile = devices.value;
    out.devicesLine = devices.line;
    checkBoolean(file, file.require(server, "Debug", "debug flag"), "Debug");
    checkPriority(file, file.require(server, "PRI", "process priority"));
    checkCpu(file, file.require(server, "CPU", "CPU value"));
    const Parameter p1 = file.require(server, "PARAM_1", "process position flag");
    const Parameter p2 = file.require(server, "PARAM_2", "process orientation flag");
    const Parameter p3 = file.require(server, "PARAM_3", "process direction of travel flag");
    out.position = p1.value.empty() || checkBoolean(file, p1, "PARAM_1");
    out.orientation = p2.value.empty() || checkBoolean(file, p2, "PARAM_2");
    out.directionOfTravel = p3.value.empty() || checkBoolean(file, p3, "PARAM_3");
    checkBoolean(file, file.require(server, "PARAM_4", "fault test enabled flag"), "PARAM_4");
    const Parameter geoid = file.parameter(server, "PARAM_5");
    if (geoid.value.empty()) {
        // No default is applied: without a model the server cannot start.
        file.error(geoid.line, std::string("parameter <PARAM_5> (active geoid model) ") +
                                   (geoid.present ? "is empty" : "missing") + " in container " +
                                   quoted(serverContainer()) + ": no geoid is loaded without it; name a data set of " +
                                   corvanePath(GeoidFilePath) + ", e.g. egm96-15");
    }
    out.geoidModel = geoid.value;
    out.geoidLine = geoid.line;
    checkNavigatorId(file, file.require(server, "PARAM_6", "UTC source fusion navigator server ID"), "PARAM_6");
    checkNavigatorId(file, file.require(server, "PARAM_7", "PVA fusion navigator server ID"), "PARAM_7");
    return out;
}

void checkGeoid(std::string const& topLevelFile, int line, std::string const& model, Diagnostics& diagnostics) {
    if (model.empty()) return;
    const std::string file = std::string(corvanePath(GeoidFilePath)) + "/" + model + ".pgm";
    const std::string problem = fileProblem(file);
    if (!problem.empty()) {
        diagnostics.error(topLevelFile, line, "geoid model " + quoted(model) + ": data set " + file + " " + problem);
    }
}

Transport checkConnections(std::string const& path, Diagnostics& diagnostics) {
    Transport out;
    ConfigFile file(path, "connections file", diagnostics);
    if (!file.ok()) return out;

    if (file.find(kTransportContainer) == nullptr && looksLikeDevicesFile(file)) {
        file.error(0,
                   "connections file has no container \"FastRtps\" but FPGA register blocks: is this the "
                   "devices file?");
        return out;
    }
    if (auto const* transport = file.require(kTransportContainer)) {
        file.warnUnknownParameters(
            transport, {"DomainId", "HistoryDepth", "UseBestEffort", "BackFillHistory", "UseTransport", "TcpAddress",
                        "TcpPort", FACE::TSS::Details::kAnnouncementPeriodKey,
                        FACE::TSS::Details::kShmDiscoveryOverUdpKey, FACE::TSS::Details::kFreshParticipantIdKey});
        const Parameter domain = file.require(transport, "DomainId");
        const Parameter depth = file.require(transport, "HistoryDepth");
        checkBoolean(file, file.require(transport, "UseBestEffort"), "UseBestEffort");
        checkBoolean(file, file.require(transport, "BackFillHistory"), "BackFillHistory");
        const Parameter kind = file.require(transport, "UseTransport");
        const Parameter address = file.require(transport, "TcpAddress");
        const Parameter port = file.require(transport, "TcpPort");
        out.refused = checkDomain(file, domain) || out.refused;
        out.refused = checkHistoryDepth(file, depth) || out.refused;
        out.transport = kind.value;
        checkTransportKind(file, kind);
        const bool tcp = kind.value == "TCP_Client" || kind.value == "TCP_Server";
        if (tcp) checkTcpAddress(file, address, kind.value);
        if (!port.value.empty()) {
            const unsigned long long full = Parse_Unsigned(port.value);
            out.tcpPort = static_cast<std::uint16_t>(full);
            out.tcpPortLine = port.line;
            if (!isWholeNumber(port.value) || full > 65535) {
                file.warning(port.line, "<TcpPort> " + quoted(port.value) +
                                            " is not a port number 0..65535: stored as " + std::to_string(out.tcpPort) +
                                            " (its low 16 bits)");
            }
        }
        checkParticipantOptions(file, transport, kind.value);
    }

    // Every connection's type support registers its type name with the
    // participant before any publisher or subscriber is made; a topic type
    // must be one of those names.
    std::vector<std::string> registered;
    for (auto const& expected : kConnections) {
        if (auto const* connection = file.find(expected.name)) {
            const std::string name = registeredTypeName(file.parameter(connection, "PubSubType").value);
            if (!name.empty()) registered.push_back(name);
        }
    }
    for (auto const& expected : kConnections) {
        auto const* connection = file.require(expected.name);
        if (connection == nullptr) continue;
        file.warnUnknownParameters(connection, {"TopicType", "PubSubType"});
        const Parameter topicType = file.require(connection, "TopicType");
        const Parameter pubSubType = file.require(connection, "PubSubType");
        const std::string wantedType = registeredTypeName(expected.pubSubType);
        const std::string entity = expected.publishes ? "publisher" : "subscriber";
        if (!pubSubType.value.empty()) {
            if (registeredTypeName(pubSubType.value).empty()) {
                file.error(pubSubType.line, "connection " + quoted(expected.name) + ": <PubSubType> " +
                                                quoted(pubSubType.value) +
                                                " is no known type support (the server "
                                                "expects " +
                                                expected.pubSubType +
                                                "): the connection is not made, "
                                                "so start-up fails");
            } else if (pubSubType.value != expected.pubSubType) {
                file.warning(pubSubType.line, "connection " + quoted(expected.name) + ": <PubSubType> " +
                                                  quoted(pubSubType.value) + " is not the server's " +
                                                  expected.pubSubType);
            }
        }
        if (topicType.value.empty() || topicType.value == wantedType) continue;
        if (std::find(registered.begin(), registered.end(), topicType.value) == registered.end()) {
            file.error(topicType.line,
                       "connection " + quoted(expected.name) + ": <TopicType> " + quoted(topicType.value) +
                           " is no type the connections register (the "
                           "server's is " +
                           quoted(wantedType) + "): Fast DDS refuses its " + entity +
                           ", so start-up fails (\"error creating " + entity + " for topic: " + expected.name + "\")");
        } else {
            file.warning(topicType.line, "connection " + quoted(expected.name) + ": <TopicType> " +
                                             quoted(topicType.value) + " is not the type the server uses, " +
                                             quoted(wantedType) + ": it will hear or reach no one");
        }
    }
    return out;
}

void checkDevices(std::string const& path, Diagnostics& diagnostics) {
    ConfigFile file(path, "devices file", diagnostics);
    if (!file.ok()) return;
    if (looksLikeConnectionsFile(file)) {
        // A hint only: the blocks it lacks are the errors.
        file.warning(0, "devices file has a container \"FastRtps\": is this the connections file?");
    }
    for (const char* block : {"Processor_Interface", "Peripheral_Interface", "TimeStamp_Interface",
                              "PpsSlave_Interface", "PtpClock_Interface"}) {
        file.require(block);
    }
    for (auto const* block : file.containers()) {
        const std::string name = ConfigFile::nameOf(block);
        file.warnUnknownParameters(block, {"BaseAddress", "Size"});
        for (const char* key : {"BaseAddress", "Size"}) {
            const Parameter p = file.require(block, key);
            if (!p.value.empty() && !isWholeNumber(p.value)) {
                // Read as the number the text starts with (0 when none).
                char hex[24];
                std::snprintf(hex, sizeof hex, "0x%llx",
                              static_cast<unsigned long long>(static_cast<std::uint32_t>(Parse_Unsigned(p.value))));
                file.warning(p.line, "block " + quoted(name) + ": <" + key + "> " + quoted(p.value) +
                                         " is not a whole number (decimal, 0x hexadecimal or leading-zero octal): read "
                                         "as " +
                                         hex + ", the number it starts with");
            }
        }
    }
}

void checkVictoryFiles(bool position, bool orientation, bool directionOfTravel, Diagnostics& diagnostics) {
    struct Service {
        bool on;
        const char* name;
        const char* config;
        const char* vcl;
    };
    const Service services[] = {
        {position, "position", positionConfigFileName, positionVclFileName},
        {orientation, "orientation", orientationConfigFileName, orientationVclFileName},
        {directionOfTravel, "direction of travel", DOTconfigFileName, DOTvclFileName},
    };
    std::vector<char> buffer(kVictoryTextBuffer, '\0');
    for (auto const& s : services) {
        if (!s.on) continue;
        for (int vcl = 0; vcl < 2; ++vcl) {
            const std::string path = corvanePath(vcl != 0 ? s.vcl : s.config);
            const std::string what =
                std::string("VICTORY ") + s.name + (vcl != 0 ? " VCL file" : " service configuration file");
            // The service reads it with the library's own reading, into a
            // buffer of that size; a failed read keeps the service down.
            const int read = vutilReadStringFromFile(path.c_str(), buffer.size(), buffer.data());
            if (read != VUTIL_OK) {
                const std::string problem = fileProblem(path, true);
                diagnostics.error(path, 0,
                                  what + " " + (problem.empty() ? "cannot be read" : problem) + " (" +
                                      victoryReadError(read) + "): \"Error reading VICTORY " + s.name +
                                      " configuration files.\", the service does not start and start-up "
                                      "fails");
                continue;
            }
            // Beyond that the text goes to the library as it is; whether it
            // takes it is the library's to say.
            const std::string handed =
                " (the VICTORY library is given the text as it is and may refuse it; the "
                "service then does not start)";
            if (buffer[0] == '\0') {
                diagnostics.warning(path, 0, what + " is empty" + handed);
                continue;
            }
            tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
            if (doc.Parse(buffer.data()) != tinyxml2::XML_SUCCESS) {
                const char* message = doc.ErrorStr();
                diagnostics.warning(path, doc.ErrorLineNum(),
                                    what + ": XML error: " + (message != nullptr ? message : "unknown") + handed);
            } else if (vcl != 0 && doc.FirstChildElement("vcl:VCL") == nullptr) {
                diagnostics.warning(path, 0,
                                    what + " has no <vcl:VCL> root element: its update period cannot be changed");
            }
        }
    }
}

void checkTcpPortFree(std::string const& connectionsFile, Transport const& transport, Diagnostics& diagnostics) {
    if (transport.transport != "TCP_Server" || transport.refused) return;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(transport.tcpPort);
    const bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
    ::close(fd);
    if (taken) {
        diagnostics.warning(connectionsFile, transport.tcpPortLine,
                            "<TcpPort> " + std::to_string(transport.tcpPort) +
                                " is in use by another program: Fast DDS makes the participant without listening "
                                "on it, so no TCP client reaches the server");
    }
}

long long historyDepthBound() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0x7FFFFFFF;
    const long long bound = static_cast<long long>(pages) / kHistoryBytesPerSample * pageSize;
    return std::min(std::max(bound, kLargeHistoryDepth), 0x7FFFFFFFLL);
}

Diagnostics checkAll(std::string const& topLevelFile) {
    Diagnostics diagnostics;
    const TopLevel top = checkTopLevel(topLevelFile, diagnostics);
    checkGeoid(topLevelFile, top.geoidLine, top.geoidModel, diagnostics);
    if (!top.connectionsFile.empty() &&
        namedFileUsable(top.connectionsFile, "Connections file", topLevelFile, top.connectionsLine, diagnostics)) {
        checkConnections(top.connectionsFile, diagnostics);
        checkSecurityDomains(top.connectionsFile, diagnostics);
    }
    if (!top.devicesFile.empty() &&
        namedFileUsable(top.devicesFile, "Devices file", topLevelFile, top.devicesLine, diagnostics)) {
        checkDevices(top.devicesFile, diagnostics);
    }
    checkVictoryFiles(top.position, top.orientation, top.directionOfTravel, diagnostics);
    return diagnostics;
}

int runCheckConfig(std::string const& topLevelFile, std::ostream& out) {
    const Diagnostics diagnostics = checkAll(topLevelFile);
    diagnostics.print(out);
    const std::size_t errors = diagnostics.errorCount();
    const std::size_t warnings = diagnostics.warningCount();
    out << topLevelFile << ": " << (errors == 0 ? "the configuration would start" : "the configuration would NOT start")
        << " (" << errors << (errors == 1 ? " error, " : " errors, ") << warnings
        << (warnings == 1 ? " warning)" : " warnings)") << std::endl;
    return errors == 0 ? 0 : 2;
}

}  // namespace ServerConfigCheck
