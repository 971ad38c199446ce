// RTPS datagrams put together byte by byte, as a hostile network neighbour
// would: a message header with a chosen GUID prefix, HEARTBEAT and GAP
// submessages with chosen sequence numbers, and eProsima's vendor
// submessage (id 0x80) placed among captured submessages. Little-endian
// submessages throughout. Header-only, no dependencies beyond the C++
// library.
#ifndef TESTS_FASTDDS_RTPSDATAGRAM_H
#define TESTS_FASTDDS_RTPSDATAGRAM_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane_test::rtps {

using GuidPrefix = std::array<std::uint8_t, 12>;
using EntityId = std::array<std::uint8_t, 4>;

constexpr std::size_t kHeaderSize = 20;  // "RTPS", version, vendor, GUID prefix
constexpr std::uint8_t kHeartbeat = 0x07;
constexpr std::uint8_t kGap = 0x08;
constexpr std::uint8_t kDataFrag = 0x16;
constexpr std::uint8_t kVendorStatistics = 0x80;
// The participant discovery reader every participant has.
constexpr EntityId kSpdpReader = {0x00, 0x01, 0x00, 0xc7};

inline void appendU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A sequence number (1..2^63-1) as RTPS writes it: high 32 bits (signed),
// then low 32 bits.
inline void appendSequenceNumber(std::string& out, std::int64_t sn) {
    appendU32(out, static_cast<std::uint32_t>(static_cast<std::uint64_t>(sn) >> 32));
    appendU32(out, static_cast<std::uint32_t>(static_cast<std::uint64_t>(sn) & 0xFFFFFFFFu));
}

// The 20-byte message header: protocol 2.3, eProsima's vendor id.
inline std::string header(const GuidPrefix& source) {
    std::string out = "RTPS";
    out += std::string{'\x02', '\x03', '\x01', '\x0f'};
    out.append(reinterpret_cast<const char*>(source.data()), source.size());
    return out;
}

// A submessage: id, flags (bit 0 = little endian), the body's length, body.
inline std::string submessage(std::uint8_t id, std::uint8_t flags, const std::string& body) {
    std::string out;
    out.push_back(static_cast<char>(id));
    out.push_back(static_cast<char>(flags));
    out.push_back(static_cast<char>(body.size() & 0xFF));
    out.push_back(static_cast<char>((body.size() >> 8) & 0xFF));
    return out + body;
}

inline std::string entity(const EntityId& id) {
    return std::string(reinterpret_cast<const char*>(id.data()), id.size());
}

// HEARTBEAT (final flag set): the writer has firstSN..lastSN.
inline std::string heartbeat(const EntityId& reader, const EntityId& writer, std::int64_t firstSN, std::int64_t lastSN,
                             std::uint32_t count) {
    std::string body = entity(reader) + entity(writer);
    appendSequenceNumber(body, firstSN);
    appendSequenceNumber(body, lastSN);
    appendU32(body, count);
    return submessage(kHeartbeat, 0x03, body);
}

// GAP: gapStart..base-1 are irrelevant; an empty bitmap after base.
inline std::string gap(const EntityId& reader, const EntityId& writer, std::int64_t gapStart, std::int64_t base) {
    std::string body = entity(reader) + entity(writer);
    appendSequenceNumber(body, gapStart);
    appendSequenceNumber(body, base);
    appendU32(body, 0);  // numBits
    return submessage(kGap, 0x01, body);
}

// DATA_FRAG with inline QoS (an empty parameter list) and no payload at all:
// the submessage ends where the payload should start.
inline std::string dataFragWithoutPayload(const EntityId& reader, const EntityId& writer) {
    std::string body;
    body += std::string{'\x00', '\x00', 28, '\x00'};  // extra flags, octetsToInlineQos = 28
    body += entity(reader) + entity(writer);
    appendSequenceNumber(body, 1);
    appendU32(body, 1);                                   // fragmentStartingNum
    body += std::string{'\x01', '\x00', '\x00', '\x04'};  // fragmentsInSubmessage 1, fragmentSize 1024
    appendU32(body, 4096);                                // sampleSize
    body += std::string{'\x01', '\x00', '\x00', '\x00'};  // PID_SENTINEL
    return submessage(kDataFrag, 0x03, body);             // little endian, inline QoS
}

// eProsima's statistics submessage as its senders write it (52 bytes of
// body); `declaredLength` lets a test claim another length than it carries.
inline std::string statisticsSubmessage(std::uint16_t declaredLength) {
    std::string out = submessage(kVendorStatistics, 0x01, std::string(52, '\x11'));
    out[2] = static_cast<char>(declaredLength & 0xFF);
    out[3] = static_cast<char>(declaredLength >> 8);
    return out;
}

// The submessages of a datagram (each with its header), in order; empty when
// the datagram is not RTPS or a length runs past its end.
inline std::vector<std::string> submessages(const std::string& datagram) {
    std::vector<std::string> out;
    if (datagram.size() < kHeaderSize || datagram.compare(0, 4, "RTPS") != 0) return out;
    std::size_t pos = kHeaderSize;
    while (pos + 4 <= datagram.size()) {
        const bool little = (static_cast<std::uint8_t>(datagram[pos + 1]) & 0x01) != 0;
        const auto b2 = static_cast<std::uint8_t>(datagram[pos + 2]);
        const auto b3 = static_cast<std::uint8_t>(datagram[pos + 3]);
        const std::size_t length = little ? (b2 | (b3 << 8)) : ((b2 << 8) | b3);
        if (pos + 4 + length > datagram.size()) return {};
        out.push_back(datagram.substr(pos, 4 + length));
        pos += 4 + length;
    }
    return out;
}

}  // namespace corvane_test::rtps

#endif  // TESTS_FASTDDS_RTPSDATAGRAM_H
