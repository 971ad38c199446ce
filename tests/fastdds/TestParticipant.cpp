#include "TestParticipant.h"

#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/domain/qos/DomainParticipantQos.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/publisher/qos/DataWriterQos.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/subscriber/qos/DataReaderQos.hpp>
#include <fastdds/dds/topic/Topic.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastrtps/utils/IPLocator.h>
#include <fastrtps/xmlparser/XMLProfileManager.h>

#include <ctime>
#include <stdexcept>
#include <thread>

namespace corvane_test {

namespace dds = eprosima::fastdds::dds;
using eprosima::fastrtps::rtps::IPLocator;
using eprosima::fastrtps::rtps::Locator_t;
using eprosima::fastrtps::rtps::SerializedPayload_t;

namespace {
constexpr std::uint32_t kPayloadSize = 4 + 8;  // encapsulation + two counters

void put(unsigned char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t get(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
Locator_t loopback(std::uint16_t port) {
    Locator_t l;
    IPLocator::setIPv4(l, 127, 0, 0, 1);
    l.port = port;
    return l;
}
}  // namespace

CounterType::CounterType() {
    setName("corvane_test::Counter");
    m_typeSize = kPayloadSize;
    m_isGetKeyDefined = false;
}

bool CounterType::serialize(void* data, SerializedPayload_t* payload) {
    const auto* c = static_cast<const Counter*>(data);
    if (payload->max_size < kPayloadSize) return false;
    const unsigned char cdrLe[4] = {0x00, 0x01, 0x00, 0x00};
    std::copy(cdrLe, cdrLe + 4, payload->data);
    put(payload->data + 4, c->source);
    put(payload->data + 8, c->count);
    payload->length = kPayloadSize;
    payload->encapsulation = CDR_LE;
    return true;
}

bool CounterType::deserialize(SerializedPayload_t* payload, void* data) {
    if (payload->length < kPayloadSize) return false;
    auto* c = static_cast<Counter*>(data);
    c->source = get(payload->data + 4);
    c->count = get(payload->data + 8);
    return true;
}

std::function<uint32_t()> CounterType::getSerializedSizeProvider(void*) {
    return [] { return kPayloadSize; };
}
void* CounterType::createData() { return new Counter(); }
void CounterType::deleteData(void* data) { delete static_cast<Counter*>(data); }
bool CounterType::getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) { return false; }

std::uint16_t discoveryPort(int domain, int slot) {
    return static_cast<std::uint16_t>(7400 + 250 * domain + 10 + 2 * slot);
}
std::uint16_t userPort(int domain, int slot) { return static_cast<std::uint16_t>(7400 + 250 * domain + 11 + 2 * slot); }

TestParticipant::TestParticipant(int domain, int slot, const std::vector<int>& peerSlots,
                                 const std::vector<std::uint16_t>& extraPeerPorts) {
    // Participants of one process must talk over UDP like separate programs
    // do, so the crafted datagrams meet the same state as real traffic.
    eprosima::fastrtps::LibrarySettingsAttributes library;
    library.intraprocess_delivery = eprosima::fastrtps::INTRAPROCESS_OFF;
    eprosima::fastrtps::xmlparser::XMLProfileManager::library_settings(library);

    dds::DomainParticipantQos qos;
    qos.name("corvane-test-" + std::to_string(slot));
    qos.transport().use_builtin_transports = false;
    auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
    udp->interfaceWhiteList.emplace_back("127.0.0.1");
    qos.transport().user_transports.push_back(udp);
    auto& builtin = qos.wire_protocol().builtin;
    builtin.metatrafficUnicastLocatorList.push_back(loopback(discoveryPort(domain, slot)));
    qos.wire_protocol().default_unicast_locator_list.push_back(loopback(userPort(domain, slot)));
    for (int peer : peerSlots) builtin.initialPeersList.push_back(loopback(discoveryPort(domain, peer)));
    for (std::uint16_t port : extraPeerPorts) builtin.initialPeersList.push_back(loopback(port));
    builtin.discovery_config.leaseDuration_announcementperiod = eprosima::fastrtps::Duration_t(0, 200000000);

    m_participant = dds::DomainParticipantFactory::get_instance()->create_participant(domain, qos);
    if (m_participant == nullptr) throw std::runtime_error("create_participant failed");
    dds::TypeSupport type(new CounterType());
    type.register_type(m_participant);
    m_topic = m_participant->create_topic("counter", type.get_type_name(), dds::TOPIC_QOS_DEFAULT);
    if (m_topic == nullptr) throw std::runtime_error("create_topic failed");
}

TestParticipant::~TestParticipant() { remove(); }

void TestParticipant::createReader() {
    m_subscriber = m_participant->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT);
    dds::DataReaderQos qos = dds::DATAREADER_QOS_DEFAULT;
    qos.reliability().kind = dds::RELIABLE_RELIABILITY_QOS;
    qos.durability().kind = dds::VOLATILE_DURABILITY_QOS;
    qos.history().kind = dds::KEEP_ALL_HISTORY_QOS;
    qos.data_sharing().off();
    m_reader = m_subscriber->create_datareader(m_topic, qos);
    if (m_reader == nullptr) throw std::runtime_error("create_datareader failed");
}

void TestParticipant::createWriter(std::uint32_t source) {
    m_publisher = m_participant->create_publisher(dds::PUBLISHER_QOS_DEFAULT);
    dds::DataWriterQos qos = dds::DATAWRITER_QOS_DEFAULT;
    qos.reliability().kind = dds::RELIABLE_RELIABILITY_QOS;
    qos.durability().kind = dds::VOLATILE_DURABILITY_QOS;
    qos.history().kind = dds::KEEP_ALL_HISTORY_QOS;
    qos.data_sharing().off();
    qos.reliable_writer_qos().times.heartbeatPeriod = eprosima::fastrtps::Duration_t(0, 100000000);
    m_writer = m_publisher->create_datawriter(m_topic, qos);
    if (m_writer == nullptr) throw std::runtime_error("create_datawriter failed");
    m_next.source = source;
}

bool TestParticipant::waitMatched(int n, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        int matched = -1;
        if (m_reader != nullptr) {
            dds::SubscriptionMatchedStatus s;
            if (m_reader->get_subscription_matched_status(s) == ReturnCode_t::RETCODE_OK) matched = s.current_count;
        } else if (m_writer != nullptr) {
            dds::PublicationMatchedStatus s;
            if (m_writer->get_publication_matched_status(s) == ReturnCode_t::RETCODE_OK) matched = s.current_count;
        }
        if (matched >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

bool TestParticipant::write() {
    ++m_next.count;
    return m_writer != nullptr && m_writer->write(&m_next);
}

bool TestParticipant::waitFor(std::uint32_t source, std::uint32_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_reader != nullptr) {
        Counter c;
        dds::SampleInfo info;
        while (m_reader->take_next_sample(&c, &info) == ReturnCode_t::RETCODE_OK) {
            if (info.valid_data && c.source == source && c.count >= count) return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        m_reader->wait_for_unread_message(eprosima::fastrtps::Duration_t(
            static_cast<int32_t>(left.count() / 1000000000), static_cast<uint32_t>(left.count() % 1000000000)));
    }
    return false;
}

rtps::GuidPrefix TestParticipant::guidPrefix() const {
    rtps::GuidPrefix p{};
    const auto& g = m_participant->guid().guidPrefix;
    std::copy(g.value, g.value + 12, p.begin());
    return p;
}

rtps::EntityId TestParticipant::readerEntity() const {
    rtps::EntityId e{};
    const auto& id = m_reader->guid().entityId;
    std::copy(id.value, id.value + 4, e.begin());
    return e;
}

rtps::EntityId TestParticipant::writerEntity() const {
    rtps::EntityId e{};
    const auto& id = m_writer->guid().entityId;
    std::copy(id.value, id.value + 4, e.begin());
    return e;
}

bool TestParticipant::remove() {
    if (m_participant == nullptr) return true;
    bool ok = m_participant->delete_contained_entities() == ReturnCode_t::RETCODE_OK;
    ok = dds::DomainParticipantFactory::get_instance()->delete_participant(m_participant) == ReturnCode_t::RETCODE_OK &&
         ok;
    m_participant = nullptr;
    m_reader = nullptr;
    m_writer = nullptr;
    return ok;
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace corvane_test
