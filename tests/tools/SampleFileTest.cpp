// The recorded-samples file: what is written reads back, and every kind of
// damage is refused at the byte where it starts.

#include "tools/aspn2-tool/SampleFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using aspn2_tool::RecordedSample;

std::vector<RecordedSample> threeSamples() {
    return {{"PositionVelocityAttitude", 0, {0x00, 0x01, 0x00, 0x00, 1, 2, 3}, 0},
            {"UTCTime", 500000000, std::vector<std::uint8_t>(300, 0xAB), 0},
            {"Command", 500000000, {0x00, 0x01, 0x00, 0x00}, 0}};
}

std::string goodFile() {
    std::string file = aspn2_tool::sampleFileHeader();
    for (RecordedSample const& s : threeSamples()) file += aspn2_tool::encodeSample(s);
    return file;
}

// Offsets of the second record in goodFile(): its start, time and length.
std::size_t const kSecond = aspn2_tool::kSampleFileHeaderSize + 1 + 24 + 8 + 4 + 7 + 4;
std::size_t const kSecondTime = kSecond + 1 + 7;
std::size_t const kSecondLength = kSecondTime + 8;
std::size_t const kThird = kSecondLength + 4 + 300 + 4;

// Rewrites the checksum of the record at `start` after an edit, so that the
// reader gets past it to the edited field.
void resum(std::string& file, std::size_t start, std::size_t end) {
    std::uint32_t const crc = aspn2_tool::crc32(file.data() + start, end - start);
    for (int i = 0; i < 4; ++i) file[end + static_cast<std::size_t>(i)] = static_cast<char>((crc >> (8 * i)) & 0xFF);
}

TEST(SampleFile, WhatIsWrittenReadsBack) {
    std::vector<RecordedSample> read;
    aspn2_tool::SampleFileError error;
    ASSERT_TRUE(aspn2_tool::decodeSampleFile(goodFile(), read, error)) << error.str();
    std::vector<RecordedSample> const written = threeSamples();
    ASSERT_EQ(read.size(), written.size());
    std::size_t const offsets[] = {aspn2_tool::kSampleFileHeaderSize, kSecond, kThird};
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].topic, written[i].topic);
        EXPECT_EQ(read[i].timeNs, written[i].timeNs);
        EXPECT_EQ(read[i].cdr, written[i].cdr);
        EXPECT_EQ(read[i].offset, offsets[i]);
    }
    EXPECT_TRUE(aspn2_tool::decodeSampleFile(aspn2_tool::sampleFileHeader(), read, error));
    EXPECT_TRUE(read.empty());
}

TEST(SampleFile, DamageIsRefusedWhereItStarts) {
    struct Case {
        char const* what;
        std::function<void(std::string&)> damage;
        std::size_t offset;
        char const* reason;
    };
    std::size_t const size = goodFile().size();
    Case const cases[] = {
        {"empty", [](std::string& f) { f.clear(); }, 0, "not a recorded-samples file"},
        {"other magic", [](std::string& f) { f[3] = 'x'; }, 0, "not a recorded-samples file"},
        {"header cut", [](std::string& f) { f.resize(10); }, 10, "truncated header"},
        {"version 2", [](std::string& f) { f[8] = 2; }, 8, "format version 2"},
        {"reserved set", [](std::string& f) { f[11] = 1; }, 10, "reserved"},
        {"cut in a topic name", [](std::string& f) { f.resize(kSecond + 3); }, kSecond, "truncated record"},
        {"cut in a payload", [](std::string& f) { f.resize(kSecondLength + 50); }, kSecond, "truncated record"},
        {"checksum cut", [size](std::string& f) { f.resize(size - 2); }, kThird, "truncated record"},
        {"topic length 0", [](std::string& f) { f[kSecond] = 0; }, kSecond, "topic name length 0"},
        {"topic length 65", [](std::string& f) { f[kSecond] = 65; }, kSecond, "topic name length 65"},
        {"space in a topic", [](std::string& f) { f[kSecond + 2] = ' '; }, kSecond + 1, "not printable"},
        {"time goes back",
         [](std::string& f) {
             std::memset(&f[kThird + 8], 0, 8);  // the third record ("Command") at 0 ns
             resum(f, kThird, kThird + 1 + 7 + 8 + 4 + 4);
         },
         kThird + 8, "before the previous record's"},
        {"payload length 0", [](std::string& f) { std::memset(&f[kSecondLength], 0, 4); }, kSecondLength,
         "payload length 0"},
        {"payload length 2^24",
         [](std::string& f) {
             std::memset(&f[kSecondLength], 0, 4);
             f[kSecondLength + 3] = 1;
         },
         kSecondLength, "payload length 16777216"},
        {"payload byte flipped", [](std::string& f) { f[kSecondLength + 4 + 100] ^= 0x10; }, kSecond,
         "checksum mismatch"},
        {"checksum byte flipped", [](std::string& f) { f[kThird - 1] ^= 0x01; }, kSecond, "checksum mismatch"},
        {"time byte flipped", [](std::string& f) { f[kSecondTime] ^= 0x01; }, kSecond, "checksum mismatch"},
        {"trailing garbage", [](std::string& f) { f += "x"; }, size, "topic name length 120"},
    };
    for (Case const& c : cases) {
        std::string file = goodFile();
        c.damage(file);
        std::vector<RecordedSample> read;
        aspn2_tool::SampleFileError error;
        EXPECT_FALSE(aspn2_tool::decodeSampleFile(file, read, error)) << c.what;
        EXPECT_EQ(error.offset, c.offset) << c.what << ": " << error.str();
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.what << ": " << error.str();
    }
}

TEST(SampleFile, WriterRefusesWhatTheReaderWould) {
    EXPECT_THROW(aspn2_tool::encodeSample({"", 0, {1}, 0}), std::invalid_argument);
    EXPECT_THROW(aspn2_tool::encodeSample({std::string(65, 'T'), 0, {1}, 0}), std::invalid_argument);
    EXPECT_THROW(aspn2_tool::encodeSample({"Two words", 0, {1}, 0}), std::invalid_argument);
    EXPECT_THROW(aspn2_tool::encodeSample({"UTCTime", 0, {}, 0}), std::invalid_argument);
    EXPECT_THROW(
        aspn2_tool::encodeSample({"UTCTime", 0, std::vector<std::uint8_t>(aspn2_tool::kMaxPayloadLength + 1), 0}),
        std::invalid_argument);
}

TEST(SampleFile, ChecksumIsTheCommonCrc32) {
    EXPECT_EQ(aspn2_tool::crc32("123456789", 9), 0xCBF43926u);  // the published check value
    EXPECT_EQ(aspn2_tool::crc32("", 0), 0u);
    // Continued over two pieces, and over nothing.
    EXPECT_EQ(aspn2_tool::crc32("6789", 4, aspn2_tool::crc32("12345", 5)), 0xCBF43926u);
    EXPECT_EQ(aspn2_tool::crc32(nullptr, 0, 0xCBF43926u), 0xCBF43926u);
}

}  // namespace
