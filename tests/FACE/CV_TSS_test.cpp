// Transport set-up and connections: injection, Initialize, the participant
// and connection attributes, Create_Connection and the unregistrations.

#include "TssTestSupport.h"

#include "FACE/CV_Topic_Helpers.h"

#include <fastdds/rtps/transport/TCPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>
#include <fastrtps/utils/IPLocator.h>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace tss_test;
using FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
using FACE::RETURN_CODE_TYPE::INVALID_PARAM;
using FACE::RETURN_CODE_TYPE::NO_ACTION;
using FACE::RETURN_CODE_TYPE::NO_ERROR;
using FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;

class TssSetup : public ::testing::Test {
protected:
    void SetUp() override { neutraliseProfiles(); }

    std::string write(std::string const& content) { return m_dir.write("connections.xml", content); }

    // Initialize on a fresh transport; the console goes to *out.
    Transport initialize(std::string const& file, std::string* out,
                         std::shared_ptr<FACE::Configuration> config = nullptr) {
        testing::internal::CaptureStdout();
        Transport t = makeTransport(file, "TssTest", std::move(config));
        *out = testing::internal::GetCapturedStdout();
        return t;
    }

    face_test::TempDir m_dir;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
std::uint16_t freeTcpPort() {
    int const fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

// --- Injection and Initialize --------------------------------------------

TEST_F(TssSetup, SetReferenceTakesOneConfigurationOnly) {
    FACE::TSS::CV_TSS tss("T");
    RC rc = NO_ACTION;
    tss.Set_Reference("", nullptr, 0, rc);
    EXPECT_EQ(rc, INVALID_PARAM);
    tss.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    EXPECT_EQ(rc, NO_ERROR);
    tss.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    EXPECT_EQ(rc, NOT_AVAILABLE);
}

TEST_F(TssSetup, InitializeBeforeSetReferenceIsSilent) {
    FACE::TSS::CV_TSS tss("T");
    RC rc = NO_ERROR;
    testing::internal::CaptureStdout();
    tss.Initialize(FACE::String(write(connectionsFile(Settings::on(kSettingsDomain))).c_str()), rc);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(rc, NOT_AVAILABLE);
    EXPECT_FALSE(tss.isInitialized());
}

TEST_F(TssSetup, UnreadableFileOrContainerPrintsCfrLine) {
    std::string const missing = m_dir.path() + "/absent.xml";
    std::string const noContainer =
        write(face_test::document(connection("UTCTime", "aspn2_msgs::idl::UTCTime", "UTCTimePubSubType")));
    struct Case {
        std::string file;
        std::string console;
    } const cases[] = {
        {missing, "CFR:4 Configuration " + missing + " was not available\n"},
        {noContainer, "CFR:4 Domain FastRtps was not available\n"},
    };
    for (Case const& c : cases) {
        std::string out;
        Transport t = initialize(c.file, &out);
        EXPECT_EQ(t.rc, NOT_AVAILABLE) << c.file;
        EXPECT_EQ(out, c.console);
        EXPECT_EQ(t.tss->participant(), nullptr);
    }
}

TEST_F(TssSetup, EveryMissingParameterIsReportedAndNothingIsStored) {
    char const* const names[] = {"DomainId",   "HistoryDepth", "UseBestEffort", "BackFillHistory",
                                 "UseTransport", "TcpAddress", "TcpPort"};
    for (char const* name : names) {
        Settings s = Settings::on(kSettingsDomain, "SHM");
        s.omit = {name};
        s.historyDepth = "7";
        auto config = std::make_shared<CountingConfig>();
        std::string out;
        Transport t = initialize(write(connectionsFile(s)), &out, config);
        EXPECT_EQ(t.rc, INVALID_CONFIG) << name;
        EXPECT_EQ(out, std::string("WARNING - Parameter ") + name + " not found\n");
        EXPECT_FALSE(t.tss->isInitialized());
        EXPECT_EQ(t.tss->participant(), nullptr);
        EXPECT_EQ(t.tss->historyDepth(), 0) << "stored although reading failed";
        EXPECT_EQ(config->opens, config->closes) << "handle left open";
    }

    // All are read even after a failure; an empty value counts as missing.
    Settings s = Settings::on(kSettingsDomain);
    s.omit = {"DomainId", "TcpPort"};
    s.tcpAddress = "";
    std::string out;
    EXPECT_EQ(initialize(write(connectionsFile(s)), &out).rc, INVALID_CONFIG);
    EXPECT_EQ(out,
              "WARNING - Parameter DomainId not found\n"
              "WARNING - Parameter TcpAddress not found\n"
              "WARNING - Parameter TcpPort not found\n");
}

TEST_F(TssSetup, InitializeStoresTheSettingsOnce) {
    Settings s = Settings::on(kSettingsDomain);
    s.historyDepth = "0x0C";
    s.useBestEffort = "TRUE";
    s.backFillHistory = "1";
    s.tcpAddress = "10.1.2.3";
    s.tcpPort = "70000";
    std::string const file = write(connectionsFile(s));
    auto config = std::make_shared<CountingConfig>();
    std::string out;
    Transport t = initialize(file, &out, config);
    ASSERT_EQ(t.rc, NO_ERROR);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(t.tss->isInitialized());
    ASSERT_NE(t.tss->participant(), nullptr);
    EXPECT_EQ(t.tss->participant()->getAttributes().domainId, kSettingsDomain);
    EXPECT_STREQ(t.tss->participant()->getAttributes().rtps.getName(), "TssTest");
    EXPECT_EQ(t.tss->historyDepth(), 12);
    EXPECT_TRUE(t.tss->useBestEffort());
    EXPECT_TRUE(t.tss->backFillHistory());
    EXPECT_EQ(t.tss->transport(), "UDP");
    EXPECT_EQ(t.tss->tcpAddress(), "10.1.2.3");
    EXPECT_EQ(t.tss->tcpPort(), 4464) << "70000 truncated to 16 bits";
    EXPECT_EQ(config->opens, 1);
    EXPECT_EQ(config->closes, 1);

    eprosima::fastrtps::Participant* const first = t.tss->participant();
    RC rc = NO_ERROR;
    t.tss->Initialize(FACE::String(file.c_str()), rc);
    EXPECT_EQ(rc, NO_ACTION);
    EXPECT_EQ(t.tss->participant(), first);
    EXPECT_EQ(config->opens, 1) << "the second Initialize must not read the file";
}

TEST_F(TssSetup, DomainIdTakesAnyBase) {
    for (char const* text : {"0x10", "020", "16"}) {
        Settings s = Settings::on(kHexDomain);
        s.domainId = text;
        std::string out;
        Transport t = initialize(write(connectionsFile(s)), &out);
        ASSERT_EQ(t.rc, NO_ERROR) << text;
        EXPECT_EQ(t.tss->participant()->getAttributes().domainId, 16u) << text;
    }
}

TEST_F(TssSetup, UnknownTransportNameEitherWorksOrThrowsTheParticipantError) {
    for (char const* name : {"udp", "Shm", "TCP"}) {
        Settings s = Settings::on(kLowerCaseDomain);
        s.useTransport = name;
        std::string const file = write(connectionsFile(s));
        try {
            std::string out;
            Transport t = initialize(file, &out);
            EXPECT_EQ(t.rc, NO_ERROR) << name;
            EXPECT_TRUE(t.tss->participant()->getAttributes().rtps.userTransports.empty()) << name;
        } catch (std::runtime_error const& e) {
            testing::internal::GetCapturedStdout();
            EXPECT_STREQ(e.what(), "Error creating participant TssTest") << name;
        }
    }
}

TEST_F(TssSetup, EveryTransportStarts) {
    std::uint16_t const port = freeTcpPort();
    for (char const* name : {"SHM", "UDP", "TCP_Server", "TCP_Client"}) {
        Settings s = Settings::on(kTransportsDomain, name);
        s.tcpPort = std::to_string(port);
        std::string out;
        Transport t = initialize(write(connectionsFile(s)), &out);
        EXPECT_EQ(t.rc, NO_ERROR) << name;
        EXPECT_EQ(t.tss->transport(), name);
    }
}

// --- Participant, publisher and subscriber attributes ------------------------

TEST(TssAttributes, ParticipantByTransport) {
    using namespace eprosima::fastdds::rtps;
    using eprosima::fastrtps::rtps::IPLocator;
    std::string const longName(300, 'n');

    auto const udp = FACE::TSS::Details::MakeParticipantAttributes(33, longName, "UDP", "10.0.0.1", 5100);
    EXPECT_EQ(udp.domainId, 33u);
    EXPECT_EQ(std::string(udp.rtps.getName()), longName.substr(0, 255));
    EXPECT_EQ(udp.rtps.builtin.discovery_config.leaseDuration, eprosima::fastrtps::Duration_t(5, 0));
    EXPECT_FALSE(udp.rtps.useBuiltinTransports);
    ASSERT_EQ(udp.rtps.userTransports.size(), 1u);
    auto const* u = dynamic_cast<UDPv4TransportDescriptor const*>(udp.rtps.userTransports[0].get());
    ASSERT_NE(u, nullptr);
    EXPECT_TRUE(u->non_blocking_send);
    EXPECT_EQ(u->interfaceWhiteList, std::vector<std::string>{"127.0.0.1"});
    EXPECT_TRUE(udp.rtps.builtin.initialPeersList.empty());

    auto const shm = FACE::TSS::Details::MakeParticipantAttributes(1, "n", "SHM", "", 0);
    ASSERT_EQ(shm.rtps.userTransports.size(), 1u);
    EXPECT_NE(dynamic_cast<SharedMemTransportDescriptor const*>(shm.rtps.userTransports[0].get()), nullptr);

    auto const client = FACE::TSS::Details::MakeParticipantAttributes(1, "n", "TCP_Client", "10.1.2.3", 5100);
    ASSERT_EQ(client.rtps.userTransports.size(), 1u);
    EXPECT_NE(dynamic_cast<TCPv4TransportDescriptor const*>(client.rtps.userTransports[0].get()), nullptr);
    ASSERT_EQ(client.rtps.builtin.initialPeersList.size(), 1u);
    auto const& peer = *client.rtps.builtin.initialPeersList.begin();
    EXPECT_EQ(peer.kind, LOCATOR_KIND_TCPv4);
    EXPECT_EQ(IPLocator::toIPv4string(peer), "10.1.2.3");
    EXPECT_EQ(peer.port, 5100u);

    auto const server = FACE::TSS::Details::MakeParticipantAttributes(1, "n", "TCP_Server", "192.168.7.9", 6000);
    ASSERT_EQ(server.rtps.userTransports.size(), 1u);
    auto const* t = dynamic_cast<TCPv4TransportDescriptor const*>(server.rtps.userTransports[0].get());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::vector<int>(t->wan_addr, t->wan_addr + 4), (std::vector<int>{192, 168, 7, 9}));
    EXPECT_EQ(t->listening_ports, std::vector<std::uint16_t>{6000});
    EXPECT_TRUE(server.rtps.builtin.initialPeersList.empty());

    for (char const* other : {"udp", "", "TCP"}) {
        auto const none = FACE::TSS::Details::MakeParticipantAttributes(1, "n", other, "", 0);
        EXPECT_TRUE(none.rtps.userTransports.empty()) << other;
        EXPECT_FALSE(none.rtps.useBuiltinTransports) << other;
    }
}

TEST(TssAttributes, WanAddressBytes) {
    struct Case {
        char const* text;
        std::array<std::uint8_t, 4> bytes;
    } const cases[] = {
        {"192.168.1.20", {192, 168, 1, 20}}, {"10-0-0-7", {10, 0, 0, 7}}, {"300.1.2.3", {44, 1, 2, 3}},
        {"1.2", {1, 2, 0, 0}},               {"", {0, 0, 0, 0}},         {"abc", {0, 0, 0, 0}},
        {"1..3.4", {1, 0, 0, 0}},            {"9.8.7.6.5", {9, 8, 7, 6}},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(FACE::TSS::Details::ParseWanAddress(c.text), c.bytes) << c.text;
    }
}

TEST(TssAttributes, PublishersAndSubscribersShareHistoryAndReliability) {
    using namespace eprosima::fastdds::dds;
    for (bool const bestEffort : {false, true}) {
        for (bool const backFill : {false, true}) {
            auto const pub = FACE::TSS::Details::MakePublisherAttributes("Topic", "Type", 7, bestEffort);
            auto const sub = FACE::TSS::Details::MakeSubscriberAttributes("Topic", "Type", 7, bestEffort, backFill);
            for (eprosima::fastrtps::TopicAttributes const* topic : {&pub.topic, &sub.topic}) {
                EXPECT_EQ(std::string(topic->topicName.c_str()), "Topic");
                EXPECT_EQ(std::string(topic->topicDataType.c_str()), "Type");
                EXPECT_EQ(topic->topicKind, eprosima::fastrtps::rtps::NO_KEY);
                EXPECT_EQ(topic->historyQos.kind, KEEP_LAST_HISTORY_QOS);
                EXPECT_EQ(topic->historyQos.depth, 7);
                EXPECT_EQ(topic->resourceLimitsQos.max_samples, 7);
                EXPECT_EQ(topic->resourceLimitsQos.max_instances, 1);
                EXPECT_EQ(topic->resourceLimitsQos.max_samples_per_instance, 7);
                EXPECT_EQ(topic->resourceLimitsQos.allocated_samples, 7);
                EXPECT_TRUE(topic->checkQos());
            }
            ReliabilityQosPolicyKind const reliability =
                bestEffort ? BEST_EFFORT_RELIABILITY_QOS : RELIABLE_RELIABILITY_QOS;
            EXPECT_EQ(pub.qos.m_reliability.kind, reliability);
            EXPECT_EQ(sub.qos.m_reliability.kind, reliability);
            EXPECT_EQ(pub.qos.m_durability.kind, TRANSIENT_LOCAL_DURABILITY_QOS);
            EXPECT_EQ(sub.qos.m_durability.kind,
                      backFill ? TRANSIENT_LOCAL_DURABILITY_QOS : VOLATILE_DURABILITY_QOS);
            EXPECT_EQ(pub.historyMemoryPolicy, eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE);
            EXPECT_EQ(sub.historyMemoryPolicy, eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE);
            EXPECT_TRUE(pub.qos.checkQos());
            EXPECT_TRUE(sub.qos.checkQos());
        }
    }
}

// --- Sample connections files ----------------------------------------------

TEST(TssSampleFiles, NameTheServersSixConnections) {
    struct Sample {
        char const* file;
        char const* transport;
    } const samples[] = {{"connections-udp.xml", "UDP"},
                         {"connections-shm.xml", "SHM"},
                         {"connections-tcp-server.xml", "TCP_Server"},
                         {"connections-tcp-client.xml", "TCP_Client"}};
    struct Connection {
        char const* name;
        char const* type;
    } const connections[] = {{"Command", "CommandResponse"},
                             {"Response", "CommandResponse"},
                             {"PositionVelocityAttitude", "PositionVelocityAttitude"},
                             {"EventLog", "EventLog"},
                             {"UTCTime", "UTCTime"},
                             {"MaintenanceEvent", "MaintenanceEvent"}};
    for (Sample const& sample : samples) {
        SCOPED_TRACE(sample.file);
        FACE::CV_Config config;
        ASSERT_EQ(face_test::initConfig(config, (std::string(TSS_SAMPLE_CONFIG_DIR) + "/" + sample.file).c_str()),
                  NO_ERROR);
        int const transport = face_test::openHandle(config, "FastRtps");
        ASSERT_GE(transport, 0);
        EXPECT_EQ(face_test::readValue(config, transport, "UseTransport"), sample.transport);
        EXPECT_EQ(face_test::readValue(config, transport, "UseBestEffort"), "false");
        EXPECT_EQ(face_test::readValue(config, transport, "BackFillHistory"), "false");
        for (char const* p : {"DomainId", "HistoryDepth", "TcpAddress", "TcpPort"}) {
            EXPECT_NE(face_test::readValue(config, transport, p).rfind("<rc", 0), 0u) << p;
        }
        for (Connection const& c : connections) {
            int const handle = face_test::openHandle(config, c.name);
            ASSERT_GE(handle, 0) << c.name;
            EXPECT_EQ(face_test::readValue(config, handle, "TopicType"), std::string("aspn2_msgs::idl::") + c.type);
            std::string const support = face_test::readValue(config, handle, "PubSubType");
            std::unique_ptr<eprosima::fastdds::dds::TopicDataType> type(FACE::TSS::Topics::GetPubSubType(support));
            ASSERT_NE(type, nullptr) << support;
            EXPECT_EQ(std::string(type->getName()), std::string("aspn2_msgs::idl::") + c.type);
        }
    }
}

// --- Connections -------------------------------------------------------------

TEST_F(TssSetup, ServerConnectionsGetDenseIds) {
    std::string text = face_test::readFile(std::string(TSS_SAMPLE_CONFIG_DIR) + "/connections-udp.xml");
    std::string const from = "<DomainId>0</DomainId>";
    ASSERT_NE(text.find(from), std::string::npos);
    text.replace(text.find(from), from.size(), "<DomainId>" + std::to_string(kConnectionIdsDomain) + "</DomainId>");
    std::string out;
    Transport t = initialize(write(text), &out);
    ASSERT_EQ(t.rc, NO_ERROR);

    char const* const names[] = {"Command", "Response", "PositionVelocityAttitude",
                                 "EventLog", "UTCTime", "MaintenanceEvent"};
    for (long long expected = 0; expected < 6; ++expected) {
        RC rc = NO_ACTION;
        long long id = -7;
        int untouched = 41;
        t.tss->Create_Connection(FACE::String(names[expected]), -1, id, untouched, rc);
        EXPECT_EQ(rc, NO_ERROR) << names[expected];
        EXPECT_EQ(id, expected) << names[expected];
        EXPECT_EQ(untouched, 41);
    }
    RC rc = NO_ACTION;
    EXPECT_EQ(createConnection(*t.tss, "UTCTime", rc), 4);
    EXPECT_EQ(rc, NO_ERROR);
    EXPECT_EQ(t.tss->connectionCount(), 6u);
    EXPECT_EQ(t.tss->connectionMap_mutex_at(1).m_name, "Response");
    EXPECT_EQ(t.tss->connectionMap_mutex_at(1).m_topicType, "aspn2_msgs::idl::CommandResponse");
    for (char const* type : {"aspn2_msgs::idl::CommandResponse", "aspn2_msgs::idl::PositionVelocityAttitude",
                             "aspn2_msgs::idl::EventLog", "aspn2_msgs::idl::UTCTime",
                             "aspn2_msgs::idl::MaintenanceEvent"}) {
        EXPECT_TRUE(t.tss->isTopicRegistered(type)) << type;
    }
    EXPECT_FALSE(t.tss->isTopicRegistered("aspn2_msgs::idl::IMU"));
    EXPECT_THROW(t.tss->connectionMap_mutex_at(6), std::out_of_range);
}

TEST_F(TssSetup, ConnectionFailuresLeaveNoRecord) {
    std::string const extra =
        connection("NoPubSubType", "aspn2_msgs::idl::UTCTime", "") +
        connection("NoTopicType", "", "UTCTimePubSubType") + connection("Neither", "", "") +
        connection("LowerCase", "aspn2_msgs::idl::UTCTime", "utcTimePubSubType") +
        connection("ElementType", "aspn2_msgs::idl::lru_comp_set", "lru_comp_setPubSubType");
    struct Case {
        char const* name;
        RC rc;
        char const* console;
        bool errorLine;
    } const cases[] = {
        {"NoSuchConnection", INVALID_CONFIG, "", false},
        {"NoPubSubType", INVALID_CONFIG, "WARNING - Parameter PubSubType not found\n", false},
        {"NoTopicType", INVALID_CONFIG, "WARNING - Parameter TopicType not found\n", false},
        {"Neither", INVALID_CONFIG,
         "WARNING - Parameter TopicType not found\nWARNING - Parameter PubSubType not found\n", false},
        {"LowerCase", NO_ACTION, "", true},
        {"ElementType", NO_ACTION, "", true},
    };
    auto config = std::make_shared<CountingConfig>();
    std::string out;
    Transport t = initialize(write(connectionsFile(Settings::on(kConnectionFailuresDomain), extra)), &out, config);
    ASSERT_EQ(t.rc, NO_ERROR);
    for (Case const& c : cases) {
        RC rc = NO_ERROR;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        long long const id = createConnection(*t.tss, c.name, rc);
        std::string const console = testing::internal::GetCapturedStdout();
        std::string const errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, c.rc) << c.name;
        EXPECT_EQ(id, -1) << c.name;
        EXPECT_EQ(console, c.console) << c.name;
        EXPECT_EQ(errors.find("!!!!! Could NOT register topic") != std::string::npos, c.errorLine)
            << c.name << ": " << errors;
        EXPECT_EQ(config->opens, config->closes) << c.name << ": handle left open";
        EXPECT_EQ(t.tss->connectionCount(), 0u) << c.name;
    }
    RC rc = NO_ACTION;
    EXPECT_EQ(createConnection(*t.tss, "UTCTime", rc), 0) << "failures must not use up ids";
    EXPECT_EQ(rc, NO_ERROR);
    EXPECT_FALSE(t.tss->isTopicRegistered("aspn2_msgs::idl::lru_comp_set"));
}

TEST_F(TssSetup, SameNameTwiceReadsItsContainerOnce) {
    auto config = std::make_shared<CountingConfig>();
    std::string out;
    Transport t = initialize(write(connectionsFile(Settings::on(kContainerOnceDomain))), &out, config);
    ASSERT_EQ(t.rc, NO_ERROR);
    int const opensAfterInitialize = config->opens;
    RC rc = NO_ACTION;
    EXPECT_EQ(createConnection(*t.tss, "UTCTime", rc), 0);
    EXPECT_EQ(rc, NO_ERROR);
    rc = NO_ACTION;
    EXPECT_EQ(createConnection(*t.tss, "UTCTime", rc), 0);
    EXPECT_EQ(rc, NO_ERROR);
    EXPECT_EQ(config->opens, opensAfterInitialize + 1);
    EXPECT_EQ(config->closes, config->opens);
}

TEST_F(TssSetup, ConnectionOperationsBeforeInitialize) {
    FACE::TSS::CV_TSS tss("T");
    RC rc = NO_ERROR;
    EXPECT_EQ(createConnection(tss, "UTCTime", rc), -1);
    EXPECT_EQ(rc, NOT_AVAILABLE);
    using Op = void (FACE::TSS::CV_TSS::*)(long long, RC&);
    for (Op op : {&FACE::TSS::CV_TSS::Destroy_Connection, &FACE::TSS::CV_TSS::Unregister_Sender,
                  &FACE::TSS::CV_TSS::Unregister_Callback}) {
        rc = NO_ERROR;
        (tss.*op)(0, rc);
        EXPECT_EQ(rc, NOT_AVAILABLE);
    }
}

TEST_F(TssSetup, UnregisterRemovesOnlyWhatExists) {
    std::string out;
    Transport t = initialize(write(connectionsFile(Settings::on(kUnregisterDomain))), &out);
    ASSERT_EQ(t.rc, NO_ERROR);
    RC rc = NO_ACTION;
    long long const id = createConnection(*t.tss, "UTCTime", rc);
    ASSERT_EQ(rc, NO_ERROR);
    auto typed = typedOver(t.tss);
    FACE::TSS::CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(0);

    using Op = void (FACE::TSS::CV_TSS::*)(long long, RC&);
    for (Op op : {&FACE::TSS::CV_TSS::Unregister_Sender, &FACE::TSS::CV_TSS::Unregister_Callback}) {
        for (long long unknown : {99LL, -1LL, -4294967296LL}) {
            rc = NO_ERROR;
            (t.tss.get()->*op)(unknown, rc);
            EXPECT_EQ(rc, INVALID_PARAM) << unknown;
        }
        rc = NO_ACTION;
        (t.tss.get()->*op)(id, rc);
        EXPECT_EQ(rc, NO_ERROR) << "nothing registered is no failure";
    }

    // Registered, removed, registered again.
    for (int round = 0; round < 2; ++round) {
        typed->Register_Sender(id, rc);
        ASSERT_EQ(rc, NO_ERROR);
        typed->Register_Callback(id, [](long long, long long, UTCTime const&, FACE::TSS::HEADER_TYPE const&,
                                        FACE::Sequence<FACE::TSS::QoS_Element> const&, RC&) {}, rc);
        ASSERT_EQ(rc, NO_ERROR);
        EXPECT_TRUE(record.isPublisher());
        EXPECT_TRUE(record.isSubscriber());
        t.tss->Destroy_Connection(id, rc);
        EXPECT_EQ(rc, NO_ERROR);
        EXPECT_TRUE(record.isPublisher()) << "Destroy_Connection keeps the connection working";
        t.tss->Unregister_Sender(id, rc);
        EXPECT_EQ(rc, NO_ERROR);
        EXPECT_FALSE(record.isPublisher());
        EXPECT_EQ(record.m_publisherListener, nullptr);
        EXPECT_TRUE(record.isSubscriber());
        t.tss->Unregister_Callback(id, rc);
        EXPECT_EQ(rc, NO_ERROR);
        EXPECT_FALSE(record.isSubscriber());
        EXPECT_EQ(record.m_subscriberListener, nullptr);
    }
}

TEST(TssConnectionKey, NegativeIdsAreNeverValid) {
    EXPECT_EQ(FACE::TSS::CV_TSS::connectionKey(-1), 4294967295u);
    EXPECT_EQ(FACE::TSS::CV_TSS::connectionKey(-4294967296LL), 4294967295u);
    EXPECT_EQ(FACE::TSS::CV_TSS::connectionKey(5), 5u);
    EXPECT_EQ(FACE::TSS::CV_TSS::connectionKey(4294967296LL + 3), 3u);
}

}  // namespace
