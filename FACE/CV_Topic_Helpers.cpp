#include "FACE/CV_Topic_Helpers.h"

#include <iterator>

#include "aspn2_msgs/AltitudePubSubTypes.h"
#include "aspn2_msgs/AssuranceStatePubSubTypes.h"
#include "aspn2_msgs/BitEntryStatusPubSubTypes.h"
#include "aspn2_msgs/BitReportPubSubTypes.h"
#include "aspn2_msgs/ChallengedEnvironmentPubSubTypes.h"
#include "aspn2_msgs/ChannelStatusPubSubTypes.h"
#include "aspn2_msgs/CommandResponsePubSubTypes.h"
#include "aspn2_msgs/CorvanePNTPubSubTypes.h"
#include "aspn2_msgs/DeltaTimeAndFrequencyPubSubTypes.h"
#include "aspn2_msgs/EventLogPubSubTypes.h"
#include "aspn2_msgs/ForwardReverseStatusPubSubTypes.h"
#include "aspn2_msgs/GNSSPubSubTypes.h"
#include "aspn2_msgs/GNSSSubframePubSubTypes.h"
#include "aspn2_msgs/GPSCryptoStatusPubSubTypes.h"
#include "aspn2_msgs/GPSLineOfSightPubSubTypes.h"
#include "aspn2_msgs/GPSTimePubSubTypes.h"
#include "aspn2_msgs/GSSIPPubSubTypes.h"
#include "aspn2_msgs/IMUPubSubTypes.h"
#include "aspn2_msgs/MaintenanceEventPubSubTypes.h"
#include "aspn2_msgs/MeasurementIncorporationStatusPubSubTypes.h"
#include "aspn2_msgs/NavigationModePubSubTypes.h"
#include "aspn2_msgs/PlatformDynamicsPubSubTypes.h"
#include "aspn2_msgs/PositionVelocityAttitudePubSubTypes.h"
#include "aspn2_msgs/PositionVelocityPubSubTypes.h"
#include "aspn2_msgs/ReceiverStatusPubSubTypes.h"
#include "aspn2_msgs/SVStatusPubSubTypes.h"
#include "aspn2_msgs/ThreeAxisMagnetometerPubSubTypes.h"
#include "aspn2_msgs/TimeAtTheTonePubSubTypes.h"
#include "aspn2_msgs/TimeSyncPubSubTypes.h"
#include "aspn2_msgs/UTCTimePubSubTypes.h"
#include "aspn2_msgs/UtcDownlinkPubSubTypes.h"
#include "aspn2_msgs/Velocity3DPubSubTypes.h"

namespace FACE {
namespace TSS {
namespace Topics {

namespace {

using Factory = eprosima::fastdds::dds::TopicDataType* (*)();

template <class PubSubType>
eprosima::fastdds::dds::TopicDataType* make()
{
    return new PubSubType();
}

struct Entry
{
    const char* name;
    Factory factory;
};

#define ASPN2_TYPE_SUPPORT(T) {#T "PubSubType", &make<aspn2_msgs::idl::T##PubSubType>}

const Entry kTypeSupports[] = {
    ASPN2_TYPE_SUPPORT(Altitude),
    ASPN2_TYPE_SUPPORT(BitReport),
    ASPN2_TYPE_SUPPORT(BitEntryStatus),
    ASPN2_TYPE_SUPPORT(ChallengedEnvironment),
    ASPN2_TYPE_SUPPORT(ChannelStatus),
    ASPN2_TYPE_SUPPORT(CommandResponse),
    ASPN2_TYPE_SUPPORT(DeltaTimeAndFrequency),
    ASPN2_TYPE_SUPPORT(EventLog),
    ASPN2_TYPE_SUPPORT(GNSS),
    ASPN2_TYPE_SUPPORT(GNSSSubframe),
    ASPN2_TYPE_SUPPORT(GPSTime),
    ASPN2_TYPE_SUPPORT(IMU),
    ASPN2_TYPE_SUPPORT(MaintenanceEvent),
    ASPN2_TYPE_SUPPORT(MeasurementIncorporationStatus),
    ASPN2_TYPE_SUPPORT(CorvanePNT),
    ASPN2_TYPE_SUPPORT(NavigationMode),
    ASPN2_TYPE_SUPPORT(PositionVelocity),
    ASPN2_TYPE_SUPPORT(PositionVelocityAttitude),
    ASPN2_TYPE_SUPPORT(ThreeAxisMagnetometer),
    ASPN2_TYPE_SUPPORT(TimeAtTheTone),
    ASPN2_TYPE_SUPPORT(UtcDownlink),
    ASPN2_TYPE_SUPPORT(UTCTime),
    ASPN2_TYPE_SUPPORT(GSSIP),
    ASPN2_TYPE_SUPPORT(Velocity3D),
    ASPN2_TYPE_SUPPORT(ReceiverStatus),
    ASPN2_TYPE_SUPPORT(GPSLineOfSight),
    ASPN2_TYPE_SUPPORT(GPSCryptoStatus),
    ASPN2_TYPE_SUPPORT(AssuranceState),
    ASPN2_TYPE_SUPPORT(PlatformDynamics),
    ASPN2_TYPE_SUPPORT(TimeSync),
    ASPN2_TYPE_SUPPORT(SVStatus),
    ASPN2_TYPE_SUPPORT(ForwardReverseStatus),
};

#undef ASPN2_TYPE_SUPPORT

static_assert(std::size(kTypeSupports) == 32, "one entry per message type support");

}  // namespace

eprosima::fastdds::dds::TopicDataType* GetPubSubType(std::string const& name)
{
    for (const Entry& entry : kTypeSupports)
    {
        if (name == entry.name)
        {
            return entry.factory();
        }
    }
    return nullptr;
}

}  // namespace Topics
}  // namespace TSS
}  // namespace FACE
