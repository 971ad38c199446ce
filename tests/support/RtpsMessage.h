// RTPS messages made and taken apart by tests: a header, submessages with
// their fields in either byte order, and the split of a received message
// into its submessages the way Fast DDS walks it (octetsToNextHeader
// rounded up to 4; 0 stretches to the end except for PAD and INFO_TS).
// Test code only: nothing here checks what it builds.
#ifndef TESTS_SUPPORT_RTPSMESSAGE_H
#define TESTS_SUPPORT_RTPSMESSAGE_H

#include "FACE/RtpsSubmessageIds.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane_test {
namespace rtps {

using Bytes = std::vector<std::uint8_t>;
using GuidPrefix = std::array<std::uint8_t, 12>;
using EntityId = std::array<std::uint8_t, 4>;

using namespace FACE::TSS::Rtps;
using Id = SubmessageId;

// Fields appended in one byte order.
class Fields {
public:
    explicit Fields(bool little = true) : m_little(little) {}
    Fields& u8(std::uint8_t v) {
        m_bytes.push_back(v);
        return *this;
    }
    Fields& u16(std::uint16_t v) {
        return m_little ? u8(static_cast<std::uint8_t>(v)).u8(static_cast<std::uint8_t>(v >> 8))
                        : u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v));
    }
    Fields& u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>(v >> (m_little ? 8 * i : 24 - 8 * i)));
        return *this;
    }
    // A SequenceNumber_t: high 32 bits (signed), then low 32 bits.
    Fields& sequence(std::int64_t v) {
        return u32(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32)).u32(static_cast<std::uint32_t>(v));
    }
    template <std::size_t N>
    Fields& raw(std::array<std::uint8_t, N> const& a) {
        m_bytes.insert(m_bytes.end(), a.begin(), a.end());
        return *this;
    }
    Fields& raw(Bytes const& b) {
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }
    Fields& zeros(std::size_t n) {
        m_bytes.insert(m_bytes.end(), n, 0);
        return *this;
    }
    Bytes const& bytes() const { return m_bytes; }
    bool little() const { return m_little; }

private:
    bool m_little;
    Bytes m_bytes;
};

struct Submessage {
    std::uint8_t id = 0;
    std::uint8_t flags = 0;  // bit 0 (E, little-endian) is set from the Fields
    Bytes body;
    std::optional<std::uint16_t> length;  // octetsToNextHeader when not body's size
};

inline Submessage submessage(std::uint8_t id, Fields const& f, std::uint8_t flags = 0) {
    return Submessage{id, static_cast<std::uint8_t>(flags | (f.little() ? 1 : 0)), f.bytes(), std::nullopt};
}

constexpr GuidPrefix kPrefix{0x01, 0x0f, 0xaa, 0xbb, 0x11, 0x22, 0x33, 0x44, 0x01, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 2> kEProsima{0x01, 0x0f};
constexpr std::array<std::uint8_t, 2> kCyclone{0x01, 0x10};
constexpr EntityId kUnknownEntity{0, 0, 0, 0};
constexpr EntityId kWriter{0, 0, 0x01, 0x03};
constexpr EntityId kReader{0, 0, 0x01, 0x04};

// The 20-byte header: "RTPS", version 2.3, vendor, GUID prefix.
inline Bytes header(GuidPrefix const& prefix = kPrefix, std::array<std::uint8_t, 2> vendor = kEProsima) {
    Bytes h{'R', 'T', 'P', 'S', 2, 3, vendor[0], vendor[1]};
    h.insert(h.end(), prefix.begin(), prefix.end());
    return h;
}

// header + each submessage with its 4-byte header, padded to 4 except the
// last one.
inline Bytes message(Bytes const& head, std::vector<Submessage> const& submessages) {
    Bytes out = head;
    for (std::size_t i = 0; i < submessages.size(); ++i) {
        Submessage const& s = submessages[i];
        std::uint16_t const length = s.length ? *s.length : static_cast<std::uint16_t>(s.body.size());
        bool const little = (s.flags & 1) != 0;
        out.push_back(s.id);
        out.push_back(s.flags);
        out.push_back(static_cast<std::uint8_t>(little ? length : length >> 8));
        out.push_back(static_cast<std::uint8_t>(little ? length >> 8 : length));
        out.insert(out.end(), s.body.begin(), s.body.end());
        if (i + 1 < submessages.size()) out.resize(out.size() + ((4 - s.body.size() % 4) % 4), 0);
    }
    return out;
}
inline Bytes message(std::vector<Submessage> const& submessages) { return message(header(), submessages); }

// --- Submessages ------------------------------------------------------------

inline Submessage heartbeat(std::int64_t first, std::int64_t last, bool little = true, EntityId writer = kWriter,
                            EntityId reader = kUnknownEntity, std::uint32_t count = 1) {
    return submessage(kHeartbeat, Fields(little).raw(reader).raw(writer).sequence(first).sequence(last).u32(count));
}

inline Submessage gap(std::int64_t start, std::int64_t base, std::uint32_t bits = 0, bool little = true,
                      EntityId writer = kWriter, EntityId reader = kUnknownEntity) {
    Fields f(little);
    f.raw(reader).raw(writer).sequence(start).sequence(base).u32(bits);
    for (std::uint32_t i = 0; i < (bits + 31) / 32; ++i) f.u32(0xffffffffu);
    return submessage(kGap, f);
}

inline Submessage acknack(std::int64_t base, std::uint32_t bits = 0, bool little = true, EntityId writer = kWriter,
                          EntityId reader = kReader) {
    Fields f(little);
    f.raw(reader).raw(writer).sequence(base).u32(bits);
    for (std::uint32_t i = 0; i < (bits + 31) / 32; ++i) f.u32(0);
    f.u32(1);
    return submessage(kAckNack, f);
}

inline Submessage nackFrag(std::int64_t sn, std::uint32_t base, std::uint32_t bits, bool little = true) {
    Fields f(little);
    f.raw(kReader).raw(kWriter).sequence(sn).u32(base).u32(bits);
    for (std::uint32_t i = 0; i < (bits + 31) / 32; ++i) f.u32(0);
    f.u32(1);
    return submessage(kNackFrag, f);
}

inline Submessage heartbeatFrag(std::int64_t sn, std::uint32_t lastFragment, bool little = true) {
    return submessage(kHeartbeatFrag, Fields(little).raw(kReader).raw(kWriter).sequence(sn).u32(lastFragment).u32(1));
}

// An inline QoS list: (pid, value bytes) pairs, each padded to 4, then the
// sentinel.
inline Bytes inlineQos(std::vector<std::pair<std::uint16_t, Bytes>> const& parameters, bool little = true) {
    Fields f(little);
    for (auto const& [pid, value] : parameters) {
        f.u16(pid).u16(static_cast<std::uint16_t>((value.size() + 3) & ~std::size_t{3})).raw(value);
        f.zeros((4 - value.size() % 4) % 4);
    }
    f.u16(0x0001).u16(0);
    return f.bytes();
}

// DATA with a serialized payload (D flag) and optional inline QoS (Q flag).
inline Submessage data(std::int64_t sn, Bytes const& payload, bool little = true,
                       std::optional<Bytes> const& qos = std::nullopt, std::int16_t octetsToInlineQos = 16) {
    Fields f(little);
    f.u16(0).u16(static_cast<std::uint16_t>(octetsToInlineQos)).raw(kReader).raw(kWriter).sequence(sn);
    if (qos) f.raw(*qos);
    f.raw(payload);
    return submessage(kData, f, static_cast<std::uint8_t>(0x04 | (qos ? 0x02 : 0)));
}

inline Submessage dataFrag(std::int64_t sn, std::uint32_t first, std::uint16_t count, std::uint16_t fragmentSize,
                           std::uint32_t sampleSize, Bytes const& payload, bool little = true) {
    Fields f(little);
    f.u16(0).u16(28).raw(kReader).raw(kWriter).sequence(sn).u32(first).u16(count).u16(fragmentSize).u32(sampleSize);
    f.raw(payload);
    return submessage(kDataFrag, f);
}

inline Submessage infoTs(bool little = true) { return submessage(kInfoTs, Fields(little).u32(1700000000).u32(0)); }
inline Submessage infoDst(GuidPrefix const& prefix = kPrefix, bool little = true) {
    return submessage(kInfoDst, Fields(little).raw(prefix));
}
inline Submessage infoSrc(bool little = true) {
    return submessage(kInfoSrc, Fields(little).u32(0).u8(2).u8(3).u8(1).u8(0x0f).raw(kPrefix));
}
inline Submessage pad(std::size_t n) { return submessage(kPad, Fields().zeros(n)); }
inline Submessage statistics(std::size_t n = 56) { return Submessage{kStatistics, 1, Bytes(n, 0), std::nullopt}; }
inline Submessage opaque(std::uint8_t id, std::size_t n) { return Submessage{id, 1, Bytes(n, 0x5a), std::nullopt}; }

// --- Taking a message apart ---------------------------------------------------

// One submessage of a received message: where it starts (its header) and
// ends (body end), the octetsToNextHeader it declares.
struct Span {
    std::size_t start = 0;
    std::size_t end = 0;   // end of the body (the message's end when it stretches)
    std::size_t next = 0;  // where the next submessage starts
    std::uint8_t id = 0;
    std::uint8_t flags = 0;
};

// The submessages Fast DDS would find, up to the first that does not fit.
inline std::vector<Span> split(Bytes const& m) {
    std::vector<Span> spans;
    std::size_t at = 20;
    while (m.size() >= 20 && at + 4 <= m.size()) {
        Span s;
        s.start = at;
        s.id = m[at];
        s.flags = m[at + 1];
        bool const little = (s.flags & 1) != 0;
        std::size_t const length = little ? (m[at + 2] | (m[at + 3] << 8)) : ((m[at + 2] << 8) | m[at + 3]);
        if (at + 4 + length > m.size()) break;
        bool const toEnd = length == 0 && s.id != kPad && s.id != kInfoTs;
        s.end = toEnd ? m.size() : at + 4 + length;
        s.next = toEnd ? m.size() : at + 4 + ((length + 3) & ~std::size_t{3});
        spans.push_back(s);
        at = s.next;
    }
    return spans;
}

// The GUID prefix of a message's header.
inline GuidPrefix prefixOf(Bytes const& m) {
    GuidPrefix p{};
    for (std::size_t i = 0; i < 12 && 8 + i < m.size(); ++i) p[i] = m[8 + i];
    return p;
}

}  // namespace rtps
}  // namespace corvane_test

#endif  // TESTS_SUPPORT_RTPSMESSAGE_H
