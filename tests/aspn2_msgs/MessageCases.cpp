#include "MessageCases.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "aspn2_msgs/AllPubSubTypes.h"

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

// Arrays of doubles (nested or not) filled with first, first + 1, ...
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
    e.error_received(true);
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
MessageCase makeCase(const char* name, std::function<void(typename PS::type&)> fill, std::size_t bodySize,
                     std::vector<Field> fields)
{
    using T = typename PS::type;
    return MessageCase{
        name,
        [] { return std::unique_ptr<TopicDataType>(new PS()); },
        [fill](void* p) { fill(*static_cast<T*>(p)); },
        [](const void* a, const void* b) { return *static_cast<const T*>(a) == *static_cast<const T*>(b); },
        [] { return T::getMaxCdrSerializedSize(); },
        bodySize,
        std::move(fields)};
}

// A message filled with its header and what `more` sets (for a sequence
// type, one element); on the wire the header and `fields` are checked.
template <class PS>
MessageCase headerCase(const char* name, std::size_t bodySize, std::function<void(typename PS::type&)> more = {},
                       std::vector<Field> fields = {})
{
    return makeCase<PS>(
        name,
        [more](typename PS::type& m) {
            fillHeader(m.header());
            if (more)
            {
                more(m);
            }
        },
        bodySize, kHeaderFields + fields);
}

// The element count 1 at body offset 48, the usual place of a trailing
// sequence's count.
const std::vector<Field> kOneElementAt48 = {{48, u32(1)}};

std::vector<MessageCase> buildCases()
{
    std::vector<MessageCase> c;

    // Messages whose whole wire image is checked.
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

    // Fixed-size messages: the header alone makes a sample non-default.
    c.push_back(headerCase<idl::AltitudePubSubType>("Altitude", 64));
    c.push_back(headerCase<idl::AssuranceStatePubSubType>("AssuranceState", 48));
    c.push_back(headerCase<idl::BitEntryStatusPubSubType>("BitEntryStatus", 47));
    c.push_back(headerCase<idl::CorvanePNTPubSubType>("CorvanePNT", 212));
    c.push_back(headerCase<idl::DeltaTimeAndFrequencyPubSubType>("DeltaTimeAndFrequency", 72));
    c.push_back(headerCase<idl::ForwardReverseStatusPubSubType>("ForwardReverseStatus", 52));
    c.push_back(headerCase<idl::GPSTimePubSubType>("GPSTime", 136));
    c.push_back(headerCase<idl::IMUPubSubType>("IMU", 96));
    c.push_back(headerCase<idl::NavigationModePubSubType>("NavigationMode", 48));
    c.push_back(headerCase<idl::PlatformDynamicsPubSubType>("PlatformDynamics", 1296));
    c.push_back(headerCase<idl::PositionVelocityPubSubType>("PositionVelocity", 384));
    c.push_back(headerCase<idl::ThreeAxisMagnetometerPubSubType>("ThreeAxisMagnetometer", 144));
    c.push_back(headerCase<idl::TimeAtTheTonePubSubType>("TimeAtTheTone", 44));
    c.push_back(headerCase<idl::TimeSyncPubSubType>("TimeSync", 64));
    c.push_back(headerCase<idl::UtcDownlinkPubSubType>("UtcDownlink", 88));
    c.push_back(headerCase<idl::Velocity3DPubSubType>("Velocity3D", 144));

    // Messages ending in a sequence: one element with a member set.
    c.push_back(headerCase<idl::ChallengedEnvironmentPubSubType>(
        "ChallengedEnvironment", 68,
        [](auto& m) {
            m.interference_types().resize(1);
            m.interference_types()[0].interference_value(-70);
        },
        kOneElementAt48 + std::vector<Field>{{64, i32(-70)}}));
    c.push_back(headerCase<idl::ChannelStatusPubSubType>(
        "ChannelStatus", 96, [](auto& m) { m.channels().resize(1); m.channels()[0].prn(12); },
        kOneElementAt48 + std::vector<Field>{{52, i32(12)}}));
    // The element starts at 76 (its double is 8-aligned at 96).
    c.push_back(headerCase<idl::GNSSPubSubType>(
        "GNSS", 116, [](auto& m) { m.obs().resize(1); m.obs()[0].prn(7); },
        std::vector<Field>{{72, u32(1)}, {76, i32(7)}}));
    c.push_back(headerCase<idl::GPSCryptoStatusPubSubType>(
        "GPSCryptoStatus", 72, [](auto& m) { m.key_types().resize(1); m.key_types()[0].remaining_key_time(3600); },
        kOneElementAt48 + std::vector<Field>{{56, i32(3600)}}));
    c.push_back(headerCase<idl::GPSLineOfSightPubSubType>(
        "GPSLineOfSight", 200, [](auto& m) { m.obs().resize(1); m.obs()[0].prn(5); },
        kOneElementAt48 + std::vector<Field>{{52, i32(5)}}));
    c.push_back(headerCase<idl::GSSIPPubSubType>(
        "GSSIP", 54, [](auto& m) { m.data({0x01, 0x02}); },
        std::vector<Field>{{48, u32(2)}, {52, Bytes{0x01, 0x02}}}));
    c.push_back(headerCase<idl::MeasurementIncorporationStatusPubSubType>(
        "MeasurementIncorporationStatus", 64, [](auto& m) { m.meas_types().resize(1); m.meas_types()[0].meas_set_id(7); },
        kOneElementAt48 + std::vector<Field>{{52, i32(7)}}));

    // Element types, each serialised on its own from offset 0.
    c.push_back(makeCase<idl::bit_comp_setPubSubType>(
        "bit_comp_set", [](idl::bit_comp_set& e) { fillBitComp(e, 45); }, 8, {{0, i32(45) + Bytes{1, 0, 1, 0}}}));
    c.push_back(makeCase<idl::channel_status_obsPubSubType>(
        "channel_status_obs", [](auto& e) { e.used_in_solution(true); }, 44, {{32, u8(1)}}));
    c.push_back(makeCase<idl::gnss_obsPubSubType>(
        "gnss_obs", [](auto& e) { e.observation(2.25e7); }, 44, {{24, f64(2.25e7)}}));
    c.push_back(makeCase<idl::gpslos_obsPubSubType>(
        "gpslos_obs", [](auto& e) { e.iono_correction_source(idl::IONO_CORRECTION_SOURCE_DUAL_FREQUENCY); }, 144,
        {{140, u32(2)}}));
    c.push_back(makeCase<idl::interference_type_setPubSubType>(
        "interference_type_set", [](auto& e) { e.interference_value(-70); }, 16, {{12, i32(-70)}}));
    c.push_back(makeCase<idl::key_type_setPubSubType>(
        "key_type_set", [](auto& e) { e.key_zeroization_status(idl::KEY_ZEROIZATION_STATUS_FAILED); }, 20,
        {{16, u32(2)}}));
    c.push_back(makeCase<idl::lru_comp_setPubSubType>(
        "lru_comp_set", [](auto& e) { e.component_id(22); }, 8, {{4, i32(22)}}));
    c.push_back(makeCase<idl::meas_type_setPubSubType>(
        "meas_type_set", [](auto& e) { e.meas_used(4); }, 12, {{8, i32(4)}}));
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

const MessageCase& caseOf(const std::string& name)
{
    for (const MessageCase& c : messageCases())
    {
        if (c.name == name)
        {
            return c;
        }
    }
    throw std::invalid_argument("no test case for " + name);
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

eprosima::fastrtps::rtps::SerializedPayload_t payloadOf(const Bytes& bytes)
{
    eprosima::fastrtps::rtps::SerializedPayload_t payload(static_cast<std::uint32_t>(bytes.size()));
    if (!bytes.empty())
    {
        std::memcpy(payload.data, bytes.data(), bytes.size());
    }
    payload.length = static_cast<std::uint32_t>(bytes.size());
    return payload;
}

bool deserialize(TopicDataType& support, const Bytes& bytes, void* sample)
{
    eprosima::fastrtps::rtps::SerializedPayload_t payload = payloadOf(bytes);
    return support.deserialize(&payload, sample);
}

}  // namespace aspn2_test
