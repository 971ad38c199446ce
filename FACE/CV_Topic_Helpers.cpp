#include "FACE/CV_Topic_Helpers.h"

#include <iterator>

#include "aspn2_msgs/AllPubSubTypes.h"

namespace FACE {
namespace TSS {
namespace Topics {

namespace {

using Factory = eprosima::fastdds::dds::TopicDataType* (*)();

template <class PubSubType>
eprosima::fastdds::dds::TopicDataType* make() {
    return new PubSubType();
}

struct Entry {
    const char* name;
    Factory factory;
};

#define ASPN2_TYPE_SUPPORT(T) \
    { #T "PubSubType", &make < aspn2_msgs::idl::T##PubSubType> }

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

eprosima::fastdds::dds::TopicDataType* GetPubSubType(std::string const& name) {
    for (const Entry& entry : kTypeSupports) {
        if (name == entry.name) {
            return entry.factory();
        }
    }
    return nullptr;
}

}  // namespace Topics
}  // namespace TSS
}  // namespace FACE
