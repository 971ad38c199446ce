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
#include <functional>
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

// CORVANE_ROOT for the whole process: the path relocation reads it once.
class CorvaneRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        s_dir = std::make_unique<corvane_test::TempDir>("zozi-root");
        ::setenv("CORVANE_ROOT", (s_dir->path() + "/").c_str(), 1);
        ::mkdir((s_dir->path() + "/config").c_str(), 0755);
    }
    void TearDown() override { s_dir.reset(); }
    static std::string root() { return s_dir->path(); }

private:
    static std::unique_ptr<corvane_test::TempDir> s_dir;
};
std::unique_ptr<corvane_test::TempDir> CorvaneRootEnvironment::s_dir;
::testing::Environment* const kRootEnvironment =
    ::testing::AddGlobalTestEnvironment(new CorvaneRootEnvironment);

// Everything a table-driven test needs to know about one service.
struct Service {
    const char* name;
    const char* configFile;  // fixed path
    const char* vclFile;     // fixed path
    std::function<bool(ZOziDaZodOduzuzTestAccess&, const char*)> initialize;
    std::function<bool(ZOziDaZodOduzuzTestAccess&)> shutdown;
    std::function<bool(ZOziDaZodOduzuzTestAccess&)> initialized;
    std::function<void*(ZOziDaZodOduzuzTestAccess&)> handle;
    std::function<int(void*, VictoryTestState*)> state;
    std::function<int(void*, char*, std::size_t)> vcl;
    std::function<int(void*, const char*)> saveCallback;
    const char* started;
    const char* exited;
    const char* readFailure;
    // What the read failure line shows after the source position.
    const char* readFailureLineTail;
};

const Service kServices[] = {
    {"position", positionConfigFileName, positionVclFileName,
     [](ZOziDaZodOduzuzTestAccess& a, const char* v) { return a.initializePosition(v); },
     [](ZOziDaZodOduzuzTestAccess& a) { return a.shutdownPosition(); },
     [](ZOziDaZodOduzuzTestAccess& a) { return a.positionInitialized(); },
     [](ZOziDaZodOduzuzTestAccess& a) -> void* { return a.positionService(); },
     [](void* h, VictoryTestState* s) { return vpossTestGetState(static_cast<VpossService*>(h), s); },
     [](void* h, char* b, std::size_t n) { return vpossTestGetVcl(static_cast<VpossService*>(h), b, n); },
     &ZOziDaZodOduzuzTestAccess::savePositionVcl, "ZOziDaZodOduzuz: VPosServer shared service started",
     "ZOziDaZodOduzuz: VPosServer shared service exited",
     "ZOziDaZodOduzuz: Error reading VICTORY position configuration files.",
     " InitializeVictoryPositionZOziDaZodOduzuz: Error reading VICTORY position configuration files."},
    {"orientation", orientationConfigFileName, orientationVclFileName,
     [](ZOziDaZodOduzuzTestAccess& a, const char* v) { return a.initializeOrientation(v); },
     [](ZOziDaZodOduzuzTestAccess& a) { return a.shutdownOrientation(); },
     [](ZOziDaZodOduzuzTestAccess& a) { return a.orientationInitialized(); },
     [](ZOziDaZodOduzuzTestAccess& a) -> void* { return a.orientationService(); },
     [](void* h, VictoryTestState* s) { return vorisTestGetState(static_cast<VorisService*>(h), s); },
     [](void* h, char* b, std::size_t n) { return vorisTestGetVcl(static_cast<VorisService*>(h), b, n); },
     &ZOziDaZodOduzuzTestAccess::saveOrientationVcl, "ZOziDaZodOduzuz: VorisService shared service started",
     "ZOziDaZodOduzuz : VorisService shared service exited",
     "ZOziDaZodOduzuz: Error reading VICTORY orientation configuration files.",
     " InitializeVictoryOrientationZOziDaZodOduzuz: Error reading VICTORY orientation configuration files."},
    {"direction of travel", DOTconfigFileName, DOTvclFileName,
     [](ZOziDaZodOduzuzTestAccess& a, const char* v) { return a.initializeDirectionOfTravel(v); },
     [](ZOziDaZodOduzuzTestAccess& a) { return a.shutdownDirectionOfTravel(); },
     [](ZOziDaZodOduzuzTestAccess& a) { return a.dotInitialized(); },
     [](ZOziDaZodOduzuzTestAccess& a) -> void* { return a.dotService(); },
     [](void* h, VictoryTestState* s) { return vdotsTestGetState(static_cast<VdotsService*>(h), s); },
     [](void* h, char* b, std::size_t n) { return vdotsTestGetVcl(static_cast<VdotsService*>(h), b, n); },
     &ZOziDaZodOduzuzTestAccess::saveDotVcl, "ZOziDaZodOduzuz: VdotsService shared service started",
     "ZOziDaZodOduzuz: VdotsService shared service exited",
     "ZOziDaZodOduzuz Error reading VICTORY direction of travel configuration files.",
     ", InitializeVictoryDirectionOfTravel : ZOziDaZodOduzuz Error reading VICTORY direction of travel "
     "configuration files."},
};

std::string vclWithPeriod(unsigned long long periodMs) {
    return "<?xml version=\"1.0\"?>\n<vcl:VCL xmlns:vcl=\"urn:test\"><vcl:component type=\"VICTORY_DATA\">"
           "<vcl:configItem name=\"updatePeriod\" value=\"" +
           std::to_string(periodMs) + "\"/></vcl:component></vcl:VCL>\n";
}

// Replaces the value of the attribute `port` in the first element `element`
// of an XML text.
std::string withPort(std::string text, const std::string& element, std::uint16_t port) {
    const std::size_t at = text.find("<" + element);
    const std::size_t value = text.find("port=\"", at);
    if (at == std::string::npos || value == std::string::npos) return text;
    const std::size_t begin = value + 6;
    const std::size_t end = text.find('"', begin);
    return text.replace(begin, end - begin, std::to_string(port));
}

// Whether `text` is `before`, a decimal number, then `after` (a printed
// source line number stands between the two).
bool matchesAroundNumber(const std::string& text, const std::string& before, const std::string& after) {
    if (text.size() < before.size() + after.size() + 1 || text.compare(0, before.size(), before) != 0 ||
        text.compare(text.size() - after.size(), after.size(), after) != 0) {
        return false;
    }
    const std::string number = text.substr(before.size(), text.size() - before.size() - after.size());
    return number.find_first_not_of("0123456789") == std::string::npos;
}

// Polls `condition` until it holds or `timeout` passes.
template <typename F>
bool eventually(F condition, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class ServiceManagementTest : public ::testing::Test {
protected:
    std::unique_ptr<ZOziDaZodOduzuz> server = std::make_unique<ZOziDaZodOduzuz>();
    ZOziDaZodOduzuzTestAccess access{*server};

    // Fresh copies of the sample configuration, each service with ports of
    // its own that were free a moment ago.
    void SetUp() override {
        for (const Service& s : kServices) {
            std::string config = readFile(std::string(CORVANE_SOURCE_DIR) + "/config/victory/" + baseName(s.configFile));
            ASSERT_FALSE(config.empty()) << s.configFile;
            config = withPort(config, "DataBus", corvane_test::freeUdpPort());
            config = withPort(config, "Management", corvane_test::freeUdpPort());
            writeFile(corvanePath(s.configFile), config);
            const std::string vcl = readFile(std::string(CORVANE_SOURCE_DIR) + "/config/victory/" + baseName(s.vclFile));
            ASSERT_FALSE(vcl.empty()) << s.vclFile;
            writeFile(corvanePath(s.vclFile), vcl);
        }
        drainEvents();
    }

    void TearDown() override {
        server.reset();  // shuts down whatever still runs
        drainEvents();
    }

    static std::string baseName(const char* path) {
        const std::string p(path);
        return p.substr(p.rfind('/') + 1);
    }

    static VictoryTestState stateOf(const Service& s, void* handle) {
        VictoryTestState st{};
        EXPECT_EQ(s.state(handle, &st), 0);
        return st;
    }

    static std::string vclOf(const Service& s, void* handle) {
        std::string buffer(65536, '\0');
        const int n = s.vcl(handle, buffer.data(), buffer.size());
        return n < 0 ? std::string() : buffer.substr(0, static_cast<std::size_t>(n));
    }
};

TEST_F(ServiceManagementTest, FixedPathsAreRelocated) {
    EXPECT_EQ(std::string(corvanePath(positionVclFileName)), CorvaneRootEnvironment::root() + "/config/Position_VCL_1_9.xml");
    EXPECT_EQ(std::string(corvanePath(GeoidFilePath)), CorvaneRootEnvironment::root() + "/geoids");
    EXPECT_EQ(corvanePath(DOTvclFileName), corvanePath(DOTvclFileName));  // the same text each time
    EXPECT_STREQ(corvanePath("/opt/corvanex/a"), "/opt/corvanex/a");
    EXPECT_STREQ(corvanePath("/etc/hosts"), "/etc/hosts");
    EXPECT_EQ(corvanePath(nullptr), nullptr);
}

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
        {"relative", "/tmp/r", "relative"},
        {nullptr, "/tmp/r", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(relocateCorvanePath(c.path, c.root), c.expected)
            << (c.path ? c.path : "(null)") << " under " << (c.root ? c.root : "(null)");
    }
}

TEST_F(ServiceManagementTest, StartsAndDeletesEachService) {
    access.setDebug(true);
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        CoutCapture out;
        ASSERT_TRUE(s.initialize(access, nullptr));
        EXPECT_TRUE(s.initialized(access));
        void* handle = s.handle(access);
        ASSERT_NE(handle, nullptr);
        const VictoryTestState st = stateOf(s, handle);
        EXPECT_EQ(st.started, 1);
        EXPECT_EQ(st.updatePeriodMs, 1000u);  // from the VCL file
        EXPECT_EQ(st.effectivePeriodSeconds, 1.0);
        // One placeholder tell, without a time.
        EXPECT_EQ(st.tellCount, 1u);
        EXPECT_EQ(st.hasTime, 0);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(st.values[i].value, 0.0);
            EXPECT_EQ(st.values[i].uncertainty, std::numeric_limits<double>::infinity());
            EXPECT_EQ(st.values[i].basis, VPOSC_BASIS_INVALID);
        }
        EXPECT_EQ(drainEvents(), (std::vector<Event>{{2, s.started}}));
        EXPECT_EQ(out.take(), std::string(s.started) + "\n");

        EXPECT_TRUE(s.shutdown(access));
        EXPECT_FALSE(s.initialized(access));
        EXPECT_EQ(s.handle(access), nullptr);
        EXPECT_EQ(drainEvents(), (std::vector<Event>{{2, s.exited}}));
        EXPECT_EQ(out.take(), std::string(s.exited) + "\n");

        EXPECT_FALSE(s.shutdown(access));
        EXPECT_TRUE(drainEvents().empty());
        EXPECT_EQ(out.take(), "");
    }
}

TEST_F(ServiceManagementTest, QuietWithoutDebug) {
    CoutCapture out;
    for (const Service& s : kServices) ASSERT_TRUE(s.initialize(access, nullptr)) << s.name;
    for (const Service& s : kServices) ASSERT_TRUE(s.shutdown(access)) << s.name;
    EXPECT_EQ(out.take(), "");
    EXPECT_EQ(drainEvents().size(), 6u);
}

TEST_F(ServiceManagementTest, SecondInitializationIsRefusedAndOnlyOrientationSaysSo) {
    access.setDebug(true);
    for (const Service& s : kServices) ASSERT_TRUE(s.initialize(access, nullptr)) << s.name;
    drainEvents();
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        void* handle = s.handle(access);
        CoutCapture out;
        EXPECT_FALSE(s.initialize(access, nullptr));
        const std::string line = out.take();
        if (std::string(s.name) == "orientation") {
            EXPECT_TRUE(matchesAroundNumber(line, "ZOziDaZodOduzuz: ZOziDaZodOduzuzVictory.cpp (",
                                            ") , InitializeVictoryOrientation : Already initialized error\n"))
                << line;
        } else {
            EXPECT_EQ(line, "");
        }
        EXPECT_EQ(s.handle(access), handle);
        EXPECT_TRUE(s.initialized(access));
        EXPECT_EQ(stateOf(s, handle).started, 1);
        EXPECT_TRUE(drainEvents().empty());
    }
}

TEST_F(ServiceManagementTest, GivenVclTextNeedsNoVclFile) {
    const std::string vcl = vclWithPeriod(2500);
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(::unlink(corvanePath(s.vclFile)), 0);
        ASSERT_TRUE(s.initialize(access, vcl.c_str()));
        EXPECT_EQ(stateOf(s, s.handle(access)).updatePeriodMs, 2500u);
        EXPECT_EQ(vclOf(s, s.handle(access)), vcl);
    }
}

TEST_F(ServiceManagementTest, ReadFailuresAreReported) {
    const struct {
        const char* what;
        bool removeConfig;
        bool removeVcl;
        bool giveVcl;
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
            if (c.removeConfig) {
                ASSERT_EQ(::unlink(corvanePath(s.configFile)), 0);
            }
            if (c.removeVcl) {
                ASSERT_EQ(::unlink(corvanePath(s.vclFile)), 0);
            }
            CoutCapture out;
            EXPECT_FALSE(s.initialize(access, c.giveVcl ? vcl.c_str() : nullptr));
            const std::string line = out.take();
            const std::string tail = std::string(s.readFailureLineTail) + "\n";
            EXPECT_TRUE(matchesAroundNumber(line, "ZOziDaZodOduzuzVictory.cpp (", ")" + tail)) << line;
            EXPECT_EQ(drainEvents(), (std::vector<Event>{{3, s.readFailure}}));
            EXPECT_FALSE(s.initialized(access));
            EXPECT_EQ(s.handle(access), nullptr);
        }
    }
}

TEST_F(ServiceManagementTest, TextsRefusedByTheLibraryFailQuietly) {
    const std::string badVcl = "<vcl:VCL";
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        CoutCapture out;
        EXPECT_FALSE(s.initialize(access, badVcl.c_str()));
        writeFile(corvanePath(s.configFile), "no configuration here");
        EXPECT_FALSE(s.initialize(access, nullptr));
        EXPECT_EQ(out.take(), "");
        EXPECT_TRUE(drainEvents().empty());
        EXPECT_FALSE(s.initialized(access));
        EXPECT_EQ(s.handle(access), nullptr);
    }
}

TEST_F(ServiceManagementTest, VclReceivedByAServiceIsReadBackByTheNextStart) {
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(s.initialize(access, nullptr));
        const int port = stateOf(s, s.handle(access)).managementPort;
        ASSERT_GT(port, 0);
        const std::string vcl = vclWithPeriod(3000);
        corvane_test::sendUdp(static_cast<std::uint16_t>(port), vcl);
        const std::string file = corvanePath(s.vclFile);
        EXPECT_TRUE(eventually([&] { return readFile(file) == vcl; })) << readFile(file);

        ASSERT_TRUE(s.shutdown(access));
        ASSERT_TRUE(s.initialize(access, nullptr));
        EXPECT_EQ(stateOf(s, s.handle(access)).updatePeriodMs, 3000u);
        EXPECT_EQ(vclOf(s, s.handle(access)), vcl);
    }
}

TEST_F(ServiceManagementTest, SaveCallbacksReportWhetherTheTextWasWritten) {
    corvane_test::TempDir dir("zozi-save");
    const std::string good = dir.file("saved.xml");
    const std::string bad = dir.file("no-such-folder/saved.xml");
    for (const Service& s : kServices) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.saveCallback(const_cast<char*>(good.c_str()), s.name), 0);
        EXPECT_EQ(readFile(good), s.name);
        EXPECT_EQ(s.saveCallback(const_cast<char*>(bad.c_str()), "x"), 1);
        EXPECT_EQ(s.saveCallback(nullptr, "x"), 1);
        EXPECT_EQ(s.saveCallback(const_cast<char*>(good.c_str()), nullptr), 1);
        EXPECT_EQ(readFile(good), s.name);
    }
}

TEST_F(ServiceManagementTest, FaultTestFollowsServiceRestarts) {
    for (const Service& s : kServices) ASSERT_TRUE(s.initialize(access, nullptr)) << s.name;
    VictoryFaultHelper& helper = access.faultHelper();
    helper.SetAvailableService(access.positionService());
    ASSERT_EQ(helper.mode(), 1);

    CoutCapture out;
    ASSERT_TRUE(access.shutdownPosition());
    helper.activateFault(1, true);  // the deleted service is not used
    EXPECT_EQ(helper.faultId(1, 1), 0);

    ASSERT_TRUE(access.initializePosition(nullptr));
    helper.activateFault(1, true);
    EXPECT_EQ(helper.faultId(1, 1), 1);
    EXPECT_EQ(vpossTestGetFaults(access.positionService(), nullptr, 0), 1);
    EXPECT_EQ(helper.services(), "Position ");
    EXPECT_EQ(helper.mode(), 1);
}

TEST_F(ServiceManagementTest, DestroyingTheServerDeletesRunningServices) {
    for (const Service& s : kServices) ASSERT_TRUE(s.initialize(access, nullptr)) << s.name;
    drainEvents();
    server.reset();
    EXPECT_EQ(drainEvents(), (std::vector<Event>{{2, kServices[0].exited}, {2, kServices[1].exited},
                                                 {2, kServices[2].exited}}));
}

}  // namespace
