#include "FACE/RtpsDatagramCheck.h"

#include "FACE/RtpsSubmessageIds.h"

namespace FACE {
namespace TSS {
namespace DatagramGuard {

namespace {

using namespace Rtps;

constexpr std::size_t kHeaderSize = 20;
constexpr std::uint16_t kPidSentinel = 0x0001;

// One submessage's body, read in the byte order its E flag names. Reads
// past the body answer 0 (callers check lengths first).
class Body {
public:
    Body(std::uint8_t const* data, std::size_t size, bool little) : m_data(data), m_size(size), m_little(little) {}

    std::size_t size() const { return m_size; }
    std::uint8_t const* data() const { return m_data; }
    std::uint8_t byte(std::size_t at) const { return at < m_size ? m_data[at] : 0; }

    std::uint16_t u16(std::size_t at) const {
        if (at + 2 > m_size) return 0;
        return m_little ? static_cast<std::uint16_t>(m_data[at] | (m_data[at + 1] << 8))
                        : static_cast<std::uint16_t>((m_data[at] << 8) | m_data[at + 1]);
    }
    std::uint32_t u32(std::size_t at) const {
        if (at + 4 > m_size) return 0;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint32_t const byte = m_data[at + static_cast<std::size_t>(m_little ? 3 - i : i)];
            value = (value << 8) | byte;
        }
        return value;
    }
    // A SequenceNumber_t: high (signed 32 bits), then low (unsigned).
    std::int64_t sequence(std::size_t at) const {
        auto const high = static_cast<std::int32_t>(u32(at));
        return static_cast<std::int64_t>(high) * 4294967296LL + static_cast<std::int64_t>(u32(at + 4));
    }

private:
    std::uint8_t const* m_data;
    std::size_t m_size;
    bool m_little;
};

bool inRange(std::int64_t sequence, std::int64_t lowest) {
    return sequence >= lowest && sequence <= kMaxSequenceNumber;
}

// A sequence-number or fragment-number set at `at`: base (8 or 4 bytes),
// numBits (at most 256), then one 32-bit word per 32 bits. `fixedAfter`
// bytes must follow the set. kAccept or kShortSubmessage.
Verdict checkBitmap(Body const& body, std::size_t at, std::size_t baseSize, std::size_t fixedAfter) {
    if (body.size() < at + baseSize + 4 + fixedAfter) return Verdict::kShortSubmessage;
    std::uint32_t const bits = body.u32(at + baseSize);
    if (bits > 256) return Verdict::kShortSubmessage;
    std::size_t const words = (bits + 31u) / 32u;
    return body.size() < at + baseSize + 4 + 4 * words + fixedAfter ? Verdict::kShortSubmessage : Verdict::kAccept;
}

// --- Payloads whose sequences the library sizes before reading them --------

constexpr std::uint16_t kPidIdentityToken = 0x1001;
constexpr std::uint16_t kPidPermissionsToken = 0x1002;
constexpr std::uint8_t kSpdpWriter[4] = {0x00, 0x01, 0x00, 0xc2};
constexpr std::uint8_t kSecureSpdpWriter[4] = {0xff, 0x01, 0x01, 0xc2};
constexpr std::uint8_t kStatelessWriter[4] = {0x00, 0x02, 0x01, 0xc3};

// CDR as Fast DDS's CDRMessage reads it: 32-bit counts and lengths in the
// payload's byte order, strings and octet sequences followed by alignment
// to 4 from the start of the serialized payload.
class Cdr {
public:
    Cdr(std::uint8_t const* payload, std::size_t begin, std::size_t end, bool little)
        : m_payload(payload), m_at(begin), m_end(end), m_little(little) {}

    bool u32(std::uint32_t& value) {
        if (m_at + 4 > m_end) return false;
        Body const b(m_payload + m_at, 4, m_little);
        value = b.u32(0);
        m_at += 4;
        return true;
    }
    bool skip(std::size_t n) {
        if (n > m_end - m_at) return false;
        m_at += n;
        return true;
    }
    // A string or an octet sequence: its length, its bytes, the alignment.
    bool counted() {
        std::uint32_t n = 0;
        if (!u32(n) || !skip(n)) return false;
        std::size_t const aligned = (m_at + 3u) & ~std::size_t{3};
        m_at = aligned < m_end ? aligned : m_end;
        return true;
    }
    // A count of elements each at least `minimum` bytes long.
    bool count(std::uint32_t& n, std::size_t minimum) {
        return u32(n) && n <= (m_end > m_at ? m_end - m_at : 0) / minimum;
    }
    // DataHolder: class id, properties (name, value), binary properties
    // (name, octets).
    bool dataHolder() {
        std::uint32_t n = 0;
        if (!counted() || !count(n, 8)) return false;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (!counted() || !counted()) return false;
        }
        if (!count(n, 8)) return false;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (!counted() || !counted()) return false;
        }
        return true;
    }

private:
    std::uint8_t const* m_payload;
    std::size_t m_at;
    std::size_t m_end;
    bool m_little;
};

bool sameEntity(Body const& body, std::size_t at, std::uint8_t const (&entity)[4]) {
    for (std::size_t i = 0; i < 4; ++i) {
        if (body.byte(at + i) != entity[i]) return false;
    }
    return true;
}

// The tokens of a participant announcement (a parameter list).
Verdict checkAnnouncement(std::uint8_t const* payload, std::size_t size) {
    bool const little = payload[1] == 0x03;
    std::size_t list = 0;
    for (;;) {
        std::size_t const at = 4 + list;
        if (at + 4 > size) return Verdict::kAccept;  // the library stops here too
        Body const header(payload + at, 4, little);
        std::uint16_t const pid = header.u16(0);
        std::uint16_t const length = header.u16(2);
        if (pid == kPidSentinel || at + 4 + length > size) return Verdict::kAccept;
        if (pid == kPidIdentityToken || pid == kPidPermissionsToken) {
            Cdr cdr(payload, at + 4, at + 4 + length, little);
            if (!cdr.dataHolder()) return Verdict::kSequenceCount;
        }
        list = (list + 4 + length + 3u) & ~std::size_t{3};
    }
}

// An authentication handshake message (ParticipantGenericMessage, CDR).
Verdict checkHandshake(std::uint8_t const* payload, std::size_t size) {
    Cdr cdr(payload, 4, size, payload[1] == 0x01);
    std::uint32_t n = 0;
    // Two message identities (GUID and 64-bit number), three keys (GUIDs),
    // the class id, then the data holders (each at least 12 bytes).
    if (!cdr.skip(2 * 24 + 3 * 16) || !cdr.counted() || !cdr.count(n, 12)) return Verdict::kSequenceCount;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (!cdr.dataHolder()) return Verdict::kSequenceCount;
    }
    return Verdict::kAccept;
}

// The payload of a DATA from the writers whose payloads are parsed with
// counts taken on trust.
Verdict checkPayload(Body const& body, std::size_t at, std::uint8_t const* data) {
    std::size_t const size = body.size() - at;
    if (size < 4) return Verdict::kAccept;
    std::uint8_t const* payload = data + at;
    bool const parameterList = payload[0] == 0x00 && (payload[1] == 0x02 || payload[1] == 0x03);
    bool const cdr = payload[0] == 0x00 && (payload[1] == 0x00 || payload[1] == 0x01);
    if (parameterList && (sameEntity(body, 8, kSpdpWriter) || sameEntity(body, 8, kSecureSpdpWriter))) {
        return checkAnnouncement(payload, size);
    }
    if (cdr && sameEntity(body, 8, kStatelessWriter)) return checkHandshake(payload, size);
    return Verdict::kAccept;
}

// The inline QoS and payload position of a DATA (fixed fields 16 after
// octetsToInlineQos) or DATA_FRAG (28); `payloadAt` := where the payload
// starts in the body.
Verdict checkDataLayout(Body const& body, std::uint8_t flags, std::size_t fixedFields, bool hasPayload,
                        std::size_t& payloadAt) {
    auto const octetsToInlineQos = static_cast<std::int16_t>(body.u16(2));
    if (octetsToInlineQos < 0 || static_cast<std::size_t>(octetsToInlineQos) < fixedFields ||
        4 + static_cast<std::size_t>(octetsToInlineQos) > body.size()) {
        return Verdict::kInlineQos;
    }
    std::size_t const start = 4 + static_cast<std::size_t>(octetsToInlineQos);
    std::size_t qos = 0;
    if ((flags & 0x02) != 0) {
        // The parameter list as the library walks it: each parameter takes
        // 4 + length bytes rounded up to 4 from the start of the list; the
        // sentinel takes 4 whatever its length says.
        for (;;) {
            std::size_t const at = start + qos;
            if (at + 4 > body.size()) return Verdict::kInlineQos;
            std::uint16_t const pid = body.u16(at);
            std::uint16_t const length = body.u16(at + 2);
            if (pid == kPidSentinel) {
                qos += 4;
                break;
            }
            if (at + 4 + length > body.size()) return Verdict::kInlineQos;
            qos = (qos + 4 + length + 3u) & ~std::size_t{3};
        }
    }
    // The library takes the payload size as the submessage length less
    // 4 + octetsToInlineQos + the list's size, in 32 bits.
    payloadAt = start + qos;
    return hasPayload && start + qos > body.size() ? Verdict::kInlineQos : Verdict::kAccept;
}

Verdict checkData(Body const& body, std::uint8_t flags, std::uint8_t const* data) {
    if (body.size() < 20) return Verdict::kShortSubmessage;
    if (!inRange(body.sequence(12), 1)) return Verdict::kSequenceNumber;
    bool const hasPayload = (flags & 0x0c) != 0;  // D or K
    std::size_t payloadAt = 0;
    if (Verdict const v = checkDataLayout(body, flags, 16, hasPayload, payloadAt); v != Verdict::kAccept) return v;
    return (flags & 0x04) != 0 ? checkPayload(body, payloadAt, data) : Verdict::kAccept;
}

Verdict checkDataFrag(Body const& body, std::uint8_t flags, Limits const& limits) {
    if (body.size() < 32) return Verdict::kShortSubmessage;
    if (!inRange(body.sequence(12), 1)) return Verdict::kSequenceNumber;
    std::size_t payloadAt = 0;
    if (Verdict const v = checkDataLayout(body, flags, 28, true, payloadAt); v != Verdict::kAccept) return v;
    std::uint32_t const first = body.u32(20);
    std::uint32_t const count = body.u16(24);
    std::uint32_t const fragmentSize = body.u16(26);
    std::uint32_t const sampleSize = body.u32(28);
    if (sampleSize > limits.maxSampleSize || fragmentSize == 0 || fragmentSize > sampleSize || first == 0 ||
        count == 0) {
        return Verdict::kFragment;
    }
    std::uint64_t const total = (std::uint64_t{sampleSize} + fragmentSize - 1) / fragmentSize;
    if (std::uint64_t{first} + count - 1 > total) return Verdict::kFragment;
    return Verdict::kAccept;
}

Verdict checkHeartbeat(Body const& body) {
    if (body.size() < 28) return Verdict::kShortSubmessage;
    std::int64_t const first = body.sequence(8);
    std::int64_t const last = body.sequence(16);
    if (!inRange(first, 1) || !inRange(last, 0) || last < first - 1) return Verdict::kSequenceNumber;
    return Verdict::kAccept;
}

Verdict checkGap(Body const& body) {
    if (Verdict const v = checkBitmap(body, 16, 8, 0); v != Verdict::kAccept) return v;
    if (!inRange(body.sequence(8), 1) || !inRange(body.sequence(16), 1)) return Verdict::kSequenceNumber;
    return Verdict::kAccept;
}

Verdict checkAckNack(Body const& body) {
    if (Verdict const v = checkBitmap(body, 8, 8, 4); v != Verdict::kAccept) return v;
    return inRange(body.sequence(8), 0) ? Verdict::kAccept : Verdict::kSequenceNumber;
}

Verdict checkNackFrag(Body const& body) {
    if (Verdict const v = checkBitmap(body, 16, 4, 4); v != Verdict::kAccept) return v;
    return inRange(body.sequence(8), 1) ? Verdict::kAccept : Verdict::kSequenceNumber;
}

Verdict checkHeartbeatFrag(Body const& body) {
    if (body.size() < 24) return Verdict::kShortSubmessage;
    return inRange(body.sequence(8), 1) ? Verdict::kAccept : Verdict::kSequenceNumber;
}

Verdict checkInfoReply(Body const& body, std::uint8_t flags) {
    std::size_t at = 0;
    for (int list = 0; list < ((flags & 0x02) != 0 ? 2 : 1); ++list) {
        if (at + 4 > body.size()) return Verdict::kShortSubmessage;
        std::uint64_t const locators = body.u32(at);
        if (locators > (body.size() - at - 4) / 24) return Verdict::kShortSubmessage;
        at += 4 + 24 * static_cast<std::size_t>(locators);
    }
    return Verdict::kAccept;
}

// The fixed fields of one submessage that is not part of the security
// framing.
Verdict checkContent(std::uint8_t id, std::uint8_t flags, Body const& body, Limits const& limits) {
    switch (id) {
        case kData:
            return checkData(body, flags, body.data());
        case kDataFrag:
            return checkDataFrag(body, flags, limits);
        case kHeartbeat:
            return checkHeartbeat(body);
        case kGap:
            return checkGap(body);
        case kAckNack:
            return checkAckNack(body);
        case kNackFrag:
            return checkNackFrag(body);
        case kHeartbeatFrag:
            return checkHeartbeatFrag(body);
        case kInfoTs:
            return (flags & 0x02) == 0 && body.size() < 8 ? Verdict::kShortSubmessage : Verdict::kAccept;
        case kInfoSrc:
            return body.size() < 20 ? Verdict::kShortSubmessage : Verdict::kAccept;
        case kInfoDst:
            return body.size() < 12 ? Verdict::kShortSubmessage : Verdict::kAccept;
        case kInfoReplyIp4:
            return body.size() < ((flags & 0x02) != 0 ? 16u : 8u) ? Verdict::kShortSubmessage : Verdict::kAccept;
        case kInfoReply:
            return checkInfoReply(body, flags);
        default:
            return Verdict::kAccept;
    }
}

// The order of the DDS Security submessages, one submessage at a time.
class SecurityFraming {
public:
    Verdict next(std::uint8_t id, std::size_t index) {
        bool const afterSrtpsPrefix = m_previousWasSrtpsPrefix;
        m_previousWasSrtpsPrefix = false;
        switch (m_state) {
            case State::kProtected:
                // The one submessage a SEC_PREFIX protects: a SEC_BODY or a
                // plain submessage, never more framing.
                if (id == kSecPrefix || id == kSecPostfix || id == kSrtpsPrefix || id == kSrtpsPostfix) {
                    return Verdict::kSecurityFraming;
                }
                m_state = State::kAwaitPostfix;
                return Verdict::kAccept;
            case State::kAwaitPostfix:
                if (id != kSecPostfix) return Verdict::kSecurityFraming;
                m_state = State::kNone;
                return Verdict::kAccept;
            case State::kNone:
                break;
        }
        switch (id) {
            case kSecPrefix:
                m_state = State::kProtected;
                return Verdict::kAccept;
            case kSecPostfix:
                return Verdict::kSecurityFraming;
            case kSecBody:
                // An encrypted message: SRTPS_PREFIX, SEC_BODY, SRTPS_POSTFIX.
                return afterSrtpsPrefix ? Verdict::kAccept : Verdict::kSecurityFraming;
            case kSrtpsPrefix:
                if (index != 0) return Verdict::kSecurityFraming;
                m_srtpsOpen = true;
                m_previousWasSrtpsPrefix = true;
                return Verdict::kAccept;
            case kSrtpsPostfix:
                // Never right after the prefix: the plugin jumps over the
                // submessage after the prefix before it looks further.
                if (!m_srtpsOpen || afterSrtpsPrefix) return Verdict::kSecurityFraming;
                m_srtpsOpen = false;
                return Verdict::kAccept;
            default:
                return Verdict::kAccept;
        }
    }
    bool complete() const { return m_state == State::kNone && !m_srtpsOpen; }

private:
    enum class State { kNone, kProtected, kAwaitPostfix };
    State m_state = State::kNone;
    bool m_srtpsOpen = false;
    bool m_previousWasSrtpsPrefix = false;
};

}  // namespace

char const* describe(Verdict verdict) {
    switch (verdict) {
        case Verdict::kAccept:
            return "accepted";
        case Verdict::kShortHeader:
            return "shorter than an RTPS header";
        case Verdict::kNotRtps:
            return "not RTPS";
        case Verdict::kVersion:
            return "RTPS major version other than 2";
        case Verdict::kUnknownSource:
            return "unknown GUID prefix";
        case Verdict::kNoSubmessage:
            return "no submessage";
        case Verdict::kStrayBytes:
            return "stray bytes after the last submessage";
        case Verdict::kBeyondEnd:
            return "submessage longer than the message";
        case Verdict::kShortSubmessage:
            return "submessage shorter than its fields";
        case Verdict::kSequenceNumber:
            return "sequence number out of range";
        case Verdict::kInlineQos:
            return "inline QoS or payload position broken";
        case Verdict::kFragment:
            return "fragment numbers or sizes inconsistent";
        case Verdict::kStatistics:
            return "statistics submessage misplaced";
        case Verdict::kSecurityFraming:
            return "security submessages out of order";
        case Verdict::kSequenceCount:
            return "token or handshake counting more than its bytes";
    }
    return "unknown";
}

Verdict checkDatagram(std::uint8_t const* data, std::size_t size, Limits const& limits) {
    if (data == nullptr || size < kHeaderSize) return Verdict::kShortHeader;
    if (data[0] != 'R' || data[1] != 'T' || data[2] != 'P' || data[3] != 'S') return Verdict::kNotRtps;
    if (data[4] != 2) return Verdict::kVersion;
    bool const eProsima = data[6] == 0x01 && data[7] == 0x0f;
    bool known = false;
    for (std::size_t i = 8; i < kHeaderSize; ++i) known = known || data[i] != 0;
    if (!known) return Verdict::kUnknownSource;
    if (size == kHeaderSize) return Verdict::kNoSubmessage;

    SecurityFraming framing;
    std::size_t at = kHeaderSize;
    for (std::size_t index = 0; at < size; ++index) {
        if (size - at < 4) return Verdict::kStrayBytes;
        std::uint8_t const id = data[at];
        std::uint8_t const flags = data[at + 1];
        bool const little = (flags & 0x01) != 0;
        std::size_t const declared = little ? static_cast<std::size_t>(data[at + 2] | (data[at + 3] << 8))
                                            : static_cast<std::size_t>((data[at + 2] << 8) | data[at + 3]);
        std::size_t const start = at + 4;
        if (start + declared > size) return Verdict::kBeyondEnd;
        // 0 stretches to the end of the message, except for PAD and INFO_TS.
        bool const toEnd = declared == 0 && id != kPad && id != kInfoTs;
        std::size_t const length = toEnd ? size - start : declared;
        std::size_t const next = toEnd ? size : start + ((declared + 3u) & ~std::size_t{3});

        if (Verdict const v = framing.next(id, index); v != Verdict::kAccept) return v;
        if (id == kStatistics && eProsima) {
            if (length != kStatisticsLength || start + length != size) return Verdict::kStatistics;
        } else if (Verdict const v = checkContent(id, flags, Body(data + start, length, little), limits);
                   v != Verdict::kAccept) {
            return v;
        }
        at = next;
    }
    return framing.complete() ? Verdict::kAccept : Verdict::kSecurityFraming;
}

}  // namespace DatagramGuard
}  // namespace TSS
}  // namespace FACE
