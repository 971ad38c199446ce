// Creation, start, deletion and VCL persistence of the three services, with
// CORVANE_ROOT pointing at a folder of this test process.
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "platform/victory/victory_test.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpTestSocket.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// CORVANE_ROOT for the whole process (the server reads it once); a
// trailing slash, which the relocation drops.
class CorvaneRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        s_dir = std::make_unique<corvane_test::TempDir>("zozi-root");
        ::setenv("CORVANE_ROOT", (s_dir->path() + "/").c_str(), 1);
        ::mkdir((s_dir->path() + "/config").c_str(), 0755);
    }
    void TearDown() override { s_dir.reset(); }

private:
    static std::unique_ptr<corvane_test::TempDir> s_dir;
};
std::unique_ptr<corvane_test::TempDir> CorvaneRootEnvironment::s_dir;
::testing::Environment* const kRootEnvironment = ::testing::AddGlobalTestEnvironment(new CorvaneRootEnvironment);

struct Service {
    const char* name;
    int index;  // as ZOziDaZodOduzuzTestAccess counts them
    const char* configFile;
    const char* vclFile;
    const char* started;
    const char* exited;
    const char* readFailure;
    const char* readFailureLineTail;  // after the source position
};

const Service kServices[] = {
    {"position", 0, positionConfigFileName, positionVclFileName, "ZOziDaZodOduzuz: VPosServer shared service started",
     "ZOziDaZodOduzuz: VPosServer shared service exited",
     "ZOziDaZodOduzuz: Error reading VICTORY position configuration files.",
     " InitializeVictoryPositionZOziDaZodOduzuz: Error reading VICTORY position configuration files.\n"},
    {"orientation", 1, orientationConfigFileName, orientationVclFileName,
     "ZOziDaZodOduzuz: VorisService shared service started", "ZOziDaZodOduzuz : VorisService shared service exited",
     "ZOziDaZodOduzuz: Error reading VICTORY orientation configuration files.",
     " InitializeVictoryOrientationZOziDaZodOduzuz: Error reading VICTORY orientation configuration files.\n"},
    {"direction of travel", 2, DOTconfigFileName, DOTvclFileName, "ZOziDaZodOduzuz: VdotsService shared service started",
     "ZOziDaZodOduzuz: VdotsService shared service exited",
     "ZOziDaZodOduzuz Error reading VICTORY direction of travel configuration files.",
     ", InitializeVictoryDirectionOfTravel : ZOziDaZodOduzuz Error reading VICTORY direction of travel "
     "configuration files.\n"},
};

VictoryTestState stateOf(int service, void* h) {
    VictoryTestState s{};
    const int rc = service == 0   ? vpossTestGetState(static_cast<VpossService*>(h), &s)
                   : service == 1 ? vorisTestGetState(static_cast<VorisService*>(h), &s)
                                  : vdotsTestGetState(static_cast<VdotsService*>(h), &s);
    EXPECT_EQ(rc, 0);
    return s;
}

std::string vclOf(int service, void* h) {
    std::string b(65536, '\0');
    const int n = service == 0   ? vpossTestGetVcl(static_cast<VpossService*>(h), b.data(), b.size())
                  : service == 1 ? vorisTestGetVcl(static_cast<VorisService*>(h), b.data(), b.size())
                                 : vdotsTestGetVcl(static_cast<VdotsService*>(h), b.data(), b.size());
    return b.substr(0, n < 0 ? 0 : static_cast<std::size_t>(n));
}

std::string vclWithPeriod(unsigned long long periodMs) {
    return "<?xml version=\"1.0\"?>\n<vcl:VCL xmlns:vcl=\"urn:test\"><vcl:component type=\"VICTORY_DATA\">"
           "<vcl:configItem name=\"updatePeriod\" value=\"" +
           std::to_string(periodMs) + "\"/></vcl:component></vcl:VCL>\n";
}

// Replaces the value of the attribute "port" of the first element `element`.
std::string withPort(std::string text, const std::string& element, std::uint16_t port) {
    const std::size_t begin = text.find("port=\"", text.find("<" + element)) + 6;
    return text.replace(begin, text.find('"', begin) - begin, std::to_string(port));
}

// Whether `text` is `before`, a decimal number (a source line), then `after`.
bool matchesAroundNumber(const std::string& text, const std::string& before, const std::string& after) {
    if (text.size() <= before.size() + after.size() || text.rfind(before, 0) != 0 ||
        text.compare(text.size() - after.size(), after.size(), after) != 0) {
        return false;
    }
    const std::string number = text.substr(before.size(), text.size() - before.size() - after.size());
    return number.find_first_not_of("0123456789") == std::string::npos;
}

class ServiceManagementTest : public ::testing::Test {
protected:
    std::unique_ptr<ZOziDaZodOduzuz> server = std::make_unique<ZOziDaZodOduzuz>();
    ZOziDaZodOduzuzTestAccess access{*server};

    // Fresh copies of the sample files, each service with ports of its own
    // that were free a moment ago (tests run in parallel).
    void SetUp() override {
        const std::string samples = std::string(CORVANE_SOURCE_DIR) + "/config/victory/";
        for (const Service& s : kServices) {
            const std::string configName = std::string(s.configFile).substr(std::string(s.configFile).rfind('/'));
            const std::string vclName = std::string(s.vclFile).substr(std::string(s.vclFile).rfind('/'));
            std::string config = readFile(samples + configName);
            ASSERT_NE(config.find("<Management port="), std::string::npos) << configName;
            config = withPort(config, "DataBus", corvane_test::freeUdpPort());
            writeFile(corvanePath(s.configFile), withPort(config, "Management", corvane_test::freeUdpPort()));
            writeFile(corvanePath(s.vclFile), readFile(samples + vclName));
        }
        drainEvents();
    }

    void TearDown() override {
        server.reset();  // shuts down whatever still runs
        drainEvents();
    }
};

TEST(CorvanePaths, RelocationRule) {
    const struct {
        const char* path;
        const char* root;
        std::string expected;
    } cases[] = {
        {"/opt/corvane/config/a.xml", nullptr, "/opt/corvane/config/a.xml"},
        {"/opt/corvane/config/a.xml", "", "/opt/corvane/config/a.xml"},
        {"/opt/corvane/config/a.xml", "/tmp/r", "/tmp/r/config/a.xml"},
        {"/opt/corvane/config/a.xml", "/tmp/r//", "/tmp/r/config/a.xml"},
        {"/opt/corvane/config/a.xml", "/", "/./config/a.xml"},
        {"/opt/corvane", "/tmp/r", "/tmp/r"},
        {"/opt/corvanes/a", "/tmp/r", "/opt/corvanes/a"},
        {"/opt/corvan", "/tmp/r", "/opt/corvan"},
        {"opt/corvane/a", "/tmp/r", "opt/corvane/a"},
        {nullptr, "/tmp/r", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(relocateCorvanePath(c.path, c.root), c.expected) << (c.path ? c.path : "(null)");
    }
}

TEST_F(ServiceManagementTest, StartsAndDeletesEachService) {
    access.setDebug(true);
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        CoutCapture out;
        ASSERT_TRUE(access.initialize(s.index, nullptr));
        EXPECT_TRUE(access.initialized(s.index));
        const VictoryTestState st = stateOf(s.index, access.handle(s.index));
        EXPECT_EQ(st.started, 1);
        EXPECT_EQ(st.updatePeriodMs, 1000u);  // from the VCL file
        EXPECT_EQ(st.effectivePeriodSeconds, 1.0);
        EXPECT_EQ(st.tellCount, 1u);  // the placeholder, without a time
        EXPECT_EQ(st.hasTime, 0);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(st.values[i].value, 0.0);
            EXPECT_EQ(st.values[i].uncertainty, std::numeric_limits<double>::infinity());
            EXPECT_EQ(st.values[i].basis, VPOSC_BASIS_INVALID);
        }
        EXPECT_EQ(drainEvents(), (std::vector<Event>{{2, s.started}}));
        EXPECT_EQ(out.take(), std::string(s.started) + "\n");

        EXPECT_TRUE(access.shutdown(s.index));
        EXPECT_FALSE(access.initialized(s.index));
        EXPECT_EQ(access.handle(s.index), nullptr);
        EXPECT_EQ(drainEvents(), (std::vector<Event>{{2, s.exited}}));
        EXPECT_EQ(out.take(), std::string(s.exited) + "\n");

        EXPECT_FALSE(access.shutdown(s.index));
        EXPECT_TRUE(drainEvents().empty());
        EXPECT_EQ(out.take(), "");
    }
}

TEST_F(ServiceManagementTest, SecondInitializationIsRefusedAndOnlyOrientationSaysSo) {
    for (const Service& s : kServices) ASSERT_TRUE(access.initialize(s.index, nullptr)) << s.name;
    drainEvents();
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        void* handle = access.handle(s.index);
        CoutCapture out;
        EXPECT_FALSE(access.initialize(s.index, nullptr));
        const std::string line = out.take();
        if (s.index == 1) {
            EXPECT_TRUE(matchesAroundNumber(line, "ZOziDaZodOduzuz: ZOziDaZodOduzuzVictory.cpp (",
                                            ") , InitializeVictoryOrientation : Already initialized error\n"))
                << line;
        } else {
            EXPECT_EQ(line, "");
        }
        EXPECT_EQ(access.handle(s.index), handle);
        EXPECT_EQ(stateOf(s.index, handle).started, 1);
        EXPECT_TRUE(drainEvents().empty());
    }
}

TEST_F(ServiceManagementTest, GivenVclTextNeedsNoVclFile) {
    const std::string vcl = vclWithPeriod(2500);
    for (const Service& s : kServices) {
        ASSERT_EQ(::unlink(corvanePath(s.vclFile)), 0);
        ASSERT_TRUE(access.initialize(s.index, vcl.c_str())) << s.name;
        EXPECT_EQ(stateOf(s.index, access.handle(s.index)).updatePeriodMs, 2500u);
        EXPECT_EQ(vclOf(s.index, access.handle(s.index)), vcl);
    }
}

TEST_F(ServiceManagementTest, ReadFailuresAreReported) {
    const struct {
        const char* what;
        bool removeConfig, removeVcl, giveVcl;
    } cases[] = {
        {"configuration file missing", true, false, false},
        {"configuration file missing, VCL given", true, false, true},
        {"VCL file missing", false, true, false},
    };
    const std::string vcl = vclWithPeriod(1000);
    for (const auto& c : cases) {
        SetUp();  // fresh files
        for (const Service& s : kServices) {
            SCOPED_TRACE(testing::Message() << c.what << ", " << s.name);
            if (c.removeConfig) ::unlink(corvanePath(s.configFile));
            if (c.removeVcl) ::unlink(corvanePath(s.vclFile));
            CoutCapture out;
            EXPECT_FALSE(access.initialize(s.index, c.giveVcl ? vcl.c_str() : nullptr));
            const std::string line = out.take();
            EXPECT_TRUE(matchesAroundNumber(line, "ZOziDaZodOduzuzVictory.cpp (", std::string(")") + s.readFailureLineTail))
                << line;
            EXPECT_EQ(drainEvents(), (std::vector<Event>{{3, s.readFailure}}));
            EXPECT_FALSE(access.initialized(s.index));
            EXPECT_EQ(access.handle(s.index), nullptr);
        }
    }
}

TEST_F(ServiceManagementTest, VclReceivedByAServiceIsReadBackByTheNextStart) {
    const std::string vcl = vclWithPeriod(3000);
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(access.initialize(s.index, nullptr));
        const int port = stateOf(s.index, access.handle(s.index)).managementPort;
        ASSERT_GT(port, 0);
        corvane_test::sendUdp(static_cast<std::uint16_t>(port), vcl);
        const std::string file = corvanePath(s.vclFile);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (readFile(file) != vcl && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
        EXPECT_EQ(readFile(file), vcl);

        ASSERT_TRUE(access.shutdown(s.index));
        ASSERT_TRUE(access.initialize(s.index, nullptr));
        EXPECT_EQ(stateOf(s.index, access.handle(s.index)).updatePeriodMs, 3000u);
    }
}

TEST_F(ServiceManagementTest, SaveCallbackReportsAFailedWrite) {
    std::string missingFolder = CORVANE_SOURCE_DIR "/no-such-folder/saved.xml";
    for (const Service& s : kServices) {
        EXPECT_EQ(ZOziDaZodOduzuzTestAccess::saveVcl(s.index, missingFolder.data(), "x"), 1) << s.name;
        EXPECT_EQ(ZOziDaZodOduzuzTestAccess::saveVcl(s.index, nullptr, "x"), 1) << s.name;
    }
}

TEST_F(ServiceManagementTest, FaultTestFollowsServiceRestarts) {
    ASSERT_TRUE(access.initialize(0, nullptr));
    VictoryFaultHelper& helper = access.faultHelper();
    helper.SetAvailableService(access.positionService());
    CoutCapture out;
    ASSERT_TRUE(access.shutdown(0));
    helper.activateFault(1, true);  // the deleted service is not used
    EXPECT_EQ(helper.faultId(1, 1), 0);

    ASSERT_TRUE(access.initialize(0, nullptr));
    helper.activateFault(1, true);
    EXPECT_EQ(helper.faultId(1, 1), 1);
    EXPECT_EQ(vpossTestGetFaults(access.positionService(), nullptr, 0), 1);
    EXPECT_EQ(helper.services(), "Position ");
}

TEST_F(ServiceManagementTest, DestroyingTheServerDeletesRunningServices) {
    for (const Service& s : kServices) ASSERT_TRUE(access.initialize(s.index, nullptr)) << s.name;
    drainEvents();
    server.reset();
    EXPECT_EQ(drainEvents(), (std::vector<Event>{{2, kServices[0].exited}, {2, kServices[1].exited},
                                                 {2, kServices[2].exited}}));
}

}  // namespace
