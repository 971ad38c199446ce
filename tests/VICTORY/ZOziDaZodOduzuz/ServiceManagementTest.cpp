// Creation, start, deletion and VCL persistence of the three services,
// from the files of the process's runtime root.
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace std::chrono_literals;
using corvane_test::RuntimeRoot;
using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Event;

struct Service {
    const char* name;
    const char* configFile;
    const char* vclFile;
    const char* exited;
    const char* readFailure;
    const char* readFailureLineTail;  // after the source position
};

const Service kServices[] = {
    {"position", positionConfigFileName, positionVclFileName, "ZOziDaZodOduzuz: VPosServer shared service exited",
     "ZOziDaZodOduzuz: Error reading VICTORY position configuration files.",
     ") InitializeVictoryPositionZOziDaZodOduzuz: Error reading VICTORY position configuration files.\n"},
    {"orientation", orientationConfigFileName, orientationVclFileName,
     "ZOziDaZodOduzuz : VorisService shared service exited",
     "ZOziDaZodOduzuz: Error reading VICTORY orientation configuration files.",
     ") InitializeVictoryOrientationZOziDaZodOduzuz: Error reading VICTORY orientation configuration files.\n"},
    {"direction of travel", DOTconfigFileName, DOTvclFileName, "ZOziDaZodOduzuz: VdotsService shared service exited",
     "ZOziDaZodOduzuz Error reading VICTORY direction of travel configuration files.",
     "), InitializeVictoryDirectionOfTravel : ZOziDaZodOduzuz Error reading VICTORY direction of travel "
     "configuration files.\n"},
};

std::string vclWithPeriod(unsigned long long periodMs) {
    return "<?xml version=\"1.0\"?>\n<vcl:VCL xmlns:vcl=\"urn:test\"><vcl:component type=\"VICTORY_DATA\">"
           "<vcl:configItem name=\"updatePeriod\" value=\"" +
           std::to_string(periodMs) + "\"/></vcl:component></vcl:VCL>\n";
}

// Whether `text` is `before`, a source line number, then `after`.
bool aroundLineNumber(const std::string& text, const std::string& before, const std::string& after) {
    return text.size() > before.size() + after.size() && text.rfind(before, 0) == 0 &&
           text.compare(text.size() - after.size(), after.size(), after) == 0 &&
           text.find_first_not_of("0123456789", before.size()) == text.size() - after.size();
}

class ServiceManagementTest : public ::testing::Test {
protected:
    std::unique_ptr<ZOziDaZodOduzuz> server = std::make_unique<ZOziDaZodOduzuz>();
    ZOziDaZodOduzuzTestAccess access{*server};

    void SetUp() override {
        zozi_test::serverRoot().writeVictoryFiles();
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

// Each service starts with a placeholder report and the VCL file's period;
// a second start is refused (only orientation says so); shutdown deletes it
// once. (The texts of start and exit: see the data-rate change.)
TEST_F(ServiceManagementTest, StartsRefusesASecondStartAndDeletesEachService) {
    access.setDebug(true);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(kServices[i].name);
        ASSERT_TRUE(access.initialize(i, nullptr));
        const VictoryTestState st = zozi_test::Services::state(i, access.handle(i));
        EXPECT_EQ(std::make_tuple(st.started, st.updatePeriodMs, st.effectivePeriodSeconds, st.tellCount, st.hasTime),
                  std::make_tuple(1, 1000u, 1.0, std::uint64_t{1}, 0));
        for (int v = 0; v < 3; ++v) {
            EXPECT_EQ(std::make_tuple(st.values[v].value, st.values[v].uncertainty, st.values[v].basis),
                      std::make_tuple(0.0, std::numeric_limits<double>::infinity(), VPOSC_BASIS_INVALID));
        }
        void* handle = access.handle(i);
        drainEvents();
        CoutCapture out;
        EXPECT_FALSE(access.initialize(i, nullptr));
        const std::string line = out.take();
        EXPECT_TRUE(i == 1 ? aroundLineNumber(line, "ZOziDaZodOduzuz: ZOziDaZodOduzuzVictory.cpp (",
                                              ") , InitializeVictoryOrientation : Already initialized error\n")
                           : line.empty())
            << line;
        EXPECT_EQ(access.handle(i), handle);
        EXPECT_TRUE(drainEvents().empty());
        EXPECT_TRUE(access.shutdown(i));
        EXPECT_EQ(std::make_pair(access.initialized(i), access.handle(i)),
                  std::make_pair(false, static_cast<void*>(nullptr)));
        EXPECT_EQ(drainEvents(), (std::vector<Event>{{2, kServices[i].exited}}));
        EXPECT_FALSE(access.shutdown(i));
    }
}

TEST_F(ServiceManagementTest, ReadFailuresAreReported) {
    const struct {
        const char* what;
        bool removeConfig, removeVcl, giveVcl;
    } cases[] = {
        {"configuration file missing", true, false, false},
        {"configuration file missing, VCL given", true, false, true},
        {"VCL file missing", false, true, false},  // a given VCL text needs no file: see the data-rate change
    };
    const std::string vcl = vclWithPeriod(1000);
    for (const auto& c : cases) {
        zozi_test::serverRoot().writeVictoryFiles();
        for (int i = 0; i < 3; ++i) {
            const Service& s = kServices[i];
            SCOPED_TRACE(testing::Message() << c.what << ", " << s.name);
            if (c.removeConfig) ::unlink(corvanePath(s.configFile));
            if (c.removeVcl) ::unlink(corvanePath(s.vclFile));
            CoutCapture out;
            EXPECT_FALSE(access.initialize(i, c.giveVcl ? vcl.c_str() : nullptr));
            const std::string line = out.take();
            EXPECT_TRUE(aroundLineNumber(line, "ZOziDaZodOduzuzVictory.cpp (", s.readFailureLineTail)) << line;
            EXPECT_EQ(drainEvents(), (std::vector<Event>{{3, s.readFailure}}));
            EXPECT_FALSE(access.initialized(i));
            EXPECT_EQ(access.handle(i), nullptr);
        }
    }
}

// A VCL sent to a service's management port is saved, and read back by the
// next start; a save that cannot be written is reported to the library.
TEST_F(ServiceManagementTest, VclReceivedByAServiceIsReadBackByTheNextStart) {
    const std::string vcl = vclWithPeriod(3000);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(kServices[i].name);
        ASSERT_TRUE(access.initialize(i, nullptr));
        const int port = zozi_test::Services::state(i, access.handle(i)).managementPort;
        ASSERT_GT(port, 0);
        corvane_test::sendUdp(static_cast<std::uint16_t>(port), vcl);
        const std::string file = corvanePath(kServices[i].vclFile);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (RuntimeRoot::readFile(file) != vcl && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(RuntimeRoot::readFile(file), vcl);
        ASSERT_TRUE(access.shutdown(i));
        ASSERT_TRUE(access.initialize(i, nullptr));
        EXPECT_EQ(zozi_test::Services::state(i, access.handle(i)).updatePeriodMs, 3000u);

        std::string missingFolder = zozi_test::serverRoot().path() + "/no-such-folder/saved.xml";
        EXPECT_EQ(ZOziDaZodOduzuzTestAccess::saveVcl(i, missingFolder.data(), "x"), 1);
        EXPECT_EQ(ZOziDaZodOduzuzTestAccess::saveVcl(i, nullptr, "x"), 1);
    }
}

// The fault test uses the service that runs now, never a deleted one;
// destroying the server deletes what still runs.
TEST_F(ServiceManagementTest, FaultTestFollowsRestartsAndDestructionDeletes) {
    ASSERT_TRUE(access.initialize(0, nullptr));
    VictoryFaultHelper& helper = access.faultHelper();
    helper.SetAvailableService(access.positionService());
    CoutCapture out;
    ASSERT_TRUE(access.shutdown(0));
    helper.activateFault(1, true);
    EXPECT_EQ(helper.faultId(1, 1), 0);
    ASSERT_TRUE(access.initialize(0, nullptr));
    helper.activateFault(1, true);
    EXPECT_EQ(helper.faultId(1, 1), 1);
    EXPECT_EQ(vpossTestGetFaults(access.positionService(), nullptr, 0), 1);

    for (int i = 1; i < 3; ++i) ASSERT_TRUE(access.initialize(i, nullptr)) << kServices[i].name;
    drainEvents();
    server.reset();
    EXPECT_EQ(drainEvents(),
              (std::vector<Event>{{2, kServices[0].exited}, {2, kServices[1].exited}, {2, kServices[2].exited}}));
}

}  // namespace
