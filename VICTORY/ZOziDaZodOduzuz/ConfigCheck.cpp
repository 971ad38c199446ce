#include "VICTORY/ZOziDaZodOduzuz/ConfigCheck.h"

#include "ASPN/AspnDeviceIds.h"
#include "FACE/CV_Config_Helpers.h"
#include "FACE/CV_Topic_Helpers.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "VICTORY/ZOziDaZodOduzuz/SecurityDomainCheck.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace ServerConfigCheck {

namespace {

using FACE::ConfigCheck::ConfigFile;
using FACE::ConfigCheck::fileProblem;
using FACE::ConfigCheck::isBooleanText;
using FACE::ConfigCheck::isWholeNumber;
using FACE::ConfigCheck::Parameter;
using FACE::ConfigCheck::quoted;
using CV_Config_Helpers::Details::Parse_Boolean;
using CV_Config_Helpers::Details::Parse_Signed;
using CV_Config_Helpers::Details::Parse_Unsigned;

constexpr const char* kSystemContainer = "Corvane";
constexpr const char* kTransportContainer = "FastRtps";
// Largest VICTORY file the services read (their buffer, NUL included).
constexpr long long kMaxVictoryFile = 65535;

std::string serverContainer() { return ASPN2::ServerIds::to_string(ASPN2::ServerIds::kZOziDaZodOduzuz); }

// A boolean that is neither true/false nor a number is read as false.
bool checkBoolean(ConfigFile& file, Parameter const& p, std::string const& key) {
    const bool value = Parse_Boolean(p.value);
    if (!p.value.empty() && !isBooleanText(p.value)) {
        file.warning(p.line, "<" + key + "> " + quoted(p.value) + " is not a boolean (true, false or a number): read as " +
                                 (value ? "true" : "false"));
    }
    return value;
}

// A number given as text that is no number (or has text after it) keeps
// today's reading; the warning says what it reads as.
bool startsWithMinus(std::string const& text);

void warnNotANumber(ConfigFile& file, Parameter const& p, std::string const& key, std::string const& meaning) {
    // A negative number is refused as such by the caller.
    if (!p.value.empty() && !isWholeNumber(p.value) && !startsWithMinus(p.value)) {
        file.warning(p.line, "<" + key + "> " + quoted(p.value) + " is not a whole number: read as " +
                                 std::to_string(static_cast<std::uint16_t>(Parse_Unsigned(p.value))) + meaning);
    }
}

bool startsWithMinus(std::string const& text) {
    const std::size_t at = text.find_first_not_of(" \t\r\n");
    return at != std::string::npos && text[at] == '-';
}

void checkPriority(ConfigFile& file, Parameter const& p) {
    if (p.value.empty()) return;
    warnNotANumber(file, p, "PRI", " (scheduling left alone)");
    const unsigned long long value = Parse_Unsigned(p.value);
    int low = ::sched_get_priority_min(SCHED_FIFO);
    int high = ::sched_get_priority_max(SCHED_FIFO);
    if (low < 0) low = 1;
    if (high < 0) high = 99;
    if (startsWithMinus(p.value) ||
        (value != 0 && (value < static_cast<unsigned long long>(low) || value > static_cast<unsigned long long>(high)))) {
        file.error(p.line, "<PRI> " + quoted(p.value) + " is outside the real-time priority range " +
                               std::to_string(low) + ".." + std::to_string(high) + " (0 leaves the scheduling alone)");
    }
}

void checkCpu(ConfigFile& file, Parameter const& p) {
    if (p.value.empty()) return;
    warnNotANumber(file, p, "CPU", " (affinity left alone)");
    const unsigned long long value = Parse_Unsigned(p.value);
    long cpus = ::sysconf(_SC_NPROCESSORS_CONF);
    if (cpus < 1) cpus = 1;
    if (startsWithMinus(p.value) || value > static_cast<unsigned long long>(cpus)) {
        file.error(p.line, "<CPU> " + quoted(p.value) + " is beyond this machine's processors 1.." +
                               std::to_string(cpus) + " (0 leaves the affinity alone)");
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
};
constexpr ExpectedConnection kConnections[] = {
    {"Command", "CommandResponsePubSubType"},   {"Response", "CommandResponsePubSubType"},
    {"PositionVelocityAttitude", "PositionVelocityAttitudePubSubType"},
    {"EventLog", "EventLogPubSubType"},         {"UTCTime", "UTCTimePubSubType"},
    {"MaintenanceEvent", "MaintenanceEventPubSubType"},
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
        file.error(0, "connections file has no container \"FastRtps\" but FPGA register blocks: is this the "
                      "devices file?");
        return out;
    }
    if (auto const* transport = file.require(kTransportContainer)) {
        file.warnUnknownParameters(transport, {"DomainId", "HistoryDepth", "UseBestEffort", "BackFillHistory",
                                               "UseTransport", "TcpAddress", "TcpPort"});
        const Parameter domain = file.require(transport, "DomainId");
        const Parameter depth = file.require(transport, "HistoryDepth");
        checkBoolean(file, file.require(transport, "UseBestEffort"), "UseBestEffort");
        checkBoolean(file, file.require(transport, "BackFillHistory"), "BackFillHistory");
        const Parameter kind = file.require(transport, "UseTransport");
        const Parameter address = file.require(transport, "TcpAddress");
        const Parameter port = file.require(transport, "TcpPort");

        if (!domain.value.empty()) {
            const unsigned long long id = Parse_Unsigned(domain.value);
            if (!isWholeNumber(domain.value) && !startsWithMinus(domain.value)) {
                file.warning(domain.line, "<DomainId> " + quoted(domain.value) + " is not a whole number: read as " +
                                              std::to_string(static_cast<std::uint32_t>(id)));
            }
            if (startsWithMinus(domain.value) || id > kMaxDomainId) {
                file.error(domain.line, "<DomainId> " + quoted(domain.value) + " is outside 0.." +
                                            std::to_string(kMaxDomainId) +
                                            " (higher domains need UDP ports above 65535)");
                out.refused = true;
            }
        }
        if (!depth.value.empty()) {
            const long long n = Parse_Signed(depth.value);
            if (n < 1 || n > kMaxHistoryDepth) {
                file.error(depth.line, "<HistoryDepth> " + quoted(depth.value) + " is outside 1.." +
                                           std::to_string(kMaxHistoryDepth) +
                                           " (samples kept per writer and reader; memory is reserved for each)");
                out.refused = true;
            }
        }
        out.transport = kind.value;
        const bool tcp = kind.value == "TCP_Client" || kind.value == "TCP_Server";
        if (!kind.value.empty() && kind.value != "SHM" && kind.value != "UDP" && !tcp) {
            file.error(kind.line, "<UseTransport> " + quoted(kind.value) +
                                      " is not a transport: use one of SHM, UDP, TCP_Client, TCP_Server (exact spelling)");
            out.refused = true;
        }
        if (tcp && !address.value.empty()) {
            in_addr parsed{};
            if (::inet_pton(AF_INET, address.value.c_str(), &parsed) != 1) {
                file.error(address.line, "<TcpAddress> " + quoted(address.value) +
                                             " is not an IPv4 address in dotted decimal (e.g. 127.0.0.1)");
                out.refused = true;
            }
        }
        if (!port.value.empty()) {
            out.tcpPort = Parse_Unsigned(port.value);
            out.tcpPortLine = port.line;
            if (!isWholeNumber(port.value) && !startsWithMinus(port.value)) {
                file.warning(port.line, "<TcpPort> " + quoted(port.value) + " is not a whole number: read as " +
                                            std::to_string(static_cast<std::uint16_t>(out.tcpPort)));
            }
            if (startsWithMinus(port.value) || out.tcpPort > 65535) {
                file.error(port.line, "<TcpPort> " + quoted(port.value) + " is outside 0..65535");
                out.refused = true;
            }
        }
    }

    for (auto const& expected : kConnections) {
        auto const* connection = file.require(expected.name);
        if (connection == nullptr) continue;
        file.warnUnknownParameters(connection, {"TopicType", "PubSubType"});
        const Parameter topicType = file.require(connection, "TopicType");
        const Parameter pubSubType = file.require(connection, "PubSubType");
        const std::string wantedType = registeredTypeName(expected.pubSubType);
        if (!pubSubType.value.empty()) {
            if (registeredTypeName(pubSubType.value).empty()) {
                file.error(pubSubType.line, "connection " + quoted(expected.name) + ": <PubSubType> " +
                                                quoted(pubSubType.value) + " is no known type support (the server "
                                                "expects " + expected.pubSubType + ")");
            } else if (pubSubType.value != expected.pubSubType) {
                file.warning(pubSubType.line, "connection " + quoted(expected.name) + ": <PubSubType> " +
                                                  quoted(pubSubType.value) + " is not the server's " +
                                                  expected.pubSubType);
            }
        }
        if (!topicType.value.empty() && topicType.value != wantedType) {
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
                file.error(p.line, "block " + quoted(name) + ": <" + key + "> " + quoted(p.value) +
                                       " is not a number (decimal, 0x hexadecimal or leading-zero octal)");
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
    for (auto const& s : services) {
        if (!s.on) continue;
        for (int vcl = 0; vcl < 2; ++vcl) {
            const std::string path = corvanePath(vcl != 0 ? s.vcl : s.config);
            const std::string what = std::string("VICTORY ") + s.name + (vcl != 0 ? " VCL file" : " service configuration file");
            const std::string problem = fileProblem(path);
            if (!problem.empty()) {
                diagnostics.error(path, 0, what + " " + problem);
                continue;
            }
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && st.st_size > kMaxVictoryFile) {
                diagnostics.error(path, 0, what + " is " + std::to_string(st.st_size) + " bytes; at most " +
                                               std::to_string(kMaxVictoryFile) + " are read");
                continue;
            }
            tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
            if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
                const char* message = doc.ErrorStr();
                diagnostics.error(path, doc.ErrorLineNum(),
                                  what + ": XML error: " + (message != nullptr ? message : "unknown"));
            } else if (vcl != 0 && doc.FirstChildElement("vcl:VCL") == nullptr) {
                diagnostics.warning(path, 0, what + " has no <vcl:VCL> root element: its update period cannot be changed");
            }
        }
    }
}

bool checkTcpPortFree(std::string const& connectionsFile, Transport const& transport, Diagnostics& diagnostics) {
    if (transport.transport != "TCP_Server" || transport.refused) return true;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(transport.tcpPort));
    const bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
    ::close(fd);
    if (taken) {
        diagnostics.error(connectionsFile, transport.tcpPortLine,
                          "<TcpPort> " + std::to_string(transport.tcpPort) +
                              " is in use by another program: the TCP server transport cannot listen on it");
    }
    return !taken;
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
