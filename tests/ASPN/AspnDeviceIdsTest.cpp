#include "ASPN/AspnDeviceIds.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using namespace ASPN2;
using UC = unsigned char;

TEST(DeviceIdFactory, PacksSystemServerKindAndTopic) {
    DeviceIdFactory reused(UC{9}, UC{9});
    reused.reset("NoSuchSystem", 45);  // a reset replaces the whole base
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {DeviceIdFactory().makeDeviceId(1, 0), 256u},
        {reused.makeDeviceId(kCommandResponseKind, 0), 0x2D0200u},
        {reused.makeDeviceId(kMaintenanceEventKind, 0), 0x2D3B00u},
        {DeviceIdFactory(SystemIds::Simulator_name, 45).makeDeviceId(kEventLogKind, 0), 0x022D0100u},
        {DeviceIdFactory(UC{3}, UC{96}).makeDeviceId(59, 7), 0x03603B07u},
        {DeviceIdFactory(UC{255}, UC{255}).makeDeviceId(255, 255), 0xFFFFFFFFu},
        {DeviceIdFactory(static_cast<const char*>(nullptr), 45).makeDeviceId(0, 0), 0x2D0000u},
    };
    for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
    reused.reset(UC{1}, UC{0});
    EXPECT_EQ(reused.makeDeviceId(0, 0), 0x01000000u);
}

// A duplicate in the server table would make two servers indistinguishable.
TEST(ServerIds, FortyUniqueNamesAndExactSystemNames) {
    std::set<std::string> names;
    for (unsigned id = 0; id < 256; ++id) {
        const std::string name = ServerIds::to_string(static_cast<UC>(id));
        EXPECT_TRUE(name == "INVALID_SERVER_ID" || names.insert(name).second) << "duplicate " << name;
    }
    EXPECT_EQ(std::make_tuple(names.size(), ServerIds::count(), std::string(ServerIds::to_string(45))),
              std::make_tuple(std::size_t{40}, 40u, std::string("ZOziDaZodOduzuz")));
    const std::pair<const char*, unsigned> systems[] = {{"GroundVehicle", 1}, {"Simulator", 2},  {"TestBench", 3},
                                                        {"groundvehicle", 0}, {"Simulator ", 0}, {nullptr, 0}};
    for (auto [name, id] : systems) EXPECT_EQ(SystemIds::from_string(name), id) << (name ? name : "(null)");
}

}  // namespace
