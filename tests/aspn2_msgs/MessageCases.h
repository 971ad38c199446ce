#pragma once

// One case per ASPN2 message type: its type support, its size limit and
// boundedness, a sample with non-default values (sequences with one element
// or more), and where values must appear on the wire: every member for the
// messages the server sends and the types whose padding is tricky, the
// header and the sequence count for the others. The tests drive every type
// through the type-erased TopicDataType interface, as the middleware does.

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "aspn2_msgs/AllPubSubTypes.h"

namespace aspn2_test {

namespace idl = aspn2_msgs::idl;
using eprosima::fastdds::dds::TopicDataType;
using Bytes = std::vector<std::uint8_t>;

template <class V>
std::vector<V> operator+(std::vector<V> a, const std::vector<V>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Little-endian wire image of one value.
template <class V>
Bytes le(V v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof v);
    Bytes out(sizeof v);
    for (std::size_t i = 0; i < sizeof v; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return out;
}
inline Bytes i32(std::int32_t v) { return le(v); }
inline Bytes u32(std::uint32_t v) { return le(v); }
inline Bytes i64(std::int64_t v) { return le(v); }
inline Bytes f64(double v) { return le(v); }
// `text` followed by NULs up to `width` bytes.
inline Bytes chars(const std::string& text, std::size_t width) {
    Bytes out(text.begin(), text.end());
    out.resize(width, 0);
    return out;
}
// A CDR string: length (characters + 1), characters, NUL.
inline Bytes cdrString(const std::string& text) {
    return u32(std::uint32_t(text.size() + 1)) + chars(text, text.size() + 1);
}

struct Field {
    std::size_t offset;  // from the start of the body
    Bytes bytes;
};
using Fields = std::vector<Field>;

// Consecutive doubles first, first + 1, ... from `offset` on the wire.
inline Fields doubles(std::size_t offset, std::size_t count, double first) {
    Fields out;
    for (std::size_t i = 0; i < count; ++i) out.push_back({offset + 8 * i, f64(first + double(i))});
    return out;
}
// Fills a (nested) array of doubles with first, first + 1, ...
template <class A>
void fillDoubles(A& a, double first) {
    for (auto& v : a) {
        if constexpr (std::is_arithmetic_v<std::decay_t<decltype(v)>>)
            v = first++;
        else
            fillDoubles(v, first), first += double(v.size());
    }
}

struct MessageCase {
    std::string name;  // type name without namespace
    std::size_t max;   // largest body: 255 characters per string, 100 elements per sequence
    bool boundedAndPlain;
    std::function<std::unique_ptr<TopicDataType>()> make;
    std::function<void(void*)> fill;
    std::size_t bodySize;  // body size of the filled sample
    Fields fields;
};

inline void fillHeader(idl::header& h) {
    h.seq_num(1001);
    h.timestamp_arrival().sec(1002), h.timestamp_arrival().nsec(1003), h.timestamp_arrival().time_code(1004);
    h.timestamp_valid().sec(1005), h.timestamp_valid().nsec(1006), h.timestamp_valid().time_code(1007);
    h.device_id(1008);
}
inline const Fields kHeaderFields = {{0, i64(1001)},  {8, i64(1002)},  {16, i32(1003)}, {20, i32(1004)},
                                     {24, i64(1005)}, {32, i32(1006)}, {36, i32(1007)}, {40, i32(1008)}};

// A message with its header filled, then what `more` sets; on the wire the
// header and `fields` are checked.
template <class PS>
MessageCase headerCase(const char* name, std::size_t max, bool bounded, std::size_t bodySize,
                       std::function<void(typename PS::type&)> more = {}, const Fields& fields = {}) {
    using T = typename PS::type;
    return MessageCase{name,
                       max,
                       bounded,
                       [] { return std::unique_ptr<TopicDataType>(new PS()); },
                       [more](void* p) {
                           fillHeader(static_cast<T*>(p)->header());
                           if (more) more(*static_cast<T*>(p));
                       },
                       bodySize,
                       kHeaderFields + fields};
}

inline void fillSv(idl::sv_set& e, std::int32_t svid) {
    e.svid(svid), e.rinex3_gnss_enum(idl::RINEX3_GNSS_GPS), e.healthy(true), e.azimuth(120), e.elevation(45),
        e.rising(true);
}
inline const Bytes kSv3 = i32(3) + u32(1) + Bytes{1, 0, 0, 0} + i32(120) + i32(45) + Bytes{1};

inline std::vector<MessageCase> buildCases() {
    using namespace idl;
    const Fields oneAt48 = {{48, u32(1)}};  // the usual place of a trailing sequence's count
    return {
        // Messages the server sends, and SVStatus for the padding between its elements.
        headerCase<PositionVelocityAttitudePubSubType>(
            "PositionVelocityAttitude", 768, true, 768,
            [](auto& m) {
                m.position().latitude(0.5), m.position().longitude(1.5), m.position().altitude(100.25);
                fillDoubles(m.velocity(), 1), fillDoubles(m.attitude(), 4), fillDoubles(m.covariance(), 10);
            },
            Fields{{44, Bytes(4, 0)}, {48, f64(0.5)}, {56, f64(1.5)}, {64, f64(100.25)}} + doubles(72, 3, 1) +
                doubles(96, 3, 4) + doubles(120, 81, 10)),
        headerCase<UTCTimePubSubType>(
            "UTCTime", 112, true, 112,
            [](auto& m) {
                m.gps_tow_sec(201), m.gps_tow_nsec(202.5), m.gps_week(2203), m.utc_tod_sec(204), m.utc_tod_nsec(205.5);
                m.a1(206.5), fillDoubles(m.covariance(), 1.25);
            },
            Fields{
                {44, i32(201)}, {48, f64(202.5)}, {56, i32(2203)}, {60, i32(204)}, {64, f64(205.5)}, {72, f64(206.5)}} +
                doubles(80, 4, 1.25)),
        headerCase<CommandResponsePubSubType>("CommandResponse", 316, false, 65,
                                              [](auto& m) {
                                                  m.commanded_device_id(301), m.command_identifier(302),
                                                      m.command_response("PING");
                                                  m.command_response_type(COMMAND_RESPONSE_TYPE_RESPONSE);
                                              },
                                              {{44, i32(301)}, {48, i32(302)}, {52, u32(1)}, {56, cdrString("PING")}}),
        headerCase<EventLogPubSubType>(
            "EventLog", 308, false, 63,
            [](auto& m) { m.event_log_type(EVENT_LOG_TYPE_FAULT), m.eventlog("Fault text"); },
            {{44, u32(3)}, {48, cdrString("Fault text")}}),
        headerCase<MaintenanceEventPubSubType>("MaintenanceEvent", 168, true, 168,
                                               [](auto& m) {
                                                   for (int k = 0; k < 4; ++k)
                                                       m.fault_sources()[k].lru_id(400 + 2 * k),
                                                           m.fault_sources()[k].component_id(401 + 2 * k);
                                                   m.criticality_id(411), m.category_id(412), m.location_id(413),
                                                       m.outcome_id(414), m.repeat_in_seconds(415);
                                                   std::memcpy(m.identity().data(), "ABCDE", 5),
                                                       std::memcpy(m.description().data(), "Description", 11);
                                               },
                                               {{44, i32(400)},
                                                {48, i32(401)},
                                                {68, i32(406)},
                                                {72, i32(407)},
                                                {76, i32(411)},
                                                {80, i32(412)},
                                                {84, i32(413)},
                                                {88, i32(414)},
                                                {92, i32(415)},
                                                {96, chars("ABCDE", 16)},
                                                {112, chars("Description", 56)}}),
        // The first element takes 52..72, the second is aligned from 73 to 76.
        headerCase<SVStatusPubSubType>(
            "SVStatus", 2449, false, 97,
            [](auto& m) { m.num_svs(2), m.svs().resize(2), fillSv(m.svs()[0], 3), fillSv(m.svs()[1], 4); },
            {{44, i32(2)}, {48, u32(2)}, {52, kSv3}, {76, i32(4)}, {96, Bytes{1}}}),
        // An 8-byte member after the header: 4 bytes of padding.
        headerCase<GNSSSubframePubSubType>(
            "GNSSSubframe", 176, false, 79,
            [](auto& m) {
                m.gnss_msg_id(9001), m.num_bytes(3), m.data_vector({0xDE, 0xAD, 0xBE});
            },
            {{44, Bytes(4, 0)}, {48, i64(9001)}, {72, u32(3)}, {76, Bytes{0xDE, 0xAD, 0xBE}}}),

        // Fixed-size messages: the header alone makes a sample non-default.
        headerCase<AltitudePubSubType>("Altitude", 64, true, 64),
        headerCase<AssuranceStatePubSubType>("AssuranceState", 48, false, 48),
        headerCase<BitEntryStatusPubSubType>("BitEntryStatus", 47, true, 47),
        headerCase<CorvanePNTPubSubType>("CorvanePNT", 212, false, 212),
        headerCase<DeltaTimeAndFrequencyPubSubType>("DeltaTimeAndFrequency", 72, true, 72),
        headerCase<ForwardReverseStatusPubSubType>("ForwardReverseStatus", 52, false, 52),
        headerCase<GPSTimePubSubType>("GPSTime", 136, true, 136),
        headerCase<IMUPubSubType>("IMU", 96, true, 96),
        headerCase<NavigationModePubSubType>("NavigationMode", 48, false, 48),
        headerCase<PlatformDynamicsPubSubType>("PlatformDynamics", 1296, true, 1296),
        headerCase<PositionVelocityPubSubType>("PositionVelocity", 384, true, 384),
        headerCase<ReceiverStatusPubSubType>("ReceiverStatus", 72, true, 72),
        headerCase<ThreeAxisMagnetometerPubSubType>("ThreeAxisMagnetometer", 144, true, 144),
        headerCase<TimeAtTheTonePubSubType>("TimeAtTheTone", 44, true, 44),
        headerCase<TimeSyncPubSubType>("TimeSync", 64, true, 64),
        headerCase<UtcDownlinkPubSubType>("UtcDownlink", 88, true, 88),
        headerCase<Velocity3DPubSubType>("Velocity3D", 144, true, 144),

        // Messages ending in a sequence: one element with a member set.
        headerCase<BitReportPubSubType>("BitReport", 860, false, 68,
                                        [](auto& m) {
                                            m.bit_components().resize(1), m.bit_components()[0].server_id(45);
                                            m.bit_components()[0].has_communicated(true),
                                                m.bit_components()[0].error_received(true);
                                        },
                                        {{56, u32(1)}, {60, i32(45) + Bytes{1, 0, 1, 0}}}),
        headerCase<ChallengedEnvironmentPubSubType>(
            "ChallengedEnvironment", 1652, false, 68,
            [](auto& m) { m.interference_types().resize(1), m.interference_types()[0].interference_value(-70); },
            oneAt48 + Fields{{64, i32(-70)}}),
        headerCase<ChannelStatusPubSubType>(
            "ChannelStatus", 4452, false, 96, [](auto& m) { m.channels().resize(1), m.channels()[0].prn(12); },
            oneAt48 + Fields{{52, i32(12)}}),
        headerCase<GNSSPubSubType>("GNSS", 4076, false, 116,  // the element's double is 8-aligned at 96
                                   [](auto& m) { m.obs().resize(1), m.obs()[0].prn(7); }, {{72, u32(1)}, {76, i32(7)}}),
        headerCase<GPSCryptoStatusPubSubType>(
            "GPSCryptoStatus", 2052, false, 72,
            [](auto& m) { m.key_types().resize(1), m.key_types()[0].remaining_key_time(3600); },
            oneAt48 + Fields{{56, i32(3600)}}),
        headerCase<GPSLineOfSightPubSubType>(
            "GPSLineOfSight", 14456, false, 200, [](auto& m) { m.obs().resize(1), m.obs()[0].prn(5); },
            oneAt48 + Fields{{52, i32(5)}}),
        headerCase<GSSIPPubSubType>("GSSIP", 152, false, 54,
                                    [](auto& m) {
                                        m.data({0x01, 0x02});
                                    },
                                    {{48, u32(2)}, {52, Bytes{0x01, 0x02}}}),
        headerCase<MeasurementIncorporationStatusPubSubType>(
            "MeasurementIncorporationStatus", 1252, false, 64,
            [](auto& m) { m.meas_types().resize(1), m.meas_types()[0].meas_set_id(7); },
            oneAt48 + Fields{{52, i32(7)}}),

    };
}

// Every message type.
inline const std::vector<MessageCase>& messageCases() {
    static const std::vector<MessageCase> cases = buildCases();
    return cases;
}
inline const MessageCase& caseOf(const std::string& name) {
    for (const MessageCase& c : messageCases()) {
        if (c.name == name) return c;
    }
    throw std::invalid_argument("no test case for " + name);
}

// A sample created by (and deleted through) a type support.
using Sample = std::unique_ptr<void, std::function<void(void*)>>;
inline Sample makeSample(TopicDataType& support) {
    return Sample(support.createData(), [&support](void* p) { support.deleteData(p); });
}

// Serialises through the type support into a payload of its maximum size;
// returns the payload bytes (encapsulation header + body).
inline Bytes serialize(TopicDataType& support, void* sample) {
    eprosima::fastrtps::rtps::SerializedPayload_t payload(support.m_typeSize);
    return support.serialize(sample, &payload) ? Bytes(payload.data, payload.data + payload.length) : Bytes{};
}
// The payload of a filled sample of case `c`.
inline Bytes filledPayload(const MessageCase& c, TopicDataType& support) {
    Sample sample = makeSample(support);
    c.fill(sample.get());
    return serialize(support, sample.get());
}

// A payload exactly as large as `bytes`, so that reading past them is caught
// by the address sanitizer.
inline eprosima::fastrtps::rtps::SerializedPayload_t payloadOf(const Bytes& bytes) {
    eprosima::fastrtps::rtps::SerializedPayload_t payload(std::uint32_t(bytes.size()));
    if (!bytes.empty()) std::memcpy(payload.data, bytes.data(), bytes.size());
    payload.length = std::uint32_t(bytes.size());
    return payload;
}
inline bool deserialize(TopicDataType& support, const Bytes& bytes, void* sample) {
    eprosima::fastrtps::rtps::SerializedPayload_t payload = payloadOf(bytes);
    return support.deserialize(&payload, sample);
}

}  // namespace aspn2_test
