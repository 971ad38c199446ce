#include "FACE/CV_Topic_Helpers.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

namespace {

using FACE::TSS::Topics::GetPubSubType;

const char* const kNames[] = {
    "AltitudePubSubType",
    "BitReportPubSubType",
    "BitEntryStatusPubSubType",
    "ChallengedEnvironmentPubSubType",
    "ChannelStatusPubSubType",
    "CommandResponsePubSubType",
    "DeltaTimeAndFrequencyPubSubType",
    "EventLogPubSubType",
    "GNSSPubSubType",
    "GNSSSubframePubSubType",
    "GPSTimePubSubType",
    "IMUPubSubType",
    "MaintenanceEventPubSubType",
    "MeasurementIncorporationStatusPubSubType",
    "CorvanePNTPubSubType",
    "NavigationModePubSubType",
    "PositionVelocityPubSubType",
    "PositionVelocityAttitudePubSubType",
    "ThreeAxisMagnetometerPubSubType",
    "TimeAtTheTonePubSubType",
    "UtcDownlinkPubSubType",
    "UTCTimePubSubType",
    "GSSIPPubSubType",
    "Velocity3DPubSubType",
    "ReceiverStatusPubSubType",
    "GPSLineOfSightPubSubType",
    "GPSCryptoStatusPubSubType",
    "AssuranceStatePubSubType",
    "PlatformDynamicsPubSubType",
    "TimeSyncPubSubType",
    "SVStatusPubSubType",
    "ForwardReverseStatusPubSubType",
};

std::string className(const eprosima::fastdds::dds::TopicDataType& object)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(typeid(object).name(), nullptr, nullptr, &status), std::free);
    return status == 0 ? name.get() : "";
}

TEST(GetPubSubType, EveryMessageTypeSupport)
{
    for (const char* name : kNames)
    {
        SCOPED_TRACE(name);
        std::unique_ptr<eprosima::fastdds::dds::TopicDataType> support(GetPubSubType(name));
        ASSERT_NE(support, nullptr);
        const std::string type = std::string(name).substr(0, std::string(name).size() - 10);
        EXPECT_EQ(className(*support), "aspn2_msgs::idl::" + std::string(name));
        EXPECT_EQ(std::string(support->getName()), "aspn2_msgs::idl::" + type);
    }
}

TEST(GetPubSubType, EachCallReturnsANewObject)
{
    std::unique_ptr<eprosima::fastdds::dds::TopicDataType> a(GetPubSubType("UTCTimePubSubType"));
    std::unique_ptr<eprosima::fastdds::dds::TopicDataType> b(GetPubSubType("UTCTimePubSubType"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a->m_typeSize, 116u);
}

TEST(GetPubSubType, OtherNamesGiveNull)
{
    const char* const others[] = {
        // Element type supports exist but are not reachable by name.
        "bit_comp_setPubSubType", "channel_status_obsPubSubType", "gnss_obsPubSubType",
        "gpslos_obsPubSubType", "interference_type_setPubSubType", "key_type_setPubSubType",
        "lru_comp_setPubSubType", "meas_type_setPubSubType", "sv_setPubSubType",
        // Nested types without a type support.
        "headerPubSubType", "timestampPubSubType",
        // Near misses of valid names.
        "utctimepubsubtype", "UTCTIMEPUBSUBTYPE", "UTCTime", "UTCTimePubSubType ",
        " UTCTimePubSubType", "aspn2_msgs::idl::UTCTimePubSubType", "UTCTimePubSubTypes",
        "", "PubSubType", "Unknown"};
    for (const char* name : others)
    {
        EXPECT_EQ(GetPubSubType(name), nullptr) << '"' << name << '"';
    }
    for (const char* name : kNames)
    {
        std::string lower = name;
        for (char& ch : lower)
        {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        EXPECT_EQ(GetPubSubType(lower), nullptr) << lower;
    }
}

}  // namespace
