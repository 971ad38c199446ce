#ifndef TOOLS_ASPN2_TOOL_SAMPLEFILE_H
#define TOOLS_ASPN2_TOOL_SAMPLEFILE_H

// The recorded-samples file of aspn2-tool (record, replay, nav --record):
// a header, then one record per sample with its topic, its reception time
// and its CDR bytes. Layout (all integers little-endian):
//
//   header, 12 bytes
//     0   8  magic "ASPN2REC"
//     8   2  format version, 1
//    10   2  reserved, 0
//   record, repeated to the end of the file
//     0   1  topic name length N, 1..64
//     1   N  topic name, printable ASCII without spaces
//   1+N   8  reception time, ns since the recording started; never less
//            than the previous record's
//   9+N   4  payload length L, 1..1048576
//  13+N   L  the sample's CDR bytes, encapsulation header included
// 13+N+L  4  CRC-32 (the polynomial of zlib and Ethernet) of bytes 0 to 13+N+L
//
// Pure byte handling: no files, no DDS. The reader refuses the first thing
// that is wrong and says at which byte offset of the file it is.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace aspn2_tool {

struct RecordedSample {
    std::string topic;              ///< connection name, e.g. "PositionVelocityAttitude"
    std::uint64_t timeNs = 0;       ///< ns since the recording started
    std::vector<std::uint8_t> cdr;  ///< the sample as serialised, encapsulation included
    std::size_t offset = 0;         ///< where the record starts in the file (set by the reader)
};

constexpr char kSampleFileMagic[] = "ASPN2REC";
constexpr std::uint16_t kSampleFileVersion = 1;
constexpr std::size_t kSampleFileHeaderSize = 12;
constexpr std::size_t kMaxTopicLength = 64;
constexpr std::size_t kMaxPayloadLength = 1u << 20;

/// The 12 header bytes of a file of the current version.
std::string sampleFileHeader();

/// One record's bytes. Throws std::invalid_argument when the topic or the
/// payload is outside the limits above.
std::string encodeSample(RecordedSample const& sample);

/// Why a file was refused: the byte offset where the fault starts and a
/// one-line reason.
struct SampleFileError {
    std::size_t offset = 0;
    std::string reason;
    /// "byte OFFSET: REASON".
    std::string str() const;
};

/// Reads a whole file's bytes into `samples`. False with `error` set (and
/// `samples` holding the records before the fault) when the header is not
/// that of a known version, a record is truncated, a field is out of
/// range, the time goes backwards or a checksum does not match.
bool decodeSampleFile(std::string const& bytes, std::vector<RecordedSample>& samples, SampleFileError& error);

/// CRC-32 (reflected polynomial 0xEDB88320, initial and final inversion;
/// zlib's), continuing from `crc`, the CRC of the bytes before.
std::uint32_t crc32(void const* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_SAMPLEFILE_H
