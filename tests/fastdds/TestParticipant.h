// A Fast DDS participant for the library-level tests: UDP on 127.0.0.1
// only, at fixed ports that the tests know (so a crafted datagram can be
// sent to them), discovering its peers through unicast initial peers, with
// one reliable reader or writer of a small counter type.
//
// Ports: each test uses one DDS domain d of 140..143 and the ports of that
// domain, 7400 + 250 d + 10 .. 7400 + 250 d + 29: participant slot s
// (0..4) listens for discovery on +10 + 2 s and for user data on +11 + 2 s.
#ifndef TESTS_FASTDDS_TESTPARTICIPANT_H
#define TESTS_FASTDDS_TESTPARTICIPANT_H

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/topic/TopicDataType.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "RtpsDatagram.h"

namespace corvane_test {

// The sample: which writer sent it, and its count.
struct Counter {
    std::uint32_t source = 0;
    std::uint32_t count = 0;
};

class CounterType : public eprosima::fastdds::dds::TopicDataType {
public:
    CounterType();
    bool serialize(void* data, eprosima::fastrtps::rtps::SerializedPayload_t* payload) override;
    bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t* payload, void* data) override;
    std::function<uint32_t()> getSerializedSizeProvider(void* data) override;
    void* createData() override;
    void deleteData(void* data) override;
    bool getKey(void* data, eprosima::fastrtps::rtps::InstanceHandle_t* handle, bool force_md5) override;
};

// UDP ports of participant slot `slot` (0..4) in DDS domain `domain`.
std::uint16_t discoveryPort(int domain, int slot);
std::uint16_t userPort(int domain, int slot);

class TestParticipant {
public:
    // Starts a participant in `domain` at `slot`, with initial peers at the
    // discovery ports of `peerSlots` and at the extra 127.0.0.1 ports
    // `extraPeerPorts` (a test's capture socket).
    TestParticipant(int domain, int slot, const std::vector<int>& peerSlots,
                    const std::vector<std::uint16_t>& extraPeerPorts = {});
    ~TestParticipant();
    TestParticipant(const TestParticipant&) = delete;
    TestParticipant& operator=(const TestParticipant&) = delete;

    // One reliable, volatile, keep-all reader or writer of the topic "counter".
    void createReader();
    void createWriter(std::uint32_t source);

    // Waits until the reader or writer matches `n` remote endpoints.
    bool waitMatched(int n, std::chrono::milliseconds timeout) const;
    // Publishes the next count of this writer.
    bool write();
    // Waits for a sample from `source` with count >= `count`; the samples
    // taken on the way are dropped.
    bool waitFor(std::uint32_t source, std::uint32_t count, std::chrono::milliseconds timeout);

    rtps::GuidPrefix guidPrefix() const;
    rtps::EntityId readerEntity() const;
    rtps::EntityId writerEntity() const;
    // Deletes the entities and the participant; false on a failed step.
    bool remove();

private:
    eprosima::fastdds::dds::DomainParticipant* m_participant = nullptr;
    eprosima::fastdds::dds::Topic* m_topic = nullptr;
    eprosima::fastdds::dds::Publisher* m_publisher = nullptr;
    eprosima::fastdds::dds::Subscriber* m_subscriber = nullptr;
    eprosima::fastdds::dds::DataWriter* m_writer = nullptr;
    eprosima::fastdds::dds::DataReader* m_reader = nullptr;
    Counter m_next;
};

// CPU time used by this process so far, in seconds.
double processCpuSeconds();

}  // namespace corvane_test

#endif  // TESTS_FASTDDS_TESTPARTICIPANT_H
