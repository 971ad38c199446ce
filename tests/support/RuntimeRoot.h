// A runtime root for the server in a temporary directory: everything the
// server reads under CORVANE_ROOT and through CORVANE_DEVMEM, so that a
// server process (or a server object in the test process) runs without
// /opt or the real memory device. Removed with its contents at the end.
//   <root>/config/  the VICTORY samples of config/victory (each service with
//                   DataBus and Management ports of its own), connections.xml
//                   (the server's six connections on the Options' domain),
//                   devices.xml, ZOziDaZodOduzuz.xml (defaultTopLevel())
//   <root>/geoids/<geoidName>.pgm, <root>/devmem (filled by the simulator)
// The ports come from the rig (scripts/rig ports): leased to this process
// until the root goes away, from a range that neither the kernel nor a DDS
// participant binds on its own, so no other test takes one before the
// server binds it.
#ifndef TESTS_SUPPORT_RUNTIMEROOT_H
#define TESTS_SUPPORT_RUNTIMEROOT_H

#include "tests/support/ChildProcess.h"
#include "tests/support/SyntheticGeoid.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpTestSocket.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace corvane_test {

class RuntimeRoot {
public:
    struct Options {
        std::string sourceDir;                 // repository root; required
        int domainId = 0;                      // DDS domain of connections.xml
        std::string fpgaSim;                   // fpga-sim executable; empty: no memory file
        std::vector<std::string> fpgaSimArgs;  // extra arguments, e.g. {"--clock-rate", "58982401"}
        SyntheticGeoid geoid = SyntheticGeoid::constant(20.0);
        std::string geoidName = "synthetic";
        std::array<std::uint16_t, 3> dataBusPorts{0, 0, 0};  // position, orientation, direction; 0: a free one
        std::string prefix = "corvane-root";
    };

    // Settings of the top-level file; a container left out, or a key erased,
    // is missing from the file.
    struct TopLevel {
        bool systemContainer = true;
        bool serverContainer = true;
        std::map<std::string, std::string> system;
        std::map<std::string, std::string> server;
    };

    // Throws std::runtime_error when a file cannot be written or the
    // simulator does not fill the memory file.
    explicit RuntimeRoot(Options options) : m_options(std::move(options)), m_dir(m_options.prefix) {
        makeDirectory(configDir());
        makeDirectory(geoidDir());
        int wanted = 3;
        for (std::uint16_t port : m_options.dataBusPorts) wanted += port == 0 ? 1 : 0;
        m_leased = leasePorts(wanted);
        std::size_t next = 0;
        for (int i = 0; i < 3; ++i) m_managementPorts[i] = m_leased[next++];
        for (int i = 0; i < 3; ++i) {
            m_dataBusPorts[i] = m_options.dataBusPorts[i] != 0 ? m_options.dataBusPorts[i] : m_leased[next++];
        }
        writeVictoryFiles();
        writeFile(devicesFile(), readFile(m_options.sourceDir + "/config/devices.xml"));
        writeConnections();
        writeTopLevel(defaultTopLevel());
        m_options.geoid.write(geoidDir(), m_options.geoidName);
        if (!m_options.fpgaSim.empty()) fillDevmem();
    }

    ~RuntimeRoot() {
        std::vector<std::string> argv{rig(), "release"};
        for (std::uint16_t port : m_leased) argv.push_back(std::to_string(port));
        try {
            ChildProcess release(argv);
            release.wait(std::chrono::seconds(20));
        } catch (const std::exception&) {
            // The leases end with this process anyway.
        }
    }

    RuntimeRoot(const RuntimeRoot&) = delete;
    RuntimeRoot& operator=(const RuntimeRoot&) = delete;

    const std::string& path() const { return m_dir.path(); }
    std::string configDir() const { return path() + "/config"; }
    std::string geoidDir() const { return path() + "/geoids"; }
    std::string devmemFile() const { return path() + "/devmem"; }
    std::string connectionsFile() const { return configDir() + "/connections.xml"; }
    std::string devicesFile() const { return configDir() + "/devices.xml"; }
    std::string topLevelFile() const { return configDir() + "/ZOziDaZodOduzuz.xml"; }
    const std::string& geoidName() const { return m_options.geoidName; }
    const SyntheticGeoid& geoid() const { return m_options.geoid; }
    std::uint16_t managementPort(int service) const { return m_managementPorts.at(service); }

    // For ChildProcess, or set in this process (read once by the server code).
    std::vector<std::string> environment() const {
        return {"CORVANE_ROOT=" + path(), "CORVANE_DEVMEM=" + devmemFile()};
    }
    void exportEnvironment() const {
        ::setenv("CORVANE_ROOT", path().c_str(), 1);
        ::setenv("CORVANE_DEVMEM", devmemFile().c_str(), 1);
    }

    void setDomainId(int domainId) {
        m_options.domainId = domainId;
        writeConnections();
    }

    // connections.xml with `connections` only, each of the type of its name.
    void writeConnections(const std::vector<std::string>& connections = {"Command", "Response",
                                                                         "PositionVelocityAttitude", "EventLog",
                                                                         "UTCTime", "MaintenanceEvent"}) const {
        std::ostringstream x;
        x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CV_Configurations>\n  <Transport><Name>FastRtps</Name>"
          << "<Parameters><DomainId>" << m_options.domainId << "</DomainId><HistoryDepth>10</HistoryDepth>"
          << "<UseBestEffort>false</UseBestEffort><BackFillHistory>false</BackFillHistory>"
          << "<UseTransport>UDP</UseTransport><TcpAddress>127.0.0.1</TcpAddress><TcpPort>5100</TcpPort>"
          << "</Parameters></Transport>\n";
        for (const std::string& name : connections) {
            const std::string type = name == "Command" || name == "Response" ? "CommandResponse" : name;
            x << "  <Connection><Name>" << name << "</Name><Parameters><TopicType>aspn2_msgs::idl::" << type
              << "</TopicType><PubSubType>" << type << "PubSubType</PubSubType></Parameters></Connection>\n";
        }
        writeFile(connectionsFile(), x.str() + "</CV_Configurations>\n");
    }

    // System "GroundVehicle", the root's files, no debug output, priority or
    // affinity, every service on, no fault test, the root's geoid,
    // navigator 96 as source of both streams.
    TopLevel defaultTopLevel() const {
        TopLevel t;
        t.system = {{"System", "GroundVehicle"}, {"Configuration", "Test"}};
        t.server = {{"Connections", connectionsFile()},
                    {"IODevices", devicesFile()},
                    {"Debug", "false"},
                    {"PRI", "0"},
                    {"CPU", "0"},
                    {"PARAM_1", "true"},
                    {"PARAM_2", "true"},
                    {"PARAM_3", "true"},
                    {"PARAM_4", "false"},
                    {"PARAM_5", m_options.geoidName},
                    {"PARAM_6", "96"},
                    {"PARAM_7", "96"}};
        return t;
    }

    // Writes `settings` as the top-level file (or as `file` when given).
    void writeTopLevel(const TopLevel& settings, const std::string& file = "") const {
        std::ostringstream x;
        x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CV_Configurations>\n";
        auto container = [&x](const std::string& name, const std::map<std::string, std::string>& keys) {
            x << "  <Container><Name>" << name << "</Name><Parameters>\n";
            for (const auto& [key, value] : keys) x << "    <" << key << ">" << value << "</" << key << ">\n";
            x << "  </Parameters></Container>\n";
        };
        if (settings.systemContainer) container("Corvane", settings.system);
        if (settings.serverContainer) container("ZOziDaZodOduzuz", settings.server);
        writeFile(file.empty() ? topLevelFile() : file, x.str() + "</CV_Configurations>\n");
    }

    // (Re)writes the three services' configuration and VCL files.
    void writeVictoryFiles() const {
        static const char* const kNames[3][2] = {{"PositionServiceConfig_1_9.xml", "Position_VCL_1_9.xml"},
                                                 {"OrientationServiceConfig_1_9.xml", "Orientation_VCL_1_9.xml"},
                                                 {"DoTServiceConfig_1_9.xml", "DoT_VCL_1_9.xml"}};
        const std::string samples = m_options.sourceDir + "/config/victory/";
        for (int i = 0; i < 3; ++i) {
            std::string config = readFile(samples + kNames[i][0]);
            config = withPort(withPort(config, "DataBus", m_dataBusPorts[i]), "Management", m_managementPorts[i]);
            writeFile(configDir() + "/" + kNames[i][0], config);
            writeFile(configDir() + "/" + kNames[i][1], readFile(samples + kNames[i][1]));
        }
    }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error("RuntimeRoot: cannot read " + path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void writeFile(const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) throw std::runtime_error("RuntimeRoot: cannot write " + path);
    }

private:
    std::string rig() const { return m_options.sourceDir + "/scripts/rig"; }

    // `count` ports leased to this process by the rig.
    std::vector<std::uint16_t> leasePorts(int count) const {
        ChildProcess lease({rig(), "ports", std::to_string(count), "--owner", std::to_string(::getpid())});
        std::vector<std::uint16_t> ports;
        while (auto line = lease.readLine(ChildProcess::Stdout, std::chrono::seconds(20))) {
            ports.push_back(static_cast<std::uint16_t>(std::stoi(*line)));
        }
        std::string error;
        while (auto line = lease.readLine(ChildProcess::Stderr, std::chrono::milliseconds(0))) error += *line + "\n";
        if (lease.wait(std::chrono::seconds(20)) != 0 || ports.size() != static_cast<std::size_t>(count)) {
            throw std::runtime_error("RuntimeRoot: scripts/rig leased no ports: " + error);
        }
        return ports;
    }

    static void makeDirectory(const std::string& path) {
        if (::mkdir(path.c_str(), 0755) != 0) throw std::runtime_error("RuntimeRoot: cannot create " + path);
    }

    // `text` with the "port" attribute of its first `element` set to `port`.
    static std::string withPort(std::string text, const std::string& element, std::uint16_t port) {
        const std::size_t at = text.find("<" + element);
        const std::size_t begin = at == std::string::npos ? at : text.find("port=\"", at);
        if (begin == std::string::npos) throw std::runtime_error("RuntimeRoot: no " + element + " port in a sample");
        return text.replace(begin + 6, text.find('"', begin + 6) - begin - 6, std::to_string(port));
    }

    // Runs the simulator once on devices.xml into the memory file.
    void fillDevmem() const {
        std::vector<std::string> argv{m_options.fpgaSim, "--once", "--memory", devmemFile()};
        argv.insert(argv.end(), m_options.fpgaSimArgs.begin(), m_options.fpgaSimArgs.end());
        argv.push_back(devicesFile());
        ChildProcess sim(argv);
        if (sim.wait(std::chrono::seconds(20)) != 0) {
            std::string output;
            while (auto line = sim.readLine(ChildProcess::Stderr, std::chrono::milliseconds(0))) output += *line + "\n";
            throw std::runtime_error("RuntimeRoot: fpga-sim did not fill " + devmemFile() + ": " + output);
        }
    }

    Options m_options;
    TempDir m_dir;
    std::array<std::uint16_t, 3> m_dataBusPorts{};
    std::array<std::uint16_t, 3> m_managementPorts{};
    std::vector<std::uint16_t> m_leased;
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_RUNTIMEROOT_H
