// The server executable as a process: usage, start-up failures and the
// orderly stop on a termination signal. Each test that starts a server
// lays out a runtime root of its own with its own DDS domain (70..89).
#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/RuntimeRoot.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using corvane_test::ChildProcess;
using corvane_test::RuntimeRoot;

const std::string kServer = SERVER_PATH;

RuntimeRoot::Options rootOptions(int domainId) {
    RuntimeRoot::Options o;
    o.sourceDir = CORVANE_SOURCE_DIR;
    o.fpgaSim = FPGA_SIM_PATH;
    o.domainId = domainId;
    o.prefix = "zozi-process";
    return o;
}

// A server process whose standard output and error are collected line by
// line (both, so that neither pipe fills up).
class ServerProcess {
public:
    ServerProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
        : m_child(withServer(args), env) {}

    pid_t pid() const { return m_child.pid(); }
    const std::vector<std::string>& out() const { return m_out; }
    std::string transcript() const {
        std::string t = "--- stdout\n";
        for (const auto& l : m_out) t += l + "\n";
        t += "--- stderr\n";
        for (const auto& l : m_err) t += l + "\n";
        return t;
    }

    // Reads until a standard output line contains `part` (returned) or
    // `timeout` passes or the process ends.
    std::optional<std::string> waitForLine(const std::string& part, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        std::size_t seen = 0;
        while (true) {
            for (; seen < m_out.size(); ++seen) {
                if (m_out[seen].find(part) != std::string::npos) return m_out[seen];
            }
            if (Clock::now() > deadline || !pump()) return std::nullopt;
        }
    }

    // Reads everything until the process has ended; its status, or nothing
    // when it is still running after `timeout`.
    std::optional<int> finish(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            if (!pump()) return m_child.wait(0ms);
        }
        return std::nullopt;
    }

    // Whether the process catches `signal` now (its handler is installed).
    bool catches(int signal) const {
        std::ifstream status("/proc/" + std::to_string(m_child.pid()) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigCgt:", 0) == 0) {
                const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
                return (mask >> (signal - 1)) & 1u;
            }
        }
        return false;
    }

    void signal(int s) { m_child.signal(s); }

private:
    static std::vector<std::string> withServer(std::vector<std::string> args) {
        args.insert(args.begin(), kServer);
        return args;
    }

    // One round of reading both streams; false once the process has ended
    // and both streams are drained.
    bool pump() {
        bool got = false;
        while (auto line = m_child.readLine(ChildProcess::Stdout, 10ms)) {
            m_out.push_back(*line);
            got = true;
        }
        while (auto line = m_child.readLine(ChildProcess::Stderr, 0ms)) {
            m_err.push_back(*line);
            got = true;
        }
        return got || !m_child.wait(0ms).has_value();
    }

    ChildProcess m_child;
    std::vector<std::string> m_out;
    std::vector<std::string> m_err;
};

bool contains(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& l : lines) {
        if (l.find(part) != std::string::npos) return true;
    }
    return false;
}

TEST(ServerProcess, WrongArgumentCountPrintsTheUsage) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.xml", "b.xml"}}) {
        SCOPED_TRACE(args.size());
        ServerProcess server(args);
        EXPECT_EQ(server.finish(20s), 1) << server.transcript();
        EXPECT_EQ(server.out(), std::vector<std::string>{"Usage: " + kServer + " <top-level-config-file> "});
    }
}

TEST(ServerProcess, MissingConfigurationFileStopsTheStartUp) {
    ServerProcess server({"/nonexistent/ZOziDaZodOduzuz.xml"});
    EXPECT_EQ(server.finish(20s), kLifecycleFailureStatus) << server.transcript();
    EXPECT_TRUE(contains(server.out(), "ZOziDaZodOduzuz: configuration parameters: ")) << server.transcript();
    EXPECT_TRUE(contains(server.out(), "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuzMain["));
    EXPECT_TRUE(contains(server.out(), "]:INVALID_CONFIG Configure() failed")) << server.transcript();
    EXPECT_EQ(server.out().back(), "!!!!!! " + kServer + " has exited after a failure.");
}

// Every configuration failure ends the start-up with its lines and the
// failure status: no hang, no crash.
TEST(ServerProcess, ConfigurationFailuresEndTheProcess) {
    using Settings = RuntimeRoot::TopLevel;
    const struct {
        const char* what;
        int domain;
        std::function<void(RuntimeRoot&)> spoil;
        std::vector<std::string> lines;
        std::vector<std::string> fpgaSimArgs;
    } cases[] = {
        {"missing key", 72,
         [](RuntimeRoot& r) {
             Settings s = r.defaultTopLevel();
             s.server.erase("PARAM_4");
             r.writeTopLevel(s);
         },
         {"GetConfigParameters : error or could not find setting, PARAM_4 (fault test enabled flag) in "
          "configuration file!",
          "]:INVALID_CONFIG Configure() failed"},
         {}},
        {"missing server container", 73,
         [](RuntimeRoot& r) {
             Settings s = r.defaultTopLevel();
             s.serverContainer = false;
             r.writeTopLevel(s);
         },
         {"ZOziDaZodOduzuz: configuration parameters: ", "]:INVALID_CONFIG Configure() failed"},
         {}},
        {"missing System", 74,
         [](RuntimeRoot& r) {
             Settings s = r.defaultTopLevel();
             s.system.erase("System");
             r.writeTopLevel(s);
         },
         {"]:INVALID_CONFIG Configure() failed"},
         {}},
        {"unknown geoid", 75,
         [](RuntimeRoot& r) {
             Settings s = r.defaultTopLevel();
             s.server["PARAM_5"] = "egm2008-1";
             r.writeTopLevel(s);
         },
         {"ZOziDaZodOduzuz: Configure: cannot load geoid model 'egm2008-1' from ", "]:INVALID_CONFIG Configure() failed"},
         {}},
        {"missing connection", 76,
         [](RuntimeRoot& r) {
             r.writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"});
         },
         {"]:INVALID_CONFIG Framework_Connect() failed"},
         {}},
        {"missing connections file", 77,
         [](RuntimeRoot& r) { ::unlink(r.connectionsFile().c_str()); },
         {"]:INVALID_CONFIG Framework_Connect() failed"},
         {}},
        {"bad devices file", 78,
         [](RuntimeRoot& r) { RuntimeRoot::writeFile(r.devicesFile(), "<CV_Configurations><IODevice>"); },
         {"]:INVALID_CONFIG Framework_Connect() failed"},
         {}},
        {"FPGA clock mismatch", 79, [](RuntimeRoot&) {},
         {"FPGA clock rate mismatch, got 58982401, expected 58982400", "]:INVALID_CONFIG Framework_Connect() failed"},
         {"--clock-rate", "58982401"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RuntimeRoot::Options options = rootOptions(c.domain);
        options.fpgaSimArgs = c.fpgaSimArgs;
        RuntimeRoot root(options);
        c.spoil(root);
        ServerProcess server({root.topLevelFile()}, root.environment());
        EXPECT_EQ(server.finish(30s), kLifecycleFailureStatus) << server.transcript();
        for (const std::string& line : c.lines) EXPECT_TRUE(contains(server.out(), line)) << line << "\n" << server.transcript();
        EXPECT_EQ(server.out().back(), "!!!!!! " + kServer + " has exited after a failure.");
    }
}

// SIGTERM and SIGINT end a running server in order: stopped, disconnected,
// the exit line, status 0.
TEST(ServerProcess, TerminationSignalStopsTheServerInOrder) {
    const struct {
        int signal;
        int domain;
    } cases[] = {{SIGTERM, 70}, {SIGINT, 71}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        RuntimeRoot root(rootOptions(c.domain));
        ServerProcess server({root.topLevelFile()}, root.environment());
        ASSERT_TRUE(server.waitForLine("ZOziDaZodOduzuz CPN: 415-2290-771C  ", 30s)) << server.transcript();
        // The handler is installed once the server runs.
        const auto deadline = Clock::now() + 30s;
        while (!(server.catches(SIGTERM) && server.catches(SIGINT)) && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(server.catches(c.signal)) << server.transcript();

        const auto sent = Clock::now();
        server.signal(c.signal);
        const std::string exitLine = "!!!!!! " + kServer + " has exited. Signal: " + std::to_string(c.signal);
        const auto line = server.waitForLine(exitLine, 10s);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
        ASSERT_TRUE(line) << server.transcript();
        EXPECT_EQ(*line, exitLine);
        EXPECT_EQ(server.finish(10s), 0) << server.transcript();
        std::cout << "signal " << c.signal << ": exit line after " << took.count() << " ms" << std::endl;
        EXPECT_LT(took, 3s);
        EXPECT_EQ(server.out().back(), exitLine) << server.transcript();
    }
}

}  // namespace
