#include "tests/network/StandInParticipant.h"

#include "FACE/CV_TSS.h"
#include "FACE/CV_Topic_Helpers.h"
#include "FACE/RtpsGuardTransport.h"

#include <fastrtps/Domain.h>
#include <fastrtps/subscriber/SampleInfo.h>
#include <fastrtps/utils/IPLocator.h>

#include <algorithm>
#include <stdexcept>

namespace corvane_test {
namespace net {

namespace {

using eprosima::fastrtps::rtps::GuidPrefix_t;
using eprosima::fastrtps::rtps::IPLocator;

rtps::GuidPrefix toPrefix(GuidPrefix_t const& p) {
    rtps::GuidPrefix out{};
    std::copy(std::begin(p.value), std::end(p.value), out.begin());
    return out;
}

template <typename List>
std::vector<std::uint32_t> loopbackPorts(List const& locators) {
    std::vector<std::uint32_t> ports;
    for (auto const& l : locators) {
        if (l.kind == LOCATOR_KIND_UDPv4 && IPLocator::toIPv4string(l) == "127.0.0.1") ports.push_back(l.port);
    }
    return ports;
}

// Topic, type name and type support of the server's connections, in the
// order the server creates its endpoints; true for its writers.
struct ServerEndpoint {
    char const* topic;
    char const* pubSubType;
    bool writer;
};
constexpr ServerEndpoint kServerEndpoints[] = {
    {"Command", "CommandResponsePubSubType", false},
    {"Response", "CommandResponsePubSubType", true},
    {"PositionVelocityAttitude", "PositionVelocityAttitudePubSubType", false},
    {"UTCTime", "UTCTimePubSubType", false},
    {"EventLog", "EventLogPubSubType", true},
    {"MaintenanceEvent", "MaintenanceEventPubSubType", true},
};

}  // namespace

// --- Discovery log ----------------------------------------------------------------

void DiscoveryLog::onParticipantDiscovery(eprosima::fastrtps::Participant*,
                                          eprosima::fastrtps::rtps::ParticipantDiscoveryInfo&& info) {
    using Status = eprosima::fastrtps::rtps::ParticipantDiscoveryInfo::DISCOVERY_STATUS;
    if (info.status != Status::DISCOVERED_PARTICIPANT && info.status != Status::CHANGED_QOS_PARTICIPANT) return;
    DiscoveredParticipant p;
    p.name = info.info.m_participantName.to_string();
    p.prefix = toPrefix(info.info.m_guid.guidPrefix);
    p.metatrafficPorts = loopbackPorts(info.info.metatraffic_locators.unicast);
    p.userPorts = loopbackPorts(info.info.default_locators.unicast);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto same = [&](DiscoveredParticipant const& q) { return q.prefix == p.prefix; };
    m_participants.erase(std::remove_if(m_participants.begin(), m_participants.end(), same), m_participants.end());
    m_participants.push_back(p);
    m_changed.notify_all();
}

void DiscoveryLog::onSubscriberDiscovery(eprosima::fastrtps::Participant*,
                                         eprosima::fastrtps::rtps::ReaderDiscoveryInfo&& info) {
    DiscoveredEndpoint e;
    e.topic = info.info.topicName().to_string();
    e.prefix = toPrefix(info.info.guid().guidPrefix);
    std::copy(std::begin(info.info.guid().entityId.value), std::end(info.info.guid().entityId.value), e.entity.begin());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_endpoints.push_back(e);
    m_changed.notify_all();
}

void DiscoveryLog::onPublisherDiscovery(eprosima::fastrtps::Participant*,
                                        eprosima::fastrtps::rtps::WriterDiscoveryInfo&& info) {
    DiscoveredEndpoint e;
    e.topic = info.info.topicName().to_string();
    e.writer = true;
    e.prefix = toPrefix(info.info.guid().guidPrefix);
    std::copy(std::begin(info.info.guid().entityId.value), std::end(info.info.guid().entityId.value), e.entity.begin());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_endpoints.push_back(e);
    m_changed.notify_all();
}

std::optional<DiscoveredParticipant> DiscoveryLog::participant(std::string const& name,
                                                               std::chrono::milliseconds timeout,
                                                               std::size_t endpoints) {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::optional<DiscoveredParticipant> found;
    m_changed.wait_for(lock, timeout, [&] {
        for (auto const& p : m_participants) {
            if (p.name != name) continue;
            std::size_t const n = static_cast<std::size_t>(
                std::count_if(m_endpoints.begin(), m_endpoints.end(),
                              [&](DiscoveredEndpoint const& e) { return e.prefix == p.prefix; }));
            if (n >= endpoints) {
                found = p;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::vector<DiscoveredEndpoint> DiscoveryLog::endpointsOf(rtps::GuidPrefix const& prefix) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<DiscoveredEndpoint> out;
    for (auto const& e : m_endpoints) {
        if (e.prefix == prefix) out.push_back(e);
    }
    return out;
}

// --- Stand-in ------------------------------------------------------------------------

StandIn::StandIn(Options const& options) {
    namespace guard = FACE::TSS::DatagramGuard;
    eprosima::fastrtps::ParticipantAttributes attributes =
        FACE::TSS::Details::MakeParticipantAttributes(options.domain, options.name, "UDP", "", 0);
    eprosima::fastdds::rtps::UDPv4TransportDescriptor udp;
    udp.non_blocking_send = true;
    udp.interfaceWhiteList.emplace_back("127.0.0.1");
    std::shared_ptr<eprosima::fastdds::rtps::TransportDescriptorInterface> transport;
    if (options.capture) {
        transport = std::make_shared<guard::GuardedDescriptor<RecordingDescriptor>>(
            RecordingDescriptor(std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>(udp),
                                options.capture),
            guard::TransportKind::kUdpV4);
    } else {
        transport = guard::protect(udp);
    }
    if (options.gate) transport = std::make_shared<BlockingDescriptor>(transport, options.gate);
    attributes.rtps.userTransports = {transport};
    if (options.security) {
        FACE::TSS::Security::Apply(*options.security, attributes);
        m_secure = true;
    }
    m_participant = eprosima::fastrtps::Domain::createParticipant(attributes, &m_discovery);
    if (m_participant == nullptr) throw std::runtime_error("stand-in participant " + options.name + " refused");
}

StandIn::~StandIn() {
    if (m_participant != nullptr) eprosima::fastrtps::Domain::removeParticipant(m_participant);
}

rtps::GuidPrefix StandIn::prefix() const { return toPrefix(m_participant->getGuid().guidPrefix); }

std::string StandIn::typeOf(std::string const& topic) const {
    if (topic == "Command" || topic == "Response") return "aspn2_msgs::idl::CommandResponse";
    return "aspn2_msgs::idl::" + topic;
}

void StandIn::Listener::onNewDataMessage(eprosima::fastrtps::Subscriber* subscriber) {
    eprosima::fastdds::dds::TopicDataType* type = nullptr;
    if (!eprosima::fastrtps::Domain::getRegisteredType(
            m_owner.m_participant, subscriber->getAttributes().topic.getTopicDataType().c_str(), &type) ||
        type == nullptr) {
        return;
    }
    void* sample = type->createData();
    eprosima::fastrtps::SampleInfo_t info;
    while (subscriber->takeNextData(sample, &info)) ++m_owner.m_taken;
    type->deleteData(sample);
}

void StandIn::takeServerEndpoints() {
    for (ServerEndpoint const& e : kServerEndpoints) {
        std::string const type = typeOf(e.topic);
        eprosima::fastdds::dds::TopicDataType* registered = nullptr;
        if (!eprosima::fastrtps::Domain::getRegisteredType(m_participant, type.c_str(), &registered)) {
            m_types.emplace_back(FACE::TSS::Topics::GetPubSubType(e.pubSubType));
            if (!m_types.back() || !eprosima::fastrtps::Domain::registerType(m_participant, m_types.back().get())) {
                throw std::runtime_error(std::string("stand-in: cannot register ") + e.pubSubType);
            }
        }
        if (e.writer) {
            eprosima::fastrtps::PublisherAttributes a =
                FACE::TSS::Details::MakePublisherAttributes(e.topic, type, 10, false);
            if (m_secure) FACE::TSS::Security::ApplyToPublisher(a);
            eprosima::fastrtps::Publisher* p = eprosima::fastrtps::Domain::createPublisher(m_participant, a);
            if (p == nullptr) throw std::runtime_error(std::string("stand-in: no writer on ") + e.topic);
            m_publishers[e.topic] = p;
        } else {
            eprosima::fastrtps::SubscriberAttributes a =
                FACE::TSS::Details::MakeSubscriberAttributes(e.topic, type, 10, false, false);
            if (m_secure) FACE::TSS::Security::ApplyToEndpoint(a.properties);
            eprosima::fastrtps::Subscriber* s =
                eprosima::fastrtps::Domain::createSubscriber(m_participant, a, &m_listener);
            if (s == nullptr) throw std::runtime_error(std::string("stand-in: no reader on ") + e.topic);
            m_subscribers[e.topic] = s;
        }
    }
}

bool StandIn::writeSample(std::string const& topic) {
    auto const found = m_publishers.find(topic);
    if (found == m_publishers.end()) return false;
    eprosima::fastdds::dds::TopicDataType* type = nullptr;
    if (!eprosima::fastrtps::Domain::getRegisteredType(m_participant, typeOf(topic).c_str(), &type) ||
        type == nullptr) {
        return false;
    }
    void* sample = type->createData();
    bool const written = found->second->write(sample);
    type->deleteData(sample);
    return written;
}

std::optional<rtps::EntityId> StandIn::entityOf(std::string const& topic) const {
    eprosima::fastrtps::rtps::GUID_t guid;
    if (auto p = m_publishers.find(topic); p != m_publishers.end()) {
        guid = p->second->getGuid();
    } else if (auto s = m_subscribers.find(topic); s != m_subscribers.end()) {
        guid = s->second->getGuid();
    } else {
        return std::nullopt;
    }
    rtps::EntityId id{};
    std::copy(std::begin(guid.entityId.value), std::end(guid.entityId.value), id.begin());
    return id;
}

}  // namespace net
}  // namespace corvane_test
