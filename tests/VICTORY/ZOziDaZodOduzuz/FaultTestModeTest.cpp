// The keyboard fault test, driven through a pipe on standard input; the
// faults it raises are read back from the services library.
#include "VICTORY/ZOziDaZodOduzuz/VictoryFaultHelper.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zozi_test::CoutCapture;

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

class FaultTestModeTest : public ::testing::Test {
protected:
    zozi_test::Services s;
    VictoryFaultHelper helper{"ZOziDaZodOduzuz"};
    zozi_test::StdinPipe keyboard;
    bool tellDisabled = false;

    void SetUp() override { ASSERT_TRUE(s.ok()); }

    // The services this server registers, in its order.
    void registerServerServices() {
        helper.SetAvailableService(s.position);
        helper.SetAvailableService(s.orientation);
        helper.SetAvailableService(s.dot);
    }

    // Types `keys` and handles them one per call; returns what was printed.
    std::string press(const std::string& keys) {
        CoutCapture out;
        keyboard.type(keys);
        zozi_test::handleAllKeys([&] { helper.ManageFaults(tellDisabled); });
        return out.take();
    }

    int positionFaults() { return vpossTestGetFaults(s.position, nullptr, 0); }
    int orientationFaults() { return vorisTestGetFaults(s.orientation, nullptr, 0); }
};

TEST_F(FaultTestModeTest, RegistrationSelectsTheLastServiceAndListsEach) {
    helper.SetAvailableService<VorisService>(nullptr);
    helper.SetAvailableService(s.position);
    helper.SetAvailableService<VdotsService>(nullptr);
    EXPECT_EQ(helper.mode(), 1);
    EXPECT_EQ(helper.services(), "Position ");
    helper.SetAvailableService(s.orientation);
    helper.SetAvailableService(s.dot);
    EXPECT_EQ(helper.mode(), 3);
    helper.SetAvailableService(s.gps);
    helper.SetAvailableService(s.endNode);
    helper.SetAvailableService(s.apnt);
    EXPECT_EQ(helper.mode(), 6);
    EXPECT_EQ(helper.services(), "Position Orientation Direction of Travel GPS Receiver Generic End Node APNT");
}

TEST_F(FaultTestModeTest, DigitRaisesThenClearsTheSameFault) {
    registerServerServices();
    EXPECT_EQ(press("p"), "\nZOziDaZodOduzuz VictoryFaultHelper : Changed to Position fault test mode\n");
    EXPECT_EQ(press("3"), "\bZOziDaZodOduzuzAdded acknowledged Critical Position Fault: 1\n");
    VictoryTestFault f{};
    ASSERT_EQ(vpossTestGetFaults(s.position, &f, 1), 1);
    EXPECT_EQ(f.id, 1);
    EXPECT_EQ(f.acknowledged, 1);
    EXPECT_EQ(f.severity, 35);
    EXPECT_EQ(f.category, 22);
    EXPECT_EQ(f.action, 1);
    EXPECT_STREQ(f.description, "Fake Fault for Compliance Testing");

    EXPECT_EQ(press("3"), "\bZOziDaZodOduzuz Removed Position fault: 1\n");
    EXPECT_EQ(positionFaults(), 0);
    EXPECT_EQ(press("3"), "\bZOziDaZodOduzuzAdded acknowledged Critical Position Fault: 2\n");
}

TEST_F(FaultTestModeTest, EachDigitHasItsSeverityAndAcknowledgement) {
    helper.SetAvailableService(s.position);
    EXPECT_EQ(press("1234567890"),
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
    VictoryTestFault faults[10]{};
    ASSERT_EQ(vpossTestGetFaults(s.position, faults, 10), 10);
    const int severities[10] = {37, 36, 35, 34, 33, 37, 36, 35, 34, 33};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(faults[i].severity, severities[i]) << i;
        EXPECT_EQ(faults[i].acknowledged, i < 5 ? 1 : 0) << i;
    }
    press("0987654321");
    EXPECT_EQ(positionFaults(), 0);
}

TEST_F(FaultTestModeTest, FaultsAreTrackedPerMode) {
    registerServerServices();
    press("p1o1");
    EXPECT_EQ(positionFaults(), 1);
    EXPECT_EQ(orientationFaults(), 1);
    EXPECT_EQ(press("1"), "\bZOziDaZodOduzuz Removed Orientation fault: 1\n");
    EXPECT_EQ(orientationFaults(), 0);
    EXPECT_EQ(positionFaults(), 1);  // still active until its mode comes back
    press("p1");
    EXPECT_EQ(positionFaults(), 0);
}

TEST_F(FaultTestModeTest, ModeKeysConfirmOrRefuse) {
    const struct {
        char key;
        const char* confirmation;
        const char* service;
    } keys[] = {
        {'p', " VictoryFaultHelper : Changed to Position fault test mode", "Position"},
        {'o', " VictoryFaultHelper : Changed to Orientation fault test mode", "Orientation"},
        {'d', " VictoryFaultHelper : Changed to Direction of Travel fault test mode", "Direction of Travel"},
        {'g', " VictoryFaultHelper : GPS Receiver fault test mode", "GPS Receiver"},
        {'e', " VictoryFaultHelper : Generic End Node fault test mode", "Generic End Node"},
        {'a', " VictoryFaultHelper : APNT fault test mode", "APNT"},
    };
    const auto refusal = [](const char* service, const char* kept) {
        return std::string("\nZOziDaZodOduzuz VictoryFaultHelper : CANNOT change fault test mode to ") + service +
               " Service! Mode remains: " + kept + "\n";
    };
    EXPECT_EQ(press("p"), refusal("Position", "none."));
    registerServerServices();
    press("o");
    for (int mode = 1; mode <= 6; ++mode) {
        const auto& k = keys[mode - 1];
        EXPECT_EQ(press(std::string(1, k.key)),
                  mode <= 3 ? std::string("\nZOziDaZodOduzuz") + k.confirmation + "\n"
                            : refusal(k.service, "Direction of Travel"));
        EXPECT_EQ(helper.mode(), mode <= 3 ? mode : 3);
    }
    // With all six, each key selects its mode and that family takes the fault.
    helper.SetAvailableService(s.gps);
    helper.SetAvailableService(s.endNode);
    helper.SetAvailableService(s.apnt);
    for (int mode = 1; mode <= 6; ++mode) {
        const auto& k = keys[mode - 1];
        EXPECT_EQ(press(std::string(1, k.key)), std::string("\nZOziDaZodOduzuz") + k.confirmation + "\n");
        EXPECT_EQ(press("5"), std::string("\bZOziDaZodOduzuzAdded acknowledged Warning ") + k.service + " Fault: 1\n");
    }
    EXPECT_EQ(vgpssTestGetFaults(s.gps, nullptr, 0), 1);
    EXPECT_EQ(vgensTestGetFaults(s.endNode, nullptr, 0), 1);
    EXPECT_EQ(vapntsTestGetFaults(s.apnt, nullptr, 0), 1);
}

TEST_F(FaultTestModeTest, NoIdNoRecord) {
    // Mode 0 raises nothing; the entry stays 0, so the key adds again.
    const std::string none = "\bZOziDaZodOduzuzAdded acknowledged Emergency none. Fault: 0\n";
    EXPECT_EQ(press("11"), none + none);
    // The library answers id 0 (here: for a null handle): not recorded either.
    helper.SetAvailableService(s.position);
    helper.ReplaceService<VpossService>(nullptr);
    const std::string zero = "\bZOziDaZodOduzuzAdded acknowledged Alert Position Fault: 0\n";
    EXPECT_EQ(press("22"), zero + zero);
    EXPECT_EQ(positionFaults(), 0);
    // Without its handle the mode cannot be selected again.
    EXPECT_EQ(press("p"), "\nZOziDaZodOduzuz VictoryFaultHelper : CANNOT change fault test mode to Position "
                          "Service! Mode remains: Position\n");
}

TEST_F(FaultTestModeTest, ZSwitchesTheOutputOffAndOn) {
    registerServerServices();
    EXPECT_EQ(press("z"), "\bZOziDaZodOduzuzTell disabled for Position Orientation Direction of Travel \n");
    EXPECT_TRUE(tellDisabled);
    EXPECT_EQ(press("z"), "\bZOziDaZodOduzuzTell enabled for Position Orientation Direction of Travel \n");
    EXPECT_FALSE(tellDisabled);
}

TEST_F(FaultTestModeTest, HelpOtherKeysAndOneKeyPerCall) {
    EXPECT_EQ(press("h"), kHelp);
    EXPECT_EQ(press(" \n"), std::string(kHelp) + kHelp);
    registerServerServices();
    EXPECT_EQ(press("xZP\tq!\x7f"), "");
    EXPECT_EQ(helper.mode(), 3);
    EXPECT_FALSE(tellDisabled);

    keyboard.type("zz");
    CoutCapture out;
    helper.ManageFaults(tellDisabled);
    EXPECT_TRUE(tellDisabled);
    EXPECT_EQ(_kbhit(), 1);
    helper.ManageFaults(tellDisabled);
    helper.ManageFaults(tellDisabled);  // nothing waiting: back at once
    EXPECT_FALSE(tellDisabled);
}

// The server's fault test step switches its publication off and on again.
TEST_F(FaultTestModeTest, ServerStopsAndRestartsItsOutput) {
    ZOziDaZodOduzuz server;
    ZOziDaZodOduzuzTestAccess access(server);
    access.orientationService() = s.orientation;
    access.pva() = zozi_test::defaultPva();
    access.faultHelper().SetAvailableService(s.orientation);
    const auto tells = [&] { return zozi_test::stateOf(vorisTestGetState, s.orientation).tellCount; };
    CoutCapture out;
    const auto start = tells();
    for (const char* step : {"", "z", "", "z"}) {
        keyboard.type(step);
        server.checkForFaultTestEvents();
        access.publishOrientation();
    }
    EXPECT_EQ(tells(), start + 2);  // told before the first 'z' and after the second
    EXPECT_FALSE(access.tellDisabled());
    EXPECT_EQ(out.take(), "\bZOziDaZodOduzuzTell disabled for Orientation \n"
                          "\bZOziDaZodOduzuzTell enabled for Orientation \n");
    access.orientationService() = nullptr;
}

}  // namespace
