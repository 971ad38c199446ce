#include "FACE/CV_Topic_Helpers.h"

#include <cctype>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace {

using FACE::TSS::Topics::GetPubSubType;
using Support = std::unique_ptr<eprosima::fastdds::dds::TopicDataType>;

const char* const kTypes[] = {
    "Altitude", "BitReport", "BitEntryStatus", "ChallengedEnvironment", "ChannelStatus", "CommandResponse",
    "DeltaTimeAndFrequency", "EventLog", "GNSS", "GNSSSubframe", "GPSTime", "IMU", "MaintenanceEvent",
    "MeasurementIncorporationStatus", "CorvanePNT", "NavigationMode", "PositionVelocity", "PositionVelocityAttitude",
    "ThreeAxisMagnetometer", "TimeAtTheTone", "UtcDownlink", "UTCTime", "GSSIP", "Velocity3D", "ReceiverStatus",
    "GPSLineOfSight", "GPSCryptoStatus", "AssuranceState", "PlatformDynamics", "TimeSync", "SVStatus",
    "ForwardReverseStatus",
};

TEST(GetPubSubType, EveryMessageTypeSupportAndNothingElse)
{
    for (const char* type : kTypes)
    {
        const std::string name = std::string(type) + "PubSubType";
        Support support(GetPubSubType(name));
        ASSERT_NE(support, nullptr) << name;
        EXPECT_EQ(std::string(support->getName()), "aspn2_msgs::idl::" + std::string(type));
        Support again(GetPubSubType(name));
        EXPECT_NE(again.get(), support.get()) << "each call makes a new object";
        std::string lower = name;
        for (char& ch : lower)
        {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        EXPECT_EQ(GetPubSubType(lower), nullptr) << lower;
    }
    const char* const others[] = {
        // Element type supports exist but are not reachable by name.
        "bit_comp_setPubSubType", "channel_status_obsPubSubType", "gnss_obsPubSubType", "gpslos_obsPubSubType",
        "interference_type_setPubSubType", "key_type_setPubSubType", "lru_comp_setPubSubType",
        "meas_type_setPubSubType", "sv_setPubSubType",
        // Nested types without a type support, and near misses of valid names.
        "headerPubSubType", "UTCTime", "UTCTimePubSubType ", "aspn2_msgs::idl::UTCTimePubSubType", "", "PubSubType"};
    for (const char* name : others)
    {
        EXPECT_EQ(GetPubSubType(name), nullptr) << '"' << name << '"';
    }
}

}  // namespace
