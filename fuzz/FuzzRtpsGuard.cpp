// One received RTPS message as the datagram guard sees it before Fast DDS
// parses it. The check must never read outside the message (the input is
// copied to a buffer of its exact size), and what it accepts must satisfy
// the library's own expectations, modelled here from Fast DDS 2.9.1:
//  - the statistics scan (eProsima's messages): the first 0x80 submessage
//    of 56 bytes that fits ends the message (the library asserts it);
//  - the crypto plugin: behind a SEC_PREFIX (or a first SRTPS_PREFIX) of 20
//    bytes, the next submessage's body rounded up to 4 lies inside the
//    message (the plugin jumps over it outside any exception handler);
//  - DATA and DATA_FRAG: 4 + octetsToInlineQos + the inline QoS list does
//    not pass the submessage's length (the library subtracts in 32 bits).
// A violation aborts with the message in hexadecimal.

#include "FACE/RtpsDatagramCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using FACE::TSS::DatagramGuard::checkDatagram;
using FACE::TSS::DatagramGuard::Verdict;

struct Submessage {
    std::size_t start, bodyStart, length, next;
    std::uint8_t id, flags;
};

std::uint16_t read16(const std::uint8_t* p, bool little) {
    return little ? static_cast<std::uint16_t>(p[0] | (p[1] << 8)) : static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// The library's walk: readSubmessageHeader and the rounded next position.
std::vector<Submessage> walk(const std::uint8_t* d, std::size_t size) {
    std::vector<Submessage> out;
    std::size_t at = 20;
    while (at < size && size - at >= 4) {
        const bool little = (d[at + 1] & 1) != 0;
        const std::size_t declared = read16(d + at + 2, little);
        if (at + 4 + declared > size) break;
        const bool toEnd = declared == 0 && d[at] != 0x01 && d[at] != 0x09;
        Submessage s{at,
                     at + 4,
                     toEnd ? size - at - 4 : declared,
                     toEnd ? size : at + 4 + ((declared + 3) & ~std::size_t{3}),
                     d[at],
                     d[at + 1]};
        out.push_back(s);
        if (toEnd) break;
        at = s.next;
    }
    return out;
}

[[noreturn]] void fail(const char* what, const std::uint8_t* d, std::size_t size) {
    std::fprintf(stderr, "accepted, but %s:\n", what);
    for (std::size_t i = 0; i < size; ++i) std::fprintf(stderr, "%02x", d[i]);
    std::fprintf(stderr, "\n");
    std::abort();
}

void checkModel(const std::uint8_t* d, std::size_t size) {
    const std::vector<Submessage> subs = walk(d, size);
    const bool eProsima = d[6] == 0x01 && d[7] == 0x0f;
    for (const Submessage& s : subs) {
        if (eProsima && s.id == 0x80 && s.length == 56 && s.bodyStart + 56 <= size) {
            if (s.bodyStart + 56 != size) fail("the statistics scan would assert", d, size);
            break;
        }
    }
    for (std::size_t i = 0; i < subs.size(); ++i) {
        const Submessage& s = subs[i];
        const bool prefix = s.id == 0x31 || (s.id == 0x33 && i == 0);
        if (prefix && s.length == 20) {
            const std::size_t body = s.bodyStart + 20;
            if (body + 4 > size) fail("the crypto plugin would read a body header past the end", d, size);
            const std::size_t length = read16(d + body + 2, (d[body + 1] & 1) != 0);
            if (body + 4 + ((length + 3) & ~std::size_t{3}) > size) {
                fail("the crypto plugin would jump past the end", d, size);
            }
        }
        if ((s.id == 0x15 || s.id == 0x16) && s.length >= 4) {
            const bool little = (s.flags & 1) != 0;
            const auto octets = static_cast<std::int16_t>(read16(d + s.bodyStart + 2, little));
            if (4 + static_cast<long>(octets) > static_cast<long>(s.length)) {
                fail("the payload size would wrap", d, size);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy: any read past the message is a sanitizer report.
    std::vector<std::uint8_t> message(data, data + size);
    const std::uint8_t* at = message.empty() ? nullptr : message.data();
    const Verdict verdict = checkDatagram(at, message.size());
    if (verdict == Verdict::kAccept) {
        checkModel(message.data(), message.size());
    }
    return 0;
}
