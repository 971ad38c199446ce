#include "FACE/CV_TSS.h"

#include "FACE/CV_Config_Helpers.h"
#include "FACE/CV_TSS_Security.h"
#include "FACE/CV_TSS_SharedMemory.h"
#include "FACE/CV_Topic_Helpers.h"
#include "FACE/RtpsGuardTransport.h"

#include "aspn2_msgs/CommandResponse.h"
#include "aspn2_msgs/EventLog.h"
#include "aspn2_msgs/MaintenanceEvent.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"

#include <fastdds/rtps/transport/TCPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>
#include <fastrtps/Domain.h>
#include <fastrtps/utils/IPLocator.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <utility>

namespace FACE {
namespace TSS {

namespace {

// Name of the container that holds the transport settings.
FACE::String const DOMAIN_NAME("FastRtps");

std::string toStdString(FACE::String const& text) {
    char const* buffer = text.buffer();
    return buffer == nullptr ? std::string() : std::string(buffer, text.length());
}

// Closes a configuration handle when it goes out of scope; the service's
// result code is of no interest to the caller.
class HandleCloser {
public:
    HandleCloser(FACE::Configuration& configuration, int handle) : m_configuration(configuration), m_handle(handle) {}
    ~HandleCloser() {
        if (m_armed) {
            FACE::RETURN_CODE_TYPE::Value ignored = FACE::RETURN_CODE_TYPE::NO_ERROR;
            m_configuration.Close(m_handle, ignored);
        }
    }
    HandleCloser(HandleCloser const&) = delete;
    HandleCloser& operator=(HandleCloser const&) = delete;
    /// Leaves the handle open.
    void release() { m_armed = false; }

private:
    FACE::Configuration& m_configuration;
    int m_handle;
    bool m_armed = true;
};

// The text of an optional parameter of the handle's container, or nothing
// when it is absent or empty; unlike the helpers it prints no warning.
std::optional<std::string> optionalParameter(FACE::Configuration& config, int handle, char const* key) {
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    int size = 0;
    config.Get_Size(handle, FACE::String(key), size, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR || size <= 0) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    int read = 0;
    config.Read(handle, FACE::String(key), text.data(), size, read, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR || read <= 0) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(read));
    return text;
}

// Fills the QoS that publishers and subscribers share.
void applyCommonQos(eprosima::fastrtps::TopicAttributes& topic,
                    eprosima::fastdds::dds::ReliabilityQosPolicy& reliability, std::string const& topic_name,
                    std::string const& topic_type, std::int32_t history_depth, bool use_best_effort) {
    topic.topicName = topic_name;
    topic.topicDataType = topic_type;
    topic.topicKind = eprosima::fastrtps::rtps::NO_KEY;
    topic.historyQos.kind = eprosima::fastdds::dds::KEEP_LAST_HISTORY_QOS;
    topic.historyQos.depth = history_depth;
    topic.resourceLimitsQos.max_samples = history_depth;
    topic.resourceLimitsQos.max_instances = 1;
    topic.resourceLimitsQos.max_samples_per_instance = history_depth;
    topic.resourceLimitsQos.allocated_samples = history_depth;
    reliability.kind = use_best_effort ? eprosima::fastdds::dds::BEST_EFFORT_RELIABILITY_QOS
                                       : eprosima::fastdds::dds::RELIABLE_RELIABILITY_QOS;
}

}  // namespace

// --- Connection records ----------------------------------------------------

CV_TSS::Connection_t::Connection_t(std::string name, std::string topic_type, std::string const& pub_sub_type)
    : m_name(std::move(name)),
      m_topicType(std::move(topic_type)),
      m_typeSupport(Topics::GetPubSubType(pub_sub_type)),
      m_publisher(nullptr),
      m_subscriber(nullptr) {}

CV_TSS::Connection_t::Connection_t(Connection_t&& other) noexcept
    : m_name(other.m_name),
      m_topicType(other.m_topicType),
      m_typeSupport(std::move(other.m_typeSupport)),
      m_publisherListener(std::move(other.m_publisherListener)),
      m_publisher(other.m_publisher),
      m_subscriberListener(std::move(other.m_subscriberListener)),
      m_subscriber(other.m_subscriber) {}

CV_TSS::Connection_t::~Connection_t() {
    m_subscriberListener.reset();
    m_publisherListener.reset();
    m_typeSupport.reset();
}

void CV_TSS::Connection_t::setPublisher(std::unique_ptr<Listeners::PublisherListenerBase> listener,
                                        eprosima::fastrtps::Publisher* publisher) {
    m_publisherListener = std::move(listener);
    m_publisher = publisher;
}

void CV_TSS::Connection_t::setSubscriber(std::unique_ptr<Listeners::SubscriberListenerBase> listener,
                                         eprosima::fastrtps::Subscriber* subscriber) {
    m_subscriberListener = std::move(listener);
    m_subscriber = subscriber;
}

void CV_TSS::Connection_t::clearPublisher() {
    m_publisher = nullptr;
    m_publisherListener.reset();
}

void CV_TSS::Connection_t::clearSubscriber() {
    m_subscriber = nullptr;
    m_subscriberListener.reset();
}

// --- Transport -------------------------------------------------------------

CV_TSS::CV_TSS(std::string const& name)
    : m_initialized(false),
      m_name(name),
      m_participant(nullptr),
      m_historyDepth(0),
      m_useBestEffort(false),
      m_backFillHistory(false),
      m_tcpPort(0),
      m_secure(false) {}

CV_TSS::~CV_TSS() {
    if (m_initialized.load() && m_participant != nullptr) {
        eprosima::fastrtps::Domain::removeParticipant(m_participant);
        m_participant = nullptr;
        if (m_transport == "SHM") {
            // Ports whose reference counts a killed peer left too high stay
            // behind every orderly stop otherwise.
            SharedMemory::RemoveStale(SharedMemory::kDirectory, SharedMemory::MappedFiles());
        }
    }
    // The records (listeners, type supports) go only now that no Fast DDS
    // entity refers to them any more.
    m_connections.clear();
}

void CV_TSS::Set_Reference(FACE::String const& /*interface_name*/,
                           std::shared_ptr<FACE::Configuration> const& configuration, long long /*id*/,
                           FACE::RETURN_CODE_TYPE::Value& return_code) {
    if (m_configuration) {
        return_code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        return;
    }
    if (!configuration) {
        return_code = FACE::RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    m_configuration = configuration;
    return_code = FACE::RETURN_CODE_TYPE::NO_ERROR;
}

void CV_TSS::Initialize(FACE::String const& configuration_file, FACE::RETURN_CODE_TYPE::Value& return_code) {
    if (m_initialized.load()) {
        return_code = FACE::RETURN_CODE_TYPE::NO_ACTION;
        return;
    }
    if (!m_configuration) {
        return_code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        return;
    }
    FACE::Configuration& config = *m_configuration;
    int handle = -1;
    return_code = openSettings(config, configuration_file, handle);
    if (return_code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        return;
    }
    HandleCloser closer(config, handle);
    std::uint32_t domainId = 0;
    Security::Files securityFiles;
    return_code = readSettings(config, handle, domainId);
    if (return_code == FACE::RETURN_CODE_TYPE::NO_ERROR) {
        return_code = readSecurity(config, configuration_file, securityFiles);
    }
    if (return_code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        return;
    }
    if (std::optional<std::string> const refusal = createParticipant(config, handle, domainId, securityFiles)) {
        // The container stays open.
        closer.release();
        throw std::runtime_error("Error creating participant " + m_name + *refusal);
    }
    m_initialized.store(true);
    return_code = FACE::RETURN_CODE_TYPE::NO_ERROR;
}

FACE::RETURN_CODE_TYPE::Value CV_TSS::openSettings(FACE::Configuration& config, FACE::String const& configuration_file,
                                                   int& handle) {
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    config.Initialize(configuration_file, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        std::cout << "CFR:" << rc << " Configuration " << configuration_file << " was not available\n";
        return FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    }
    config.Open(DOMAIN_NAME, handle, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        std::cout << "CFR:" << rc << " Domain " << DOMAIN_NAME << " was not available\n";
        return FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
    }
    return FACE::RETURN_CODE_TYPE::NO_ERROR;
}

FACE::RETURN_CODE_TYPE::Value CV_TSS::readSettings(FACE::Configuration& config, int handle, std::uint32_t& domain_id) {
    // All seven are read so that every missing one is reported at once.
    FACE::RETURN_CODE_TYPE::Value reading = FACE::RETURN_CODE_TYPE::NO_ERROR;
    auto readNumber = [&](char const* name) {
        std::string text = CV_Config_Helpers::Details::Read_Config(config, handle, FACE::String(name));
        if (text.empty()) {
            reading = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        }
        return text;
    };
    std::string const domainText = readNumber("DomainId");
    std::string const depthText = readNumber("HistoryDepth");
    bool bestEffort = false;
    CV_Config_Helpers::Get_Boolean_Parameter(config, handle, "UseBestEffort", bestEffort, reading);
    bool backFill = false;
    CV_Config_Helpers::Get_Boolean_Parameter(config, handle, "BackFillHistory", backFill, reading);
    FACE::String transport;
    CV_Config_Helpers::Get_String_Parameter(config, handle, "UseTransport", transport, reading);
    FACE::String tcpAddress;
    CV_Config_Helpers::Get_String_Parameter(config, handle, "TcpAddress", tcpAddress, reading);
    std::string const portText = readNumber("TcpPort");
    if (reading != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        return FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
    }

    // Numbers are truncated to the width they are stored in.
    domain_id = static_cast<std::uint32_t>(CV_Config_Helpers::Details::Parse_Unsigned(domainText));
    m_historyDepth = static_cast<std::int32_t>(CV_Config_Helpers::Details::Parse_Signed(depthText));
    m_useBestEffort = bestEffort;
    m_backFillHistory = backFill;
    m_transport = toStdString(transport);
    m_tcpAddress = toStdString(tcpAddress);
    m_tcpPort = static_cast<std::uint16_t>(CV_Config_Helpers::Details::Parse_Unsigned(portText));
    return FACE::RETURN_CODE_TYPE::NO_ERROR;
}

FACE::RETURN_CODE_TYPE::Value CV_TSS::readSecurity(FACE::Configuration& config, FACE::String const& configuration_file,
                                                   Security::Files& files) {
    // An unusable security set-up never falls back to an unprotected
    // participant: an incomplete container is a configuration error.
    Security::Section const security = Security::Read(config, files);
    if (security == Security::Section::Incomplete) {
        std::cout << "CFR: container " << Security::kContainer << " of " << configuration_file
                  << " is incomplete; no participant is made\n";
        return FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
    }
    m_secure = security == Security::Section::Present;
    return FACE::RETURN_CODE_TYPE::NO_ERROR;
}

std::optional<std::string> CV_TSS::createParticipant(FACE::Configuration& config, int handle, std::uint32_t domain_id,
                                                     Security::Files const& security_files) {
    Details::ParticipantOptions const options = Details::ReadParticipantOptions(config, handle);
    eprosima::fastrtps::ParticipantAttributes attributes =
        Details::MakeParticipantAttributes(domain_id, m_name, m_transport, m_tcpAddress, m_tcpPort);
    Details::ApplyParticipantOptions(attributes, options, m_transport);
    if (m_secure) {
        // A file that fails its check refuses the participant.
        if (std::optional<std::string> const problem = Security::Check(security_files, std::time(nullptr))) {
            return ": DDS Security: " + *problem;
        }
        Security::Apply(security_files, attributes);
        m_certificate = security_files.certificate;
    }
    if (m_transport == "SHM") {
        // Files of killed participants go first; then, when asked for, an
        // id whose ports no process still holds (see CV_TSS_SharedMemory.h).
        std::vector<std::string> const removed =
            SharedMemory::RemoveStale(SharedMemory::kDirectory, SharedMemory::MappedFiles());
        if (options.freshParticipantId) {
            attributes.rtps.participantID =
                SharedMemory::FreshParticipantId(SharedMemory::kDirectory, domain_id, removed);
        }
    }
    eprosima::fastrtps::Participant* participant = eprosima::fastrtps::Domain::createParticipant(attributes);
    if (participant == nullptr) {
        return std::string(m_secure ? ": DDS Security refused the set-up (see the log lines above)" : "");
    }
    m_participant = participant;
    return std::nullopt;
}

void CV_TSS::Create_Connection(FACE::String const& connection_name, long long /*unused*/, long long& connection_id,
                               int& /*unused_out*/, FACE::RETURN_CODE_TYPE::Value& return_code) {
    connection_id = -1;
    if (!m_initialized.load() || !m_configuration) {
        return_code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        return;
    }
    std::string const name = toStdString(connection_name);
    {
        std::lock_guard<std::mutex> lock(m_connectionMutex);
        for (auto const& entry : m_connections) {
            if (entry.second.m_name == name) {
                connection_id = entry.first;
                return_code = FACE::RETURN_CODE_TYPE::NO_ERROR;
                return;
            }
        }
    }

    FACE::Configuration& config = *m_configuration;
    int handle = -1;
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    config.Open(connection_name, handle, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        return_code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }
    HandleCloser closer(config, handle);

    FACE::String topicType;
    FACE::String pubSubType;
    FACE::RETURN_CODE_TYPE::Value reading = FACE::RETURN_CODE_TYPE::NO_ERROR;
    CV_Config_Helpers::Get_String_Parameter(config, handle, "TopicType", topicType, reading);
    CV_Config_Helpers::Get_String_Parameter(config, handle, "PubSubType", pubSubType, reading);
    if (reading != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        return_code = FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
        return;
    }

    Connection_t record(name, toStdString(topicType), toStdString(pubSubType));
    if (!record.m_typeSupport) {
        std::cerr << "!!!!! Could NOT register topic " << name << ": unknown PubSubType " << toStdString(pubSubType)
                  << " with participant " << m_name << std::endl;
        return_code = FACE::RETURN_CODE_TYPE::NO_ACTION;
        return;
    }
    if (!okRegisterTopic(record.m_typeSupport.get())) {
        std::cerr << "!!!!! Could NOT register topic " << static_cast<void const*>(record.m_typeSupport.get())
                  << " with participant " << m_name << std::endl;
        return_code = FACE::RETURN_CODE_TYPE::NO_ACTION;
        return;
    }

    std::lock_guard<std::mutex> lock(m_connectionMutex);
    auto const id = static_cast<unsigned int>(m_connections.size());
    m_connections.emplace(id, std::move(record));
    connection_id = static_cast<long long>(id);
    return_code = FACE::RETURN_CODE_TYPE::NO_ERROR;
}

void CV_TSS::Destroy_Connection(long long /*connection_id*/, FACE::RETURN_CODE_TYPE::Value& return_code) {
    return_code = m_initialized.load() ? FACE::RETURN_CODE_TYPE::NO_ERROR : FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
}

template <typename Remove>
void CV_TSS::unregister(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code, Remove remove) {
    if (!m_initialized.load()) {
        return_code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        return;
    }
    Connection_t* connection = nullptr;
    try {
        connection = &connectionMap_mutex_at(connectionKey(connection_id));
    } catch (std::out_of_range const&) {
        return_code = FACE::RETURN_CODE_TYPE::INVALID_PARAM;
        return;
    }
    try {
        return_code = remove(*connection) ? FACE::RETURN_CODE_TYPE::NO_ERROR : FACE::RETURN_CODE_TYPE::NO_ACTION;
    } catch (...) {
        return_code = FACE::RETURN_CODE_TYPE::NO_ACTION;
    }
}

void CV_TSS::Unregister_Sender(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) {
    unregister(connection_id, return_code, [](Connection_t& connection) {
        std::unique_lock<std::shared_mutex> lock(connection.m_publisherMutex);
        if (!connection.isPublisher()) {
            return true;
        }
        if (!eprosima::fastrtps::Domain::removePublisher(connection.m_publisher)) {
            return false;
        }
        connection.clearPublisher();
        return true;
    });
}

void CV_TSS::Unregister_Callback(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) {
    unregister(connection_id, return_code, [](Connection_t& connection) {
        std::lock_guard<std::mutex> lock(connection.m_subscriberMutex);
        if (!connection.isSubscriber()) {
            return true;
        }
        // Waits for a callback in progress on this subscriber to end.
        if (!eprosima::fastrtps::Domain::removeSubscriber(connection.m_subscriber)) {
            return false;
        }
        connection.clearSubscriber();
        return true;
    });
}

bool CV_TSS::isTopicRegistered(char const* type_name) {
    if (m_participant == nullptr || type_name == nullptr) {
        return false;
    }
    eprosima::fastdds::dds::TopicDataType* type = nullptr;
    return eprosima::fastrtps::Domain::getRegisteredType(m_participant, type_name, &type);
}

bool CV_TSS::okRegisterTopic(eprosima::fastdds::dds::TopicDataType* type) {
    if (type == nullptr || m_participant == nullptr) {
        return false;
    }
    if (isTopicRegistered(type->getName())) {
        return true;
    }
    return eprosima::fastrtps::Domain::registerType(m_participant, type);
}

unsigned int CV_TSS::connectionKey(long long connection_id) {
    if (connection_id < 0) {
        return 0xFFFFFFFFu;
    }
    return static_cast<unsigned int>(static_cast<unsigned long long>(connection_id) & 0xFFFFFFFFull);
}

CV_TSS::Connection_t& CV_TSS::connectionMap_mutex_at(unsigned int id) {
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    return m_connections.at(id);
}

std::size_t CV_TSS::connectionCount() {
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    return m_connections.size();
}

void CV_TSS::registerPublisher(Connection_t& connection) {
    auto listener = std::make_unique<Listeners::PublisherListenerBase>(m_name);
    eprosima::fastrtps::PublisherAttributes attributes =
        Details::MakePublisherAttributes(connection.m_name, connection.m_topicType, m_historyDepth, m_useBestEffort);
    if (m_secure) {
        Security::ApplyToPublisher(attributes);
    }
    if (!attributes.topic.checkQos() || !attributes.qos.checkQos()) {
        throw std::runtime_error("Participant " + m_name + " invalid publisher QOS for topic: " + connection.m_name +
                                 "; see error log");
    }
    eprosima::fastrtps::Publisher* publisher =
        m_participant == nullptr
            ? nullptr
            : eprosima::fastrtps::Domain::createPublisher(m_participant, attributes, listener.get());
    if (publisher == nullptr) {
        throw std::runtime_error("Participant " + m_name + " error creating publisher for topic: " + connection.m_name);
    }
    connection.setPublisher(std::move(listener), publisher);
}

void CV_TSS::registerSubscriber(Connection_t& connection, std::unique_ptr<Listeners::SubscriberListenerBase> listener) {
    eprosima::fastrtps::SubscriberAttributes attributes = Details::MakeSubscriberAttributes(
        connection.m_name, connection.m_topicType, m_historyDepth, m_useBestEffort, m_backFillHistory);
    if (m_secure) {
        Security::ApplyToEndpoint(attributes.properties);
    }
    if (!attributes.topic.checkQos() || !attributes.qos.checkQos()) {
        throw std::runtime_error("Participant " + m_name + " invalid subscriber QOS for topic: " + connection.m_name +
                                 "; see error log");
    }
    eprosima::fastrtps::Subscriber* subscriber =
        m_participant == nullptr
            ? nullptr
            : eprosima::fastrtps::Domain::createSubscriber(m_participant, attributes, listener.get());
    if (subscriber == nullptr) {
        throw std::runtime_error("Participant " + m_name +
                                 " error creating subscriber for topic: " + connection.m_name);
    }
    connection.setSubscriber(std::move(listener), subscriber);
}

// --- Attributes ------------------------------------------------------------

namespace Details {

namespace {

// Every user transport gets the datagram guard in front of it
// (RtpsGuardTransport.h); a build for the guard's cost baseline alone
// leaves it out.
template <typename Descriptor>
std::shared_ptr<Descriptor> Guarded(Descriptor const& descriptor) {
#ifdef CORVANE_NO_DATAGRAM_GUARD
    return std::make_shared<Descriptor>(descriptor);
#else
    return DatagramGuard::protect(descriptor);
#endif
}

}  // namespace

std::array<std::uint8_t, 4> ParseWanAddress(std::string const& address) {
    std::array<std::uint8_t, 4> bytes{0, 0, 0, 0};
    std::size_t position = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            if (position >= address.size()) {
                break;
            }
            ++position;  // the separator, whatever it is
        }
        unsigned long value = 0;
        std::size_t digits = 0;
        while (position < address.size() && std::isdigit(static_cast<unsigned char>(address[position])) != 0) {
            value = (value * 10 + static_cast<unsigned long>(address[position] - '0')) % 256;
            ++position;
            ++digits;
        }
        if (digits == 0) {
            break;
        }
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    return bytes;
}

eprosima::fastrtps::ParticipantAttributes MakeParticipantAttributes(std::uint32_t domain_id, std::string const& name,
                                                                    std::string const& transport,
                                                                    std::string const& tcp_address,
                                                                    std::uint16_t tcp_port) {
    using namespace eprosima::fastdds::rtps;
    using eprosima::fastrtps::rtps::IPLocator;
    using eprosima::fastrtps::rtps::Locator_t;

    // The class defaults, not a profile's: an XML profile file found in the
    // working directory must not change what the connections file says.
    eprosima::fastrtps::ParticipantAttributes attributes;
    attributes.domainId = domain_id;
    attributes.rtps.builtin.discovery_config.leaseDuration = eprosima::fastrtps::Duration_t(5, 0);
    attributes.rtps.setName(name.substr(0, 255).c_str());
    attributes.rtps.useBuiltinTransports = false;

    if (transport == "SHM") {
        attributes.rtps.userTransports.push_back(Guarded(SharedMemTransportDescriptor()));
    } else if (transport == "UDP") {
        UDPv4TransportDescriptor udp;
        udp.non_blocking_send = true;
        udp.interfaceWhiteList.emplace_back("127.0.0.1");
        attributes.rtps.userTransports.push_back(Guarded(udp));
    } else if (transport == "TCP_Client") {
        attributes.rtps.userTransports.push_back(Guarded(TCPv4TransportDescriptor()));
        Locator_t peer;
        peer.kind = LOCATOR_KIND_TCPv4;
        IPLocator::setIPv4(peer, tcp_address);
        peer.port = tcp_port;
        auto& peers = attributes.rtps.builtin.initialPeersList;
        if (std::find(peers.begin(), peers.end(), peer) == peers.end()) {
            peers.push_back(peer);
        }
    } else if (transport == "TCP_Server") {
        TCPv4TransportDescriptor tcp;
        std::array<std::uint8_t, 4> const wan = ParseWanAddress(tcp_address);
        tcp.set_WAN_address(wan[0], wan[1], wan[2], wan[3]);
        tcp.listening_ports = {tcp_port};
        attributes.rtps.userTransports.push_back(Guarded(tcp));
    }
    return attributes;
}

std::optional<double> ParseAnnouncementPeriod(std::string const& text) {
    char const* begin = text.c_str();
    char* end = nullptr;
    double const seconds = std::strtod(begin, &end);
    while (end != nullptr && *end != '\0' && std::isspace(static_cast<unsigned char>(*end)) != 0) {
        ++end;
    }
    if (end == begin || end == nullptr || *end != '\0' || !(seconds > 0.0) || !(seconds < kLeaseSeconds)) {
        return std::nullopt;
    }
    return seconds;
}

ParticipantOptions ReadParticipantOptions(FACE::Configuration& config, int handle) {
    ParticipantOptions options;
    if (std::optional<std::string> const period = optionalParameter(config, handle, kAnnouncementPeriodKey)) {
        options.announcementPeriod = ParseAnnouncementPeriod(*period).value_or(0.0);
    }
    if (std::optional<std::string> const udp = optionalParameter(config, handle, kShmDiscoveryOverUdpKey)) {
        options.shmDiscoveryOverUdp = CV_Config_Helpers::Details::Parse_Boolean(*udp);
    }
    if (std::optional<std::string> const fresh = optionalParameter(config, handle, kFreshParticipantIdKey)) {
        options.freshParticipantId = CV_Config_Helpers::Details::Parse_Boolean(*fresh);
    }
    return options;
}

void ApplyParticipantOptions(eprosima::fastrtps::ParticipantAttributes& attributes, ParticipantOptions const& options,
                             std::string const& transport) {
    if (options.announcementPeriod > 0.0) {
        double whole = 0.0;
        double const fraction = std::modf(options.announcementPeriod, &whole);
        attributes.rtps.builtin.discovery_config.leaseDuration_announcementperiod = eprosima::fastrtps::Duration_t(
            static_cast<std::int32_t>(whole), static_cast<std::uint32_t>(fraction * 1e9));
    }
    if (options.shmDiscoveryOverUdp && transport == "SHM") {
        eprosima::fastdds::rtps::UDPv4TransportDescriptor udp;
        udp.non_blocking_send = true;
        udp.interfaceWhiteList.emplace_back("127.0.0.1");
        attributes.rtps.userTransports.push_back(Guarded(udp));
    }
}

eprosima::fastrtps::PublisherAttributes MakePublisherAttributes(std::string const& topic_name,
                                                                std::string const& topic_type,
                                                                std::int32_t history_depth, bool use_best_effort) {
    eprosima::fastrtps::PublisherAttributes attributes;
    applyCommonQos(attributes.topic, attributes.qos.m_reliability, topic_name, topic_type, history_depth,
                   use_best_effort);
    attributes.qos.m_durability.kind = eprosima::fastdds::dds::TRANSIENT_LOCAL_DURABILITY_QOS;
    attributes.historyMemoryPolicy = eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
    return attributes;
}

eprosima::fastrtps::SubscriberAttributes MakeSubscriberAttributes(std::string const& topic_name,
                                                                  std::string const& topic_type,
                                                                  std::int32_t history_depth, bool use_best_effort,
                                                                  bool back_fill_history) {
    eprosima::fastrtps::SubscriberAttributes attributes;
    applyCommonQos(attributes.topic, attributes.qos.m_reliability, topic_name, topic_type, history_depth,
                   use_best_effort);
    attributes.qos.m_durability.kind = back_fill_history ? eprosima::fastdds::dds::TRANSIENT_LOCAL_DURABILITY_QOS
                                                         : eprosima::fastdds::dds::VOLATILE_DURABILITY_QOS;
    attributes.historyMemoryPolicy = eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
    return attributes;
}

}  // namespace Details

}  // namespace TSS
}  // namespace FACE

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer builds only: Fast DDS 2.9.1 destroys its statistics
// readers through a base class of a different size (inside
// RTPSReader::~RTPSReader, when a participant is removed), which the
// sanitizer reports as new-delete-type-mismatch and aborts on. The fault is
// in the installed library, not in code of ours; every program that links
// the transport turns that one check off so that its own faults are still
// found. ASAN_OPTIONS given at run time still take precedence.
extern "C" char const* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

namespace FACE {
namespace TSS {
namespace Details {

// The server's five message types; other generated types instantiate the
// template where they are used.
template class CV_TypedTS<aspn2_msgs::idl::CommandResponse>;
template class CV_TypedTS<aspn2_msgs::idl::PositionVelocityAttitude>;
template class CV_TypedTS<aspn2_msgs::idl::EventLog>;
template class CV_TypedTS<aspn2_msgs::idl::UTCTime>;
template class CV_TypedTS<aspn2_msgs::idl::MaintenanceEvent>;

}  // namespace Details

}  // namespace TSS
}  // namespace FACE
