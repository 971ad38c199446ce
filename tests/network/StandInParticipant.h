// A participant of the tests built the way the transport services build
// one (FACE::TSS::Details::MakeParticipantAttributes, UDP on 127.0.0.1,
// the datagram guard in front; DDS Security from a role's files), whose
// low-level transport is wrapped by a test transport of ChainedTestTransports.h
// as the test asks, and which logs what it discovers: participants with
// their GUID prefix and unicast locators, endpoints with their topic. It
// can take the server's endpoints (same topics, types, QoS and creation
// order) to stand in for it. Test code only.
#ifndef TESTS_NETWORK_STANDINPARTICIPANT_H
#define TESTS_NETWORK_STANDINPARTICIPANT_H

#include "FACE/CV_TSS_Security.h"
#include "tests/network/ChainedTestTransports.h"
#include "tests/support/RtpsMessage.h"

#include <fastdds/dds/topic/TopicDataType.hpp>
#include <fastrtps/participant/Participant.h>
#include <fastrtps/participant/ParticipantListener.h>
#include <fastrtps/publisher/Publisher.h>
#include <fastrtps/subscriber/Subscriber.h>
#include <fastrtps/subscriber/SubscriberListener.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace corvane_test {
namespace net {

struct DiscoveredParticipant {
    std::string name;
    rtps::GuidPrefix prefix{};
    std::vector<std::uint32_t> metatrafficPorts;  // unicast, 127.0.0.1
    std::vector<std::uint32_t> userPorts;         // unicast, 127.0.0.1
};

struct DiscoveredEndpoint {
    std::string topic;
    bool writer = false;
    rtps::GuidPrefix prefix{};
    rtps::EntityId entity{};
};

// What a participant has discovered; safe to read from any thread.
class DiscoveryLog : public eprosima::fastrtps::ParticipantListener {
public:
    void onParticipantDiscovery(eprosima::fastrtps::Participant*,
                                eprosima::fastrtps::rtps::ParticipantDiscoveryInfo&& info) override;
    void onSubscriberDiscovery(eprosima::fastrtps::Participant*,
                               eprosima::fastrtps::rtps::ReaderDiscoveryInfo&& info) override;
    void onPublisherDiscovery(eprosima::fastrtps::Participant*,
                              eprosima::fastrtps::rtps::WriterDiscoveryInfo&& info) override;

    // The participant named `name`, waiting up to `timeout`, once it has
    // announced `endpoints` endpoints or more.
    std::optional<DiscoveredParticipant> participant(std::string const& name, std::chrono::milliseconds timeout,
                                                     std::size_t endpoints = 0);
    std::vector<DiscoveredEndpoint> endpointsOf(rtps::GuidPrefix const& prefix) const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<DiscoveredParticipant> m_participants;
    std::vector<DiscoveredEndpoint> m_endpoints;
};

class StandIn {
public:
    struct Options {
        unsigned domain = 0;
        std::string name = "StandIn";
        std::optional<FACE::TSS::Security::Files> security;
        std::shared_ptr<CaptureStore> capture;  // records what arrives (before the guard)
        std::shared_ptr<Gate> gate;             // holds receiving threads after the guard
    };

    /// Throws std::runtime_error when Fast DDS refuses the participant.
    explicit StandIn(Options const& options);
    ~StandIn();
    StandIn(StandIn const&) = delete;
    StandIn& operator=(StandIn const&) = delete;

    rtps::GuidPrefix prefix() const;
    DiscoveryLog& discovery() { return m_discovery; }

    /// The server's six endpoints in its order of creation: Command reader,
    /// Response writer, PositionVelocityAttitude and UTCTime readers,
    /// EventLog and MaintenanceEvent writers. Readers take and drop what
    /// arrives. Throws std::runtime_error when one cannot be made.
    void takeServerEndpoints();
    /// Publishes a default-constructed sample on one of the writers ("Response",
    /// "EventLog", "MaintenanceEvent").
    bool writeSample(std::string const& topic);
    /// Entity id of this participant's endpoint on `topic`.
    std::optional<rtps::EntityId> entityOf(std::string const& topic) const;
    /// Samples taken by the readers so far.
    std::size_t samplesTaken() const { return m_taken.load(); }

private:
    struct Listener : eprosima::fastrtps::SubscriberListener {
        explicit Listener(StandIn& owner) : m_owner(owner) {}
        void onNewDataMessage(eprosima::fastrtps::Subscriber* subscriber) override;
        StandIn& m_owner;
    };

    std::string typeOf(std::string const& topic) const;

    bool m_secure = false;
    DiscoveryLog m_discovery;
    eprosima::fastrtps::Participant* m_participant = nullptr;
    std::vector<std::unique_ptr<eprosima::fastdds::dds::TopicDataType>> m_types;
    std::map<std::string, eprosima::fastrtps::Publisher*> m_publishers;
    std::map<std::string, eprosima::fastrtps::Subscriber*> m_subscribers;
    std::atomic<std::size_t> m_taken{0};
    Listener m_listener{*this};
};

}  // namespace net
}  // namespace corvane_test

#endif  // TESTS_NETWORK_STANDINPARTICIPANT_H
