#include "MessageCases.h"

#include <algorithm>
#include <cstring>

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
#include "aspn2_msgs/bit_comp_setPubSubTypes.h"
#include "aspn2_msgs/channel_status_obsPubSubTypes.h"
#include "aspn2_msgs/gnss_obsPubSubTypes.h"
#include "aspn2_msgs/gpslos_obsPubSubTypes.h"
#include "aspn2_msgs/interference_type_setPubSubTypes.h"
#include "aspn2_msgs/key_type_setPubSubTypes.h"
#include "aspn2_msgs/lru_comp_setPubSubTypes.h"
#include "aspn2_msgs/meas_type_setPubSubTypes.h"
#include "aspn2_msgs/sv_setPubSubTypes.h"

namespace aspn2_test {

namespace idl = aspn2_msgs::idl;
using eprosima::fastdds::dds::TopicDataType;

namespace {

using aspn2_test::operator+;

template <class V>
Bytes littleEndian(V v)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof v);
    Bytes out(sizeof v);
    for (std::size_t i = 0; i < sizeof v; ++i)
    {
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    return out;
}

// Consecutive doubles first, first + 1, ... starting at `offset`.
std::vector<Field> doubles(std::size_t offset, std::size_t count, double first)
{
    std::vector<Field> out;
    for (std::size_t i = 0; i < count; ++i)
    {
        out.push_back({offset + 8 * i, f64(first + static_cast<double>(i))});
    }
    return out;
}

template <std::size_t N>
void fillDoubles(std::array<double, N>& a, double first)
{
    for (std::size_t i = 0; i < N; ++i)
    {
        a[i] = first + static_cast<double>(i);
    }
}

template <std::size_t R, std::size_t C>
void fillDoubles(std::array<std::array<double, C>, R>& a, double first)
{
    for (std::size_t r = 0; r < R; ++r)
    {
        fillDoubles(a[r], first + static_cast<double>(r * C));
    }
}

std::vector<Field> operator+(std::vector<Field> a, const std::vector<Field>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void fillHeader(idl::header& h)
{
    h.seq_num(1001);
    h.timestamp_arrival().sec(1002);
    h.timestamp_arrival().nsec(1003);
    h.timestamp_arrival().time_code(1004);
    h.timestamp_valid().sec(1005);
    h.timestamp_valid().nsec(1006);
    h.timestamp_valid().time_code(1007);
    h.device_id(1008);
}

const std::vector<Field> kHeaderFields = {
    {0, i64(1001)}, {8, i64(1002)},  {16, i32(1003)}, {20, i32(1004)},
    {24, i64(1005)}, {32, i32(1006)}, {36, i32(1007)}, {40, i32(1008)},
};

void fillBitComp(idl::bit_comp_set& e, std::int32_t id)
{
    e.server_id(id);
    e.has_communicated(true);
    e.warn_received(false);
    e.error_received(true);
    e.critical_received(false);
}

void fillChannel(idl::channel_status_obs& e)
{
    e.prn(12);
    e.channel(3);
    e.rinex3_satellite_system(idl::RINEX3_SATELLITE_SYSTEM_GALILEO);  // 3
    e.rinex3_band(idl::RINEX3_BAND_5);                                // 3
    e.rinex3_attribute(idl::RINEX3_ATTRIBUTE_C);                      // 2
    e.gnss_tracking_status(idl::GNSS_TRACKING_STATUS_TRACKING);       // 2
    e.carrier_to_noise(45.5f);
    e.jammer_to_signal(1.5f);
    e.used_in_solution(true);
    e.gnss_corrections_used(idl::GNSS_CORRECTIONS_USED_RTK);  // 3
    e.assurance_level(idl::ASSURANCE_LEVEL_HIGH);             // 3
}

void fillGnssObs(idl::gnss_obs& e)
{
    e.prn(7);
    e.satellite_system(idl::SATELLITE_SYSTEM_GPS);  // 1
    e.type(idl::TYPE_CARRIER_PHASE);                // 2
    e.band(idl::BAND_1);                            // 1
    e.attrib(idl::ATTRIB_C);                        // 2
    e.observation(2.25e7);
    e.LLI(1);
    e.signal_strength(42);
    e.lock_count(300);
}

void fillLos(idl::gpslos_obs& e)
{
    e.prn(5);
    e.channel_state(idl::CHANNEL_STATE_DATA_LOCK);      // 4
    e.channel_frequency(idl::CHANNEL_FREQUENCY_L1);     // 1
    e.channel_code(idl::CHANNEL_CODE_P);                // 2
    e.ere(0.75);
    e.c_n0(44);
    e.assurance(idl::ASSURANCE_ASSURED);  // 1
    e.pseudorange_measurement_valid(true);
    e.pseudorange_measurement(2.1e7);
    e.pseudorange_measurement_variance(4.0);
    e.deltarange_measurement_valid(true);
    e.deltarange_measurement(-12.5);
    e.deltarange_measurement_variance(0.01);
    e.deltarange_interval(1.0);
    fillDoubles(e.sv_position_start(), 1e7);
    fillDoubles(e.sv_position_stop(), 2e7);
    e.tropo_correction_applied(true);
    e.iono_correction_applied(true);
    e.iono_correction_source(idl::IONO_CORRECTION_SOURCE_DUAL_FREQUENCY);  // 2
}

// gpslos_obs members after the four 4-byte leading ones, relative to the
// first 8-aligned offset `at` that follows them.
std::vector<Field> losTail(std::size_t at)
{
    return std::vector<Field>{
               {at, f64(0.75)},       {at + 8, i32(44)},     {at + 12, u32(1)},
               {at + 16, u8(1)},      {at + 24, f64(2.1e7)}, {at + 32, f64(4.0)},
               {at + 40, u8(1)},      {at + 48, f64(-12.5)}, {at + 56, f64(0.01)},
               {at + 64, f64(1.0)}} +
           doubles(at + 72, 3, 1e7) + doubles(at + 96, 3, 2e7) +
           std::vector<Field>{{at + 120, u8(1)}, {at + 121, u8(1)}, {at + 124, u32(2)}};
}

void fillInterference(idl::interference_type_set& e)
{
    e.interference_band(idl::INTERFERENCE_BAND_L2);          // 2
    e.interference_signal(idl::INTERFERENCE_SIGNAL_WIDEBAND);  // 3
    e.interference_type(idl::INTERFERENCE_TYPE_SPOOFING);    // 2
    e.interference_value(-70);
}

void fillKey(idl::key_type_set& e)
{
    e.key_type(idl::KEY_TYPE_WEEKLY);  // 3
    e.remaining_key_time(3600);
    e.key_status(idl::KEY_STATUS_VALID);                        // 1
    e.key_load_status(idl::KEY_LOAD_STATUS_LOADED);             // 1
    e.key_zeroization_status(idl::KEY_ZEROIZATION_STATUS_FAILED);  // 2
}

void fillMeas(idl::meas_type_set& e)
{
    e.meas_set_id(7);
    e.meas_avail(5);
    e.meas_used(4);
}

void fillSv(idl::sv_set& e, std::int32_t svid)
{
    e.svid(svid);
    e.rinex3_gnss_enum(idl::RINEX3_GNSS_GPS);  // 1
    e.healthy(true);
    e.azimuth(120);
    e.elevation(45);
    e.rising(true);
}

template <class PS>
MessageCase makeCase(const char* name, void (*fill)(typename PS::type&), std::size_t bodySize,
                     std::vector<Field> fields)
{
    using T = typename PS::type;
    return MessageCase{
        name,
        [] { return std::unique_ptr<TopicDataType>(new PS()); },
        [fill](void* p) { fill(*static_cast<T*>(p)); },
        [](const void* a, const void* b) {
            return *static_cast<const T*>(a) == *static_cast<const T*>(b);
        },
        [] { return T::getMaxCdrSerializedSize(); },
        bodySize,
        std::move(fields)};
}

std::vector<MessageCase> buildCases()
{
    std::vector<MessageCase> c;

    // Core messages.
    c.push_back(makeCase<idl::PositionVelocityAttitudePubSubType>(
        "PositionVelocityAttitude",
        [](idl::PositionVelocityAttitude& m) {
            fillHeader(m.header());
            m.position().latitude(0.5);
            m.position().longitude(1.5);
            m.position().altitude(100.25);
            fillDoubles(m.velocity(), 1);
            fillDoubles(m.attitude(), 4);
            fillDoubles(m.covariance(), 10);
        },
        768,
        kHeaderFields +
            std::vector<Field>{{44, Bytes(4, 0)}, {48, f64(0.5)}, {56, f64(1.5)}, {64, f64(100.25)}} +
            doubles(72, 3, 1) + doubles(96, 3, 4) + doubles(120, 81, 10)));
    c.push_back(makeCase<idl::UTCTimePubSubType>(
        "UTCTime",
        [](idl::UTCTime& m) {
            fillHeader(m.header());
            m.gps_tow_sec(201);
            m.gps_tow_nsec(202.5);
            m.gps_week(2203);
            m.utc_tod_sec(204);
            m.utc_tod_nsec(205.5);
            m.a1(206.5);
            fillDoubles(m.covariance(), 1.25);
        },
        112,
        kHeaderFields +
            std::vector<Field>{{44, i32(201)}, {48, f64(202.5)}, {56, i32(2203)}, {60, i32(204)},
                               {64, f64(205.5)}, {72, f64(206.5)}} +
            doubles(80, 4, 1.25)));
    c.push_back(makeCase<idl::CommandResponsePubSubType>(
        "CommandResponse",
        [](idl::CommandResponse& m) {
            fillHeader(m.header());
            m.commanded_device_id(301);
            m.command_identifier(302);
            m.command_response_type(idl::COMMAND_RESPONSE_TYPE_RESPONSE);
            m.command_response("PING");
        },
        65,
        kHeaderFields + std::vector<Field>{{44, i32(301)}, {48, i32(302)}, {52, u32(1)},
                                           {56, cdrString("PING")}}));
    c.push_back(makeCase<idl::EventLogPubSubType>(
        "EventLog",
        [](idl::EventLog& m) {
            fillHeader(m.header());
            m.event_log_type(idl::EVENT_LOG_TYPE_FAULT);
            m.eventlog("Fault text");
        },
        63, kHeaderFields + std::vector<Field>{{44, u32(3)}, {48, cdrString("Fault text")}}));
    c.push_back(makeCase<idl::MaintenanceEventPubSubType>(
        "MaintenanceEvent",
        [](idl::MaintenanceEvent& m) {
            fillHeader(m.header());
            for (std::size_t k = 0; k < 4; ++k)
            {
                m.fault_sources()[k].lru_id(static_cast<std::int32_t>(400 + 2 * k));
                m.fault_sources()[k].component_id(static_cast<std::int32_t>(401 + 2 * k));
            }
            m.criticality_id(411);
            m.category_id(412);
            m.location_id(413);
            m.outcome_id(414);
            m.repeat_in_seconds(415);
            const std::string identity = "ABCDE";
            const std::string description = "Description";
            std::copy(identity.begin(), identity.end(), m.identity().begin());
            std::copy(description.begin(), description.end(), m.description().begin());
        },
        168,
        kHeaderFields + std::vector<Field>{{44, i32(400)}, {48, i32(401)}, {68, i32(406)},
                                           {72, i32(407)}, {76, i32(411)}, {80, i32(412)},
                                           {84, i32(413)}, {88, i32(414)}, {92, i32(415)},
                                           {96, chars("ABCDE", 16)}, {112, chars("Description", 56)}}));

    // Catalogue messages.
    c.push_back(makeCase<idl::AltitudePubSubType>(
        "Altitude",
        [](idl::Altitude& m) {
            fillHeader(m.header());
            m.altitude(12.5);
            m.variance(0.25);
        },
        64, kHeaderFields + std::vector<Field>{{48, f64(12.5)}, {56, f64(0.25)}}));
    c.push_back(makeCase<idl::AssuranceStatePubSubType>(
        "AssuranceState",
        [](idl::AssuranceState& m) {
            fillHeader(m.header());
            m.assurance_state(idl::ASSURANCE_STATE_DEGRADED);
        },
        48, kHeaderFields + std::vector<Field>{{44, u32(2)}}));
    c.push_back(makeCase<idl::BitEntryStatusPubSubType>(
        "BitEntryStatus",
        [](idl::BitEntryStatus& m) {
            fillHeader(m.header());
            m.requestedEntryAvailable(true);
            m.testCodeOfRequestedEntry(0xAB);
            m.subTestCodeOfRequestedEntry(0xCD);
        },
        47, kHeaderFields + std::vector<Field>{{44, u8(1)}, {45, u8(0xAB)}, {46, u8(0xCD)}}));
    c.push_back(makeCase<idl::BitReportPubSubType>(
        "BitReport",
        [](idl::BitReport& m) {
            fillHeader(m.header());
            m.bit_rollup(true);
            m.num_servers_expected(3);
            m.num_servers_available(2);
            m.bit_components().resize(2);
            fillBitComp(m.bit_components()[0], 45);
            fillBitComp(m.bit_components()[1], 46);
        },
        76,
        kHeaderFields + std::vector<Field>{{44, Bytes{1, 0, 0, 0}}, {48, i32(3)}, {52, i32(2)},
                                           {56, u32(2)}, {60, i32(45) + Bytes{1, 0, 1, 0}},
                                           {68, i32(46) + Bytes{1, 0, 1, 0}}}));
    c.push_back(makeCase<idl::ChallengedEnvironmentPubSubType>(
        "ChallengedEnvironment",
        [](idl::ChallengedEnvironment& m) {
            fillHeader(m.header());
            m.num_interference_types(1);
            m.interference_types().resize(1);
            fillInterference(m.interference_types()[0]);
        },
        68,
        kHeaderFields + std::vector<Field>{{44, i32(1)}, {48, u32(1)}, {52, u32(2)},
                                           {56, u32(3)}, {60, u32(2)}, {64, i32(-70)}}));
    c.push_back(makeCase<idl::ChannelStatusPubSubType>(
        "ChannelStatus",
        [](idl::ChannelStatus& m) {
            fillHeader(m.header());
            m.num_channels(1);
            m.channels().resize(1);
            fillChannel(m.channels()[0]);
        },
        96,
        kHeaderFields + std::vector<Field>{{44, i32(1)}, {48, u32(1)}, {52, i32(12)},
                                           {84, u8(1)}, {92, u32(3)}}));
    c.push_back(makeCase<idl::CorvanePNTPubSubType>(
        "CorvanePNT",
        [](idl::CorvanePNT& m) {
            fillHeader(m.header());
            m.GPS_Time(500.5);
            m.UTC_Time(501.5);
            m.ECEF_Pos_X(502.5);
            m.ECEF_Pos_Y(503.5);
            m.ECEF_Pos_Z(504.5);
            m.ECEF_Vel_X(505.5);
            m.ECEF_Vel_Y(506.5);
            m.ECEF_Vel_Z(507.5);
            m.Roll(508.5);
            m.Pitch(509.5);
            m.Heading(510.5);
            m.Horz_PosError(511.5);
            m.Vert_PosError(512.5);
            m.Horz_Vel_Error(513.5);
            m.Vert_VelError(514.5);
            m.Time_Error(515.5);
            m.Roll_Error(516.5);
            m.Pitch_Error(517.5);
            m.Heading_Error(518.5);
            m.GPS_Week(2300);
            m.CV_PNT_Solution_Assurance(idl::CV_PNT_SOLUTION_ASSURANCE_ASSURED);
        },
        212,
        kHeaderFields + doubles(48, 19, 500.5) +
            std::vector<Field>{{200, i64(2300)}, {208, u32(1)}}));
    c.push_back(makeCase<idl::DeltaTimeAndFrequencyPubSubType>(
        "DeltaTimeAndFrequency",
        [](idl::DeltaTimeAndFrequency& m) {
            fillHeader(m.header());
            m.dt(1e-6);
            m.variance(2e-12);
            m.freqB(0.5);
        },
        72, kHeaderFields + std::vector<Field>{{48, f64(1e-6)}, {56, f64(2e-12)}, {64, f64(0.5)}}));
    c.push_back(makeCase<idl::ForwardReverseStatusPubSubType>(
        "ForwardReverseStatus",
        [](idl::ForwardReverseStatus& m) {
            fillHeader(m.header());
            m.DirectionInput(idl::DIRECTION_INPUT_REVERSE);
            m.EstimatedDirection(idl::ESTIMATED_DIRECTION_STATIONARY);
        },
        52, kHeaderFields + std::vector<Field>{{44, u32(2)}, {48, u32(3)}}));
    c.push_back(makeCase<idl::GNSSPubSubType>(
        "GNSS",
        [](idl::GNSS& m) {
            fillHeader(m.header());
            m.week_number(2300);
            m.seconds_of_week(345600.5);
            m.time_system(idl::TIME_SYSTEM_GPS);
            m.epoch_flag(1);
            m.num_satellites(9);
            m.num_measurements(1);
            m.obs().resize(1);
            fillGnssObs(m.obs()[0]);
        },
        // The element starts at 76; its double is 8-aligned at 96.
        116,
        kHeaderFields + std::vector<Field>{{44, i32(2300)}, {48, f64(345600.5)}, {56, u32(1)},
                                           {60, i32(1)}, {64, i32(9)}, {68, i32(1)}, {72, u32(1)},
                                           {76, i32(7) + u32(1) + u32(2) + u32(1) + u32(2)},
                                           {96, f64(2.25e7)}, {104, i32(1) + i32(42) + i32(300)}}));
    c.push_back(makeCase<idl::GNSSSubframePubSubType>(
        "GNSSSubframe",
        [](idl::GNSSSubframe& m) {
            fillHeader(m.header());
            m.gnss_msg_id(9001);
            m.prn(17);
            m.subframe_satellite_system(idl::SUBFRAME_SATELLITE_SYSTEM_GPS);
            m.freq_slot_id(-7);
            m.num_bytes(3);
            m.data_vector({0xDE, 0xAD, 0xBE});
        },
        79,
        kHeaderFields + std::vector<Field>{{44, Bytes(4, 0)}, {48, i64(9001)}, {56, i32(17)},
                                           {60, u32(1)}, {64, i32(-7)}, {68, i32(3)}, {72, u32(3)},
                                           {76, Bytes{0xDE, 0xAD, 0xBE}}}));
    c.push_back(makeCase<idl::GPSCryptoStatusPubSubType>(
        "GPSCryptoStatus",
        [](idl::GPSCryptoStatus& m) {
            fillHeader(m.header());
            m.num_key_types(1);
            m.key_types().resize(1);
            fillKey(m.key_types()[0]);
        },
        72,
        kHeaderFields + std::vector<Field>{{44, i32(1)}, {48, u32(1)},
                                           {52, u32(3) + i32(3600) + u32(1) + u32(1) + u32(2)}}));
    c.push_back(makeCase<idl::GPSLineOfSightPubSubType>(
        "GPSLineOfSight",
        [](idl::GPSLineOfSight& m) {
            fillHeader(m.header());
            m.num_measurements(1);
            m.obs().resize(1);
            fillLos(m.obs()[0]);
        },
        // The element starts at 52; its first double is 8-aligned at 72.
        200,
        kHeaderFields +
            std::vector<Field>{{44, i32(1)}, {48, u32(1)}, {52, i32(5) + u32(4) + u32(1) + u32(2)}} +
            losTail(72)));
    c.push_back(makeCase<idl::GPSTimePubSubType>(
        "GPSTime",
        [](idl::GPSTime& m) {
            fillHeader(m.header());
            m.rcvr_set_time_sec(1);
            m.rcvr_set_time_nsec(2.5);
            m.rcvr_time_bias(3.5);
            m.rcvr_time_bias_error(4.5);
            m.rcvr_time_bias_error_rate(5.5);
            m.gps_tow_sec(6);
            m.gps_tow_nsec(7.5);
            m.gps_week(8);
            fillDoubles(m.covariance(), 9.5);
        },
        136,
        kHeaderFields + std::vector<Field>{{44, i32(1)}, {80, i32(6)}, {88, f64(7.5)}, {96, i32(8)}} +
            doubles(48, 4, 2.5) + doubles(104, 4, 9.5)));
    c.push_back(makeCase<idl::GSSIPPubSubType>(
        "GSSIP",
        [](idl::GSSIP& m) {
            fillHeader(m.header());
            m.num_bytes(2);
            m.data({0x01, 0x02});
        },
        54, kHeaderFields + std::vector<Field>{{44, i32(2)}, {48, u32(2)}, {52, Bytes{0x01, 0x02}}}));
    c.push_back(makeCase<idl::IMUPubSubType>(
        "IMU",
        [](idl::IMU& m) {
            fillHeader(m.header());
            fillDoubles(m.delta_v(), 0.5);
            fillDoubles(m.delta_theta(), 10.5);
        },
        96, kHeaderFields + doubles(48, 3, 0.5) + doubles(72, 3, 10.5)));
    c.push_back(makeCase<idl::MeasurementIncorporationStatusPubSubType>(
        "MeasurementIncorporationStatus",
        [](idl::MeasurementIncorporationStatus& m) {
            fillHeader(m.header());
            m.num_measurement_types(1);
            m.meas_types().resize(1);
            fillMeas(m.meas_types()[0]);
        },
        64, kHeaderFields + std::vector<Field>{{44, i32(1)}, {48, u32(1)}, {52, i32(7) + i32(5) + i32(4)}}));
    c.push_back(makeCase<idl::NavigationModePubSubType>(
        "NavigationMode",
        [](idl::NavigationMode& m) {
            fillHeader(m.header());
            m.navigation_mode(idl::NAVIGATION_MODE_NAVIGATING);
        },
        48, kHeaderFields + std::vector<Field>{{44, u32(3)}}));
    c.push_back(makeCase<idl::PlatformDynamicsPubSubType>(
        "PlatformDynamics",
        [](idl::PlatformDynamics& m) {
            fillHeader(m.header());
            fillDoubles(m.velocity(), 1);
            fillDoubles(m.acceleration(), 4);
            fillDoubles(m.attitude(), 7);
            fillDoubles(m.attitude_rate(), 10);
            fillDoubles(m.covariance(), 100);
        },
        1296, kHeaderFields + doubles(48, 12, 1) + doubles(144, 144, 100)));
    c.push_back(makeCase<idl::PositionVelocityPubSubType>(
        "PositionVelocity",
        [](idl::PositionVelocity& m) {
            fillHeader(m.header());
            m.position().latitude(0.5);
            m.position().longitude(1.5);
            m.position().altitude(2.5);
            fillDoubles(m.velocity(), 3.5);
            fillDoubles(m.covariance(), 100);
        },
        384, kHeaderFields + doubles(48, 6, 0.5) + doubles(96, 36, 100)));
    c.push_back(makeCase<idl::ReceiverStatusPubSubType>(
        "ReceiverStatus",
        [](idl::ReceiverStatus& m) {
            fillHeader(m.header());
            m.rcvr_fail(true);
            m.num_satellites_avail(8);
            m.num_satellites_used(6);
            m.pdop(1.5);
            m.tdop(2.5);
        },
        72,
        kHeaderFields + std::vector<Field>{{44, Bytes{1, 0, 0, 0}}, {48, i32(8)}, {52, i32(6)},
                                           {56, f64(1.5)}, {64, f64(2.5)}}));
    c.push_back(makeCase<idl::SVStatusPubSubType>(
        "SVStatus",
        [](idl::SVStatus& m) {
            fillHeader(m.header());
            m.num_svs(2);
            m.svs().resize(2);
            fillSv(m.svs()[0], 3);
            fillSv(m.svs()[1], 4);
        },
        // First element 52..72, second aligned from 73 to 76.
        97,
        kHeaderFields + std::vector<Field>{{44, i32(2)}, {48, u32(2)},
                                           {52, i32(3) + u32(1) + Bytes{1, 0, 0, 0} + i32(120) +
                                                    i32(45) + Bytes{1, 0, 0, 0}},
                                           {76, i32(4)}, {96, u8(1)}}));
    c.push_back(makeCase<idl::ThreeAxisMagnetometerPubSubType>(
        "ThreeAxisMagnetometer",
        [](idl::ThreeAxisMagnetometer& m) {
            fillHeader(m.header());
            fillDoubles(m.field(), 0.5);
            fillDoubles(m.covariance(), 10.5);
        },
        144, kHeaderFields + doubles(48, 3, 0.5) + doubles(72, 9, 10.5)));
    c.push_back(makeCase<idl::TimeAtTheTonePubSubType>(
        "TimeAtTheTone", [](idl::TimeAtTheTone& m) { fillHeader(m.header()); }, 44, kHeaderFields));
    c.push_back(makeCase<idl::TimeSyncPubSubType>(
        "TimeSync",
        [](idl::TimeSync& m) {
            fillHeader(m.header());
            m.SyncCount(123456789);
            m.Time_NS(987654321000);
        },
        64, kHeaderFields + std::vector<Field>{{48, i64(123456789)}, {56, i64(987654321000)}}));
    c.push_back(makeCase<idl::UtcDownlinkPubSubType>(
        "UtcDownlink",
        [](idl::UtcDownlink& m) {
            fillHeader(m.header());
            m.a0(1e-9);
            m.a1(2e-15);
            m.tot(61);
            m.WNt(62);
            m.delta_t_ls(63);
            m.wn_lsf(64);
            m.dn(65);
            m.delta_t_lsf(66);
        },
        88,
        kHeaderFields + std::vector<Field>{{48, f64(1e-9)}, {56, f64(2e-15)}, {64, i32(61)},
                                           {68, i32(62)}, {72, i32(63)}, {76, i32(64)},
                                           {80, i32(65)}, {84, i32(66)}}));
    c.push_back(makeCase<idl::Velocity3DPubSubType>(
        "Velocity3D",
        [](idl::Velocity3D& m) {
            fillHeader(m.header());
            m.x(0.5);
            m.y(1.5);
            m.z(2.5);
            fillDoubles(m.covariance(), 10.5);
        },
        144, kHeaderFields + doubles(48, 3, 0.5) + doubles(72, 9, 10.5)));

    // Element types, each serialised on its own from offset 0.
    c.push_back(makeCase<idl::bit_comp_setPubSubType>(
        "bit_comp_set", [](idl::bit_comp_set& e) { fillBitComp(e, 45); }, 8,
        {{0, i32(45)}, {4, u8(1)}, {5, u8(0)}, {6, u8(1)}, {7, u8(0)}}));
    c.push_back(makeCase<idl::channel_status_obsPubSubType>(
        "channel_status_obs", fillChannel, 44,
        {{0, i32(12)}, {4, i32(3)}, {8, u32(3)}, {12, u32(3)}, {16, u32(2)}, {20, u32(2)},
         {24, f32(45.5f)}, {28, f32(1.5f)}, {32, Bytes{1, 0, 0, 0}}, {36, u32(3)}, {40, u32(3)}}));
    c.push_back(makeCase<idl::gnss_obsPubSubType>(
        "gnss_obs", fillGnssObs, 44,
        {{0, i32(7)}, {4, u32(1)}, {8, u32(2)}, {12, u32(1)}, {16, u32(2)}, {20, Bytes(4, 0)},
         {24, f64(2.25e7)}, {32, i32(1)}, {36, i32(42)}, {40, i32(300)}}));
    c.push_back(makeCase<idl::gpslos_obsPubSubType>(
        "gpslos_obs", fillLos, 144,
        std::vector<Field>{{0, i32(5)}, {4, u32(4)}, {8, u32(1)}, {12, u32(2)}} + losTail(16)));
    c.push_back(makeCase<idl::interference_type_setPubSubType>(
        "interference_type_set", fillInterference, 16,
        {{0, u32(2)}, {4, u32(3)}, {8, u32(2)}, {12, i32(-70)}}));
    c.push_back(makeCase<idl::key_type_setPubSubType>(
        "key_type_set", fillKey, 20,
        {{0, u32(3)}, {4, i32(3600)}, {8, u32(1)}, {12, u32(1)}, {16, u32(2)}}));
    c.push_back(makeCase<idl::lru_comp_setPubSubType>(
        "lru_comp_set",
        [](idl::lru_comp_set& e) {
            e.lru_id(21);
            e.component_id(22);
        },
        8, {{0, i32(21)}, {4, i32(22)}}));
    c.push_back(makeCase<idl::meas_type_setPubSubType>(
        "meas_type_set", fillMeas, 12, {{0, i32(7)}, {4, i32(5)}, {8, i32(4)}}));
    c.push_back(makeCase<idl::sv_setPubSubType>(
        "sv_set", [](idl::sv_set& e) { fillSv(e, 3); }, 21,
        {{0, i32(3)}, {4, u32(1)}, {8, Bytes{1, 0, 0, 0}}, {12, i32(120)}, {16, i32(45)}, {20, u8(1)}}));
    return c;
}

}  // namespace

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes u8(std::uint8_t v) { return Bytes{v}; }
Bytes i32(std::int32_t v) { return littleEndian(v); }
Bytes u32(std::uint32_t v) { return littleEndian(v); }
Bytes i64(std::int64_t v) { return littleEndian(v); }
Bytes f32(float v) { return littleEndian(v); }
Bytes f64(double v) { return littleEndian(v); }

Bytes chars(const std::string& text, std::size_t width)
{
    Bytes out(text.begin(), text.end());
    out.resize(width, 0);
    return out;
}

Bytes cdrString(const std::string& text)
{
    return u32(static_cast<std::uint32_t>(text.size() + 1)) + chars(text, text.size() + 1);
}

const std::vector<MessageCase>& messageCases()
{
    static const std::vector<MessageCase> cases = buildCases();
    return cases;
}

Sample makeSample(TopicDataType& support)
{
    return Sample(support.createData(), [&support](void* p) { support.deleteData(p); });
}

Bytes serialize(TopicDataType& support, void* sample)
{
    eprosima::fastrtps::rtps::SerializedPayload_t payload(support.m_typeSize);
    if (!support.serialize(sample, &payload))
    {
        return {};
    }
    return Bytes(payload.data, payload.data + payload.length);
}

bool deserialize(TopicDataType& support, const Bytes& bytes, void* sample)
{
    // Exactly as large as the bytes, so that reading past them is caught
    // by the address sanitizer.
    eprosima::fastrtps::rtps::SerializedPayload_t payload(static_cast<std::uint32_t>(bytes.size()));
    if (!bytes.empty())
    {
        std::memcpy(payload.data, bytes.data(), bytes.size());
    }
    payload.length = static_cast<std::uint32_t>(bytes.size());
    return support.deserialize(&payload, sample);
}

}  // namespace aspn2_test
