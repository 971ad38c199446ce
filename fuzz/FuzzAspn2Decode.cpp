// Decoding of received ASPN2 messages through the type supports the
// transport registers. The first input byte picks the type, the rest is the
// serialized payload (encapsulation header, then the body). A payload that
// decodes must encode again, and that encoding must decode and encode to the
// same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fastdds/rtps/common/SerializedPayload.h>

#include "FACE/CV_Topic_Helpers.h"
#include "fuzz/Aspn2Types.h"

namespace {

using eprosima::fastdds::dds::TopicDataType;
using eprosima::fastrtps::rtps::SerializedPayload_t;

struct Support {
    std::unique_ptr<TopicDataType> type;
};

Support* supports() {
    static Support* table = [] {
        auto* t = new Support[fuzz::kAspn2TypeCount];
        for (std::size_t i = 0; i < fuzz::kAspn2TypeCount; ++i) {
            t[i].type.reset(FACE::TSS::Topics::GetPubSubType(fuzz::kAspn2TypeSupports[i]));
            if (!t[i].type) {
                std::fprintf(stderr, "no type support %s\n", fuzz::kAspn2TypeSupports[i]);
                std::abort();
            }
        }
        return t;
    }();
    return table;
}

[[noreturn]] void fail(const char* type, const char* what) {
    std::fprintf(stderr, "%s: %s\n", type, what);
    std::abort();
}

// Encodes `sample` into a fresh payload; aborts when the type support
// refuses a sample it produced itself.
std::unique_ptr<SerializedPayload_t> encode(TopicDataType& type, void* sample, const char* name) {
    const std::uint32_t size = type.getSerializedSizeProvider(sample)();
    auto payload = std::make_unique<SerializedPayload_t>(size);
    if (!type.serialize(sample, payload.get())) {
        fail(name, "a decoded sample does not encode");
    }
    return payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t index = data[0] % fuzz::kAspn2TypeCount;
    const char* name = fuzz::kAspn2TypeSupports[index];
    TopicDataType& type = *supports()[index].type;

    SerializedPayload_t received(static_cast<std::uint32_t>(size - 1));
    if (size > 1) {
        std::memcpy(received.data, data + 1, size - 1);
    }
    received.length = static_cast<std::uint32_t>(size - 1);

    void* sample = type.createData();
    const bool decoded = type.deserialize(&received, sample);
    if (decoded) {
        auto first = encode(type, sample, name);
        void* again = type.createData();
        if (!type.deserialize(first.get(), again)) {
            fail(name, "the encoding of a decoded sample does not decode");
        }
        auto second = encode(type, again, name);
        if (first->length != second->length || std::memcmp(first->data, second->data, first->length) != 0) {
            fail(name, "decoding and encoding again changes the payload");
        }
        type.deleteData(again);
    }
    type.deleteData(sample);
    return 0;
}
