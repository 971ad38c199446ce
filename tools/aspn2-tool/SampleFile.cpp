#include "tools/aspn2-tool/SampleFile.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace aspn2_tool {

namespace {

void putLittle(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
}

std::uint64_t getLittle(std::string const& in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)])} << (8 * i);
    }
    return value;
}

bool printableName(std::string const& name) {
    for (char c : name) {
        if (c <= ' ' || c > '~') return false;
    }
    return true;
}

}  // namespace

std::uint32_t crc32(void const* data, std::size_t size, std::uint32_t crc) {
    // zlib answers 0 for no data at all; the CRC of nothing is the one before.
    if (size == 0) return crc;
    return static_cast<std::uint32_t>(::crc32_z(crc, static_cast<Bytef const*>(data), size));
}

std::string SampleFileError::str() const { return "byte " + std::to_string(offset) + ": " + reason; }

std::string sampleFileHeader() {
    std::string header(kSampleFileMagic, 8);
    putLittle(header, kSampleFileVersion, 2);
    putLittle(header, 0, 2);
    return header;
}

std::string encodeSample(RecordedSample const& sample) {
    if (sample.topic.empty() || sample.topic.size() > kMaxTopicLength || !printableName(sample.topic)) {
        throw std::invalid_argument("topic name \"" + sample.topic + "\" is not 1.." + std::to_string(kMaxTopicLength) +
                                    " printable characters");
    }
    if (sample.cdr.empty() || sample.cdr.size() > kMaxPayloadLength) {
        throw std::invalid_argument("a sample of " + std::to_string(sample.cdr.size()) + " bytes is not 1.." +
                                    std::to_string(kMaxPayloadLength) + " bytes");
    }
    std::string out;
    out.reserve(17 + sample.topic.size() + sample.cdr.size());
    out.push_back(static_cast<char>(sample.topic.size()));
    out += sample.topic;
    putLittle(out, sample.timeNs, 8);
    putLittle(out, sample.cdr.size(), 4);
    out.append(reinterpret_cast<char const*>(sample.cdr.data()), sample.cdr.size());
    putLittle(out, crc32(out.data(), out.size()), 4);
    return out;
}

bool decodeSampleFile(std::string const& bytes, std::vector<RecordedSample>& samples, SampleFileError& error) {
    samples.clear();
    auto fail = [&](std::size_t offset, std::string reason) {
        error.offset = offset;
        error.reason = std::move(reason);
        return false;
    };
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSampleFileMagic, 8) != 0) {
        return fail(0, "not a recorded-samples file (no \"ASPN2REC\" at the start)");
    }
    if (bytes.size() < kSampleFileHeaderSize) return fail(bytes.size(), "truncated header");
    std::uint64_t const version = getLittle(bytes, 8, 2);
    if (version != kSampleFileVersion) {
        return fail(8, "format version " + std::to_string(version) + " (this tool reads version " +
                           std::to_string(kSampleFileVersion) + ")");
    }
    if (getLittle(bytes, 10, 2) != 0) return fail(10, "reserved header bytes are not 0");

    std::size_t at = kSampleFileHeaderSize;
    std::uint64_t lastTime = 0;
    while (at < bytes.size()) {
        std::size_t const start = at;
        std::size_t const left = bytes.size() - at;
        std::size_t const nameLength = static_cast<unsigned char>(bytes[at]);
        if (nameLength == 0 || nameLength > kMaxTopicLength) {
            return fail(at, "topic name length " + std::to_string(nameLength) + " is outside 1.." +
                                std::to_string(kMaxTopicLength));
        }
        std::size_t const fixed = 1 + nameLength + 8 + 4;
        if (left < fixed) return fail(start, "truncated record (" + std::to_string(left) + " bytes left)");
        RecordedSample sample;
        sample.offset = start;
        sample.topic = bytes.substr(at + 1, nameLength);
        if (!printableName(sample.topic)) return fail(at + 1, "topic name is not printable ASCII");
        at += 1 + nameLength;
        sample.timeNs = getLittle(bytes, at, 8);
        if (sample.timeNs < lastTime) {
            return fail(at, "time " + std::to_string(sample.timeNs) + " ns is before the previous record's " +
                                std::to_string(lastTime) + " ns");
        }
        at += 8;
        std::uint64_t const length = getLittle(bytes, at, 4);
        if (length == 0 || length > kMaxPayloadLength) {
            return fail(
                at, "payload length " + std::to_string(length) + " is outside 1.." + std::to_string(kMaxPayloadLength));
        }
        at += 4;
        if (bytes.size() - at < length + 4) {
            return fail(start, "truncated record (payload of " + std::to_string(length) + " bytes and checksum, " +
                                   std::to_string(bytes.size() - at) + " bytes left)");
        }
        sample.cdr.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        std::uint32_t const expected = crc32(bytes.data() + start, at - start);
        if (getLittle(bytes, at, 4) != expected) return fail(start, "checksum mismatch in the record starting here");
        at += 4;
        lastTime = sample.timeNs;
        samples.push_back(std::move(sample));
    }
    return true;
}

}  // namespace aspn2_tool
