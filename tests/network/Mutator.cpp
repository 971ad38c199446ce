#include "tests/network/Mutator.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace corvane_test {
namespace net {

namespace {

using rtps::Span;

constexpr std::size_t kHeader = 20;

// The pieces of a message: its header and each submessage with its padding.
struct Pieces {
    Bytes header;
    std::vector<Bytes> submessages;
    Bytes rest;  // what follows the last submessage the walk found
};

Pieces cut(Bytes const& m) {
    Pieces p;
    p.header.assign(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(std::min(m.size(), kHeader)));
    std::size_t end = p.header.size();
    for (Span const& s : rtps::split(m)) {
        std::size_t const stop = std::min(s.next, m.size());
        p.submessages.emplace_back(m.begin() + static_cast<std::ptrdiff_t>(s.start),
                                   m.begin() + static_cast<std::ptrdiff_t>(stop));
        end = stop;
    }
    p.rest.assign(m.begin() + static_cast<std::ptrdiff_t>(end), m.end());
    return p;
}

Bytes join(Pieces const& p) {
    Bytes out = p.header;
    for (Bytes const& s : p.submessages) {
        out.insert(out.end(), s.begin(), s.end());
        out.resize((out.size() + 3) & ~std::size_t{3}, 0);
    }
    out.insert(out.end(), p.rest.begin(), p.rest.end());
    return out;
}

bool little(Bytes const& submessage) { return submessage.size() > 1 && (submessage[1] & 1) != 0; }

void put16(Bytes& b, std::size_t at, std::uint16_t v, bool le) {
    if (at + 2 > b.size()) return;
    b[at] = static_cast<std::uint8_t>(le ? v : v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(le ? v >> 8 : v);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v, bool le) {
    if (at + 4 > b.size()) return;
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (le ? 8 * i : 24 - 8 * i));
}
void putSequence(Bytes& b, std::size_t at, std::int64_t v, bool le) {
    put32(b, at, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32), le);
    put32(b, at + 4, static_cast<std::uint32_t>(v), le);
}
std::uint16_t get16(Bytes const& b, std::size_t at, bool le) {
    if (at + 2 > b.size()) return 0;
    return le ? static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8))
              : static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

// a + b with the wrap-around of the wire's two's complement (the edges
// include the extremes of 64 bits).
std::int64_t wrapAdd(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

constexpr std::int64_t kSequenceEdges[] = {0,
                                           1,
                                           2,
                                           -1,
                                           0x7fffffffLL,
                                           0xffffffffLL,
                                           0x100000000LL,
                                           std::int64_t{1} << 40,
                                           (std::int64_t{1} << 47),
                                           (std::int64_t{1} << 48) - 1,
                                           std::int64_t{1} << 48,
                                           std::int64_t{1} << 62,
                                           0x7fffffffffffffffLL,
                                           static_cast<std::int64_t>(0x8000000000000000ULL),
                                           -4294967296LL};
constexpr std::uint32_t kWordEdges[] = {0,           1,           2,           3,      4,      0x7f,    0x80,
                                        0xff,        0x100,       0x7fff,      0x8000, 0xffff, 0x10000, 0x7fffffff,
                                        0x80000000u, 0xfffffffeu, 0xffffffffu, 255,    256,    257};

// Offsets (in the submessage, header included) of the sequence numbers and
// 32-bit fields of the known kinds.
struct FieldMap {
    std::vector<std::size_t> sequences;
    std::vector<std::size_t> words;
    std::vector<std::size_t> halves;
};

FieldMap fieldsOf(std::uint8_t id) {
    switch (id) {
        case rtps::kHeartbeat:
            return {{12, 20}, {28}, {}};
        case rtps::kGap:
            return {{12, 20}, {28}, {}};
        case rtps::kAckNack:
            return {{12}, {20}, {}};
        case rtps::kNackFrag:
            return {{12}, {20, 24}, {}};
        case rtps::kHeartbeatFrag:
            return {{12}, {20, 24}, {}};
        case rtps::kData:
            return {{16}, {}, {6}};
        case rtps::kDataFrag:
            return {{16}, {24, 32}, {6, 28, 30}};
        default:
            return {};
    }
}

}  // namespace

char const* mutationName(Mutation m) {
    switch (m) {
        case Mutation::kBitFlips:
            return "bit flips";
        case Mutation::kEdgeBytes:
            return "edge bytes";
        case Mutation::kLength:
            return "length edited";
        case Mutation::kRepeat:
            return "submessage repeated";
        case Mutation::kTruncate:
            return "truncated";
        case Mutation::kReorder:
            return "submessages swapped";
        case Mutation::kMove:
            return "submessage moved";
        case Mutation::kStatistics:
            return "statistics submessage inserted";
        case Mutation::kFieldEdge:
            return "field set to an extreme";
        case Mutation::kSplice:
            return "submessage of another message inserted";
        case Mutation::kSynthesize:
            return "made-up submessage inserted";
    }
    return "?";
}

Bytes Mutator::mutate(Bytes const& m, Bytes const& other, std::vector<Mutation>* used) {
    Bytes out = m;
    std::size_t const count = 1 + pick(3);
    for (std::size_t i = 0; i < count; ++i) {
        auto const kind = static_cast<Mutation>(pick(kMutationKinds));
        out = apply(kind, out, other);
        if (used != nullptr) used->push_back(kind);
    }
    return out;
}

Bytes Mutator::apply(Mutation kind, Bytes const& m, Bytes const& other) {
    Bytes out = m;
    Pieces p = cut(m);
    std::size_t const body = out.size() > kHeader ? out.size() - kHeader : 0;
    switch (kind) {
        case Mutation::kBitFlips: {
            if (body == 0) break;
            for (std::size_t i = 0, n = 1 + pick(8); i < n; ++i) {
                out[kHeader + pick(body)] ^= static_cast<std::uint8_t>(1u << pick(8));
            }
            break;
        }
        case Mutation::kEdgeBytes: {
            if (body == 0) break;
            static constexpr std::uint8_t kBytes[] = {0x00, 0x01, 0x7f, 0x80, 0xfe, 0xff};
            for (std::size_t i = 0, n = 1 + pick(4); i < n; ++i) {
                std::size_t const at = kHeader + pick(body);
                if (pick(2) == 0) {
                    out[at] = kBytes[pick(sizeof kBytes)];
                } else {
                    put32(out, at & ~std::size_t{3}, kWordEdges[pick(std::size(kWordEdges))], pick(2) == 0);
                }
            }
            break;
        }
        case Mutation::kLength: {
            if (p.submessages.empty()) break;
            Bytes& s = p.submessages[pick(p.submessages.size())];
            bool const le = little(s);
            std::uint16_t const declared = get16(s, 2, le);
            std::uint16_t const choices[] = {0,
                                             static_cast<std::uint16_t>(declared + 1 + pick(8)),
                                             static_cast<std::uint16_t>(declared - 1 - pick(8)),
                                             0xffff,
                                             0xfffc,
                                             static_cast<std::uint16_t>(m.size()),
                                             static_cast<std::uint16_t>(m_random())};
            put16(s, 2, choices[pick(std::size(choices))], le);
            out = join(p);
            break;
        }
        case Mutation::kRepeat: {
            if (p.submessages.empty()) break;
            std::size_t const i = pick(p.submessages.size());
            Bytes const copy = p.submessages[i];
            if (pick(2) == 0) {
                p.submessages.insert(p.submessages.begin() + static_cast<std::ptrdiff_t>(i), copy);
            } else {
                for (std::size_t j = 0, n = 1 + pick(3); j < n; ++j) p.submessages.push_back(copy);
            }
            out = join(p);
            break;
        }
        case Mutation::kTruncate: {
            if (body == 0) break;
            if (pick(2) == 0 || p.submessages.empty()) {
                out.resize(kHeader + pick(body));
            } else {
                Bytes& s = p.submessages[pick(p.submessages.size())];
                if (s.size() > 4) s.resize(4 + pick(s.size() - 4));
                out = join(p);
            }
            break;
        }
        case Mutation::kReorder: {
            if (p.submessages.size() < 2) break;
            std::swap(p.submessages[pick(p.submessages.size())], p.submessages[pick(p.submessages.size())]);
            out = join(p);
            break;
        }
        case Mutation::kMove: {
            if (p.submessages.size() < 2) break;
            std::size_t const from = pick(p.submessages.size());
            Bytes const moved = p.submessages[from];
            p.submessages.erase(p.submessages.begin() + static_cast<std::ptrdiff_t>(from));
            p.submessages.insert(p.submessages.begin() + static_cast<std::ptrdiff_t>(pick(p.submessages.size() + 1)),
                                 moved);
            out = join(p);
            break;
        }
        case Mutation::kStatistics: {
            // eProsima's layout: 0x80, flags, length 56, 56 bytes of data.
            Bytes statistics{0x80, 0x01, 56, 0};
            for (std::size_t i = 0; i < 56; ++i) statistics.push_back(static_cast<std::uint8_t>(m_random()));
            std::size_t const at = p.submessages.empty() ? 0 : pick(p.submessages.size());
            p.submessages.insert(p.submessages.begin() + static_cast<std::ptrdiff_t>(at), statistics);
            out = join(p);
            break;
        }
        case Mutation::kFieldEdge: {
            std::vector<std::size_t> known;
            for (std::size_t i = 0; i < p.submessages.size(); ++i) {
                if (!fieldsOf(p.submessages[i][0]).sequences.empty()) known.push_back(i);
            }
            if (known.empty()) break;
            Bytes& s = p.submessages[known[pick(known.size())]];
            bool const le = little(s);
            FieldMap const f = fieldsOf(s[0]);
            std::size_t const which = pick(3);
            if (which == 0 || (f.words.empty() && f.halves.empty())) {
                std::int64_t const value = kSequenceEdges[pick(std::size(kSequenceEdges))];
                std::size_t const first = f.sequences[pick(f.sequences.size())];
                putSequence(s, first, value, le);
                // A heartbeat's range right behind it: lastSN = firstSN - 1.
                if (s[0] == rtps::kHeartbeat && first == 12 && pick(2) == 0) putSequence(s, 20, wrapAdd(value, -1), le);
            } else if (which == 1 && !f.words.empty()) {
                put32(s, f.words[pick(f.words.size())], kWordEdges[pick(std::size(kWordEdges))], le);
            } else if (!f.halves.empty()) {
                put16(s, f.halves[pick(f.halves.size())],
                      static_cast<std::uint16_t>(kWordEdges[pick(std::size(kWordEdges))]), le);
            }
            out = join(p);
            break;
        }
        case Mutation::kSynthesize: {
            // The reader and writer of a submessage that names them, as the
            // library finds them (DATA and DATA_FRAG after 4 more bytes).
            rtps::EntityId reader = rtps::kUnknownEntity, writer = rtps::kWriter;
            for (Bytes const& piece : p.submessages) {
                std::size_t const at = piece[0] == rtps::kData || piece[0] == rtps::kDataFrag ? 8 : 4;
                if (fieldsOf(piece[0]).sequences.empty() || piece.size() < at + 8) continue;
                std::copy(piece.begin() + static_cast<std::ptrdiff_t>(at),
                          piece.begin() + static_cast<std::ptrdiff_t>(at + 4), reader.begin());
                std::copy(piece.begin() + static_cast<std::ptrdiff_t>(at + 4),
                          piece.begin() + static_cast<std::ptrdiff_t>(at + 8), writer.begin());
                break;
            }
            bool const le = pick(2) == 0;
            std::int64_t const sn = pick(2) == 0 ? static_cast<std::int64_t>(1 + pick(100))
                                                 : kSequenceEdges[pick(std::size(kSequenceEdges))];
            std::uint32_t const bits =
                pick(4) == 0 ? kWordEdges[pick(std::size(kWordEdges))] : static_cast<std::uint32_t>(pick(257));
            rtps::Submessage made;
            switch (pick(8)) {
                case 0:
                    made = rtps::gap(sn, wrapAdd(sn, static_cast<std::int64_t>(pick(1000))),
                                     std::min<std::uint32_t>(bits, 256), le, writer, reader);
                    break;
                case 1:
                    made =
                        rtps::heartbeat(sn, wrapAdd(sn, static_cast<std::int64_t>(pick(50)) - 1), le, writer, reader);
                    break;
                case 2:
                    made = rtps::acknack(sn, std::min<std::uint32_t>(bits, 256), le, reader, writer);
                    break;
                case 3:
                    made =
                        rtps::nackFrag(sn, static_cast<std::uint32_t>(pick(5)), std::min<std::uint32_t>(bits, 256), le);
                    break;
                case 4:
                    made = rtps::heartbeatFrag(sn, static_cast<std::uint32_t>(pick(70000)), le);
                    break;
                case 5:
                    made = rtps::infoSrc(le);
                    break;
                case 6:
                    made = rtps::submessage(rtps::kInfoReply, rtps::Fields(le).u32(1).zeros(24),
                                            static_cast<std::uint8_t>(pick(2) << 1));
                    break;
                default:
                    made = rtps::pad(4 * pick(8));
                    break;
            }
            Bytes piece{made.id, made.flags, 0, 0};
            put16(piece, 2, static_cast<std::uint16_t>(made.body.size()), (made.flags & 1) != 0);
            piece.insert(piece.end(), made.body.begin(), made.body.end());
            p.submessages.insert(p.submessages.begin() + static_cast<std::ptrdiff_t>(pick(p.submessages.size() + 1)),
                                 piece);
            out = join(p);
            break;
        }
        case Mutation::kSplice: {
            Pieces const q = cut(other);
            if (q.submessages.empty()) break;
            Bytes const piece = q.submessages[pick(q.submessages.size())];
            p.submessages.insert(p.submessages.begin() + static_cast<std::ptrdiff_t>(pick(p.submessages.size() + 1)),
                                 piece);
            out = join(p);
            break;
        }
    }
    return out;
}

void replacePrefix(Bytes& m, rtps::GuidPrefix const& from, rtps::GuidPrefix const& to) {
    if (from == to || m.size() < from.size()) return;
    for (std::size_t i = 0; i + from.size() <= m.size();) {
        if (std::equal(from.begin(), from.end(), m.begin() + static_cast<std::ptrdiff_t>(i))) {
            std::copy(to.begin(), to.end(), m.begin() + static_cast<std::ptrdiff_t>(i));
            i += from.size();
        } else {
            ++i;
        }
    }
}

void remapEntities(Bytes& m, std::map<rtps::EntityId, rtps::EntityId> const& map) {
    for (Span const& s : rtps::split(m)) {
        std::size_t first = 0;
        switch (s.id) {
            case rtps::kData:
            case rtps::kDataFrag:
                first = s.start + 8;
                break;
            case rtps::kHeartbeat:
            case rtps::kGap:
            case rtps::kAckNack:
            case rtps::kNackFrag:
            case rtps::kHeartbeatFrag:
                first = s.start + 4;
                break;
            default:
                continue;
        }
        for (std::size_t at : {first, first + 4}) {
            if (at + 4 > s.end) continue;
            rtps::EntityId id{};
            std::copy(m.begin() + static_cast<std::ptrdiff_t>(at), m.begin() + static_cast<std::ptrdiff_t>(at + 4),
                      id.begin());
            auto const found = map.find(id);
            if (found != map.end())
                std::copy(found->second.begin(), found->second.end(), m.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
}

std::string submessageName(std::uint8_t id) {
    switch (id) {
        case rtps::kPad:
            return "PAD";
        case rtps::kAckNack:
            return "ACKNACK";
        case rtps::kHeartbeat:
            return "HEARTBEAT";
        case rtps::kGap:
            return "GAP";
        case rtps::kInfoTs:
            return "INFO_TS";
        case rtps::kInfoSrc:
            return "INFO_SRC";
        case rtps::kInfoReplyIp4:
            return "INFO_REPLY_IP4";
        case rtps::kInfoDst:
            return "INFO_DST";
        case rtps::kInfoReply:
            return "INFO_REPLY";
        case rtps::kNackFrag:
            return "NACK_FRAG";
        case rtps::kHeartbeatFrag:
            return "HEARTBEAT_FRAG";
        case rtps::kData:
            return "DATA";
        case rtps::kDataFrag:
            return "DATA_FRAG";
        case rtps::kSecBody:
            return "SEC_BODY";
        case rtps::kSecPrefix:
            return "SEC_PREFIX";
        case rtps::kSecPostfix:
            return "SEC_POSTFIX";
        case rtps::kSrtpsPrefix:
            return "SRTPS_PREFIX";
        case rtps::kSrtpsPostfix:
            return "SRTPS_POSTFIX";
        default:
            break;
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(id));
    return text;
}

std::string describeSubmessages(Bytes const& m) {
    std::string out;
    for (Span const& s : rtps::split(m)) out += (out.empty() ? "" : ",") + submessageName(s.id);
    return out;
}

}  // namespace net
}  // namespace corvane_test
