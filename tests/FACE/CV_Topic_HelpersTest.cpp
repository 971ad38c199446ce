#include "FACE/CV_Topic_Helpers.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace {

using FACE::TSS::Topics::GetPubSubType;
using Support = std::unique_ptr<eprosima::fastdds::dds::TopicDataType>;

TEST(GetPubSubType, EveryMessageTypeSupportAndNothingElse)
{
    for (const char* type :
         {"Altitude", "BitReport", "BitEntryStatus", "ChallengedEnvironment", "ChannelStatus", "CommandResponse",
          "DeltaTimeAndFrequency", "EventLog", "GNSS", "GNSSSubframe", "GPSTime", "IMU", "MaintenanceEvent",
          "MeasurementIncorporationStatus", "CorvanePNT", "NavigationMode", "PositionVelocity",
          "PositionVelocityAttitude", "ThreeAxisMagnetometer", "TimeAtTheTone", "UtcDownlink", "UTCTime", "GSSIP",
          "Velocity3D", "ReceiverStatus", "GPSLineOfSight", "GPSCryptoStatus", "AssuranceState", "PlatformDynamics",
          "TimeSync", "SVStatus", "ForwardReverseStatus"})
    {
        Support support(GetPubSubType(std::string(type) + "PubSubType"));
        ASSERT_NE(support, nullptr) << type;
        EXPECT_EQ(std::string(support->getName()), "aspn2_msgs::idl::" + std::string(type));
        EXPECT_NE(Support(GetPubSubType(std::string(type) + "PubSubType")).get(), support.get()) << "a new object each call";
    }
    // Element types (their supports exist but are not reachable by name),
    // nested types without a support, and near misses of valid names.
    for (const char* name : {"sv_setPubSubType", "lru_comp_setPubSubType", "headerPubSubType", "UTCTime",
                             "utctimepubsubtype", "UTCTimePubSubType ", "aspn2_msgs::idl::UTCTimePubSubType", "",
                             "PubSubType"})
    {
        EXPECT_EQ(GetPubSubType(name), nullptr) << '"' << name << '"';
    }
}

}  // namespace
