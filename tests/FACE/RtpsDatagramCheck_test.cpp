// The check every received RTPS message passes before Fast DDS parses it:
// legal messages of every submessage kind, both byte orders, DDS Security
// framing and vendor submessages pass; each way a single message can reach
// an assertion, a runaway loop, an out-of-bounds read or a huge allocation
// in the library is refused with its reason. Captured traffic of our own
// participants (the guard's fuzz seeds) must all pass.
#include "FACE/RtpsDatagramCheck.h"
#include "tests/support/RtpsMessage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace r = corvane_test::rtps;
using FACE::TSS::DatagramGuard::checkDatagram;
using FACE::TSS::DatagramGuard::describe;
using FACE::TSS::DatagramGuard::kMaxSequenceNumber;
using FACE::TSS::DatagramGuard::Verdict;
using r::Bytes;

Verdict check(Bytes const& m) { return checkDatagram(m.data(), m.size()); }

struct Case {
    char const* what;
    Bytes message;
    Verdict verdict;
};

// A copy of `m` with its octetsToNextHeader at byte `at` set to `length`
// (little-endian).
Bytes withLength(Bytes m, std::size_t at, std::uint16_t length) {
    m[at + 2] = static_cast<std::uint8_t>(length);
    m[at + 3] = static_cast<std::uint8_t>(length >> 8);
    return m;
}

// The discovery message of the field fault: a participant announcement
// with eProsima's statistics submessage, its submessages repeated so that
// the statistics submessage stands in the middle.
Bytes repeatedAnnouncement() {
    std::vector<r::Submessage> const once{r::infoTs(), r::data(1, Bytes(240, 0x11)), r::statistics()};
    std::vector<r::Submessage> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    return r::message(twice);
}

Bytes secured(std::vector<r::Submessage> inner) {
    std::vector<r::Submessage> all{r::infoDst()};
    all.push_back(r::opaque(r::kSecPrefix, 20));
    all.insert(all.end(), inner.begin(), inner.end());
    all.push_back(r::opaque(r::kSecPostfix, 20));
    return r::message(all);
}

TEST(RtpsDatagramCheck, LegalMessagesPass) {
    std::vector<std::pair<std::uint16_t, Bytes>> const qos{{0x0070, Bytes(16, 0xab)}, {0x0071, Bytes(4, 0)}};
    Case const cases[] = {
        {"heartbeat, little-endian", r::message({r::infoDst(), r::heartbeat(1, 10)}), Verdict::kAccept},
        {"heartbeat, big-endian", r::message({r::infoDst(r::kPrefix, false), r::heartbeat(5, 9, false)}),
         Verdict::kAccept},
        {"heartbeat of an empty writer", r::message({r::heartbeat(1, 0)}), Verdict::kAccept},
        {"heartbeat at the largest sequence number", r::message({r::heartbeat(kMaxSequenceNumber, kMaxSequenceNumber)}),
         Verdict::kAccept},
        {"data with payload", r::message({r::infoTs(), r::data(7, Bytes(64, 1))}), Verdict::kAccept},
        {"data with inline QoS", r::message({r::data(7, Bytes(12, 1), true, r::inlineQos(qos))}), Verdict::kAccept},
        {"data with inline QoS, big-endian", r::message({r::data(7, Bytes(12, 1), false, r::inlineQos(qos, false))}),
         Verdict::kAccept},
        {"data with an odd payload, unpadded at the end", r::message({r::infoTs(), r::data(3, Bytes(5, 1))}),
         Verdict::kAccept},
        {"data reaching to the end (length 0)", withLength(r::message({r::infoTs(), r::data(3, Bytes(40, 1))}), 32, 0),
         Verdict::kAccept},
        {"fragment 2 of 3", r::message({r::dataFrag(4, 2, 1, 1000, 2500, Bytes(1000, 2))}), Verdict::kAccept},
        {"last two fragments, big-endian", r::message({r::dataFrag(4, 2, 2, 1000, 2500, Bytes(1500, 2), false)}),
         Verdict::kAccept},
        {"gap with a full bitmap", r::message({r::gap(3, 10, 256)}), Verdict::kAccept},
        {"gap over a writer's removed history", r::message({r::gap(1, 4000000000LL)}), Verdict::kAccept},
        {"acknack with base 0 (preemptive)", r::message({r::infoDst(), r::acknack(0)}), Verdict::kAccept},
        {"acknack with 64 bits, big-endian", r::message({r::acknack(11, 64, false)}), Verdict::kAccept},
        {"nackfrag and heartbeatfrag", r::message({r::nackFrag(4, 1, 40), r::heartbeatFrag(4, 3)}), Verdict::kAccept},
        {"info source, reply, reply-ip4 and pad",
         r::message({r::infoSrc(), r::submessage(r::kInfoReply, r::Fields().u32(1).zeros(24)),
                     r::submessage(r::kInfoReplyIp4, r::Fields().zeros(8)), r::pad(0), r::pad(8)}),
         Verdict::kAccept},
        {"info timestamp invalidated (length 0) in the middle",
         r::message({r::submessage(r::kInfoTs, r::Fields(), 0x02), r::heartbeat(1, 1)}), Verdict::kAccept},
        {"statistics submessage last", r::message({r::infoTs(), r::data(1, Bytes(8, 1)), r::statistics()}),
         Verdict::kAccept},
        {"statistics submessage reaching to the end (length 0)",
         withLength(r::message({r::heartbeat(1, 1), r::statistics()}), 52, 0), Verdict::kAccept},
        {"another vendor's 0x80 in the middle",
         r::message(r::header(r::kPrefix, r::kCyclone), {r::opaque(0x80, 8), r::heartbeat(1, 2), r::opaque(0x81, 4)}),
         Verdict::kAccept},
        {"eProsima vendor submessage other than 0x80", r::message({r::opaque(0x85, 12), r::heartbeat(1, 1)}),
         Verdict::kAccept},
        {"reserved standard id", r::message({r::opaque(0x05, 8), r::heartbeat(1, 1)}), Verdict::kAccept},
        {"signed submessage", secured({r::heartbeat(1, 4)}), Verdict::kAccept},
        {"encrypted submessage", secured({r::opaque(r::kSecBody, 48)}), Verdict::kAccept},
        {"encrypted message",
         r::message({r::opaque(r::kSrtpsPrefix, 20), r::opaque(r::kSecBody, 100), r::opaque(r::kSrtpsPostfix, 20),
                     r::statistics()}),
         Verdict::kAccept},
        {"signed message around a signed submessage",
         r::message({r::opaque(r::kSrtpsPrefix, 20), r::infoDst(), r::opaque(r::kSecPrefix, 20), r::heartbeat(1, 2),
                     r::opaque(r::kSecPostfix, 20), r::opaque(r::kSrtpsPostfix, 20)}),
         Verdict::kAccept},
    };
    for (Case const& c : cases) EXPECT_EQ(check(c.message), c.verdict) << c.what;
}

TEST(RtpsDatagramCheck, HeaderAndLayoutFaultsAreRefused) {
    Bytes const good = r::message({r::infoTs(), r::heartbeat(1, 2)});
    Bytes zeroPrefix = good;
    std::fill(zeroPrefix.begin() + 8, zeroPrefix.begin() + 20, 0);
    Bytes notRtps = good;
    notRtps[3] = 'X';
    Bytes version1 = good;
    version1[4] = 1;
    Bytes stray = good;
    stray.insert(stray.end(), {0, 0});
    Case const cases[] = {
        {"nothing", Bytes{}, Verdict::kShortHeader},
        {"19 bytes", Bytes(good.begin(), good.begin() + 19), Verdict::kShortHeader},
        {"RTPX", notRtps, Verdict::kNotRtps},
        {"version 1", version1, Verdict::kVersion},
        {"GUID prefix all zeros", zeroPrefix, Verdict::kUnknownSource},
        {"header alone", r::header(), Verdict::kNoSubmessage},
        {"two stray bytes", stray, Verdict::kStrayBytes},
        {"submessage header cut", Bytes(good.begin(), good.begin() + 34), Verdict::kStrayBytes},
        {"length beyond the end", withLength(good, 32, 29), Verdict::kBeyondEnd},
        {"length 65535", withLength(good, 20, 65535), Verdict::kBeyondEnd},
        {"last submessage cut short", Bytes(good.begin(), good.end() - 1), Verdict::kBeyondEnd},
    };
    for (Case const& c : cases) EXPECT_EQ(check(c.message), c.verdict) << c.what;
}

// Each submessage kind shorter than the fields the library reads from it.
TEST(RtpsDatagramCheck, SubmessagesShorterThanTheirFieldsAreRefused) {
    auto shortened = [](r::Submessage s, std::size_t keep) {
        s.body.resize(keep);
        return r::message({s, r::pad(4)});
    };
    Case const cases[] = {
        {"heartbeat of 24", shortened(r::heartbeat(1, 2), 24), Verdict::kShortSubmessage},
        {"heartbeatfrag of 20", shortened(r::heartbeatFrag(1, 2), 20), Verdict::kShortSubmessage},
        {"data of 16", shortened(r::data(1, {}), 16), Verdict::kShortSubmessage},
        {"datafrag of 28", shortened(r::dataFrag(1, 1, 1, 8, 8, {}), 28), Verdict::kShortSubmessage},
        {"gap without its bitmap", shortened(r::gap(1, 2, 64), 32), Verdict::kShortSubmessage},
        {"acknack without its count", shortened(r::acknack(1, 32), 24), Verdict::kShortSubmessage},
        {"nackfrag without its bitmap", shortened(r::nackFrag(1, 1, 33), 32), Verdict::kShortSubmessage},
        {"info timestamp of 4", shortened(r::infoTs(), 4), Verdict::kShortSubmessage},
        {"info destination of 8", shortened(r::infoDst(), 8), Verdict::kShortSubmessage},
        {"info source of 16", shortened(r::infoSrc(), 16), Verdict::kShortSubmessage},
        {"info reply claiming 3 locators",
         r::message({r::submessage(r::kInfoReply, r::Fields().u32(3).zeros(48)), r::pad(4)}),
         Verdict::kShortSubmessage},
        {"gap bitmap of 257 bits", r::message({r::gap(1, 2, 257)}), Verdict::kShortSubmessage},
        {"acknack bitmap of 4294967295 bits",
         r::message({r::submessage(r::kAckNack, r::Fields().zeros(8).sequence(1).u32(0xffffffffu).u32(1))}),
         Verdict::kShortSubmessage},
    };
    for (Case const& c : cases) EXPECT_EQ(check(c.message), c.verdict) << c.what;
}

TEST(RtpsDatagramCheck, SequenceNumbersOutOfRangeAreRefused) {
    std::int64_t const huge = std::int64_t{1} << 62;
    Case const cases[] = {
        {"heartbeat firstSN 2^62, lastSN one less", r::message({r::heartbeat(huge, huge - 1)}),
         Verdict::kSequenceNumber},
        {"heartbeat one past the largest", r::message({r::heartbeat(kMaxSequenceNumber + 1, kMaxSequenceNumber + 1)}),
         Verdict::kSequenceNumber},
        {"heartbeat firstSN 0", r::message({r::heartbeat(0, 5)}), Verdict::kSequenceNumber},
        {"heartbeat range reversed", r::message({r::heartbeat(10, 5)}), Verdict::kSequenceNumber},
        {"heartbeat lastSN negative (big-endian)", r::message({r::heartbeat(1, -1, false)}), Verdict::kSequenceNumber},
        {"gap from 1 to 2^62", r::message({r::gap(1, huge)}), Verdict::kSequenceNumber},
        {"gap start 0", r::message({r::gap(0, 4)}), Verdict::kSequenceNumber},
        {"acknack base unknown (-2^32)", r::message({r::acknack(-4294967296LL)}), Verdict::kSequenceNumber},
        {"data sequence number 0", r::message({r::data(0, Bytes(4, 1))}), Verdict::kSequenceNumber},
        {"datafrag sequence number 2^62", r::message({r::dataFrag(huge, 1, 1, 8, 8, Bytes(8, 1))}),
         Verdict::kSequenceNumber},
        {"nackfrag sequence number 0", r::message({r::nackFrag(0, 1, 8)}), Verdict::kSequenceNumber},
        {"heartbeatfrag sequence number negative", r::message({r::heartbeatFrag(-5, 1)}), Verdict::kSequenceNumber},
    };
    for (Case const& c : cases) EXPECT_EQ(check(c.message), c.verdict) << c.what;
}

TEST(RtpsDatagramCheck, BrokenPayloadPositionsAndFragmentsAreRefused) {
    Bytes noSentinel = r::inlineQos({{0x0070, Bytes(16, 1)}});
    noSentinel.resize(noSentinel.size() - 4);
    Bytes longParameter = r::inlineQos({{0x0070, Bytes(4, 1)}});
    longParameter[2] = 200;  // the parameter claims 200 bytes
    Case const cases[] = {
        {"octetsToInlineQos 12 (inside the fixed fields)", r::message({r::data(1, Bytes(8, 1), true, {}, 12)}),
         Verdict::kInlineQos},
        {"octetsToInlineQos negative", r::message({r::data(1, Bytes(8, 1), true, {}, -4)}), Verdict::kInlineQos},
        {"octetsToInlineQos past the submessage", r::message({r::data(1, Bytes(8, 1), true, {}, 200)}),
         Verdict::kInlineQos},
        {"inline QoS without sentinel", r::message({r::data(1, {}, true, noSentinel)}), Verdict::kInlineQos},
        {"inline QoS parameter past the submessage",
         r::message({r::data(1, Bytes(8, 1), true, longParameter), r::heartbeat(1, 1)}), Verdict::kInlineQos},
        {"sample of 4 GiB announced", r::message({r::dataFrag(1, 1, 1, 1000, 0xffffffffu, Bytes(1000, 1))}),
         Verdict::kFragment},
        {"sample just over the limit", r::message({r::dataFrag(1, 1, 1, 1000, (1u << 20) + 1, Bytes(1000, 1))}),
         Verdict::kFragment},
        {"fragment size 0", r::message({r::dataFrag(1, 1, 1, 0, 100, Bytes(8, 1))}), Verdict::kFragment},
        {"fragment number 0", r::message({r::dataFrag(1, 0, 1, 8, 100, Bytes(8, 1))}), Verdict::kFragment},
        {"no fragment in the submessage", r::message({r::dataFrag(1, 1, 0, 8, 100, Bytes(8, 1))}), Verdict::kFragment},
        {"fragments past the sample's last", r::message({r::dataFrag(1, 3, 2, 1000, 2500, Bytes(1000, 1))}),
         Verdict::kFragment},
        {"fragment larger than the sample", r::message({r::dataFrag(1, 1, 1, 1000, 100, Bytes(100, 1))}),
         Verdict::kFragment},
    };
    for (Case const& c : cases) EXPECT_EQ(check(c.message), c.verdict) << c.what;
}

// The field fault and its variants: eProsima's statistics submessage must
// be last and 56 bytes long; other vendors' 0x80 is theirs to define.
TEST(RtpsDatagramCheck, StatisticsSubmessageOnlyLastWithItsLength) {
    Bytes const repeated = repeatedAnnouncement();
    ASSERT_EQ(r::split(repeated).size(), 6u);
    Case const cases[] = {
        {"announcement repeated: statistics in the middle", repeated, Verdict::kStatistics},
        {"statistics truncated to 40", r::message({r::heartbeat(1, 1), r::statistics(40)}), Verdict::kStatistics},
        {"statistics lengthened to 64", r::message({r::heartbeat(1, 1), r::statistics(64)}), Verdict::kStatistics},
        {"statistics of 56 in the middle", r::message({r::statistics(), r::heartbeat(1, 1)}), Verdict::kStatistics},
        {"statistics first and last", r::message({r::statistics(), r::heartbeat(1, 1), r::statistics()}),
         Verdict::kStatistics},
        {"statistics reaching to the end with 60 bytes",
         withLength(r::message({r::heartbeat(1, 1), r::statistics(60)}), 52, 0), Verdict::kStatistics},
        {"the same from another vendor",
         r::message(r::header(r::kPrefix, r::kCyclone), {r::statistics(), r::heartbeat(1, 1), r::statistics(40)}),
         Verdict::kAccept},
    };
    for (Case const& c : cases) EXPECT_EQ(check(c.message), c.verdict) << c.what;
}

TEST(RtpsDatagramCheck, SecurityFramingOutOfOrderIsRefused) {
    auto prefix = r::opaque(r::kSecPrefix, 20), postfix = r::opaque(r::kSecPostfix, 20),
         body = r::opaque(r::kSecBody, 32), srtpsPrefix = r::opaque(r::kSrtpsPrefix, 20),
         srtpsPostfix = r::opaque(r::kSrtpsPostfix, 20), hb = r::heartbeat(1, 1);
    Case const cases[] = {
        {"prefix last", r::message({hb, prefix}), Verdict::kSecurityFraming},
        {"prefix and its submessage, no postfix", r::message({prefix, hb}), Verdict::kSecurityFraming},
        {"prefix, submessage, something else", r::message({prefix, hb, hb}), Verdict::kSecurityFraming},
        {"prefix protecting a prefix", r::message({prefix, prefix, hb, postfix, postfix}), Verdict::kSecurityFraming},
        {"postfix alone", r::message({hb, postfix}), Verdict::kSecurityFraming},
        {"body alone", r::message({hb, body}), Verdict::kSecurityFraming},
        {"message prefix not first", r::message({hb, srtpsPrefix, body, srtpsPostfix}), Verdict::kSecurityFraming},
        {"message prefix without postfix", r::message({srtpsPrefix, body}), Verdict::kSecurityFraming},
        {"message prefix right before its postfix", r::message({srtpsPrefix, srtpsPostfix}), Verdict::kSecurityFraming},
        {"message postfix alone", r::message({hb, srtpsPostfix}), Verdict::kSecurityFraming},
        {"two message postfixes", r::message({srtpsPrefix, body, srtpsPostfix, srtpsPostfix}),
         Verdict::kSecurityFraming},
    };
    for (Case const& c : cases) EXPECT_EQ(check(c.message), c.verdict) << c.what;
}

// CDR of a DataHolder (class id, properties, binary properties) as Fast
// DDS writes it, little-endian, aligned from the payload's start (`at`).
struct Holder {
    std::uint32_t properties = 1, binaries = 1, octets = 4;
};
void string(r::Fields& f, std::string const& s) {
    f.u32(static_cast<std::uint32_t>(s.size() + 1));
    for (char c : s) f.u8(static_cast<std::uint8_t>(c));
    f.u8(0);
    while (f.bytes().size() % 4 != 0) f.u8(0);
}
void holder(r::Fields& f, Holder const& h, std::uint32_t realProperties = 1) {
    string(f, "DDS:Auth:PKI-DH:1.0");
    f.u32(h.properties);
    for (std::uint32_t i = 0; i < realProperties; ++i) {
        string(f, "dds.cert.sn");
        string(f, "CN=server");
    }
    f.u32(h.binaries);
    string(f, "c.id");
    f.u32(h.octets).zeros(4);
}
// A participant announcement (SPDP writer, PL_CDR_LE) with an identity
// token.
r::Bytes announcement(Holder const& h, std::uint8_t const (&writer)[4] = {0x00, 0x01, 0x00, 0xc2}) {
    r::Fields token;
    token.zeros(8);  // where the parameter's content starts in the payload
    holder(token, h);
    r::Bytes content(token.bytes().begin() + 8, token.bytes().end());
    r::Fields payload;
    payload.u8(0).u8(0x03).u16(0);
    payload.u16(0x0050).u16(16).zeros(16);  // PID_PARTICIPANT_GUID
    payload.u16(0x1001).u16(static_cast<std::uint16_t>(content.size())).raw(content);
    payload.u16(0x0001).u16(0);
    r::Fields data;
    data.u16(0).u16(16).raw(r::kUnknownEntity).u8(writer[0]).u8(writer[1]).u8(writer[2]).u8(writer[3]).sequence(1);
    data.raw(payload.bytes());
    return r::message({r::infoTs(), r::submessage(r::kData, data, 0x04)});
}
// An authentication handshake message (stateless writer, CDR_LE).
r::Bytes handshake(std::uint32_t holders, Holder const& h) {
    r::Fields payload;
    payload.u8(0).u8(0x01).u16(0).zeros(2 * 24 + 3 * 16);
    string(payload, "dds.sec.auth");
    payload.u32(holders);
    holder(payload, h);
    r::Fields data;
    data.u16(0).u16(16).u8(0).u8(0x02).u8(0x01).u8(0xc4).u8(0).u8(0x02).u8(0x01).u8(0xc3).sequence(1);
    data.raw(payload.bytes());
    return r::message({r::infoDst(), r::submessage(r::kData, data, 0x04)});
}

// Element counts the library would size a sequence by before reading one:
// in the tokens of every participant announcement, and in the handshake
// messages of DDS Security, which anyone may send.
TEST(RtpsDatagramCheck, CountsBeyondTheirBytesInTokensAndHandshakesAreRefused) {
    Case const cases[] = {
        {"announcement with a token", announcement({}), Verdict::kAccept},
        {"token of 2^32 - 1 properties", announcement({0xffffffffu, 1, 4}), Verdict::kSequenceCount},
        {"token of 5,000 properties in a few bytes", announcement({5000, 1, 4}), Verdict::kSequenceCount},
        {"token of 2^32 - 1 binary properties", announcement({1, 0xffffffffu, 4}), Verdict::kSequenceCount},
        {"binary property of 4 GiB", announcement({1, 1, 0xfffffff0u}), Verdict::kSequenceCount},
        {"the same parameter id in another writer's parameter list",
         announcement({0xffffffffu, 1, 4}, {0x00, 0x00, 0x01, 0x02}), Verdict::kAccept},
        {"handshake message", handshake(1, {}), Verdict::kAccept},
        {"handshake of 2^32 - 1 data holders", handshake(0xffffffffu, {}), Verdict::kSequenceCount},
        {"handshake holder of 2^31 properties", handshake(1, {0x80000000u, 1, 4}), Verdict::kSequenceCount},
    };
    for (Case const& c : cases) EXPECT_EQ(check(c.message), c.verdict) << c.what;
}

// Every cut of a legal message is answered without reading past it (the
// sanitizer builds see any read outside the buffer) and refused, except the
// one cut that leaves whole submessages outside the security framing.
TEST(RtpsDatagramCheck, EveryCutOfALegalMessageIsSafe) {
    Bytes const m = secured({r::data(4, Bytes(30, 7), true, r::inlineQos({{0x0070, Bytes(16, 1)}}))});
    ASSERT_EQ(check(m), Verdict::kAccept);
    std::size_t const afterInfoDst = r::split(m).at(0).next;
    for (std::size_t n = 0; n < m.size(); ++n) {
        Bytes const cut(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(n));
        Verdict const v = checkDatagram(cut.empty() ? nullptr : cut.data(), cut.size());
        EXPECT_EQ(v == Verdict::kAccept, n == afterInfoDst) << n << " bytes (" << describe(v) << ")";
    }
}

// Traffic captured from our own participants (plain and secure, every kind
// the server receives) is the fuzz target's seed corpus: all of it passes.
TEST(RtpsDatagramCheck, CapturedTrafficOfOurParticipantsPasses) {
    std::filesystem::path const folder = std::filesystem::path(CORVANE_SOURCE_DIR) / "fuzz/corpus/fuzz_rtps_guard";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << folder << " missing";
    std::size_t checked = 0;
    for (auto const& entry : std::filesystem::directory_iterator(folder)) {
        std::string const name = entry.path().filename().string();
        if (name.rfind("regression-", 0) == 0) continue;  // past findings, not traffic
        std::ifstream in(entry.path(), std::ios::binary);
        Bytes const m((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Verdict const v = check(m);
        EXPECT_EQ(v, Verdict::kAccept) << name << ": " << describe(v);
        ++checked;
    }
    EXPECT_GE(checked, 20u);
}

}  // namespace
