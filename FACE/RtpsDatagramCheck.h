#ifndef FACE_RTPSDATAGRAMCHECK_H
#define FACE_RTPSDATAGRAMCHECK_H

// The check every received RTPS message passes before Fast DDS parses it
// (see RtpsGuardTransport.h): accept, or the reason to drop it.
//
// It walks the submessages exactly as Fast DDS 2.9.1's MessageReceiver and
// the crypto plugin walk them (octetsToNextHeader rounded up to 4; 0 means
// "to the end of the message" except for PAD and INFO_TS) and refuses what
// a single datagram can use to reach an assertion, an unbounded loop, an
// out-of-bounds access or a huge allocation in the library, as long as no
// legal traffic of Fast DDS or Cyclone DDS contains it:
//  - the 20-byte header: protocol "RTPS", major version 2, a known GUID
//    prefix (not all zeros), at least one submessage;
//  - every submessage header inside the message and every length inside
//    it; no 1 to 3 stray bytes after the last submessage;
//  - the fixed fields of every submessage kind the library reads (DATA,
//    DATA_FRAG, HEARTBEAT, GAP, ACKNACK, NACK_FRAG, HEARTBEAT_FRAG, INFO_TS,
//    INFO_SRC, INFO_DST, INFO_REPLY, INFO_REPLY_IP4) inside the submessage,
//    sequence-number bitmaps of at most 256 bits;
//  - sequence numbers 0 (1 where RTPS says so) up to kMaxSequenceNumber,
//    and a HEARTBEAT's range not reversed;
//  - DATA and DATA_FRAG: octetsToInlineQos at least the fixed fields, an
//    inline QoS parameter list ending with its sentinel inside the
//    submessage, the payload not before its start (the library computes
//    the payload size by subtraction in 32 bits);
//  - DATA_FRAG: fragment numbers from 1, within the sample; fragment size
//    from 1 to the sample size; sample size up to Limits::maxSampleSize
//    (the reader allocates the whole sample at the first fragment);
//  - eProsima's statistics submessage (id 0x80 in a message whose header
//    names vendor 01.0f) only as the last submessage, with its exact
//    length: the library asserts that, and with NDEBUG it shortens the
//    message by the submessage's size;
//  - the identity and permissions tokens of a participant announcement
//    (DATA of the SPDP writer, parameter list) and the authentication
//    handshake messages (DATA of the participant stateless message writer):
//    every string, octet sequence and element count inside its bytes. The
//    library sizes each sequence from its count before it reads an element,
//    so one count of 2^32 - 1 is an allocation of hundreds of GiB; Fast DDS
//    parses the tokens of every announcement, security or not;
//  - DDS Security framing: SRTPS_PREFIX only as the first submessage and
//    followed by an SRTPS_POSTFIX; SEC_PREFIX followed by one submessage
//    and a SEC_POSTFIX; SEC_BODY only right after either prefix. The crypto
//    plugin jumps over the protected part before it looks for the postfix,
//    and a jump past the end of the message throws an exception that
//    nothing in the library catches.
// Other submessage ids (vendor-specific ones of other vendors and of
// eProsima other than 0x80, ids RTPS reserves) pass: the library skips them
// by their length, as RTPS tells receivers to.
//
// What passes may still be refused by the library later (a MAC that does
// not verify, a writer that is not matched); the check only keeps out what
// the library cannot be trusted to refuse safely. Pure logic: no state, no
// allocation, thread-safe.

#include <cstddef>
#include <cstdint>

namespace FACE {
namespace TSS {
namespace DatagramGuard {

/// Why a message is dropped (kAccept: it is not).
enum class Verdict : std::uint8_t {
    kAccept = 0,
    kShortHeader,      ///< fewer than 20 bytes
    kNotRtps,          ///< protocol id other than "RTPS"
    kVersion,          ///< major version other than 2
    kUnknownSource,    ///< GUID prefix all zeros
    kNoSubmessage,     ///< nothing after the header
    kStrayBytes,       ///< 1 to 3 bytes after the last submessage
    kBeyondEnd,        ///< a submessage longer than the rest of the message
    kShortSubmessage,  ///< a submessage shorter than its fixed fields
    kSequenceNumber,   ///< a sequence number or range out of bounds
    kInlineQos,        ///< octetsToInlineQos, inline QoS or payload position broken
    kFragment,         ///< fragment numbers or sizes inconsistent, or sample too large
    kStatistics,       ///< eProsima's statistics submessage not last or of the wrong length
    kSecurityFraming,  ///< security prefixes, bodies and postfixes out of order
    kSequenceCount,    ///< a participant announcement's token or a handshake message
                       ///< counting more elements than its bytes can hold
};

/// Number of Verdict values, kAccept included.
constexpr std::size_t kVerdictCount = 15;

/// A short English phrase for `verdict` ("submessage longer than the
/// message", ...); "accepted" for kAccept.
char const* describe(Verdict verdict);

/// The largest sequence number accepted, 2^48 - 1: a writer sending a
/// million samples a second reaches it after 8.9 years; the sequence
/// numbers Fast DDS and Cyclone DDS writers use start at 1 and grow by one
/// per sample (no persistence service is configured).
constexpr std::int64_t kMaxSequenceNumber = (std::int64_t{1} << 48) - 1;

/// Data length of eProsima's statistics submessage (id 0x80): destination
/// locator 24, time stamp 8, counters 24 (two 64-bit, one 16-bit, padded).
constexpr std::uint16_t kStatisticsLength = 56;

struct Limits {
    /// Largest sample size a DATA_FRAG may announce, bytes. 1 MiB: the
    /// largest sample any participant of this system sends is a command
    /// text or a DDS Security handshake token, a few KiB; the reader
    /// reserves the announced size at the first fragment, so the bound is
    /// what one forged fragment can make a reader allocate.
    std::uint32_t maxSampleSize = 1u << 20;
};

/// Checks one received RTPS message of `size` bytes at `data` (null only
/// with size 0). Never reads outside [data, data + size).
Verdict checkDatagram(std::uint8_t const* data, std::size_t size, Limits const& limits = Limits{});

}  // namespace DatagramGuard
}  // namespace TSS
}  // namespace FACE

#endif  // FACE_RTPSDATAGRAMCHECK_H
