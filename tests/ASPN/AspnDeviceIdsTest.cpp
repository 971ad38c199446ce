#include "ASPN/AspnDeviceIds.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using namespace ASPN2;

TEST(DeviceIdFactory, PacksSystemServerKindAndTopic)
{
    EXPECT_EQ(DeviceIdFactory().makeDeviceId(1, 0), 256u);

    DeviceIdFactory ids;
    ids.reset("NoSuchSystem", 45);
    EXPECT_EQ(ids.makeDeviceId(kCommandResponseKind, 0), 0x2D0200u);
    EXPECT_EQ(ids.makeDeviceId(kMaintenanceEventKind, 0), 0x2D3B00u);

    ids.reset(SystemIds::Simulator_name, 45);
    EXPECT_EQ(ids.makeDeviceId(kEventLogKind, 0), 0x022D0100u);

    // A reset replaces the whole base, never merging with the old one.
    ids.reset(static_cast<unsigned char>(3), static_cast<unsigned char>(96));
    EXPECT_EQ(ids.makeDeviceId(59, 7), 0x03603B07u);
    ids.reset(static_cast<unsigned char>(1), static_cast<unsigned char>(0));
    EXPECT_EQ(ids.makeDeviceId(0, 0), 0x01000000u);

    EXPECT_EQ(DeviceIdFactory(static_cast<unsigned char>(255), static_cast<unsigned char>(255)).makeDeviceId(255, 255),
              0xFFFFFFFFu);
    EXPECT_EQ(DeviceIdFactory("TestBench", 45).makeDeviceId(0, 0), 0x032D0000u);
    EXPECT_EQ(DeviceIdFactory(static_cast<const char*>(nullptr), 45).makeDeviceId(0, 0), 0x2D0000u);
}

TEST(ServerIds, FortyUniqueNamesAndAnInvalidMarkerForTheRest)
{
    EXPECT_STREQ(ServerIds::to_string(45), "ZOziDaZodOduzuz");
    EXPECT_STREQ(ServerIds::to_string(45), ServerIds::ZOziDaZodOduzuz_name);
    EXPECT_STREQ(ServerIds::to_string(ServerIds::kFusionNavigator), ServerIds::FusionNavigator_name);
    EXPECT_STREQ(ServerIds::to_string(0), "INVALID_SERVER_ID");
    EXPECT_STREQ(ServerIds::to_string(255), "INVALID_SERVER_ID");

    std::set<std::string> names;
    for (unsigned id = 0; id < 256; ++id) {
        const char* name = ServerIds::to_string(static_cast<unsigned char>(id));
        ASSERT_NE(name, nullptr);
        if (std::string(name) != "INVALID_SERVER_ID") {
            EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
        }
    }
    EXPECT_EQ(names.size(), 40u);
    EXPECT_EQ(ServerIds::count(), 40u);
}

TEST(SystemIds, ThreeExactNames)
{
    const std::pair<const char*, unsigned> cases[] = {
        {"GroundVehicle", 1}, {"Simulator", 2},  {"TestBench", 3}, {"groundvehicle", 0},
        {"Simulator ", 0},    {"", 0},           {nullptr, 0},
    };
    for (auto [name, id] : cases) {
        EXPECT_EQ(SystemIds::from_string(name), id) << (name ? name : "(null)");
    }
}

TEST(Components, BySystemThenByServer)
{
    const std::string invalid = "INVALID_SERVER_ID";
    std::set<std::string> seen;
    for (unsigned char system : {1, 2}) {
        const std::string c = Components::to_component(45, system);
        EXPECT_NE(c, invalid);
        seen.insert(c);
        EXPECT_EQ(c, Components::to_component(7, system));  // the server plays no part here
    }
    for (unsigned char server : {3, 10, 20, 45, 96}) {
        const std::string c = Components::to_component(server, 0);
        EXPECT_NE(c, invalid);
        seen.insert(c);
    }
    EXPECT_EQ(seen.size(), 7u);
    EXPECT_EQ(Components::to_component(4, 0), invalid);
    EXPECT_EQ(Components::to_component(45, 3), invalid);
}

}  // namespace
