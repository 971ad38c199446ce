// A runtime root for the server in a temporary directory: everything the
// server reads under CORVANE_ROOT and through CORVANE_DEVMEM, laid out so
// that a server process (or a server object in the test process) can run
// without /opt or the real memory device. Header-only, POSIX; removed with
// everything in it when the object goes away.
//
//   corvane_test::RuntimeRoot::Options o;
//   o.sourceDir = CORVANE_SOURCE_DIR;   // sample files: config/victory, devices.xml
//   o.fpgaSim = FPGA_SIM_PATH;          // fills the memory file (--once)
//   o.domainId = 70;                    // the test's own DDS domain
//   corvane_test::RuntimeRoot root(o);
//   ChildProcess server({SERVER_PATH, root.topLevelFile()}, root.environment());
//
// Layout (paths() below name each file):
//   <root>/config/PositionServiceConfig_1_9.xml ... DoT_VCL_1_9.xml
//        copies of config/victory/*, each service with a DataBus port and a
//        Management port of its own (free UDP ports at the time of writing,
//        or the DataBus ports given in Options)
//   <root>/config/connections.xml   "FastRtps" (domain, transport) and the
//        server's six connections
//   <root>/config/devices.xml       copy of config/devices.xml
//   <root>/config/ZOziDaZodOduzuz.xml  the top-level file (defaultTopLevel())
//   <root>/geoids/<geoidName>.pgm    the synthetic geoid of Options
//   <root>/devmem                    the FPGA simulator's memory file
#ifndef TESTS_SUPPORT_RUNTIMEROOT_H
#define TESTS_SUPPORT_RUNTIMEROOT_H

#include "tests/support/ChildProcess.h"
#include "tests/support/SyntheticGeoid.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpTestSocket.h"

#include <sys/stat.h>

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
    std::string sourceDir;               // repository root; required
    int domainId = 0;                    // DDS domain of connections.xml
    std::string transport = "UDP";       // "UDP", "SHM", "TCP_Client", "TCP_Server"
    std::string fpgaSim;                 // fpga-sim executable; empty: no memory file
    std::vector<std::string> fpgaSimArgs;  // extra arguments, e.g. {"--clock-rate", "58982401"}
    SyntheticGeoid geoid = SyntheticGeoid::constant(20.0);
    std::string geoidName = "synthetic";  // file <name>.pgm; PARAM_5 of the top-level file
    // DataBus UDP ports of the position, orientation and direction of
    // travel services; 0 picks a free one.
    std::array<std::uint16_t, 3> dataBusPorts{0, 0, 0};
    std::string prefix = "corvane-root";  // of the directory name
  };

  // Settings of the top-level file. A container that is left out, or a key
  // erased from its map, is missing from the file.
  struct TopLevel {
    bool systemContainer = true;
    bool serverContainer = true;
    std::map<std::string, std::string> system;  // "System", "Configuration"
    std::map<std::string, std::string> server;  // "Connections" ... "PARAM_7"
  };

  // Lays everything out; throws std::runtime_error when a file cannot be
  // written or the simulator does not fill the memory file.
  explicit RuntimeRoot(Options options) : m_options(std::move(options)), m_dir(m_options.prefix) {
    if (m_options.sourceDir.empty()) throw std::runtime_error("RuntimeRoot: no sourceDir");
    makeDirectory(configDir());
    makeDirectory(geoidDir());
    for (int i = 0; i < 3; ++i) {
      m_dataBusPorts[i] = m_options.dataBusPorts[i] != 0 ? m_options.dataBusPorts[i] : freeUdpPort();
      m_managementPorts[i] = freeUdpPort();
      writeVictoryFiles(i);
    }
    writeFile(devicesFile(), readFile(m_options.sourceDir + "/config/devices.xml"));
    writeConnections();
    writeTopLevel(defaultTopLevel());
    m_options.geoid.write(geoidDir(), m_options.geoidName);
    if (!m_options.fpgaSim.empty() && !fillDevmem(m_options.fpgaSimArgs)) {
      throw std::runtime_error("RuntimeRoot: fpga-sim did not fill " + devmemFile() + ": " + m_simOutput);
    }
  }

  RuntimeRoot(const RuntimeRoot&) = delete;
  RuntimeRoot& operator=(const RuntimeRoot&) = delete;

  const std::string& path() const { return m_dir.path(); }  // CORVANE_ROOT
  std::string configDir() const { return path() + "/config"; }
  std::string geoidDir() const { return path() + "/geoids"; }
  std::string devmemFile() const { return path() + "/devmem"; }  // CORVANE_DEVMEM
  std::string connectionsFile() const { return configDir() + "/connections.xml"; }
  std::string devicesFile() const { return configDir() + "/devices.xml"; }
  std::string topLevelFile() const { return configDir() + "/ZOziDaZodOduzuz.xml"; }
  const std::string& geoidName() const { return m_options.geoidName; }
  const SyntheticGeoid& geoid() const { return m_options.geoid; }
  int domainId() const { return m_options.domainId; }
  // DataBus / Management UDP port of service 0 (position), 1
  // (orientation) or 2 (direction of travel).
  std::uint16_t dataBusPort(int service) const { return m_dataBusPorts.at(service); }
  std::uint16_t managementPort(int service) const { return m_managementPorts.at(service); }
  // Output of the last simulator run.
  const std::string& simulatorOutput() const { return m_simOutput; }

  // "CORVANE_ROOT=<path>" and "CORVANE_DEVMEM=<devmem>", for ChildProcess.
  std::vector<std::string> environment() const {
    return {"CORVANE_ROOT=" + path(), "CORVANE_DEVMEM=" + devmemFile()};
  }

  // Sets both variables in this process (read once by the server code: do
  // it before the first server object runs).
  void exportEnvironment() const {
    ::setenv("CORVANE_ROOT", path().c_str(), 1);
    ::setenv("CORVANE_DEVMEM", devmemFile().c_str(), 1);
  }

  // The six connections of the server, in its order of creation.
  static std::vector<std::string> allConnections() {
    return {"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime", "MaintenanceEvent"};
  }

  // Rewrites connections.xml for DDS domain `domainId` from now on.
  void setDomainId(int domainId) {
    m_options.domainId = domainId;
    writeConnections();
  }

  // Rewrites connections.xml with `connections` only (each with the type
  // of its name; unknown names get the CommandResponse type).
  void writeConnections(const std::vector<std::string>& connections = allConnections()) const {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CV_Configurations>\n"
      << "  <Transport>\n    <Name>FastRtps</Name>\n    <Parameters>\n"
      << "      <DomainId>" << m_options.domainId << "</DomainId>\n"
      << "      <HistoryDepth>10</HistoryDepth>\n"
      << "      <UseBestEffort>false</UseBestEffort>\n"
      << "      <BackFillHistory>false</BackFillHistory>\n"
      << "      <UseTransport>" << m_options.transport << "</UseTransport>\n"
      << "      <TcpAddress>127.0.0.1</TcpAddress>\n"
      << "      <TcpPort>5100</TcpPort>\n"
      << "    </Parameters>\n  </Transport>\n";
    for (const std::string& name : connections) {
      const std::string type = knownType(name) ? name : "CommandResponse";
      x << "  <Connection>\n    <Name>" << name << "</Name>\n    <Parameters>\n"
        << "      <TopicType>aspn2_msgs::idl::" << type << "</TopicType>\n"
        << "      <PubSubType>" << type << "PubSubType</PubSubType>\n"
        << "    </Parameters>\n  </Connection>\n";
    }
    x << "</CV_Configurations>\n";
    writeFile(connectionsFile(), x.str());
  }

  // The top-level settings of a server that runs from this root: system
  // "GroundVehicle", the root's connections and devices files, no debug
  // output, no priority or affinity change, every service on, no fault
  // test, the root's geoid, navigator 96 as source of both streams.
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
      x << "  <Container>\n    <Name>" << name << "</Name>\n    <Parameters>\n";
      for (const auto& [key, value] : keys) x << "      <" << key << ">" << value << "</" << key << ">\n";
      x << "    </Parameters>\n  </Container>\n";
    };
    if (settings.systemContainer) container("Corvane", settings.system);
    if (settings.serverContainer) container("ZOziDaZodOduzuz", settings.server);
    x << "</CV_Configurations>\n";
    writeFile(file.empty() ? topLevelFile() : file, x.str());
  }

  // Runs the simulator once on devices.xml into the memory file, with
  // `extraArgs`; true when it exited with status 0 within 20 s.
  bool fillDevmem(const std::vector<std::string>& extraArgs = {}) const {
    if (m_options.fpgaSim.empty()) return false;
    std::vector<std::string> argv{m_options.fpgaSim, "--once", "--memory", devmemFile()};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    argv.push_back(devicesFile());
    ChildProcess sim(argv);
    m_simOutput.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      auto line = sim.readLine(ChildProcess::Stdout, std::chrono::milliseconds(200));
      if (line) {
        m_simOutput += *line + "\n";
        continue;
      }
      if (auto status = sim.wait(std::chrono::milliseconds(0))) {
        while (auto err = sim.readLine(ChildProcess::Stderr, std::chrono::milliseconds(0))) m_simOutput += *err + "\n";
        return *status == 0;
      }
    }
    return false;
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
  static bool knownType(const std::string& name) {
    for (const char* t : {"PositionVelocityAttitude", "EventLog", "UTCTime", "MaintenanceEvent"}) {
      if (name == t) return true;
    }
    return false;
  }

  static void makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0) throw std::runtime_error("RuntimeRoot: cannot create " + path);
  }

  // Replaces the value of the attribute "port" of the first element
  // `element` of `text`.
  static std::string withPort(std::string text, const std::string& element, std::uint16_t port) {
    const std::size_t at = text.find("<" + element);
    const std::size_t begin = text.find("port=\"", at);
    if (at == std::string::npos || begin == std::string::npos) {
      throw std::runtime_error("RuntimeRoot: no " + element + " port in a VICTORY sample");
    }
    const std::size_t value = begin + 6;
    return text.replace(value, text.find('"', value) - value, std::to_string(port));
  }

  void writeVictoryFiles(int service) const {
    static const char* const kNames[3][2] = {{"PositionServiceConfig_1_9.xml", "Position_VCL_1_9.xml"},
                                             {"OrientationServiceConfig_1_9.xml", "Orientation_VCL_1_9.xml"},
                                             {"DoTServiceConfig_1_9.xml", "DoT_VCL_1_9.xml"}};
    const std::string samples = m_options.sourceDir + "/config/victory/";
    std::string config = readFile(samples + kNames[service][0]);
    config = withPort(config, "DataBus", m_dataBusPorts[service]);
    config = withPort(config, "Management", m_managementPorts[service]);
    writeFile(configDir() + "/" + kNames[service][0], config);
    writeFile(configDir() + "/" + kNames[service][1], readFile(samples + kNames[service][1]));
  }

  Options m_options;
  TempDir m_dir;
  std::array<std::uint16_t, 3> m_dataBusPorts{};
  std::array<std::uint16_t, 3> m_managementPorts{};
  mutable std::string m_simOutput;
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_RUNTIMEROOT_H
