// Configure and Framework_Connect in this process: the top-level file's
// keys, their conversions and error lines, the summary line, the geoid, the
// processor affinity, and a connection that cannot be made.
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "PCSMaintReporter/PCSMaintReporter.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <map>

namespace {

using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;
using zozi_test::serverRoot;
using Settings = corvane_test::RuntimeRoot::TopLevel;

std::vector<std::string> linesContaining(const std::string& text, const std::string& part) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.find(part) != std::string::npos) out.push_back(line);
    }
    return out;
}

const std::string kSummaryStart = "ZOziDaZodOduzuz: configuration parameters:  m_debug = ";
const std::string kKeyError = " GetConfigParameters : error or could not find setting, ";

// Configure of a fresh server over a top-level file written from
// `settings`; its console output and return code.
class ConfigureTest : public ::testing::Test {
protected:
    std::unique_ptr<ZOziDaZodOduzuz> server;
    std::string output;
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;

    void SetUp() override { drainEvents(); }
    void TearDown() override { drainEvents(); }

    void configure(const std::function<void(Settings&)>& change) {
        Settings s = serverRoot().defaultTopLevel();
        change(s);
        const std::string file = serverRoot().configDir() + "/configure-test.xml";
        serverRoot().writeTopLevel(s, file);
        configureFile(file);
    }
    void configureFile(const std::string& file) {
        server = std::make_unique<ZOziDaZodOduzuz>();
        CoutCapture out;
        rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
        server->Configure(file.c_str(), rc);
        output = out.take();
    }
    ZOziDaZodOduzuzTestAccess access() { return ZOziDaZodOduzuzTestAccess(*server); }
};

TEST_F(ConfigureTest, CompleteFileFillsTheSettingsAndLoadsTheGeoid) {
    configure([](Settings&) {});
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_EQ(output,
              "ZOziDaZodOduzuz: configuration parameters:  m_debug = 0, priority = 0, cpu = 0, "
              "m_processPosition = 1, m_processOrientation = 1, m_processDirectionOfTravel = 1, "
              "m_faultTestEnabled = 0, m_geoidModel = synthetic, m_utcSourceNavigatorServerId = 96, "
              "m_pvaSourceNavigatorServerId = 96\n");
    EXPECT_EQ(access().files(), (std::vector<std::string>{"GroundVehicle", "Test", serverRoot().connectionsFile(),
                                                          serverRoot().devicesFile(), "synthetic"}));
    ASSERT_NE(access().geoid(), nullptr);
    EXPECT_NEAR((*access().geoid())(45.5, -120.25), serverRoot().geoid().expected(45.5, -120.25), 1e-9);
    EXPECT_TRUE(drainEvents().empty());
}

// A missing or empty key fails the step with its own line; every other key
// is still read. Missing source ids accept every source.
TEST_F(ConfigureTest, EachMissingServerKeyHasItsLineAndFailsTheStep) {
    const std::map<std::string, std::string> meanings = {
        {"Connections", "Connections file"},
        {"IODevices", "Devices file"},
        {"Debug", "debug flag"},
        {"PRI", "process priority"},
        {"CPU", "CPU value"},
        {"PARAM_1", "process position flag"},
        {"PARAM_2", "process orientation flag"},
        {"PARAM_3", "process direction of travel flag"},
        {"PARAM_4", "fault test enabled flag"},
        {"PARAM_5", "active geoid model (default is egm96-15)"},
        {"PARAM_6", "UTC source fusion navigator server ID for UTC and PVA"},
        {"PARAM_7", "PVA fusion navigator server ID for UTC and PVA"},
    };
    for (const auto& [key, meaning] : meanings) {
        for (bool empty : {false, true}) {
            SCOPED_TRACE(key + (empty ? " empty" : " missing"));
            configure([&, key = key](Settings& s) {
                if (empty)
                    s.server[key] = "";
                else
                    s.server.erase(key);
            });
            EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
            const auto errors = linesContaining(output, kKeyError);
            ASSERT_EQ(errors.size(), 1u) << output;
            const std::string tail = kKeyError + key + " (" + meaning + ") in configuration file!";
            EXPECT_EQ(errors[0].rfind("ZOziDaZodOduzuzConfigure.cpp (", 0), 0u) << errors[0];
            EXPECT_EQ(errors[0].substr(errors[0].size() - std::min(errors[0].size(), tail.size())), tail);
            EXPECT_EQ(linesContaining(output, kSummaryStart).size(), 1u);
            EXPECT_EQ(std::make_pair(access().utcSource() == 0, access().pvaSource() == 0),
                      std::make_pair(key == "PARAM_6", key == "PARAM_7"));
        }
    }
}

TEST_F(ConfigureTest, NumbersHaveAnAutomaticBaseAndAreCut) {
    const struct {
        const char* text;
        unsigned id;
    } cases[] = {{"0x2A", 42}, {"052", 42}, {"42", 42}, {"300", 44}, {"65578", 42}, {"0", 0}, {"abc", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        configure([&](Settings& s) { s.server["PARAM_6"] = s.server["PARAM_7"] = c.text; });
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR) << output;
        const std::string ids = ", m_utcSourceNavigatorServerId = " + std::to_string(c.id) +
                                ", m_pvaSourceNavigatorServerId = " + std::to_string(c.id) + "\n";
        EXPECT_NE(output.find(ids), std::string::npos) << output;
    }
}

// Flags take any case or 0/1; with every service off there is a warning
// event, also printed with debug output on.
TEST_F(ConfigureTest, SwitchesAndAllServicesOffWarning) {
    const std::string warning =
        "ZOziDaZodOduzuz: Warning! Position, Orientation and Direction of Travel services are all disabled in "
        "configuration.";
    for (bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        configure([&](Settings& s) {
            s.server["PARAM_1"] = "FALSE";
            s.server["PARAM_2"] = "0";
            s.server["PARAM_3"] = "false";
            s.server["PARAM_4"] = "True";
            s.server["Debug"] = debug ? "1" : "0";
        });
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR) << output;
        EXPECT_NE(output.find(std::string("m_debug = ") + (debug ? "1" : "0") +
                              ", priority = 0, cpu = 0, m_processPosition = 0, m_processOrientation = 0, "
                              "m_processDirectionOfTravel = 0, m_faultTestEnabled = 1"),
                  std::string::npos)
            << output;
        EXPECT_EQ(drainEvents(), (std::vector<Event>{{3, warning}}));
        EXPECT_EQ(linesContaining(output, warning).size(), debug ? 1u : 0u) << output;
    }
    configure([](Settings& s) { s.server["PARAM_1"] = s.server["PARAM_2"] = "false"; });
    EXPECT_TRUE(drainEvents().empty());
}

// No file or no system settings: the summary line with a new server's
// values, no key lines; an unloadable geoid says why.
TEST_F(ConfigureTest, BadFileContainerOrGeoid) {
    const char* const fresh = "m_geoidModel = , m_utcSourceNavigatorServerId = 96, m_pvaSourceNavigatorServerId = 96";
    const struct {
        const char* what;
        std::function<void(Settings&)> change;
        const char* line;
    } cases[] = {
        {"no file", nullptr, fresh},
        {"no system container", [](Settings& s) { s.systemContainer = false; }, fresh},
        {"no System", [](Settings& s) { s.system.erase("System"); }, fresh},
        {"no Configuration", [](Settings& s) { s.system.erase("Configuration"); }, fresh},
        {"no server container", [](Settings& s) { s.serverContainer = false; }, fresh},
        {"unknown geoid", [](Settings& s) { s.server["PARAM_5"] = "no-such-model"; },
         "ZOziDaZodOduzuz: Configure: cannot load geoid model 'no-such-model' from "},
        {"no geoid", [](Settings& s) { s.server.erase("PARAM_5"); },
         "ZOziDaZodOduzuz: Configure: cannot load geoid model '' from "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.change)
            configure(c.change);
        else
            configureFile(serverRoot().configDir() + "/no-such-file.xml");
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        EXPECT_EQ(linesContaining(output, kSummaryStart).size(), 1u) << output;
        const auto found = linesContaining(output, c.line);
        ASSERT_EQ(found.size(), 1u) << output;
        if (std::string(c.line).find("cannot load") != std::string::npos) {
            const std::string start = c.line + serverRoot().geoidDir() + ": ";
            EXPECT_EQ(found[0].rfind(start, 0), 0u) << found[0];
            EXPECT_GT(found[0].size(), start.size());  // the reason follows
        } else {
            EXPECT_TRUE(linesContaining(output, kKeyError).empty()) << output;
        }
        EXPECT_EQ(access().geoid(), nullptr);
    }
}

// The shipped sample, relocated into the runtime root as its comment
// shows, is complete.
TEST_F(ConfigureTest, ShippedSampleIsComplete) {
    const auto& root = serverRoot();
    std::string sample =
        corvane_test::RuntimeRoot::readFile(std::string(CORVANE_SOURCE_DIR) + "/config/ZOziDaZodOduzuz.xml");
    for (std::size_t at; (at = sample.find("/opt/corvane")) != std::string::npos;) sample.replace(at, 12, root.path());
    corvane_test::RuntimeRoot::writeFile(root.configDir() + "/sample.xml", sample);
    root.geoid().write(root.geoidDir(), "egm96-15");
    configureFile(root.configDir() + "/sample.xml");
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR) << output;
    EXPECT_EQ(access().files(), (std::vector<std::string>{"GroundVehicle", access().files()[1],
                                                          root.path() + "/config/connections-udp.xml",
                                                          root.path() + "/config/devices.xml", "egm96-15"}));
    EXPECT_NE(output.find("m_faultTestEnabled = 0, m_geoidModel = egm96-15, m_utcSourceNavigatorServerId = 96, "
                          "m_pvaSourceNavigatorServerId = 96\n"),
              std::string::npos)
        << output;
}

// Pins this test process to its first processor for a moment, then puts
// the original set back.
TEST_F(ConfigureTest, CpuAffinityIsAppliedAndReported) {
    cpu_set_t saved;
    ASSERT_EQ(::sched_getaffinity(0, sizeof saved, &saved), 0);
    int first = 0;
    while (first < CPU_SETSIZE && !CPU_ISSET(first, &saved)) ++first;
    ASSERT_LT(first, CPU_SETSIZE);
    const std::string n = std::to_string(first + 1);
    configure([&](Settings& s) { s.server["CPU"] = n; });
    cpu_set_t now;
    ASSERT_EQ(::sched_getaffinity(0, sizeof now, &now), 0);
    ASSERT_EQ(::sched_setaffinity(0, sizeof saved, &saved), 0);

    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_EQ(CPU_COUNT(&now), 1);
    EXPECT_TRUE(CPU_ISSET(first, &now));
    EXPECT_NE(output.find(", cpu = " + n + ", "), std::string::npos) << output;
    EXPECT_NE(output.find("\nSuccessfully set ZOziDaZodOduzuz: cpu affinity to " + n + "\n"), std::string::npos)
        << output;
    EXPECT_EQ(linesContaining(output, "realtime process priority").size(), 0u);
}

// Framework_Connect without the maintenance connection fails but still
// starts the services; with every service switched off, none is started.
TEST_F(ConfigureTest, ConnectStartsTheServicesThatAreSwitchedOn) {
    const struct {
        int domain;
        bool allConnections, servicesOn;
        FACE::RETURN_CODE_TYPE::Value rc;
    } cases[] = {{63, false, true, FACE::RETURN_CODE_TYPE::INVALID_CONFIG},
                 {64, true, false, FACE::RETURN_CODE_TYPE::NO_ERROR}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.domain);
        serverRoot().setDomainId(c.domain);
        configureFile(serverRoot().topLevelFile());
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        if (!c.allConnections) {
            serverRoot().writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"});
        }
        access().setServices(c.servicesOn, c.servicesOn, c.servicesOn);
        CoutCapture out;
        server->Framework_Connect("", rc);
        EXPECT_EQ(rc, c.rc);
        EXPECT_TRUE(access().hasTransport());
        EXPECT_EQ(access().hasTypedTransports(), c.allConnections);
        for (int s = 0; s < 3; ++s) EXPECT_EQ(access().initialized(s), c.servicesOn) << s;
        // The identity banner only on top of a working transport.
        EXPECT_EQ(out.take().find("ZOziDaZodOduzuz CPN: 415-2290-771C  ") != std::string::npos, c.allConnections);
        PCSMaintReporter::Instance().DoneMaintReporter();
        server->Framework_Disconnect(rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        for (int s = 0; s < 3; ++s) EXPECT_FALSE(access().initialized(s)) << s;
        server.reset();
        serverRoot().writeConnections();
    }
}

// Only a SOAP fault among the library's texts is consumed (then sent as
// maintenance events); with debug output on, every text is traced.
TEST_F(ConfigureTest, OnlySoapFaultsAreConsumed) {
    ZOziDaZodOduzuz bare;
    ZOziDaZodOduzuzTestAccess a(bare);
    const std::string soap = "SOAP 1.2 fault SOAP-ENV:Sender\n\"unknown item\"\nDetail: updatePeriod\n";
    const std::string plain = "victory: position service not created\n";
    for (bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        a.setDebug(debug);
        CoutCapture out;
        EXPECT_EQ(a.logMaintenanceEvent(plain.data(), plain.size()), 0);
        EXPECT_EQ(a.logMaintenanceEvent(soap.data(), soap.size()), static_cast<int>(soap.size()));
        EXPECT_EQ(a.logMaintenanceEvent(soap.data(), 20), 0);  // only the given length counts
        const std::string text = out.take();
        EXPECT_EQ(text.find(" logMaintenanceEvent: ZOziDaZodOduzuz SOAP Error: victory: position service not "
                            "created\n") != std::string::npos,
                  debug)
            << text;
        EXPECT_EQ(text.find(" SOAP Error: " + soap) != std::string::npos, debug) << text;
    }
}

}  // namespace
