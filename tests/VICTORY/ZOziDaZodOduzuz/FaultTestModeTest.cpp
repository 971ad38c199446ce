// The keyboard fault test, driven through a pipe on standard input; the
// faults it raises are read back from the services library.
#include "VICTORY/ZOziDaZodOduzuz/VictoryFaultHelper.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using zozi_test::CoutCapture;

const char* const kHelp =
    "\nZOziDaZodOduzuz VictoryFaultHelper available keys:\n"
    "    1 = Send / Remove Acknowledged Emergency\n    2 = Send / Remove Acknowledged Alert\n"
    "    3 = Send / Remove Acknowledged Critical\n    4 = Send / Remove Acknowledged Error\n"
    "    5 = Send / Remove Acknowledged Warning\n    6 = Send / Remove Nonacknowledged Emergency\n"
    "    7 = Send / Remove Nonacknowledged Alert\n    8 = Send / Remove Nonacknowledged Critical\n"
    "    9 = Send / Remove Nonacknowledged Error\n    0 = Send / Remove Nonacknowledged Warning\n"
    "    p = Select Position fault mode\n    o = Select Orientation fault mode\n"
    "    d = Select Direction of Travel fault mode\n    g = Select GPS Receiver fault mode\n"
    "    e = Select Generic End Node fault mode\n    a = Select APNT fault mode\n"
    "    z = Disable VICTORY service \"Tell\" output\n\n";

std::string refusal(const std::string& service, const std::string& kept) {
    return "\nZOziDaZodOduzuz VictoryFaultHelper : CANNOT change fault test mode to " + service +
           " Service! Mode remains: " + kept + "\n";
}

class FaultTestModeTest : public ::testing::Test {
protected:
    zozi_test::Services s;
    VictoryFaultHelper helper{"ZOziDaZodOduzuz"};
    zozi_test::StdinPipe keyboard;
    bool tellDisabled = false;

    void SetUp() override { ASSERT_TRUE(s.ok()); }
    void registerServerServices() {
        helper.SetAvailableService(s.position);
        helper.SetAvailableService(s.orientation);
        helper.SetAvailableService(s.dot);
    }
    // Types `keys` and handles them one per call, as the worker does once
    // per cycle; returns what was printed.
    std::string press(const std::string& keys) {
        CoutCapture out;
        keyboard.type(keys);
        for (int i = 0; i < 1000 && _kbhit() > 0; ++i) helper.ManageFaults(tellDisabled);
        return out.take();
    }
    int positionFaults() { return vpossTestGetFaults(s.position, nullptr, 0); }
};

// Each digit raises its fault, the same digit clears it again; the
// fault's fields are what the library is given.
TEST_F(FaultTestModeTest, DigitsRaiseAndClearTheirFaults) {
    registerServerServices();
    EXPECT_EQ(press("p"), "\nZOziDaZodOduzuz VictoryFaultHelper : Changed to Position fault test mode\n");
    const char* const kinds[10] = {"acknowledged Emergency",  "acknowledged Alert",        "acknowledged Critical",
                                   "acknowledged Error",      "acknowledged Warning",      "non-acknowledged Emergency",
                                   "non-acknowledged Alert",  "non-acknowledged Critical", "non-acknowledged Error",
                                   "non-acknowledged Warning"};
    std::string expected;
    for (int i = 0; i < 10; ++i) {
        expected +=
            "\bZOziDaZodOduzuzAdded " + std::string(kinds[i]) + " Position Fault: " + std::to_string(i + 1) + "\n";
    }
    EXPECT_EQ(press("1234567890"), expected);
    VictoryTestFault faults[10]{};
    ASSERT_EQ(vpossTestGetFaults(s.position, faults, 10), 10);
    const int severities[10] = {37, 36, 35, 34, 33, 37, 36, 35, 34, 33};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(std::make_tuple(faults[i].severity, faults[i].acknowledged, faults[i].category, faults[i].action),
                  std::make_tuple(severities[i], i < 5 ? 1 : 0, 22, 1))
            << i;
        EXPECT_STREQ(faults[i].description, "Fake Fault for Compliance Testing");
    }
    EXPECT_EQ(press("3"), "\bZOziDaZodOduzuz Removed Position fault: 3\n");
    press("098765421");
    EXPECT_EQ(positionFaults(), 0);
    EXPECT_EQ(press("3"), "\bZOziDaZodOduzuzAdded acknowledged Critical Position Fault: 11\n");
}

// A fault belongs to the mode it was raised in.
TEST_F(FaultTestModeTest, FaultsAreTrackedPerMode) {
    registerServerServices();
    press("p1o1");
    EXPECT_EQ(vorisTestGetFaults(s.orientation, nullptr, 0), 1);
    EXPECT_EQ(press("1"), "\bZOziDaZodOduzuz Removed Orientation fault: 1\n");
    EXPECT_EQ(vorisTestGetFaults(s.orientation, nullptr, 0), 0);
    EXPECT_EQ(positionFaults(), 1);
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
    EXPECT_EQ(press("p"), refusal("Position", "none."));
    helper.SetAvailableService<VorisService>(nullptr);  // a missing service is not offered
    helper.SetAvailableService(s.position);
    EXPECT_EQ(std::make_pair(helper.mode(), helper.services()), std::make_pair(1, std::string("Position ")));
    helper.SetAvailableService(s.orientation);
    helper.SetAvailableService(s.dot);
    press("o");
    for (int mode = 1; mode <= 6; ++mode) {
        const auto& k = keys[mode - 1];
        EXPECT_EQ(press(std::string(1, k.key)), mode <= 3 ? std::string("\nZOziDaZodOduzuz") + k.confirmation + "\n"
                                                          : refusal(k.service, "Direction of Travel"));
        EXPECT_EQ(helper.mode(), std::min(mode, 3));
    }
    // With all six, each key selects its mode and that family takes the fault.
    helper.SetAvailableService(s.gps);
    helper.SetAvailableService(s.endNode);
    helper.SetAvailableService(s.apnt);
    for (const auto& k : keys) {
        EXPECT_EQ(press(std::string(1, k.key)), std::string("\nZOziDaZodOduzuz") + k.confirmation + "\n");
        EXPECT_EQ(press("5"), std::string("\bZOziDaZodOduzuzAdded acknowledged Warning ") + k.service + " Fault: 1\n");
    }
    EXPECT_EQ(vgpssTestGetFaults(s.gps, nullptr, 0) + vgensTestGetFaults(s.endNode, nullptr, 0) +
                  vapntsTestGetFaults(s.apnt, nullptr, 0),
              3);
    EXPECT_EQ(helper.services(), "Position Orientation Direction of Travel GPS Receiver Generic End Node APNT");
}

// Fault id 0 (no mode, or the library's answer for a lost handle) is not
// recorded, so the key adds again.
TEST_F(FaultTestModeTest, NoIdNoRecord) {
    const std::string none = "\bZOziDaZodOduzuzAdded acknowledged Emergency none. Fault: 0\n";
    EXPECT_EQ(press("11"), none + none);
    helper.SetAvailableService(s.position);
    helper.ReplaceService<VpossService>(nullptr);
    const std::string zero = "\bZOziDaZodOduzuzAdded acknowledged Alert Position Fault: 0\n";
    EXPECT_EQ(press("22"), zero + zero);
    EXPECT_EQ(positionFaults(), 0);
    EXPECT_EQ(press("p"), refusal("Position", "Position"));
}

TEST_F(FaultTestModeTest, HelpTellSwitchOtherKeysAndOneKeyPerCall) {
    EXPECT_EQ(press("h \n"), std::string(kHelp) + kHelp + kHelp);
    registerServerServices();
    EXPECT_EQ(press("xZP\tq!\x7f"), "");
    EXPECT_EQ(helper.mode(), 3);
    EXPECT_EQ(press("z"), "\bZOziDaZodOduzuzTell disabled for Position Orientation Direction of Travel \n");
    EXPECT_TRUE(tellDisabled);
    EXPECT_EQ(press("z"), "\bZOziDaZodOduzuzTell enabled for Position Orientation Direction of Travel \n");
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
    CoutCapture out;
    for (const char* step : {"", "z", "", "z"}) {
        keyboard.type(step);
        server.checkForFaultTestEvents();
        access.publishOrientation();
    }
    EXPECT_EQ(s.tells()[1], 2u);  // before the first 'z' and after the second
    EXPECT_EQ(out.take(),
              "\bZOziDaZodOduzuzTell disabled for Orientation \n"
              "\bZOziDaZodOduzuzTell enabled for Orientation \n");
    access.orientationService() = nullptr;
}

}  // namespace
