// Registered names, size limits and boundedness of every type support.

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "MessageCases.h"

namespace {

using namespace aspn2_test;

struct Expected
{
    std::size_t max;  // getMaxCdrSerializedSize()
    bool boundedAndPlain;
};

// Largest body (255 characters per string, 100 elements per sequence) and
// whether the type is bounded and plain.
const std::map<std::string, Expected> kExpected = {
    {"PositionVelocityAttitude", {768, true}},
    {"UTCTime", {112, true}},
    {"CommandResponse", {316, false}},
    {"EventLog", {308, false}},
    {"MaintenanceEvent", {168, true}},
    {"Altitude", {64, true}},
    {"AssuranceState", {48, false}},
    {"BitEntryStatus", {47, true}},
    {"BitReport", {860, false}},
    {"ChallengedEnvironment", {1652, false}},
    {"ChannelStatus", {4452, false}},
    {"CorvanePNT", {212, false}},
    {"DeltaTimeAndFrequency", {72, true}},
    {"ForwardReverseStatus", {52, false}},
    {"GNSS", {4076, false}},
    {"GNSSSubframe", {176, false}},
    {"GPSCryptoStatus", {2052, false}},
    {"GPSLineOfSight", {14456, false}},
    {"GPSTime", {136, true}},
    {"GSSIP", {152, false}},
    {"IMU", {96, true}},
    {"MeasurementIncorporationStatus", {1252, false}},
    {"NavigationMode", {48, false}},
    {"PlatformDynamics", {1296, true}},
    {"PositionVelocity", {384, true}},
    {"ReceiverStatus", {72, true}},
    {"SVStatus", {2449, false}},
    {"ThreeAxisMagnetometer", {144, true}},
    {"TimeAtTheTone", {44, true}},
    {"TimeSync", {64, true}},
    {"UtcDownlink", {88, true}},
    {"Velocity3D", {144, true}},
    {"bit_comp_set", {8, true}},
    {"channel_status_obs", {44, false}},
    {"gnss_obs", {44, false}},
    {"gpslos_obs", {144, false}},
    {"interference_type_set", {16, false}},
    {"key_type_set", {20, false}},
    {"lru_comp_set", {8, true}},
    {"meas_type_set", {12, true}},
    {"sv_set", {21, false}},
};

TEST(TypeSupport, EveryTypeHasItsNameAndLimits)
{
    ASSERT_EQ(messageCases().size(), kExpected.size());
    for (const MessageCase& c : messageCases())
    {
        SCOPED_TRACE(c.name);
        const auto it = kExpected.find(c.name);
        ASSERT_NE(it, kExpected.end());
        const Expected& e = it->second;
        const auto support = c.make();

        EXPECT_EQ(std::string(support->getName()), "aspn2_msgs::idl::" + c.name);
        EXPECT_EQ(c.maxSize(), e.max);
        // The maximum body, rounded up to whole 4-byte words, plus the
        // encapsulation header.
        EXPECT_EQ(support->m_typeSize, (e.max + 3) / 4 * 4 + 4);
        EXPECT_EQ(support->is_bounded(), e.boundedAndPlain);
        EXPECT_EQ(support->is_plain(), e.boundedAndPlain);
        EXPECT_FALSE(support->m_isGetKeyDefined);
    }
}

}  // namespace
