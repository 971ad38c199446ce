// The keyboard fault test, driven through a pipe on standard input; the
// faults it raises are read back from the services library.
#include "VICTORY/ZOziDaZodOduzuz/VictoryFaultHelper.h"

#include "platform/victory/victory_test.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using zozi_test::CoutCapture;
using zozi_test::handleAllKeys;
using zozi_test::StdinPipe;

const std::string kConfig =
    "<VictoryServiceConfig name='fault-test'><DataBus address='127.0.0.1' port='9'/></VictoryServiceConfig>";
const std::string kVcl =
    "<vcl:VCL xmlns:vcl='urn:test'><vcl:component type='VICTORY_DATA'>"
    "<vcl:configItem name='updatePeriod' value='1000'/></vcl:component></vcl:VCL>";

const char* const kHelp =
    "\nZOziDaZodOduzuz VictoryFaultHelper available keys:\n"
    "    1 = Send / Remove Acknowledged Emergency\n"
    "    2 = Send / Remove Acknowledged Alert\n"
    "    3 = Send / Remove Acknowledged Critical\n"
    "    4 = Send / Remove Acknowledged Error\n"
    "    5 = Send / Remove Acknowledged Warning\n"
    "    6 = Send / Remove Nonacknowledged Emergency\n"
    "    7 = Send / Remove Nonacknowledged Alert\n"
    "    8 = Send / Remove Nonacknowledged Critical\n"
    "    9 = Send / Remove Nonacknowledged Error\n"
    "    0 = Send / Remove Nonacknowledged Warning\n"
    "    p = Select Position fault mode\n"
    "    o = Select Orientation fault mode\n"
    "    d = Select Direction of Travel fault mode\n"
    "    g = Select GPS Receiver fault mode\n"
    "    e = Select Generic End Node fault mode\n"
    "    a = Select APNT fault mode\n"
    "    z = Disable VICTORY service \"Tell\" output\n"
    "\n";

// Six services, created but not started, and a helper named like the server.
class FaultTestModeTest : public ::testing::Test {
protected:
    VpossService* position = vpossNewService(1, 1, 1, kConfig.c_str(), 1.0, kVcl.c_str());
    VorisService* orientation = vorisNewService(1, 1, 1, kConfig.c_str(), 1.0, kVcl.c_str());
    VdotsService* dot = vdotsNewService(1, 1, 1, kConfig.c_str(), 1.0, kVcl.c_str());
    VgpssService* gps = vgpssNewService(1, 1, 1, kConfig.c_str(), 1.0, kVcl.c_str());
    VgensService* endNode = vgensNewService(1, 1, 1, kConfig.c_str(), 1.0, kVcl.c_str());
    VapntsService* apnt = vapntsNewService(1, 1, 1, kConfig.c_str(), 1.0, kVcl.c_str());
    VictoryFaultHelper helper{"ZOziDaZodOduzuz"};
    StdinPipe keyboard;
    bool tellDisabled = false;

    void SetUp() override {
        ASSERT_TRUE(position && orientation && dot && gps && endNode && apnt);
    }
    void TearDown() override {
        vpossDeleteService(position);
        vorisDeleteService(orientation);
        vdotsDeleteService(dot);
        vgpssDeleteService(gps);
        vgensDeleteService(endNode);
        vapntsDeleteService(apnt);
    }

    // The services this server registers, in its order.
    void registerServerServices() {
        helper.SetAvailableService(position);
        helper.SetAvailableService(orientation);
        helper.SetAvailableService(dot);
    }

    // Types `keys` and handles them one per call; returns what was printed.
    std::string press(const std::string& keys) {
        CoutCapture out;
        keyboard.type(keys);
        handleAllKeys([&] { helper.ManageFaults(tellDisabled); });
        return out.take();
    }

    template <typename GetFaults, typename Handle>
    static std::vector<VictoryTestFault> faultsOf(GetFaults get, Handle* handle) {
        std::vector<VictoryTestFault> faults(16);
        const int n = get(handle, faults.data(), static_cast<int>(faults.size()));
        faults.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return faults;
    }
    std::vector<VictoryTestFault> positionFaults() { return faultsOf(vpossTestGetFaults, position); }
    std::vector<VictoryTestFault> orientationFaults() { return faultsOf(vorisTestGetFaults, orientation); }
};

TEST_F(FaultTestModeTest, RegistrationSelectsTheLastServiceAndListsEach) {
    helper.SetAvailableService<VorisService>(nullptr);
    EXPECT_EQ(helper.mode(), 0);
    EXPECT_EQ(helper.services(), "");

    helper.SetAvailableService(position);
    EXPECT_EQ(helper.mode(), 1);
    EXPECT_EQ(helper.services(), "Position ");

    helper.SetAvailableService<VdotsService>(nullptr);
    EXPECT_EQ(helper.mode(), 1);

    helper.SetAvailableService(orientation);
    helper.SetAvailableService(dot);
    EXPECT_EQ(helper.mode(), 3);
    helper.SetAvailableService(gps);
    helper.SetAvailableService(endNode);
    helper.SetAvailableService(apnt);
    EXPECT_EQ(helper.mode(), 6);
    EXPECT_EQ(helper.services(), "Position Orientation Direction of Travel GPS Receiver Generic End Node APNT");
}

TEST_F(FaultTestModeTest, DigitRaisesThenClearsTheSameFault) {
    registerServerServices();
    EXPECT_EQ(press("p"), "\nZOziDaZodOduzuz VictoryFaultHelper : Changed to Position fault test mode\n");

    EXPECT_EQ(press("3"), "\bZOziDaZodOduzuzAdded acknowledged Critical Position Fault: 1\n");
    auto faults = positionFaults();
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0].id, 1);
    EXPECT_EQ(faults[0].acknowledged, 1);
    EXPECT_EQ(faults[0].severity, 35);
    EXPECT_EQ(faults[0].category, 22);
    EXPECT_EQ(faults[0].action, 1);
    EXPECT_STREQ(faults[0].description, "Fake Fault for Compliance Testing");
    EXPECT_EQ(helper.faultId(1, 3), 1);

    EXPECT_EQ(press("3"), "\bZOziDaZodOduzuz Removed Position fault: 1\n");
    EXPECT_TRUE(positionFaults().empty());
    EXPECT_EQ(helper.faultId(1, 3), 0);

    // A new press raises a new fault.
    EXPECT_EQ(press("3"), "\bZOziDaZodOduzuzAdded acknowledged Critical Position Fault: 2\n");
}

TEST_F(FaultTestModeTest, EachDigitHasItsSeverityAndAcknowledgement) {
    helper.SetAvailableService(position);
    const std::string out = press("1234567890");
    EXPECT_EQ(out,
              "\bZOziDaZodOduzuzAdded acknowledged Emergency Position Fault: 1\n"
              "\bZOziDaZodOduzuzAdded acknowledged Alert Position Fault: 2\n"
              "\bZOziDaZodOduzuzAdded acknowledged Critical Position Fault: 3\n"
              "\bZOziDaZodOduzuzAdded acknowledged Error Position Fault: 4\n"
              "\bZOziDaZodOduzuzAdded acknowledged Warning Position Fault: 5\n"
              "\bZOziDaZodOduzuzAdded non-acknowledged Emergency Position Fault: 6\n"
              "\bZOziDaZodOduzuzAdded non-acknowledged Alert Position Fault: 7\n"
              "\bZOziDaZodOduzuzAdded non-acknowledged Critical Position Fault: 8\n"
              "\bZOziDaZodOduzuzAdded non-acknowledged Error Position Fault: 9\n"
              "\bZOziDaZodOduzuzAdded non-acknowledged Warning Position Fault: 10\n");
    const auto faults = positionFaults();
    ASSERT_EQ(faults.size(), 10u);
    const int severities[10] = {37, 36, 35, 34, 33, 37, 36, 35, 34, 33};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(faults[i].severity, severities[i]) << i;
        EXPECT_EQ(faults[i].acknowledged, i < 5 ? 1 : 0) << i;
    }
    press("0987654321");
    EXPECT_TRUE(positionFaults().empty());
    for (int key = 0; key < 10; ++key) EXPECT_EQ(helper.faultId(1, key), 0);
}

TEST_F(FaultTestModeTest, FaultsAreTrackedPerMode) {
    registerServerServices();
    press("p1o1");
    EXPECT_EQ(positionFaults().size(), 1u);
    EXPECT_EQ(orientationFaults().size(), 1u);
    EXPECT_EQ(helper.faultId(1, 1), 1);
    EXPECT_EQ(helper.faultId(2, 1), 1);

    EXPECT_EQ(press("1"), "\bZOziDaZodOduzuz Removed Orientation fault: 1\n");
    EXPECT_TRUE(orientationFaults().empty());
    EXPECT_EQ(positionFaults().size(), 1u);  // still active

    press("p1");
    EXPECT_TRUE(positionFaults().empty());
}

TEST_F(FaultTestModeTest, ModeKeysConfirmOrRefuse) {
    const struct {
        char key;
        int mode;
        const char* confirmation;
        const char* refusal;
    } keys[] = {
        {'p', 1, " VictoryFaultHelper : Changed to Position fault test mode",
         " VictoryFaultHelper : CANNOT change fault test mode to Position Service! Mode remains: "},
        {'o', 2, " VictoryFaultHelper : Changed to Orientation fault test mode",
         " VictoryFaultHelper : CANNOT change fault test mode to Orientation Service! Mode remains: "},
        {'d', 3, " VictoryFaultHelper : Changed to Direction of Travel fault test mode",
         " VictoryFaultHelper : CANNOT change fault test mode to Direction of Travel Service! Mode remains: "},
        {'g', 4, " VictoryFaultHelper : GPS Receiver fault test mode",
         " VictoryFaultHelper : CANNOT change fault test mode to GPS Receiver Service! Mode remains: "},
        {'e', 5, " VictoryFaultHelper : Generic End Node fault test mode",
         " VictoryFaultHelper : CANNOT change fault test mode to Generic End Node Service! Mode remains: "},
        {'a', 6, " VictoryFaultHelper : APNT fault test mode",
         " VictoryFaultHelper : CANNOT change fault test mode to APNT Service! Mode remains: "},
    };
    // Nothing registered: every key refused, the mode stays "none.".
    for (const auto& k : keys) {
        EXPECT_EQ(press(std::string(1, k.key)), std::string("\nZOziDaZodOduzuz") + k.refusal + "none.\n");
        EXPECT_EQ(helper.mode(), 0);
    }
    // This server's services: the other three refused, naming the mode kept.
    registerServerServices();
    press("o");
    for (const auto& k : keys) {
        const std::string out = press(std::string(1, k.key));
        if (k.mode <= 3) {
            EXPECT_EQ(out, std::string("\nZOziDaZodOduzuz") + k.confirmation + "\n");
            EXPECT_EQ(helper.mode(), k.mode);
        } else {
            EXPECT_EQ(out, std::string("\nZOziDaZodOduzuz") + k.refusal + "Direction of Travel\n");
            EXPECT_EQ(helper.mode(), 3);
        }
    }
    // All six: every key selects its mode and its family takes the faults.
    helper.SetAvailableService(gps);
    helper.SetAvailableService(endNode);
    helper.SetAvailableService(apnt);
    for (const auto& k : keys) {
        EXPECT_EQ(press(std::string(1, k.key)), std::string("\nZOziDaZodOduzuz") + k.confirmation + "\n");
        EXPECT_EQ(helper.mode(), k.mode);
        press("5");
        EXPECT_EQ(helper.faultId(k.mode, 5), 1) << k.key;
    }
    EXPECT_EQ(faultsOf(vgpssTestGetFaults, gps).size(), 1u);
    EXPECT_EQ(faultsOf(vgensTestGetFaults, endNode).size(), 1u);
    EXPECT_EQ(faultsOf(vapntsTestGetFaults, apnt).size(), 1u);
}

TEST_F(FaultTestModeTest, ModeNoneRaisesNothing) {
    const std::string line = "\bZOziDaZodOduzuzAdded acknowledged Emergency none. Fault: 0\n";
    EXPECT_EQ(press("1"), line);
    EXPECT_EQ(press("1"), line);  // the entry stays 0: added again, never removed
    EXPECT_EQ(helper.faultId(0, 1), 0);
}

TEST_F(FaultTestModeTest, FaultIdZeroFromTheLibraryIsNotRecorded) {
    helper.SetAvailableService(position);
    helper.ReplaceService<VpossService>(nullptr);  // the library answers 0 for a null handle
    const std::string line = "\bZOziDaZodOduzuzAdded acknowledged Alert Position Fault: 0\n";
    EXPECT_EQ(press("2"), line);
    EXPECT_EQ(press("2"), line);
    EXPECT_TRUE(positionFaults().empty());
    // Without its handle the mode cannot be selected again.
    EXPECT_EQ(press("p"), "\nZOziDaZodOduzuz VictoryFaultHelper : CANNOT change fault test mode to Position "
                          "Service! Mode remains: Position\n");
    EXPECT_EQ(helper.services(), "Position ");
}

TEST_F(FaultTestModeTest, ReplacedServiceTakesTheFaults) {
    helper.SetAvailableService(position);
    press("4");
    VpossService* renewed = vpossNewService(1, 1, 1, kConfig.c_str(), 1.0, kVcl.c_str());
    ASSERT_NE(renewed, nullptr);
    helper.ReplaceService(renewed);
    press("4");  // removes the old id from the new service: nothing there
    EXPECT_EQ(helper.faultId(1, 4), 0);
    press("4");
    EXPECT_EQ(faultsOf(vpossTestGetFaults, renewed).size(), 1u);
    EXPECT_EQ(positionFaults().size(), 1u);  // the old service kept its own
    EXPECT_EQ(helper.mode(), 1);
    EXPECT_EQ(helper.services(), "Position ");
    vpossDeleteService(renewed);
}

TEST_F(FaultTestModeTest, ZSwitchesTheOutputOffAndOn) {
    registerServerServices();
    EXPECT_EQ(press("z"), "\bZOziDaZodOduzuzTell disabled for Position Orientation Direction of Travel \n");
    EXPECT_TRUE(tellDisabled);
    EXPECT_EQ(press("z"), "\bZOziDaZodOduzuzTell enabled for Position Orientation Direction of Travel \n");
    EXPECT_FALSE(tellDisabled);
}

TEST_F(FaultTestModeTest, HelpAndIgnoredKeys) {
    EXPECT_EQ(press("h"), kHelp);
    EXPECT_EQ(press(" "), kHelp);
    EXPECT_EQ(press("\n"), kHelp);
    registerServerServices();
    EXPECT_EQ(press("xZP\tq!\x7f"), "");
    EXPECT_EQ(helper.mode(), 3);
    EXPECT_FALSE(tellDisabled);
    // Nothing waiting: returns at once, prints nothing.
    EXPECT_EQ(press(""), "");
}

TEST_F(FaultTestModeTest, OneKeyPerCall) {
    helper.SetAvailableService(position);
    keyboard.type("12");
    CoutCapture out;
    helper.ManageFaults(tellDisabled);
    EXPECT_EQ(helper.faultId(1, 1), 1);
    EXPECT_EQ(helper.faultId(1, 2), 0);
    helper.ManageFaults(tellDisabled);
    EXPECT_EQ(helper.faultId(1, 2), 2);
    EXPECT_EQ(_kbhit(), 0);
}

TEST_F(FaultTestModeTest, KeysOutsideTheTableAreIgnoredByDirectCalls) {
    helper.SetAvailableService(position);
    CoutCapture out;
    helper.activateFault(10, true);
    helper.activateFault(-1, false);
    helper.deactivateFault(42);
    EXPECT_EQ(out.take(), "");
    EXPECT_TRUE(positionFaults().empty());
    EXPECT_EQ(VictoryFaultHelper::severityForKey(11), VHLTHC_SEVERITY_OTHER);
    EXPECT_STREQ(VictoryFaultHelper::severityWord(11), "");
}

// The server's fault test step switches its publication off and on again.
TEST_F(FaultTestModeTest, ServerStopsAndRestartsItsOutput) {
    ZOziDaZodOduzuz server;
    ZOziDaZodOduzuzTestAccess access(server);
    access.orientationService() = orientation;
    access.pva() = zozi_test::defaultPva();
    access.utc() = zozi_test::defaultUtc();
    access.faultHelper().SetAvailableService(orientation);
    const auto tells = [&] {
        VictoryTestState s{};
        vorisTestGetState(orientation, &s);
        return s.tellCount;
    };
    CoutCapture out;
    const auto start = tells();
    access.publishOrientation();
    EXPECT_EQ(tells(), start + 1);

    keyboard.type("z");
    server.checkForFaultTestEvents();
    EXPECT_TRUE(access.tellDisabled());
    access.publishOrientation();
    EXPECT_EQ(tells(), start + 1);

    server.checkForFaultTestEvents();  // no key: nothing changes
    EXPECT_TRUE(access.tellDisabled());

    keyboard.type("z");
    server.checkForFaultTestEvents();
    EXPECT_FALSE(access.tellDisabled());
    access.publishOrientation();
    EXPECT_EQ(tells(), start + 2);
    EXPECT_EQ(out.take(), "\bZOziDaZodOduzuzTell disabled for Orientation \n"
                          "\bZOziDaZodOduzuzTell enabled for Orientation \n");
    access.orientationService() = nullptr;
}

}  // namespace
