#pragma once

// Checked decoding of ASPN2 message payloads.
//
// The generated T::deserialize trusts the length and count fields of the
// payload: a sequence is resized to its count before its elements are read,
// with only "count <= bytes left" checked, so a count as large as the payload
// makes it allocate count * sizeof(element) bytes (up to about 150 times the
// payload for the largest element); a boolean byte other than 0 or 1 and an
// unknown encapsulation throw exceptions that the generated type support
// does not catch. readPayload() closes both gaps; the build routes every
// <T>PubSubType::deserialize through it (see GenerateTypes.cmake).

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastcdr/exceptions/Exception.h>
#include <fastdds/rtps/common/SerializedPayload.h>

#include "aspn2_msgs/BitReport.h"
#include "aspn2_msgs/ChallengedEnvironment.h"
#include "aspn2_msgs/ChannelStatus.h"
#include "aspn2_msgs/GNSS.h"
#include "aspn2_msgs/GNSSSubframe.h"
#include "aspn2_msgs/GPSCryptoStatus.h"
#include "aspn2_msgs/GPSLineOfSight.h"
#include "aspn2_msgs/GSSIP.h"
#include "aspn2_msgs/MeasurementIncorporationStatus.h"
#include "aspn2_msgs/SVStatus.h"

namespace aspn2_msgs {

// The element type of the sequence that a message type ends with on the
// wire; void for types that end with no sequence. Every sequence of the
// message set is the last member of its type.
template <class T>
struct TrailingSequence {
    using Element = void;
};

#define ASPN2_MSGS_TRAILING_SEQUENCE(Type, member)                                               \
    template <>                                                                                  \
    struct TrailingSequence<idl::Type> {                                                         \
        using Element = std::decay_t<decltype(std::declval<idl::Type&>().member())>::value_type; \
    }

ASPN2_MSGS_TRAILING_SEQUENCE(BitReport, bit_components);
ASPN2_MSGS_TRAILING_SEQUENCE(ChallengedEnvironment, interference_types);
ASPN2_MSGS_TRAILING_SEQUENCE(ChannelStatus, channels);
ASPN2_MSGS_TRAILING_SEQUENCE(GNSS, obs);
ASPN2_MSGS_TRAILING_SEQUENCE(GNSSSubframe, data_vector);
ASPN2_MSGS_TRAILING_SEQUENCE(GPSCryptoStatus, key_types);
ASPN2_MSGS_TRAILING_SEQUENCE(GPSLineOfSight, obs);
ASPN2_MSGS_TRAILING_SEQUENCE(GSSIP, data);
ASPN2_MSGS_TRAILING_SEQUENCE(MeasurementIncorporationStatus, meas_types);
ASPN2_MSGS_TRAILING_SEQUENCE(SVStatus, svs);

#undef ASPN2_MSGS_TRAILING_SEQUENCE

// Fewest bytes one element of type E takes in a CDR stream, over every
// alignment it can start at (padding before it included).
template <class E>
std::size_t minWireSize() {
    if constexpr (std::is_arithmetic_v<E>) {
        return sizeof(E);
    } else {
        std::size_t least = std::numeric_limits<std::size_t>::max();
        const E sample{};
        for (std::size_t alignment = 0; alignment < 8; ++alignment) {
            const std::size_t size = E::getCdrSerializedSize(sample, alignment);
            least = size < least ? size : least;
        }
        return least;
    }
}

// True when the payload (4-byte encapsulation header, then the body) holds a
// 32-bit element count at body offset `countOffset` and the bytes after it
// can hold that many elements of at least `minElementSize` bytes each. The
// count is read in the byte order that the encapsulation header announces.
bool sequenceCountFits(const eprosima::fastrtps::rtps::SerializedPayload_t& payload, std::size_t countOffset,
                       std::size_t minElementSize);

// True when T ends with no sequence, or when the count of its trailing
// sequence in `payload` fits the bytes that follow it (sequenceCountFits).
template <class T>
bool trailingSequenceFits(const eprosima::fastrtps::rtps::SerializedPayload_t& payload) {
    using Element = typename TrailingSequence<T>::Element;
    if constexpr (std::is_void_v<Element>) {
        return true;
    } else {
        // A default sample has an empty trailing sequence: its body is the
        // fixed members, padding and the 4-byte count.
        const std::size_t countOffset = T::getCdrSerializedSize(T{}, 0) - 4;
        return sequenceCountFits(payload, countOffset, minWireSize<Element>());
    }
}

// Reads one sample of T from `payload` (encapsulation header, then the CDR
// body in the byte order the header announces) into `value` and records the
// encapsulation in the payload. Returns false, with `value` partly
// overwritten, when the payload is truncated, its encapsulation is unknown,
// a boolean is neither 0 nor 1, or a string or sequence claims more bytes
// than are left; nothing is allocated for such a claim. Throws only
// std::bad_alloc.
template <class T>
bool readPayload(eprosima::fastrtps::rtps::SerializedPayload_t& payload, T& value) {
    eprosima::fastcdr::FastBuffer buffer(reinterpret_cast<char*>(payload.data), payload.length);
    eprosima::fastcdr::Cdr cdr(buffer, eprosima::fastcdr::Cdr::DEFAULT_ENDIAN, eprosima::fastcdr::Cdr::DDS_CDR);
    try {
        cdr.read_encapsulation();
        payload.encapsulation = cdr.endianness() == eprosima::fastcdr::Cdr::BIG_ENDIANNESS ? CDR_BE : CDR_LE;
        if (!trailingSequenceFits<T>(payload)) {
            return false;
        }
        value.deserialize(cdr);
    } catch (const eprosima::fastcdr::exception::Exception&) {
        return false;
    }
    return true;
}

}  // namespace aspn2_msgs
