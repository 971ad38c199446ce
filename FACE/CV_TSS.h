#ifndef FACE_CV_TSS_H
#define FACE_CV_TSS_H

// FACE::TSS::CV_TSS: the Transport Services over Fast DDS (legacy
// eprosima::fastrtps interface), and FACE::TSS::Details::CV_TypedTS<T>, its
// typed face for one message type.
//
// Use:
//   auto config = std::make_shared<FACE::CV_Config>();
//   auto tss = std::make_shared<FACE::TSS::CV_TSS>("MyServer");
//   tss->Set_Reference("", config, 0, rc);          // the configuration service
//   tss->Initialize("connections.xml", rc);          // settings of "FastRtps"
//   tss->Create_Connection("UTCTime", -1, id, unused, rc);
//   auto utc = std::make_shared<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::UTCTime>>();
//   utc->Set_Reference("", tss, 0, rc);
//   utc->Register_Sender(id, rc);  utc->Send_Message(id, 0, txn, message, rc);
//   utc->Register_Callback(id, callback, rc);        // callback per received sample
//
// The connections file is an XML configuration file (FACE::CV_Config) with
// a container "FastRtps" holding the transport settings "DomainId",
// "HistoryDepth", "UseBestEffort", "BackFillHistory", "UseTransport"
// ("SHM", "UDP", "TCP_Client" or "TCP_Server"), "TcpAddress" and "TcpPort",
// all required (and three opt-in participant settings, see
// Details::ParticipantOptions), and one container per connection, named after it, holding
// "TopicType" (the registered DDS type name, e.g.
// "aspn2_msgs::idl::UTCTime") and "PubSubType" (the type support, e.g.
// "UTCTimePubSubType"). The DDS topic of a connection is its name. An
// optional container "Security" turns on DDS Security with six files,
// absolute paths: "IdentityCA", "Certificate", "PrivateKey",
// "PermissionsCA", "Governance", "Permissions" (CV_TSS_Security.h).
//
// QoS, the same for every publisher and subscriber of a transport: keep
// last "HistoryDepth" samples (also the resource limits, one instance),
// best effort when "UseBestEffort" is true else reliable, memory
// preallocated with reallocation. Publishers are always transient local;
// subscribers are transient local (late joiners receive what the writers
// still hold) when "BackFillHistory" is true, else volatile.
//
// Threads: Set_Reference, Initialize, Create_Connection and the
// registrations run on one set-up thread. Send_Message may run on any
// thread. Receive callbacks run on Fast DDS's reception threads; a callback
// must never unregister its own connection (removal waits for it).

#include "FACE/CV_TSS_Listeners.h"
#include "FACE/CV_TSS_Security.h"
#include "FACE/Configuration.h"
#include "FACE/Configuration_Injectable.h"
#include "FACE/FACE_Common.h"
#include "FACE/TSS_Base.h"

#include <fastdds/dds/topic/TopicDataType.hpp>
#include <fastrtps/attributes/ParticipantAttributes.h>
#include <fastrtps/attributes/PublisherAttributes.h>
#include <fastrtps/attributes/SubscriberAttributes.h>
#include <fastrtps/participant/Participant.h>
#include <fastrtps/publisher/Publisher.h>
#include <fastrtps/subscriber/Subscriber.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stdexcept>
#include <string>

namespace FACE {
namespace TSS {

class CV_TSS : public FACE::TSS::Base, public FACE::Configuration_Injectable::Injectable {
public:
    /// One named connection: a DDS topic of one type with at most one
    /// publisher and one subscriber of this participant.
    struct Connection_t {
        /// Copies the names and makes the type support named `pub_sub_type`
        /// (FACE::TSS::Topics::GetPubSubType); m_typeSupport is null for an
        /// unknown name.
        Connection_t(std::string name, std::string topic_type, std::string const& pub_sub_type);
        /// Takes the owned pointers (the source's become null) and copies
        /// the entity pointers. Only used before the record is shared.
        Connection_t(Connection_t&& other) noexcept;
        /// Destroys the subscriber listener, the publisher listener, then
        /// the type support.
        ~Connection_t();
        Connection_t(Connection_t const&) = delete;
        Connection_t& operator=(Connection_t const&) = delete;
        Connection_t& operator=(Connection_t&&) = delete;

        bool isPublisher() const { return m_publisher != nullptr; }
        bool isSubscriber() const { return m_subscriber != nullptr; }
        /// Take the listener and the entity; a listener held before is destroyed.
        void setPublisher(std::unique_ptr<Listeners::PublisherListenerBase> listener,
                          eprosima::fastrtps::Publisher* publisher);
        void setSubscriber(std::unique_ptr<Listeners::SubscriberListenerBase> listener,
                           eprosima::fastrtps::Subscriber* subscriber);
        /// Forget the entity and destroy its listener.
        void clearPublisher();
        void clearSubscriber();

        std::string m_name;       ///< connection name and DDS topic name
        std::string m_topicType;  ///< registered DDS type name of the topic
        std::unique_ptr<eprosima::fastdds::dds::TopicDataType> m_typeSupport;
        std::unique_ptr<Listeners::PublisherListenerBase> m_publisherListener;
        eprosima::fastrtps::Publisher* m_publisher;  ///< owned by Fast DDS; null when none
        std::unique_ptr<Listeners::SubscriberListenerBase> m_subscriberListener;
        eprosima::fastrtps::Subscriber* m_subscriber;  ///< owned by Fast DDS; null when none
        /// Held shared while a sample is written and exclusively while the
        /// publisher is made or removed, so a send never meets a publisher
        /// being removed.
        std::shared_mutex m_publisherMutex;
        /// Serialises making and removing the subscriber.
        std::mutex m_subscriberMutex;
    };

    /// `name`: the DDS participant name (at most 255 characters are used)
    /// and the name in messages.
    explicit CV_TSS(std::string const& name);
    /// Removes the participant (and with it every publisher and subscriber,
    /// waiting for callbacks in progress), then destroys the connection
    /// records.
    ~CV_TSS() override;
    CV_TSS(CV_TSS const&) = delete;
    CV_TSS& operator=(CV_TSS const&) = delete;

    /// Reads the "FastRtps" container of `configuration_file` through the
    /// injected configuration and creates the participant. 0; 1 when
    /// initialised already (nothing changes); 2 without a configuration
    /// (silently), or when the file or the container cannot be opened (a
    /// "CFR:" line on standard output); 4 when a parameter is missing or
    /// empty (one warning line each; nothing stored), or when a "Security"
    /// container lacks one of its six files (a "CFR:" line too). Throws
    /// std::runtime_error("Error creating participant <name>...") when a
    /// security file fails its check (the message names the file and the
    /// fault; see CV_TSS_Security.h) or Fast DDS refuses the participant.
    void Initialize(FACE::String const& configuration_file, FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// connection_id := the id of the connection `connection_name`, made
    /// from its container on first use; ids are 0, 1, 2, ... in order of
    /// creation and stay valid while the transport lives. 0; 2 before
    /// Initialize; 4 when the container or one of its parameters is missing
    /// (the latter with a warning); 1 when the type support is unknown or
    /// cannot be registered (a line on standard error). connection_id is -1
    /// on failure; `unused_out` is never changed.
    void Create_Connection(FACE::String const& connection_name, long long unused, long long& connection_id,
                           int& unused_out, FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// 0 when initialised, else 2. The connection stays usable: records
    /// live as long as the transport.
    void Destroy_Connection(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Removes the connection's publisher. 0 (also when there is none); 2
    /// before Initialize; 3 for an unknown id (negative ids included); 1
    /// when Fast DDS fails to remove it (the record keeps it).
    void Unregister_Sender(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// As Unregister_Sender, for the subscriber and its callback.
    void Unregister_Callback(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Shares `configuration`. 0; 2 when a configuration is held already;
    /// 3 when `configuration` is empty. `interface_name` and `id` unused.
    void Set_Reference(FACE::String const& interface_name, std::shared_ptr<FACE::Configuration> const& configuration,
                       long long id, FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Whether the participant knows a type named `type_name` (false before
    /// Initialize).
    bool isTopicRegistered(char const* type_name);

    /// True when a type named type->getName() is registered already,
    /// otherwise whether registering `type` succeeds. The participant keeps
    /// a plain pointer to `type`: it must outlive the participant.
    bool okRegisterTopic(eprosima::fastdds::dds::TopicDataType* type);

    // --- Used by the typed transports ---------------------------------

    bool isInitialized() const { return m_initialized.load(); }
    std::string const& participantName() const { return m_name; }

    /// The map key of a connection id: a negative id gives 4294967295
    /// (never a valid key), any other its low 32 bits.
    static unsigned int connectionKey(long long connection_id);

    /// The record of connection `id`, looked up under the connection
    /// mutex. Throws std::out_of_range for an unknown id. The reference
    /// stays valid while the transport lives.
    Connection_t& connectionMap_mutex_at(unsigned int id);

    /// Creates the connection's publisher with the transport's QoS and a
    /// PublisherListenerBase. Throws std::runtime_error with
    /// "Participant <name> invalid publisher QOS for topic: <topic>; see
    /// error log" or "Participant <name> error creating publisher for
    /// topic: <topic>". The caller holds the record's publisher mutex.
    void registerPublisher(Connection_t& connection);

    /// Creates the connection's subscriber with the transport's QoS and
    /// `listener`, which the record then owns. Throws std::runtime_error
    /// with "... invalid subscriber QOS for topic: ..." or "... error
    /// creating subscriber for topic: ...". The caller holds the record's
    /// subscriber mutex.
    void registerSubscriber(Connection_t& connection, std::unique_ptr<Listeners::SubscriberListenerBase> listener);

    // --- Inspection ---------------------------------------------------

    /// The participant; null before Initialize.
    eprosima::fastrtps::Participant* participant() const { return m_participant; }
    std::int32_t historyDepth() const { return m_historyDepth; }
    bool useBestEffort() const { return m_useBestEffort; }
    bool backFillHistory() const { return m_backFillHistory; }
    std::string const& transport() const { return m_transport; }
    std::string const& tcpAddress() const { return m_tcpAddress; }
    std::uint16_t tcpPort() const { return m_tcpPort; }
    /// Whether the participant runs with DDS Security (a "Security"
    /// container in the connections file).
    bool secure() const { return m_secure; }
    /// The identity certificate file of a secure participant ("" otherwise).
    std::string const& securityCertificate() const { return m_certificate; }
    /// Number of connection records.
    std::size_t connectionCount();

private:
    // The steps of Initialize, in its order. Each answers its return code
    // (the "CFR:" lines are theirs): the file and its "FastRtps" container
    // opened at `handle`; the seven settings read and stored (domain_id
    // set); the "Security" container read (m_secure set). createParticipant
    // makes and keeps the participant, or answers why not: the text that
    // follows "Error creating participant <name>".
    FACE::RETURN_CODE_TYPE::Value openSettings(FACE::Configuration& config, FACE::String const& configuration_file,
                                               int& handle);
    FACE::RETURN_CODE_TYPE::Value readSettings(FACE::Configuration& config, int handle, std::uint32_t& domain_id);
    FACE::RETURN_CODE_TYPE::Value readSecurity(FACE::Configuration& config, FACE::String const& configuration_file,
                                               Security::Files& files);
    std::optional<std::string> createParticipant(FACE::Configuration& config, int handle, std::uint32_t domain_id,
                                                 Security::Files const& security_files);

    // Shared by the two unregistrations: 2 before Initialize, 3 for an
    // unknown id, else 0 when `remove` (run on the connection's record)
    // returns true and 1 when it returns false or throws.
    template <typename Remove>
    void unregister(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code, Remove remove);

    std::atomic<bool> m_initialized;
    std::shared_ptr<FACE::Configuration> m_configuration;
    std::string m_name;
    eprosima::fastrtps::Participant* m_participant;
    std::int32_t m_historyDepth;
    bool m_useBestEffort;
    bool m_backFillHistory;
    std::string m_transport;
    std::string m_tcpAddress;
    std::uint16_t m_tcpPort;
    bool m_secure;
    std::string m_certificate;
    std::map<unsigned int, Connection_t> m_connections;
    std::mutex m_connectionMutex;
};

namespace Details {

/// Participant attributes: Fast DDS's class defaults except domain id,
/// participant name, a 5 s discovery lease, no built-in transports and the
/// user transport named by `transport`: "SHM" shared memory with its
/// defaults; "UDP" UDPv4 on 127.0.0.1 only, with non-blocking send;
/// "TCP_Client" TCPv4 with `tcp_address`:`tcp_port` as initial peer;
/// "TCP_Server" TCPv4 listening on `tcp_port` with WAN address
/// `tcp_address`; anything else none (Fast DDS then refuses the
/// participant). The opt-in settings below may add to them. Each user
/// transport sits behind the datagram guard (RtpsGuardTransport.h), which
/// drops malformed RTPS messages before Fast DDS parses them and watches
/// the receive threads' progress.
eprosima::fastrtps::ParticipantAttributes MakeParticipantAttributes(std::uint32_t domain_id, std::string const& name,
                                                                    std::string const& transport,
                                                                    std::string const& tcp_address,
                                                                    std::uint16_t tcp_port);

/// Lease of the built-in discovery, seconds.
constexpr double kLeaseSeconds = 5.0;

/// Opt-in settings of the "FastRtps" container, beside the seven transport
/// settings; each absent (or false) leaves the participant as the seven
/// make it:
///   AnnouncementPeriod   seconds between the participant's discovery
///                        announcements, above 0 and below the 5 s lease
///                        (Fast DDS's default: 3 s). 0.5 lets a participant
///                        that starts while its peers run find them within
///                        about 0.7 s where it may otherwise wait for their
///                        next announcement.
///   ShmDiscoveryOverUdp  with "SHM": UDPv4 on 127.0.0.1 beside shared
///                        memory, so discovery survives a killed peer whose
///                        shared-memory discovery port went stale (data
///                        between processes of the machine still goes
///                        through shared memory).
///   FreshParticipantId   with "SHM": the participant takes an id none of
///                        whose port files exist (CV_TSS_SharedMemory.h),
///                        so a killed participant's ports are never reused
///                        while a peer still holds them.
constexpr char const* kAnnouncementPeriodKey = "AnnouncementPeriod";
constexpr char const* kShmDiscoveryOverUdpKey = "ShmDiscoveryOverUdp";
constexpr char const* kFreshParticipantIdKey = "FreshParticipantId";

struct ParticipantOptions {
    double announcementPeriod = 0.0;  ///< seconds; 0: Fast DDS's default
    bool shmDiscoveryOverUdp = false;
    bool freshParticipantId = false;
};

/// An AnnouncementPeriod text as seconds: a decimal number above 0 and
/// below kLeaseSeconds (surrounding white space allowed); nothing otherwise.
std::optional<double> ParseAnnouncementPeriod(std::string const& text);

/// The opt-in settings of the container open at `handle`; an absent or
/// unusable value is left at its default, without a message (the
/// configuration check reports such values).
ParticipantOptions ReadParticipantOptions(FACE::Configuration& config, int handle);

/// Adds `options` to `attributes` of a participant of `transport`
/// (FreshParticipantId is applied by CV_TSS::Initialize, which looks at the
/// shared-memory files).
void ApplyParticipantOptions(eprosima::fastrtps::ParticipantAttributes& attributes, ParticipantOptions const& options,
                             std::string const& transport);

/// The four bytes of a dotted address: the first four decimal numbers of
/// `address`, separated by any single characters, each kept modulo 256;
/// numbers that are missing are 0.
std::array<std::uint8_t, 4> ParseWanAddress(std::string const& address);

/// Publisher attributes of a connection (see the QoS notes above).
eprosima::fastrtps::PublisherAttributes MakePublisherAttributes(std::string const& topic_name,
                                                                std::string const& topic_type,
                                                                std::int32_t history_depth, bool use_best_effort);

/// Subscriber attributes of a connection (see the QoS notes above).
eprosima::fastrtps::SubscriberAttributes MakeSubscriberAttributes(std::string const& topic_name,
                                                                  std::string const& topic_type,
                                                                  std::int32_t history_depth, bool use_best_effort,
                                                                  bool back_fill_history);

/// The transport's typed face for messages of type T (any generated type
/// whose type support the connection names). Reception is by callback
/// only.
template <typename T>
class CV_TypedTS : public FACE::TSS::TypedTS<T>, public FACE::TSS::Base_Injectable::Injectable {
public:
    CV_TypedTS() = default;
    ~CV_TypedTS() override = default;
    CV_TypedTS(CV_TypedTS const&) = delete;
    CV_TypedTS& operator=(CV_TypedTS const&) = delete;

    /// Not offered: always throws std::runtime_error
    /// "CV_TypedTS::Receive_Message() is not supported.".
    void Receive_Message(long long /*connection_id*/, long long /*timeout*/, long long& /*transaction_id*/,
                         T& /*message*/, HEADER_TYPE& /*header*/, FACE::Sequence<QoS_Element>& /*qos_parameters*/,
                         FACE::RETURN_CODE_TYPE::Value& /*return_code*/) override {
        throw std::runtime_error("CV_TypedTS::Receive_Message() is not supported.");
    }

    /// Writes `message` with the connection's publisher. 0; 2 before the
    /// transport is set and initialised, or without a publisher; 3 unknown
    /// connection; 13 when the publisher refuses the sample; 11 on an
    /// exception (its text goes to standard error); 1 on anything else.
    /// `timeout` and `transaction_id` are not used. Any thread.
    void Send_Message(long long connection_id, long long /*timeout*/, long long& /*transaction_id*/, T const& message,
                      FACE::RETURN_CODE_TYPE::Value& return_code) override {
        onConnection(connection_id, return_code, [&](CV_TSS::Connection_t& connection) {
            std::shared_lock<std::shared_mutex> lock(connection.m_publisherMutex);
            if (!connection.isPublisher()) {
                return FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
            }
            // The type support only reads the sample.
            bool const written = connection.m_publisher->write(const_cast<T*>(&message));
            return written ? FACE::RETURN_CODE_TYPE::NO_ERROR : FACE::RETURN_CODE_TYPE::DATA_OVERFLOW;
        });
    }

    /// Creates the connection's publisher. 0; 1 when it has one already
    /// (the first stays); 2 before the transport is set and initialised;
    /// 3 unknown connection; 11 when the publisher cannot be created (the
    /// reason goes to standard error); 1 on anything else.
    void Register_Sender(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) override {
        onConnection(connection_id, return_code, [&](CV_TSS::Connection_t& connection) {
            std::unique_lock<std::shared_mutex> lock(connection.m_publisherMutex);
            if (connection.isPublisher()) {
                return FACE::RETURN_CODE_TYPE::NO_ACTION;
            }
            m_tss->registerPublisher(connection);
            return FACE::RETURN_CODE_TYPE::NO_ERROR;
        });
    }

    /// Creates the connection's subscriber; from then on `callback` (not
    /// empty) runs for every sample received, on a reception thread. 0; 1
    /// when the connection has a subscriber already (the first callback
    /// stays); 2 before the transport is set and initialised; 3 unknown
    /// connection; 11 when the subscriber cannot be created (the reason
    /// goes to standard error); 1 on anything else.
    void Register_Callback(long long connection_id, Read_Callback<T> callback,
                           FACE::RETURN_CODE_TYPE::Value& return_code) override {
        onConnection(connection_id, return_code, [&](CV_TSS::Connection_t& connection) {
            std::lock_guard<std::mutex> lock(connection.m_subscriberMutex);
            if (connection.isSubscriber()) {
                return FACE::RETURN_CODE_TYPE::NO_ACTION;
            }
            m_tss->registerSubscriber(connection, std::make_unique<Listeners::SubscriberListenerTyped<T>>(
                                                      m_tss->participantName(), connection_id, std::move(callback)));
            return FACE::RETURN_CODE_TYPE::NO_ERROR;
        });
    }

    /// Takes `transport`, which must be a CV_TSS. 0; 2 when a transport is
    /// held already; 3 when `transport` is empty or not a CV_TSS.
    /// `interface_name` and `id` unused.
    void Set_Reference(FACE::String const& /*interface_name*/, std::shared_ptr<FACE::TSS::Base> const& transport,
                       long long /*id*/, FACE::RETURN_CODE_TYPE::Value& return_code) override {
        if (m_tss) {
            return_code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
            return;
        }
        std::shared_ptr<CV_TSS> tss = std::dynamic_pointer_cast<CV_TSS>(transport);
        if (!tss) {
            return_code = FACE::RETURN_CODE_TYPE::INVALID_PARAM;
            return;
        }
        m_tss = std::move(tss);
        return_code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    }

private:
    // Shared by the three operations: 2 before the transport is set and
    // initialised, 3 for an unknown connection, else what `action` returns
    // for the connection's record; an exception from it gives 11 (its text
    // goes to standard error) or 1.
    template <typename Action>
    void onConnection(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code, Action action) {
        if (!m_tss || !m_tss->isInitialized()) {
            return_code = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
            return;
        }
        CV_TSS::Connection_t* connection = lookUp(connection_id);
        if (connection == nullptr) {
            return_code = FACE::RETURN_CODE_TYPE::INVALID_PARAM;
            return;
        }
        try {
            return_code = action(*connection);
        } catch (std::exception const& e) {
            std::cerr << e.what() << std::endl;
            return_code = FACE::RETURN_CODE_TYPE::CONNECTION_CLOSED;
        } catch (...) {
            return_code = FACE::RETURN_CODE_TYPE::NO_ACTION;
        }
    }

    // The record of `connection_id`, or null when there is none.
    CV_TSS::Connection_t* lookUp(long long connection_id) {
        try {
            return &m_tss->connectionMap_mutex_at(CV_TSS::connectionKey(connection_id));
        } catch (std::out_of_range const&) {
            return nullptr;
        }
    }

    std::shared_ptr<CV_TSS> m_tss;
};

}  // namespace Details

}  // namespace TSS
}  // namespace FACE

#endif  // FACE_CV_TSS_H
