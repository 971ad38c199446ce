// Configure: the top-level file's keys, their conversions and error lines,
// the summary line, the geoid and the processor affinity.
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ServerTestRoot.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;
using Settings = corvane_test::RuntimeRoot::TopLevel;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> linesContaining(const std::string& text, const std::string& part) {
    std::vector<std::string> out;
    for (const std::string& line : lines(text)) {
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

    Settings defaults() const { return zozi_test::serverRoot().defaultTopLevel(); }

    void configure(const Settings& settings) {
        const std::string file = zozi_test::serverRoot().configDir() + "/configure-test.xml";
        zozi_test::serverRoot().writeTopLevel(settings, file);
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
    configure(defaults());
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_EQ(output,
              "ZOziDaZodOduzuz: configuration parameters:  m_debug = 0, priority = 0, cpu = 0, "
              "m_processPosition = 1, m_processOrientation = 1, m_processDirectionOfTravel = 1, "
              "m_faultTestEnabled = 0, m_geoidModel = synthetic, m_utcSourceNavigatorServerId = 96, "
              "m_pvaSourceNavigatorServerId = 96\n");
    auto a = access();
    EXPECT_EQ(a.systemName(), "GroundVehicle");
    EXPECT_EQ(a.configurationName(), "Test");
    EXPECT_EQ(a.connectionsFile(), zozi_test::serverRoot().connectionsFile());
    EXPECT_EQ(a.ioDevicesFile(), zozi_test::serverRoot().devicesFile());
    EXPECT_EQ(a.geoidModel(), "synthetic");
    ASSERT_NE(a.geoid(), nullptr);
    EXPECT_NE(a.geoCoords(), nullptr);
    const auto& g = zozi_test::serverRoot().geoid();
    for (const auto& [lat, lon] : std::vector<std::pair<double, double>>{{0, 0}, {45.5, -120.25}, {-89.9, 359.9}}) {
        EXPECT_NEAR((*a.geoid())(lat, lon), g.expected(lat, lon), 1e-9);
    }
    EXPECT_TRUE(drainEvents().empty());
}

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
            Settings s = defaults();
            if (empty) {
                s.server[key] = "";
            } else {
                s.server.erase(key);
            }
            configure(s);
            EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
            const auto errors = linesContaining(output, kKeyError);
            ASSERT_EQ(errors.size(), 1u) << output;
            const std::string tail = kKeyError + key + " (" + meaning + ") in configuration file!";
            EXPECT_EQ(errors[0].rfind("ZOziDaZodOduzuzConfigure.cpp (", 0), 0u) << errors[0];
            EXPECT_EQ(errors[0].substr(errors[0].size() - std::min(errors[0].size(), tail.size())), tail);
            // Every other key was still read: the summary shows their values.
            EXPECT_EQ(linesContaining(output, kSummaryStart).size(), 1u);
            EXPECT_EQ(linesContaining(output, "Successfully set").size(), 0u);
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
        Settings s = defaults();
        s.server["PARAM_6"] = c.text;
        s.server["PARAM_7"] = c.text;
        configure(s);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR) << output;
        EXPECT_EQ(access().utcSource(), c.id);
        EXPECT_EQ(access().pvaSource(), c.id);
        const std::string ids = ", m_utcSourceNavigatorServerId = " + std::to_string(c.id) +
                                ", m_pvaSourceNavigatorServerId = " + std::to_string(c.id) + "\n";
        EXPECT_NE(output.find(ids), std::string::npos) << output;
    }
}

TEST_F(ConfigureTest, MissingSourceIdsAcceptEverySource) {
    Settings s = defaults();
    s.server.erase("PARAM_6");
    s.server.erase("PARAM_7");
    configure(s);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    EXPECT_EQ(access().utcSource(), 0);
    EXPECT_EQ(access().pvaSource(), 0);
}

TEST_F(ConfigureTest, SwitchesAndAllServicesOffWarning) {
    for (bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        Settings s = defaults();
        s.server["PARAM_1"] = "FALSE";
        s.server["PARAM_2"] = "0";
        s.server["PARAM_3"] = "false";
        s.server["PARAM_4"] = "True";
        s.server["Debug"] = debug ? "1" : "0";
        configure(s);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR) << output;
        auto a = access();
        EXPECT_FALSE(a.processPosition());
        EXPECT_FALSE(a.processOrientation());
        EXPECT_FALSE(a.processDirectionOfTravel());
        EXPECT_TRUE(a.faultTestEnabled());
        EXPECT_EQ(a.debug(), debug);
        const std::string warning =
            "ZOziDaZodOduzuz: Warning! Position, Orientation and Direction of Travel services are all disabled in "
            "configuration.";
        EXPECT_EQ(drainEvents(), (std::vector<Event>{{3, warning}}));
        EXPECT_EQ(linesContaining(output, warning).size(), debug ? 1u : 0u) << output;
    }
    // One service on: no warning.
    Settings s = defaults();
    s.server["PARAM_1"] = "false";
    s.server["PARAM_2"] = "false";
    configure(s);
    EXPECT_TRUE(drainEvents().empty());
}

TEST_F(ConfigureTest, BadFileOrSystemContainerGivesTheSummaryLineOnly) {
    const struct {
        const char* what;
        std::function<void(Settings&)> change;
        bool writeFile;
    } cases[] = {
        {"no file", [](Settings&) {}, false},
        {"no system container", [](Settings& s) { s.systemContainer = false; }, true},
        {"no System", [](Settings& s) { s.system.erase("System"); }, true},
        {"no Configuration", [](Settings& s) { s.system.erase("Configuration"); }, true},
        {"no server container", [](Settings& s) { s.serverContainer = false; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.writeFile) {
            Settings s = defaults();
            c.change(s);
            configure(s);
        } else {
            configureFile(zozi_test::serverRoot().configDir() + "/no-such-file.xml");
        }
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        EXPECT_TRUE(linesContaining(output, kKeyError).empty()) << output;
        ASSERT_EQ(linesContaining(output, kSummaryStart).size(), 1u) << output;
        // The values held so far: the defaults of a new server.
        EXPECT_NE(output.find("m_geoidModel = , m_utcSourceNavigatorServerId = 96, m_pvaSourceNavigatorServerId = 96"),
                  std::string::npos)
            << output;
        EXPECT_EQ(access().geoid(), nullptr);
    }
}

TEST_F(ConfigureTest, UnloadableGeoidIsReportedInPlainWords) {
    for (const char* model : {"no-such-model", ""}) {
        SCOPED_TRACE(model);
        Settings s = defaults();
        if (*model == '\0') {
            s.server.erase("PARAM_5");
        } else {
            s.server["PARAM_5"] = model;
        }
        configure(s);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        const std::string start = std::string("ZOziDaZodOduzuz: Configure: cannot load geoid model '") + model +
                                  "' from " + zozi_test::serverRoot().geoidDir() + ": ";
        const auto found = linesContaining(output, "cannot load geoid model");
        ASSERT_EQ(found.size(), 1u) << output;
        EXPECT_EQ(found[0].rfind(start, 0), 0u) << found[0];
        EXPECT_GT(found[0].size(), start.size());  // the reason follows
        EXPECT_EQ(access().geoid(), nullptr);
    }
}

// The shipped sample, relocated into the runtime root as its comment
// shows, is complete.
TEST_F(ConfigureTest, ShippedSampleIsComplete) {
    const auto& root = zozi_test::serverRoot();
    std::string sample = corvane_test::RuntimeRoot::readFile(std::string(CORVANE_SOURCE_DIR) + "/config/ZOziDaZodOduzuz.xml");
    for (std::size_t at; (at = sample.find("/opt/corvane")) != std::string::npos;) sample.replace(at, 12, root.path());
    const std::string file = root.configDir() + "/sample.xml";
    corvane_test::RuntimeRoot::writeFile(file, sample);
    root.geoid().write(root.geoidDir(), "egm96-15");
    configureFile(file);
    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR) << output;
    EXPECT_EQ(access().systemName(), "GroundVehicle");
    EXPECT_EQ(access().connectionsFile(), root.path() + "/config/connections-udp.xml");
    EXPECT_EQ(access().ioDevicesFile(), root.path() + "/config/devices.xml");
    EXPECT_EQ(access().geoidModel(), "egm96-15");
    EXPECT_EQ(access().utcSource(), 96);
    EXPECT_EQ(access().pvaSource(), 96);
    EXPECT_FALSE(access().faultTestEnabled());
}

// Pins this test process to its first processor for a moment, then puts
// the original set back.
TEST_F(ConfigureTest, CpuAffinityIsAppliedAndReported) {
    cpu_set_t saved;
    ASSERT_EQ(::sched_getaffinity(0, sizeof saved, &saved), 0);
    int first = 0;
    while (first < CPU_SETSIZE && !CPU_ISSET(first, &saved)) ++first;
    ASSERT_LT(first, CPU_SETSIZE);

    Settings s = defaults();
    s.server["CPU"] = std::to_string(first + 1);
    configure(s);
    cpu_set_t now;
    ASSERT_EQ(::sched_getaffinity(0, sizeof now, &now), 0);
    ASSERT_EQ(::sched_setaffinity(0, sizeof saved, &saved), 0);

    EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    EXPECT_EQ(CPU_COUNT(&now), 1);
    EXPECT_TRUE(CPU_ISSET(first, &now));
    const std::string n = std::to_string(first + 1);
    EXPECT_NE(output.find(", cpu = " + n + ", "), std::string::npos) << output;
    EXPECT_NE(output.find("\nSuccessfully set ZOziDaZodOduzuz: cpu affinity to " + n + "\n"), std::string::npos)
        << output;
    EXPECT_EQ(linesContaining(output, "realtime process priority").size(), 0u);
}

}  // namespace
