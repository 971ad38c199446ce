#include "aspn2_msgs/PayloadReader.h"

namespace aspn2_msgs {

namespace {

constexpr std::size_t kEncapsulationSize = 4;
constexpr std::size_t kCountSize = 4;

}  // namespace

bool sequenceCountFits(const eprosima::fastrtps::rtps::SerializedPayload_t& payload, std::size_t countOffset,
                       std::size_t minElementSize) {
    if (payload.data == nullptr || payload.length < kEncapsulationSize ||
        payload.length - kEncapsulationSize < countOffset ||
        payload.length - kEncapsulationSize - countOffset < kCountSize) {
        return false;
    }
    // Bit 0 of the encapsulation kind: 1 little-endian, 0 big-endian.
    const bool littleEndian = (payload.data[1] & 0x01) != 0;
    const unsigned char* p = payload.data + kEncapsulationSize + countOffset;
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < kCountSize; ++i) {
        const std::size_t shift = 8 * (littleEndian ? i : kCountSize - 1 - i);
        count |= static_cast<std::uint32_t>(p[i]) << shift;
    }
    const std::uint64_t left = payload.length - kEncapsulationSize - countOffset - kCountSize;
    return static_cast<std::uint64_t>(count) * minElementSize <= left;
}

}  // namespace aspn2_msgs
