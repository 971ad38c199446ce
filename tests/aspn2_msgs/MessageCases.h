#pragma once

// One test case per ASPN2 type with a type support: how to make its type
// support, a sample with non-default values (sequences with elements), and
// where values must appear on the wire: every member for the messages the
// system itself sends or whose layout is tricky, the header and the
// sequence for the others. The tests drive every type through the
// type-erased TopicDataType interface, the same way the DDS middleware does.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <fastdds/dds/topic/TopicDataType.hpp>

namespace aspn2_test {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b);

// Little-endian wire images of single values.
Bytes u8(std::uint8_t v);
Bytes i32(std::int32_t v);
Bytes u32(std::uint32_t v);
Bytes i64(std::int64_t v);
Bytes f64(double v);
// `text` followed by NULs up to `width` bytes.
Bytes chars(const std::string& text, std::size_t width);
// A CDR string: length (characters + 1), characters, NUL.
Bytes cdrString(const std::string& text);

struct Field
{
    std::size_t offset;  // from the start of the body
    Bytes bytes;
};

struct MessageCase
{
    std::string name;  // type name without namespace
    std::function<std::unique_ptr<eprosima::fastdds::dds::TopicDataType>()> make;
    std::function<void(void*)> fill;
    std::function<bool(const void*, const void*)> equal;
    std::function<std::size_t()> maxSize;  // the value class's getMaxCdrSerializedSize()
    std::size_t bodySize;  // body size of the filled sample
    std::vector<Field> fields;
};

// All 41 types with a type support.
const std::vector<MessageCase>& messageCases();
// The case of the type `name`; throws std::invalid_argument for none.
const MessageCase& caseOf(const std::string& name);

// A sample created by (and deleted through) a type support.
using Sample = std::unique_ptr<void, std::function<void(void*)>>;
Sample makeSample(eprosima::fastdds::dds::TopicDataType& support);

// Serialises through the type support into a payload of its maximum size;
// returns the payload bytes (encapsulation header + body).
Bytes serialize(eprosima::fastdds::dds::TopicDataType& support, void* sample);

// A payload exactly as large as `bytes`, so that reading past them is caught
// by the address sanitizer.
eprosima::fastrtps::rtps::SerializedPayload_t payloadOf(const Bytes& bytes);

// Deserialises `payload` through the type support into `sample`.
bool deserialize(eprosima::fastdds::dds::TopicDataType& support, const Bytes& payload, void* sample);

}  // namespace aspn2_test
